#include "app/Application.h"

#include "app/CommandMenus.h"
#include "app/ProgramLocation.h"

#include <algorithm>

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include "cocktail/CocktailPage.h"
#include "cocktail/Namemuscoc.h"
#include "library/Start.h"
#include "platform/qt/Mpris.h"
#include "platform/qt/PowerOffLogind.h"
#include "platform/qt/StayAwakeDBus.h"
#include "playback/Mixedit.h"
#include "model/ProgramFiles.h"
#include "analysis/TrackAnalyser.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/PreviewOutput.h"
#include "settings/Brows.h"
#include "settings/Setting.h"
#include "settings/Welcom.h"

#include "Version.h"

namespace quendo {

struct Application::Players {
    explicit Players(const std::string& cacheFolder)
        : analyser(BesideExecutable(cacheFolder, kAnalysisCacheFileName)) {}
    audio::AudioEngine engine;
    audio::TrackAnalyser analyser;
    audio::PreviewOutput preview;
};

Application::Application(std::string program, MediaPlayer* deck1, MediaPlayer* deck2, MediaPlayer* probe)
    : program_(std::move(program)),
      files_(LocateProgramFiles(program_)),
      players_(std::make_unique<Players>(files_.cacheFolder)),
      shell_(QString::fromStdString(program_)),
      powerOff_(std::make_unique<PowerOffLogind>()),
      awake_(std::make_unique<StayAwakeDBus>()) {
    audio::AudioEngine& engine = players_->engine;
    core_ = std::make_unique<Core>(PlatformServices{deck1 ? *deck1 : engine.Deck1(),
                                                    deck2 ? *deck2 : engine.Deck2(),
                                                    probe ? *probe : engine.Probe(), shell_,
                                                    *powerOff_, dialogs_, random_, &players_->analyser},
                                   static_cast<CoreForms&>(*this));
    core_->files = files_;
    core_->platform.outputs = &engine;
    core_->platform.preview = &players_->preview;
    core_->platform.awake = awake_.get();
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
    splash_ = new TSplash(*core_, owner);
    add(splash_);
    settings_ = new TSettings(*core_, owner);
    add(settings_);
    mixEditor_ = new TMixEditor(core_->envelopeEditor, owner);
    add(mixEditor_);
    browse_ = new TBrowse(*core_, owner);
    add(browse_);
    RecipeEditor& recipeEditor = core_->recipeEditor;
    auto* rename = new TfrmNameMusCoc(recipeEditor, owner);
    add(rename);
    Core* core = core_.get();
    welcome_ = new TWelcome(
        core->options,
        [core] { OpenOrSay(core->platform.shell, core->platform.dialogs, core->commands.HelpFilePath()); },
        QUENDO_VERSION, owner);
    add(welcome_);
    dialogs_.SetMainWindow(owner);

    // The cocktail editor is the settings form's third page.
    cocktailPage_ = new TCocktailPage(recipeEditor, *rename,
                                      [this](QPoint at) { menus_->RootFolderMenu()->popup(at); });
    cocktailPage_->setParent(settings_->TabSheet3);
    cocktailPage_->move(0, 0);
    QObject::connect(cocktailPage_, &TCocktailPage::edited, form1_.get(), [this] { form1_->Render(); });
    QObject::connect(settings_, &TSettings::showing, cocktailPage_, [this] {
        Guarded([this] {
            core_->recipeEditor.ShowCocktailPage();
            cocktailPage_->Render();
        });
    });
    QObject::connect(settings_, &TSettings::changed, form1_.get(), [this] {
        Guarded([this] { core_->FollowBeatPlan(); });  // "Mix on the beat" shows or hides the rate page
        form1_->Render();
        welcome_->Render();  // Cancel reads its box back
        core_->recipeEditor.ShowCocktailPage();  // Cancel may have read other cocktails back
        cocktailPage_->Render();
    });
    // A folder picked from the menus shows on the page.
    QObject::connect(form1_->ComboBox1, &QComboBox::currentIndexChanged, cocktailPage_,
                     [this] { cocktailPage_->Render(); });
    QObject::connect(menus_, &CommandMenus::changed, cocktailPage_, [this] { cocktailPage_->Render(); });

    QObject::connect(splash_, &TSplash::startupFinished, form1_.get(), [this] { form1_->Render(); });

    remote_ = std::make_unique<MainWindowRemote>(*form1_);
    new Mpris(*remote_, form1_.get());  // a child of the window; on the session bus, when there is one
    // A sound device unplugged while playing gives way to the default within half a second.
    auto* outputWatch = new QTimer(form1_.get());
    QObject::connect(outputWatch, &QTimer::timeout, form1_.get(), [this] { Guarded([this] { core_->CheckSoundOutput(); }); });
    outputWatch->start(500);
}

Application::~Application() = default;

// ---- what the core asks of the forms ----

void Application::ShowAboutBox() { splash_->ShowAbout(); }

void Application::ShowMixEditor() {
    mixEditor_->show();
    mixEditor_->raise();
    core_->FollowBeatPlan();  // the next change, drawn at once rather than at the next tick
}

void Application::ShowSettings() { settings_->ShowSettings(); }

int Application::MainWindowOuterHeight() const { return form1_->frameGeometry().height(); }

void Application::SetMainWindowOuterHeight(int outer) {
    const int frame = form1_->frameGeometry().height() - form1_->height();
    form1_->setFixedHeight(std::max(0, outer - frame));
}

std::optional<std::string> Application::ShowBrowseModal() {
    std::optional<std::string> chosen = browse_->Choose();
    // Given up: the main window has been closed, and the loop may not be running yet.
    if (!chosen) QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
    return chosen;
}

void Application::HideSplash() { splash_->HideSplash(); }

void Application::StartSlideOut() { splash_->StartSlideOut(); }

void Application::CloseSplash() { splash_->CloseSplash(); }

// The splash screen hosts the start-up sequence in its first timer tick.
void Application::ShowSplashModal() { splash_->ShowStartup(); }

void Application::ShowWelcome() { welcome_->show(); }

void Application::RenderMixEditor() { mixEditor_->Render(); }

void Application::HideSettings() { settings_->hide(); }

void Application::CloseMainWindow() { form1_->close(); }

void Application::SetTopmost(bool on) {
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
}

}  // namespace quendo
