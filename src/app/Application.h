#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "app/Core.h"
#include "app/MainWindow.h"
#include "app/MainWindowRemote.h"
#include "platform/qt/QtPlatform.h"

namespace quendo {

// Owns the platform adapters, the players, the core and the seven forms, which live until the
// program ends, and is the core's way to its forms.
class CommandMenus;
class TBrowse;
class TCocktailPage;
class TMixEditor;
class TSettings;
class TSplash;
class TWelcome;

class Application final : private CoreForms {
public:
    // `program` is the program's own executable: its place tells where the program's files live,
    // and "To change..." starts it again. Players are given for tests; by default the sound engine's.
    explicit Application(std::string program = RunningExecutablePath(), MediaPlayer* deck1 = nullptr,
                         MediaPlayer* deck2 = nullptr, MediaPlayer* probe = nullptr);
    ~Application();

    TForm1& Form1() { return *form1_; }
    Core& core() { return *core_; }
    // The forms in the order they were created.
    const std::vector<QWidget*>& Forms() const { return forms_; }
    TCocktailPage& CocktailPage() { return *cocktailPage_; }

private:
    // CoreForms: what the core asks of the forms
    void ShowAboutBox() override;
    void ShowMixEditor() override;
    void ShowSettings() override;
    int MainWindowOuterHeight() const override;
    void SetMainWindowOuterHeight(int outer) override;
    std::optional<std::string> ShowBrowseModal() override;
    void HideSplash() override;
    void StartSlideOut() override;
    void CloseSplash() override;
    void ShowSplashModal() override;
    void ShowWelcome() override;
    void RenderMixEditor() override;
    void HideSettings() override;
    void CloseMainWindow() override;
    void SetTopmost(bool on) override;

    std::string program_;
    ProgramFiles files_;
    struct Players;
    std::unique_ptr<Players> players_;
    QtShell shell_;
    QtDialogs dialogs_;
    std::unique_ptr<PowerOff> powerOff_;
    std::unique_ptr<StayAwake> awake_;
    StdRandom random_;
    std::unique_ptr<Core> core_;
    // Outlives the window, whose child the bus's adaptor is.
    std::unique_ptr<MainWindowRemote> remote_;
    std::unique_ptr<TForm1> form1_;
    std::vector<std::unique_ptr<QWidget>> others_;
    std::vector<QWidget*> forms_;
    CommandMenus* menus_ = nullptr;
    // The forms below are owned by others_.
    TSplash* splash_ = nullptr;
    TSettings* settings_ = nullptr;
    TMixEditor* mixEditor_ = nullptr;
    TBrowse* browse_ = nullptr;
    TWelcome* welcome_ = nullptr;
    TCocktailPage* cocktailPage_ = nullptr;
};

}  // namespace quendo
