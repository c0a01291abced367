#pragma once
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "app/Core.h"

namespace quendo {

// UP and Play: a triangle the program draws, grey while up, yellow while pressed, green while down.
class GlyphButton : public QAbstractButton {
public:
    enum class Glyph { Up, Right };
    GlyphButton(Glyph glyph, QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Glyph glyph_;
};

// The main window: renders the core's display state and forwards events to its handlers.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(Core& core, QWidget* parent = nullptr);

    // Copies the core's state into the widgets and the timers; called after every event.
    void Render();
    // After each Render: the desktop adapters look at the same state the window has just shown.
    Q_SIGNAL void rendered();
    // Runs a handler with the usual error box, then renders: the one path of every event,
    // the user's and the decks' alike.
    void Act(const std::function<void()>& handler);

    Core& core;

    QLabel* StaticText1;
    QLabel* StaticText2;
    QLabel* StaticText3;
    GlyphButton* UP;
    GlyphButton* Play;
    QPushButton* Shuffle;
    QPushButton* Repeat;
    QPushButton* Mix_OFF;
    QPushButton* Next;
    QProgressBar* CGauge1;
    QLabel* Label1;
    QListWidget* ListBox1;
    QLabel* Label10;
    QComboBox* ComboBox1;
    QLabel* Label3;
    QLabel* Label6;
    QLabel* Label7;
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* Timer3;  // writes the playlist file after a change

    // Called with the global position of a right-button press on the window, the playlist or Label1.
    std::function<void(QPoint)> openMainPopup;

protected:
    void showEvent(QShowEvent*) override;
    void closeEvent(QCloseEvent*) override;
    void changeEvent(QEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RenderPlaylist();
    bool shown_ = false;
    std::vector<std::string> shownItems_;
};

}  // namespace quendo
