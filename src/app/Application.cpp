#include "app/Application.h"

#include "app/CommandMenus.h"

#include <QApplication>
#include <QTimer>

#include "platform/PowerOffLogind.h"
#include "playback/Mixedit.h"
#include "playback/engine/AudioEngine.h"

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
    add(new TSettings(*core_));
    mixEditor_ = std::make_unique<MixEditor>(core_->envelope);
    add(new TMixEditor(*mixEditor_));
    auto* browse = new TBrowse(*core_);
    add(browse);
    add(new TfrmNameMusCoc(*core_));
    add(new TWelcome(*core_));

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
    c.startupHooks.HideSplash = [splash] { splash->HideSplash(); };
    c.startupHooks.StartSlideOut = [splash] { splash->StartSlideOut(); };
    c.startupHooks.CloseSplash = [splash] { splash->CloseSplash(); };
    c.startupHooks.ShowBrowseModal = [browse]() -> std::optional<std::string> {
        std::optional<std::string> chosen = browse->Choose();
        // Given up: the main window has been closed, and the loop may not be running yet.
        if (!chosen) QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
        return chosen;
    };
    c.hooks.ShowWelcome = [this] { forms_[6]->show(); };
    c.hooks.ShowMixEditor = [this] { forms_[3]->show(); forms_[3]->raise(); };
    c.hooks.ShowSettings = [this] { forms_[2]->show(); forms_[2]->raise(); };
}

Application::~Application() = default;

}  // namespace quendo
