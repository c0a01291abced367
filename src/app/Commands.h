#pragma once
#include <cstdint>

#include "model/Display.h"
#include "app/Playlist.h"
#include "cocktail/CocktailMaker.h"
#include "model/NodeTable.h"
#include "playback/DeckEngine.h"
#include "model/Platform.h"
#include "model/Options.h"
#include "model/ProgramFiles.h"

namespace quendo {

// Command identifiers of the main window's menus; those below kFirstCommand are file indices.
enum MenuCommandId : int {
    kFirstCommand = 65000,
    cmAbout = 65000,
    cmMixEditor = 65001,
    cmHelp = 65002,
    cmSettings = 65003,
    cmNormalSize = 65004,
    cmSmallSize = 65005,
    cmDeleteItems = 65006,
    cmClear = 65007,
    cmMakeCocktail = 65008,
    cmVisitUpdates = 65009,
    cmVisitOtherPrograms = 65010,
    kLastCommand = 65010,
};

// The height step of "Normal size" and "Small size", and the outer height that divides them.
inline constexpr int kSizeStep = 233;
inline constexpr int kSizeThreshold = 200;

// What the folder menus do with a press on one of their items.
enum class PressAction {
    PassOn,                // the menu handles it as usual
    Swallow,               // handled here; every menu stays open
    SwallowAndCloseMenus,  // handled here; every open menu closes
};

// What the menu commands need of the forms: the ones they open, and the main window's height.
class CommandForms {
public:
    virtual void ShowAboutBox() = 0;
    virtual void ShowMixEditor() = 0;
    virtual void ShowSettings() = 0;
    // The main window's outer (frame) height in pixels, read and set.
    virtual int MainWindowOuterHeight() const = 0;
    virtual void SetMainWindowOuterHeight(int outer) = 0;

protected:
    ~CommandForms() = default;
};

// The main window's menu commands, its keys, and the folder menus' extra mouse actions.
class Commands {
public:
    struct Parts {
        const NodeTable& nodes;
        Playlist& playlist;
        DeckEngine& deck;
        CocktailMaker& cocktails;
        TransportButtons& buttons;
        MainDisplay& display;
        Shell& shell;
        Dialogs& dialogs;
        CommandForms& forms;
        const ProgramFiles& files;
    };
    explicit Commands(Parts parts);

    bool MenuHandlingEnabled = false;
    int BuildFolder = 0;  // the folder whose menu is being built

    void MenuCommand(int id);                 // a file index, or 65000..65010
    void AddFolderFiles(std::int32_t folder);  // the files lying directly in it, in menu order
    void FormKeyDown(int key);                // 'B', 'V', 'C', 'X', 'R', 'S'
    std::string HelpFilePath() const;

    // A left or right press on a folder item (its folder index) or a file item of a folder menu.
    // After one that acts, the guard ignores presses for 200 ms, so one click never acts twice.
    PressAction FolderItemPress(std::int32_t folder, bool left);
    PressAction FileItemPress(std::int32_t file, bool left);
    // The folder menus closed: an abandoned folder pick must not leave every command dead.
    void FolderMenusClosed();
    bool Timer2Enabled() const { return timer2Enabled_; }
    void Timer2Timer() { timer2Enabled_ = false; }

private:
    bool Guarded(bool left, PressAction& action) const;
    void AddFile(std::int32_t file);

    Parts p_;
    bool timer2Enabled_ = false;  // the guard, 200 ms
};

}  // namespace quendo
