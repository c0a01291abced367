#include "app/Application.h"

#include "app/CommandMenus.h"

#include <QApplication>
#include <QTimer>

#include "cocktail/CocktailPage.h"
#include "cocktail/Namemuscoc.h"
#include "library/Start.h"
#include "platform/qt/PowerOffLogind.h"
#include "playback/Mixedit.h"
#include "playback/engine/AudioEngine.h"
#include "settings/Brows.h"
#include "settings/Setting.h"
#include "settings/Welcom.h"

namespace quendo {

struct Application::Players {
    audio::AudioEngine engine;
    Players() {
        // Decks finish on their decoder threads; the core hears of it on the interface thread.
        engine.SetPostToUiThread([](std::function<void()> f) {
            QMetaObject::invokeMethod(qApp, std::move(f), Qt::QueuedConnection);
        });
    }
};

Application::Application(MediaPlayer* deck1, MediaPlayer* deck2, MediaPlayer* probe)
    : players_(std::make_unique<Players>()), powerOff_(std::make_unique<PowerOffLogind>()) {
    audio::AudioEngine& engine = players_->engine;
    core_ = std::make_unique<Core>(PlatformServices{deck1 ? *deck1 : engine.Deck1(),
                                                    deck2 ? *deck2 : engine.Deck2(),
                                                    probe ? *probe : engine.Probe(), shell_,
                                                    *powerOff_, dialogs_, random_});
    core_->FormCreate();
    cocktailEditor_ = std::make_unique<CocktailEditor>(core_->cocktails, core_->nodes, core_->editor, core_->display);
    form1_ = std::make_unique<TForm1>(*core_);
    forms_.push_back(form1_.get());
    menus_ = new CommandMenus(*core_, form1_.get());  // a child of the window, which owns it
    QObject::connect(menus_, &CommandMenus::changed, form1_.get(), [this] { form1_->Render(); });
    form1_->openMainPopup = [this](QPoint at) { menus_->PopupMainAt(at); };

    auto add = [this](QWidget* w) {
        others_.emplace_back(w);
        forms_.push_back(w);
    };
    auto* splash = new TSplash(*core_);
    add(splash);
    add(new TSettings);
    add(new TMixEditor);
    auto* browse = new TBrowse(*core_);
    add(browse);
    auto* rename = new TfrmNameMusCoc(*cocktailEditor_);
    add(rename);
    add(new TWelcome);

    // The cocktail page, in a window of its own until the settings form takes it in.
    cocktailPage_ = new TCocktailPage(*cocktailEditor_, *rename,
                                      [this](QPoint at) { menus_->RootFolderMenu()->popup(at); });
    cocktailPage_->setWindowTitle(QStringLiteral("Musical cocktail"));
    others_.emplace_back(cocktailPage_);
    cocktailPage_->edited = [this] { form1_->Render(); };
    // A cocktail chosen in the main window is shown whole, so that a parts change goes into the
    // cocktail the page shows; a folder picked from the menus shows on the page too.
    core_->cocktails.CocktailChosen = [this] { cocktailEditor_->ShowCocktailPage(); };
    QObject::connect(form1_->ComboBox1, &QComboBox::currentIndexChanged, cocktailPage_,
                     [this] { cocktailPage_->Render(); });
    QObject::connect(menus_, &CommandMenus::changed, cocktailPage_, [this] { cocktailPage_->Render(); });

    Core& c = *core_;
    c.hooks.CloseMainWindow = [this] { form1_->close(); };
    c.hooks.SetTopmost = [this](bool on) {
        // Keep the geometry: changing the flags hides the window, so show it again where it was.
        const QRect g = form1_->geometry();
        const bool visible = form1_->isVisible();
        form1_->setWindowFlag(Qt::WindowStaysOnTopHint, on);
        if (visible) {
            form1_->setGeometry(g);
            form1_->show();
        }
    };
    // The splash screen hosts the start-up sequence in its first timer tick.
    c.hooks.ShowSplashModal = [splash] { splash->ShowStartup(); };
    c.hooks.ShowAboutBox = [splash] { splash->ShowAbout(); };
    splash->afterStartup = [this] { form1_->Render(); };
    c.startup.hooks.HideSplash = [splash] { splash->HideSplash(); };
    c.startup.hooks.StartSlideOut = [splash] { splash->StartSlideOut(); };
    c.startup.hooks.CloseSplash = [splash] { splash->CloseSplash(); };
    c.startup.hooks.ShowBrowseModal = [browse]() -> std::optional<std::string> {
        std::optional<std::string> chosen = browse->Choose();
        // Given up: the main window has been closed, and the loop may not be running yet.
        if (!chosen) QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
        return chosen;
    };
    c.hooks.ShowWelcome = [this] { forms_[6]->show(); };
    c.hooks.ShowMixEditor = [this] { forms_[3]->show(); forms_[3]->raise(); };
    c.hooks.ShowSettings = [this] {
        forms_[2]->show();
        forms_[2]->raise();
        cocktailEditor_->ShowCocktailPage();
        cocktailPage_->Render();
        cocktailPage_->show();
        cocktailPage_->raise();
    };
}

Application::~Application() = default;

}  // namespace quendo
