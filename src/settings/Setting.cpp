#include "settings/Setting.h"

#include <QHideEvent>
#include <QKeyEvent>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "platform/qt/FitText.h"
#include "platform/qt/FixedWindow.h"
#include "platform/qt/QtPlatform.h"
#include "settings/AnalysisProgress.h"

namespace quendo {

namespace {

QFrame* SunkenPanel(QWidget* page, const char* name, int x, int y, int h) {
    auto* panel = new QFrame(page);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    panel->setGeometry(x, y, 345, h);
    return panel;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const char* caption, int x, int y) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(x, y, 300, 17);
    return box;
}

// A group of radio buttons, each in an equal share of the height below the caption; ids are the
// indices.
QGroupBox* RadioGroup(QWidget* page, const char* name, const QString& caption, QRect at,
                      const QStringList& items, QButtonGroup*& group) {
    auto* box = new QGroupBox(caption, page);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(at);
    group = new QButtonGroup(box);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(8, 0, 8, 0);
    column->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* item = new QRadioButton(items[i], box);
        column->addWidget(item, 1);
        group->addButton(item, i);
    }
    return box;
}

// An index the file gave that names no item leaves every item unchecked.
void CheckItem(QButtonGroup* group, int index) {
    QAbstractButton* item = group->button(index);
    if (item == group->checkedButton()) return;
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(b == item);
    group->setExclusive(true);
}

}  // namespace

TSettings::TSettings(SettingsModel& c, QWidget* parent) : QWidget(parent, kOwnedWindow), core(c) {
    SetupFixedWindow(this, "Settings", "Settings", QSize(402, 357));
    // The platform's sans-serif at the size the layout was drawn for.
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setGeometry(0, 0, 402, 321);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName("TabSheet3");
    TabSheet4 = new QWidget;
    TabSheet4->setObjectName("TabSheet4");
    PageControl1->addTab(TabSheet1, QStringLiteral("General"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Start / Ending"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Musical cocktail"));
    PageControl1->addTab(TabSheet4, QStringLiteral("AutoMix"));

    // ---- General ----
    Panel1 = SunkenPanel(TabSheet1, "Panel1", 16, 16, 65);
    Label1 = new QLabel(QStringLiteral("The current directory with your musical files:"), Panel1);
    Label1->setObjectName("Label1");
    Label1->move(16, 12);
    // The caption was drawn for a narrower font than most: it must end before "To change...".
    const int room = 240 - 16 - 4;
    FitTextToWidth(Label1, Label1->text(), room);
    Label1->adjustSize();
    Button2 = new QPushButton(QStringLiteral("To change..."), Panel1);
    Button2->setObjectName("Button2");
    Button2->setGeometry(240, 8, 89, 22);
    Button2->setAutoDefault(true);
    Edit1 = new QLineEdit(Panel1);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(16, 34, 313, 21);

    Panel2 = SunkenPanel(TabSheet1, "Panel2", 16, 96, 113);
    chkShowSplash = CheckBox(Panel2, "chkShowSplash", "Show splash screen at startup", 24, 12);
    chkMusicFileTimeRem = CheckBox(Panel2, "chkMusicFileTimeRem", "Music file time remaining", 24, 36);
    chkAutoMixTimeRem = CheckBox(Panel2, "chkAutoMixTimeRem", "AutoMixing time remaining", 24, 60);
    chkAlwaysOnTop = CheckBox(Panel2, "chkAlwaysOnTop", "Always on top ", 24, 84);
    chkShowAnimat = CheckBox(Panel2, "chkShowAnimat", "Show animation", 24, 84);
    chkShowAnimat->setEnabled(false);
    chkShowAnimat->hide();

    Panel3 = SunkenPanel(TabSheet1, "Panel3", 16, 224, 41);
    Label2 = new QLabel(QStringLiteral("Language:"), Panel3);
    Label2->setObjectName("Label2");
    Label2->move(64, 16);
    Label2->adjustSize();
    ComboBox5 = new QComboBox(Panel3);
    ComboBox5->setObjectName("ComboBox5");
    ComboBox5->setGeometry(128, 12, 161, 21);
    ComboBox5->addItem(QStringLiteral("English"));

    // ---- Start / Ending ----
    RadioGroup1 = RadioGroup(TabSheet2, "RadioGroup1", QString::fromUtf8("At startup\u2026"), QRect(16, 24, 345, 90),
                             {QStringLiteral("To clear playlist "), QStringLiteral("To continue the last session  "),
                              QStringLiteral("To load a musical cocktail ")},
                             RadioGroup1Items);
    RadioGroup2 = RadioGroup(TabSheet2, "RadioGroup2", QString::fromUtf8("At ending the playlist\u2026 "),
                             QRect(16, 136, 345, 113),
                             {QStringLiteral("To load a musical cocktail "), QStringLiteral("To wait "),
                              QStringLiteral("To close the program "), QStringLiteral("Shut down the computer ")},
                             RadioGroup2Items);
    Panel4 = SunkenPanel(TabSheet2, "Panel4", 16, 256, 33);
    chkAutoStartOfPlaying = CheckBox(Panel4, "chkAutoStartOfPlaying", "Automatic start of playing ", 24, 8);
    Panel4->hide();

    // ---- AutoMix ----
    // Three groups in the page's height: the boxes a little closer than on "General".
    Panel5 = SunkenPanel(TabSheet4, "Panel5", 16, 8, 104);
    chkMixAtLastSound = CheckBox(Panel5, "chkMixAtLastSound", "Start the mix at the last audible sound", 24, 8);
    chkSkipSilenceAtStart = CheckBox(Panel5, "chkSkipSilenceAtStart", "Skip the silence at a track's start", 24, 29);
    chkMatchLoudness = CheckBox(Panel5, "chkMatchLoudness", "Match loudness", 24, 50);
    Label3 = new QLabel(QStringLiteral("Target loudness:"), Panel5);
    Label3->setObjectName("Label3");
    Label3->move(44, 73);
    Label3->adjustSize();
    SpinTargetLufs = new QDoubleSpinBox(Panel5);
    SpinTargetLufs->setObjectName("SpinTargetLufs");
    SpinTargetLufs->setGeometry(150, 69, 90, 21);
    SpinTargetLufs->setRange(kLowestTargetLufs, kHighestTargetLufs);
    SpinTargetLufs->setDecimals(1);
    SpinTargetLufs->setSingleStep(0.5);
    SpinTargetLufs->setSuffix(QStringLiteral(" LUFS"));
    SpinTargetLufs->setKeyboardTracking(false);  // a value typed counts once it is complete
    chkShowTracks = CheckBox(Panel5, "chkShowTracks", "Show the tracks in the mix editor", 24, 91);

    // The rows a little closer than the page's others, to make room for what a mix on the beat
    // does besides, indented under it as they mean nothing without it.
    Panel7 = SunkenPanel(TabSheet4, "Panel7", 16, 113, 137);
    chkMixOnBeat = CheckBox(Panel7, "chkMixOnBeat", "Mix on the beat", 24, 6);
    chkMixOnPhrases = CheckBox(Panel7, "chkMixOnPhrases", "Mix on phrases", 44, 25);
    chkSwapBass = CheckBox(Panel7, "chkSwapBass", "Swap the bass", 170, 25);
    chkShowArtistAndTitle = CheckBox(Panel7, "chkShowArtistAndTitle", "Show artist and title", 24, 44);
    chkKeepArtistsApart = CheckBox(Panel7, "chkKeepArtistsApart", "Keep the same artist apart", 24, 63);
    chkJoinContinuousAlbums = CheckBox(Panel7, "chkJoinContinuousAlbums", "Join continuous albums", 24, 82);
    chkChooseByKeyAndTempo =
        CheckBox(Panel7, "chkChooseByKeyAndTempo", "Choose the next track by key and tempo", 24, 101);
    Label5 = new QLabel(Panel7);
    Label5->setObjectName("Label5");
    Label5->setGeometry(44, 119, 285, 15);

    Panel6 = SunkenPanel(TabSheet4, "Panel6", 16, 251, 46);
    Label4 = new QLabel(QStringLiteral("Sound output:"), Panel6);
    Label4->setObjectName("Label4");
    Label4->move(16, 5);
    Label4->adjustSize();
    ComboOutput = new QComboBox(Panel6);
    ComboOutput->setObjectName("ComboOutput");
    ComboOutput->setGeometry(110, 2, 219, 20);
    // Where the mix editor's "Listen" plays the next change: a second device, such as headphones.
    auto* preListen = new QLabel(QStringLiteral("Pre-listen output:"), Panel6);
    preListen->move(16, 26);
    preListen->adjustSize();
    ComboPreListen = new QComboBox(Panel6);
    ComboPreListen->setObjectName("ComboPreListen");
    ComboPreListen->setGeometry(110, 23, 219, 20);
    FillOutputs();

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { ShowAnalysisProgress(); });

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(240, 327, 75, 25);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(320, 327, 75, 25);
    BitBtn2->setAutoDefault(true);

    // clicked() comes from the user (or click()) only, never from Render's setChecked.
    Options& o = core.options;
    auto bind = [this](QCheckBox* box, bool& option) {
        connect(box, &QCheckBox::clicked, this,
                [this, &option](bool on) { Act([&option, on] { option = on; }); });
    };
    bind(chkShowSplash, o.chkShowSplash);
    bind(chkShowAnimat, o.chkShowAnimat);
    bind(chkMusicFileTimeRem, o.chkMusicFileTimeRem);
    bind(chkAutoMixTimeRem, o.chkAutoMixTimeRem);
    bind(chkAutoStartOfPlaying, o.chkAutoStartOfPlaying);
    AutoMixOptions& a = core.autoMix;
    bind(chkMixAtLastSound, a.mixAtLastSound);
    bind(chkSkipSilenceAtStart, a.skipSilenceAtStart);
    bind(chkMatchLoudness, a.matchLoudness);
    bind(chkMixOnBeat, a.mixOnBeat);
    bind(chkMixOnPhrases, a.mixOnPhrases);
    bind(chkSwapBass, a.swapBass);
    bind(chkShowArtistAndTitle, a.showArtistAndTitle);
    bind(chkKeepArtistsApart, a.keepArtistsApart);
    bind(chkJoinContinuousAlbums, a.joinContinuousAlbums);
    bind(chkChooseByKeyAndTempo, a.chooseByKeyAndTempo);
    bind(chkShowTracks, a.showTracks);
    connect(SpinTargetLufs, &QDoubleSpinBox::valueChanged, this,
            [this](double lufs) { core.autoMix.targetLufs = lufs; });
    // The output changes with OK; until then only the choice is kept.
    connect(ComboOutput, &QComboBox::activated, this, [this](int index) {
        const std::string name = ComboOutput->itemData(index).toString().toStdString();
        Act([this, name] { core.autoMix.outputDevice = name; });
    });
    connect(ComboPreListen, &QComboBox::activated, this, [this](int index) {
        const std::string name = ComboPreListen->itemData(index).toString().toStdString();
        Act([this, name] { core.autoMix.preListenDevice = name; });
    });
    connect(chkAlwaysOnTop, &QCheckBox::clicked, this,
            [this](bool on) { Act([this, on] { core.SetAlwaysOnTop(on); }); });
    connect(RadioGroup1Items, &QButtonGroup::idClicked, this,
            [this](int id) { Act([this, id] { core.options.RadioGroup1 = id; }); });
    connect(RadioGroup2Items, &QButtonGroup::idClicked, this,
            [this](int id) { Act([this, id] { core.options.RadioGroup2 = id; }); });
    connect(ComboBox5, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) core.options.ComboBox5 = index;
    });
    // Nothing reads what is typed; it is kept only so that the form shows it again.
    connect(Edit1, &QLineEdit::textEdited, this,
            [this](const QString& text) { core.options.Edit1 = text.toStdString(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Act([this] { core.ChangeMusicFolder(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { Act([this] { core.KeepOptions(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { Act([this] { core.DropOptionChanges(); }); });

    Render();
}

template <class F>
void TSettings::Act(F&& f) {
    Guarded(std::forward<F>(f));
    Render();
    emit changed();
}

void TSettings::Render() {
    // clicked() never comes from setChecked; the language list and the target report their
    // values as they are set.
    const QSignalBlocker quiet(ComboBox5);
    const QSignalBlocker quietTarget(SpinTargetLufs);
    const Options& o = core.options;
    const QString folder = QString::fromStdString(o.Edit1);
    if (Edit1->text() != folder) Edit1->setText(folder);
    chkShowSplash->setChecked(o.chkShowSplash);
    chkShowAnimat->setChecked(o.chkShowAnimat);
    chkMusicFileTimeRem->setChecked(o.chkMusicFileTimeRem);
    chkAutoMixTimeRem->setChecked(o.chkAutoMixTimeRem);
    chkAlwaysOnTop->setChecked(o.chkAlwaysOnTop);
    chkAutoStartOfPlaying->setChecked(o.chkAutoStartOfPlaying);
    ComboBox5->setCurrentIndex(o.ComboBox5 >= 0 && o.ComboBox5 < ComboBox5->count() ? o.ComboBox5 : 0);
    CheckItem(RadioGroup1Items, o.RadioGroup1);
    CheckItem(RadioGroup2Items, o.RadioGroup2);
    const AutoMixOptions& a = core.autoMix;
    chkMixAtLastSound->setChecked(a.mixAtLastSound);
    chkSkipSilenceAtStart->setChecked(a.skipSilenceAtStart);
    chkMatchLoudness->setChecked(a.matchLoudness);
    SpinTargetLufs->setValue(a.targetLufs);
    Label3->setEnabled(a.matchLoudness);
    SpinTargetLufs->setEnabled(a.matchLoudness);
    chkMixOnBeat->setChecked(a.mixOnBeat);
    chkMixOnPhrases->setChecked(a.mixOnPhrases);
    chkSwapBass->setChecked(a.swapBass);
    chkMixOnPhrases->setEnabled(a.mixOnBeat);
    chkSwapBass->setEnabled(a.mixOnBeat);
    chkShowArtistAndTitle->setChecked(a.showArtistAndTitle);
    chkKeepArtistsApart->setChecked(a.keepArtistsApart);
    chkJoinContinuousAlbums->setChecked(a.joinContinuousAlbums);
    chkChooseByKeyAndTempo->setChecked(a.chooseByKeyAndTempo);
    chkShowTracks->setChecked(a.showTracks);
    ShowOutputChoice();
    ShowAnalysisProgress();
}

void TSettings::ShowAnalysisProgress() {
    TrackAnalysis* analysis = core.platform.analysis;
    const QString text = QString::fromStdString(analysis ? AnalysisProgressText(analysis->BackgroundProgress()) : "");
    if (Label5->text() != text) Label5->setText(text);
}

void TSettings::FillOutputs() {
    const QSignalBlocker quiet(ComboOutput);
    ComboOutput->clear();
    ComboOutput->addItem(QStringLiteral("Default"), QString());
    if (core.platform.outputs)
        for (const std::string& name : core.platform.outputs->OutputDevices())
            ComboOutput->addItem(QString::fromStdString(name), QString::fromStdString(name));
    const QSignalBlocker quietPreListen(ComboPreListen);
    ComboPreListen->clear();
    ComboPreListen->addItem(QStringLiteral("None"), QString());
    if (core.platform.preview)
        for (const std::string& name : core.platform.preview->Devices())
            ComboPreListen->addItem(QString::fromStdString(name), QString::fromStdString(name));
    ShowOutputChoice();
}

void TSettings::ShowOutputChoice() {
    const QSignalBlocker quiet(ComboOutput);
    // A chosen device that is not plugged in stays the choice, and shows.
    const QString chosen = QString::fromStdString(core.autoMix.outputDevice);
    int index = ComboOutput->findData(chosen);
    if (index < 0) {
        ComboOutput->addItem(chosen, chosen);
        index = ComboOutput->count() - 1;
    }
    ComboOutput->setCurrentIndex(index);
    const QSignalBlocker quietPreListen(ComboPreListen);
    const QString preListen = QString::fromStdString(core.autoMix.preListenDevice);
    index = ComboPreListen->findData(preListen);
    if (index < 0) {
        ComboPreListen->addItem(preListen, preListen);
        index = ComboPreListen->count() - 1;
    }
    ComboPreListen->setCurrentIndex(index);
}

void TSettings::ShowSettings() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TSettings::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (e->spontaneous()) return;  // a restore from the task bar is no new showing
    emit showing();
    FillOutputs();
    Render();
    Timer1->start();
}

void TSettings::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    if (!e->spontaneous()) Timer1->stop();
}

void TSettings::keyPressEvent(QKeyEvent* e) {
    // OK is the default button and Cancel the cancel button; a focused button takes Return itself.
    switch (e->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: BitBtn1->click(); return;
        case Qt::Key_Escape: BitBtn2->click(); return;
        default: QWidget::keyPressEvent(e);
    }
}

}  // namespace quendo
