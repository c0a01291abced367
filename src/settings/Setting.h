#pragma once
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

#include "model/SettingsModel.h"

namespace quendo {

// The settings form. Its controls are bound to the program's options: a change takes effect at once.
class TSettings : public QWidget {
    Q_OBJECT
public:
    explicit TSettings(SettingsModel& core, QWidget* parent = nullptr);

    // Copies the options into the controls.
    void Render();
    // The Options menu's "Settings...": shows the form, or brings an open one to the front.
    void ShowSettings();

    SettingsModel& core;  // the core, as far as this form sees it

    QTabWidget* PageControl1;
    QWidget* TabSheet1;  // "General"
    QWidget* TabSheet2;  // "Start / Ending"
    QWidget* TabSheet3;  // "Musical cocktail": the cocktail editor's page
    QWidget* TabSheet4;  // "AutoMix"

    QFrame* Panel1;  // the music folder
    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* Button2;
    QFrame* Panel2;  // the check boxes
    QCheckBox* chkShowSplash;
    QCheckBox* chkShowAnimat;  // only the configuration file changes it
    QCheckBox* chkMusicFileTimeRem;
    QCheckBox* chkAutoMixTimeRem;
    QCheckBox* chkAlwaysOnTop;
    QFrame* Panel3;  // the language
    QLabel* Label2;
    QComboBox* ComboBox5;

    QGroupBox* RadioGroup1;
    QGroupBox* RadioGroup2;
    QButtonGroup* RadioGroup1Items;
    QButtonGroup* RadioGroup2Items;
    QFrame* Panel4;  // never shown
    QCheckBox* chkAutoStartOfPlaying;

    QFrame* Panel5;  // the automix's use of the track analysis
    QCheckBox* chkMixAtLastSound;
    QCheckBox* chkSkipSilenceAtStart;
    QCheckBox* chkMatchLoudness;
    QLabel* Label3;
    QDoubleSpinBox* SpinTargetLufs;  // only while "Match loudness" is ticked
    QFrame* Panel6;                  // the sound output
    QLabel* Label4;
    QComboBox* ComboOutput;          // "Default", then the devices the system reports; data: the name
    QComboBox* ComboPreListen;       // "None", then the devices; data: the name
    QFrame* Panel7;                  // mixing like a DJ, and what plays next
    QCheckBox* chkMixOnBeat;
    QCheckBox* chkMixOnPhrases;
    QCheckBox* chkSwapBass;
    QCheckBox* chkShowArtistAndTitle;
    QCheckBox* chkKeepArtistsApart;
    QCheckBox* chkJoinContinuousAlbums;
    QCheckBox* chkChooseByKeyAndTempo;
    QCheckBox* chkShowTracks;  // "Show the tracks in the mix editor"
    QLabel* Label5;                  // the background analysis' progress
    QTimer* Timer1;                  // reads the progress again while the form is open

    QPushButton* BitBtn1;  // OK
    QPushButton* BitBtn2;  // Cancel

signals:
    // After a change that the main window shows (buttons read back, always on top).
    void changed();
    // Each showing: the cocktail page is to load the edited cocktail afresh.
    void showing();

protected:
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    template <class F>
    void Act(F&& f);
    void FillOutputs();  // the devices as the system reports them now
    void ShowOutputChoice();
    void ShowAnalysisProgress();
};

}  // namespace quendo
