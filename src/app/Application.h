#pragma once
#include <memory>
#include <vector>

#include <QWidget>

#include "app/Core.h"
#include "app/MainWindow.h"
#include "platform/qt/QtPlatform.h"

namespace quendo {

// Owns the platform adapters, the players, the core and the seven forms, which live until the
// program ends.
class CommandMenus;
class TCocktailPage;

class Application {
public:
    // Players are given for tests; by default the sound engine's.
    Application(MediaPlayer* deck1 = nullptr, MediaPlayer* deck2 = nullptr, MediaPlayer* probe = nullptr);
    ~Application();

    TForm1& Form1() { return *form1_; }
    Core& core() { return *core_; }
    // The forms in the order they were created.
    const std::vector<QWidget*>& Forms() const { return forms_; }
    TCocktailPage& CocktailPage() { return *cocktailPage_; }

private:
    struct Players;
    std::unique_ptr<Players> players_;
    QtShell shell_;
    QtDialogs dialogs_;
    std::unique_ptr<PowerOff> powerOff_;
    StdRandom random_;
    std::unique_ptr<Core> core_;
    std::unique_ptr<TForm1> form1_;
    std::vector<std::unique_ptr<QWidget>> others_;
    std::vector<QWidget*> forms_;
    CommandMenus* menus_ = nullptr;
    TCocktailPage* cocktailPage_ = nullptr;  // owned by others_
};

}  // namespace quendo
