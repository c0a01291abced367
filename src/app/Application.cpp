#include "app/Application.h"

#include "app/CommandMenus.h"

#include <QApplication>
#include <QPointer>
#include <QFile>
#include <QTimer>
#include <QWindow>

#include "cocktail/CocktailPage.h"
#include "cocktail/Namemuscoc.h"
#include "library/Start.h"
#include "platform/qt/PowerOffLogind.h"
#include "playback/Mixedit.h"
#include "playback/engine/AudioEngine.h"
#include "settings/Brows.h"
#include "settings/Setting.h"
#include "settings/Welcom.h"

#include "Version.h"

namespace quendo {

struct Application::Players {
    audio::AudioEngine engine;
};

namespace {

// Seams for the tests and for screenshots, read from the environment once:
// QUENDO_SHOW_SETTINGS=<page> shows the settings form on that page once start-up is over;
// QUENDO_RESTART_MARKER=<file> restarts into a first run once start-up is over, as "To change..."
// answered with OK does, and appends "chooser <pid>" to the file whenever the directory chooser
// opens, so that a test sees the new instance in its first run.
void MarkChooserShown() {
    const QString marker = qEnvironmentVariable("QUENDO_RESTART_MARKER");
    if (marker.isEmpty()) return;
    QFile file(marker);
    if (file.open(QIODevice::Append))
        file.write("chooser " + QByteArray::number(QCoreApplication::applicationPid()) + "\n");
}

void InstallTestSeams(Application& app, TSplash& splash, TSettings& settings) {
    const bool restart = !qEnvironmentVariableIsEmpty("QUENDO_RESTART_MARKER");
    bool pageGiven = false;
    const int page = qEnvironmentVariableIntValue("QUENDO_SHOW_SETTINGS", &pageGiven);
    if (!restart && !pageGiven) return;
    // Start-up is over once the splash has run the sequence and no modal window is up.
    auto started = std::make_shared<bool>(false);
    const auto previous = splash.afterStartup;
    splash.afterStartup = [previous, started] {
        if (previous) previous();
        *started = true;
    };
    auto* timer = new QTimer(&app.Form1());
    QObject::connect(timer, &QTimer::timeout, &app.Form1(), [&app, &settings, timer, started, restart, page] {
        if (!*started || QApplication::activeModalWidget() || !app.Form1().isVisible()) return;
        timer->stop();
        if (restart) {
            app.core().RestartIntoFirstRun();
            return;
        }
        settings.PageControl1->setCurrentIndex(page);
        settings.ShowSettings();
    });
    timer->start(100);
}

}  // namespace

Application::Application(MediaPlayer* deck1, MediaPlayer* deck2, MediaPlayer* probe)
    : players_(std::make_unique<Players>()), powerOff_(std::make_unique<PowerOffLogind>()) {
    audio::AudioEngine& engine = players_->engine;
    core_ = std::make_unique<Core>(PlatformServices{deck1 ? *deck1 : engine.Deck1(),
                                                    deck2 ? *deck2 : engine.Deck2(),
                                                    probe ? *probe : engine.Probe(), shell_,
                                                    *powerOff_, dialogs_, random_});
    core_->FormCreate();
    form1_ = std::make_unique<TForm1>(*core_);
    // Decks finish on their decoder threads; the core hears of it on the interface thread, through
    // the main window's event path like any click, so that the new state is shown.
    engine.SetPostToUiThread([form = QPointer<TForm1>(form1_.get())](std::function<void()> f) {
        QMetaObject::invokeMethod(
            qApp, [form, f = std::move(f)] { if (form) form->Act(f); }, Qt::QueuedConnection);
    });
    forms_.push_back(form1_.get());
    menus_ = new CommandMenus(*core_, form1_.get());  // a child of the window, which owns it
    QObject::connect(menus_, &CommandMenus::changed, form1_.get(), [this] { form1_->Render(); });
    form1_->openMainPopup = [this](QPoint at) { menus_->PopupMainAt(at); };

    auto add = [this](QWidget* w) {
        others_.emplace_back(w);
        forms_.push_back(w);
    };
    // Every other form is owned by the main window: a window manager keeps an owned window above
    // its owner, in its owner's layer, so none opens behind a main window that stays on top.
    TForm1* owner = form1_.get();
    auto* splash = new TSplash(*core_, owner);
    add(splash);
    auto* settings = new TSettings(*core_, owner);
    add(settings);
    auto* mixForm = new TMixEditor(core_->mixEditor, owner);
    add(mixForm);
    core_->hooks.RenderMixEditor = [mixForm] { mixForm->Render(); };
    auto* browse = new TBrowse(*core_, owner);
    add(browse);
    CocktailEditor& cocktailEditor = core_->cocktailEditor;
    auto* rename = new TfrmNameMusCoc(cocktailEditor, owner);
    add(rename);
    Core* core = core_.get();
    auto* welcome = new TWelcome(
        core->options,
        [core] { OpenOrSay(core->platform.shell, core->platform.dialogs, core->commands.HelpFilePath()); },
        QUENDO_VERSION, owner);
    add(welcome);
    dialogs_.SetMainWindow(owner);

    // The cocktail editor is the settings form's third page.
    cocktailPage_ = new TCocktailPage(cocktailEditor, *rename,
                                      [this](QPoint at) { menus_->RootFolderMenu()->popup(at); });
    cocktailPage_->setParent(settings->TabSheet3);
    cocktailPage_->move(0, 0);
    cocktailPage_->edited = [this] { form1_->Render(); };
    settings->ShowCocktailPage = [this] {
        core_->cocktailEditor.ShowCocktailPage();
        cocktailPage_->Render();
    };
    settings->changed = [this, welcome] {
        form1_->Render();
        welcome->Render();  // Cancel reads its box back
        core_->cocktailEditor.ShowCocktailPage();  // Cancel may have read other cocktails back
        cocktailPage_->Render();
    };
    // A folder picked from the menus shows on the page.
    QObject::connect(form1_->ComboBox1, &QComboBox::currentIndexChanged, cocktailPage_,
                     [this] { cocktailPage_->Render(); });
    QObject::connect(menus_, &CommandMenus::changed, cocktailPage_, [this] { cocktailPage_->Render(); });

    Core& c = *core_;
    c.hooks.CloseMainWindow = [this] { form1_->close(); };
    c.hooks.SetTopmost = [this](bool on) {
        // Only the stacking hint of the window as it is: QWidget::setWindowFlag would make a new
        // native window, which flickers, moves and takes the focus from the settings form.
        TForm1& f = *form1_;
        if (f.windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
        QWindow* window = f.windowHandle();
        if (!window) {
            f.setWindowFlag(Qt::WindowStaysOnTopHint, on);  // no native window yet
            return;
        }
        f.overrideWindowFlags(f.windowFlags().setFlag(Qt::WindowStaysOnTopHint, on));
        window->setFlag(Qt::WindowStaysOnTopHint, on);
    };
    // The splash screen hosts the start-up sequence in its first timer tick.
    c.hooks.ShowSplashModal = [splash] { splash->ShowStartup(); };
    c.hooks.ShowAboutBox = [splash] { splash->ShowAbout(); };
    splash->afterStartup = [this] { form1_->Render(); };
    c.startup.hooks.HideSplash = [splash] { splash->HideSplash(); };
    c.startup.hooks.StartSlideOut = [splash] { splash->StartSlideOut(); };
    c.startup.hooks.CloseSplash = [splash] { splash->CloseSplash(); };
    c.startup.hooks.ShowBrowseModal = [browse]() -> std::optional<std::string> {
        MarkChooserShown();
        std::optional<std::string> chosen = browse->Choose();
        // Given up: the main window has been closed, and the loop may not be running yet.
        if (!chosen) QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
        return chosen;
    };
    c.hooks.ShowWelcome = [welcome] { welcome->show(); };
    c.hooks.ShowMixEditor = [this] { forms_[3]->show(); forms_[3]->raise(); };
    c.hooks.ShowSettings = [settings] { settings->ShowSettings(); };
    InstallTestSeams(*this, *splash, *settings);
}

Application::~Application() = default;

}  // namespace quendo
