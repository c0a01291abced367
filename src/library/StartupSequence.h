#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "model/Display.h"
#include "model/CocktailTable.h"
#include "library/LibraryScan.h"
#include "model/NodeTable.h"
#include "model/Platform.h"
#include "model/Options.h"
#include "model/ProgramFiles.h"

namespace quendo {

// The running executable's path from /proc/self/exe; "" when it cannot be read.
std::string RunningExecutablePath();

// A chosen folder as MusicFolder: ends with '/', the root stays "/".
std::string MusicFolderFromChoice(const std::string& chosen);

// The most a first run takes from the chosen tree.
inline constexpr std::int64_t kFirstRunMostFiles = 50000;
inline constexpr std::int64_t kFirstRunMostFolders = 5000;
// The first-run check of a chosen tree: the message to show, or nothing when accepted.
std::optional<std::string> FirstRunLimitMessage(const LibraryCount& count);

// The splash screen's vertical centre and its slide-out, one step every 5 ms.
int CentredTop(int screenHeight, int formHeight);
struct SlideStep {
    int top;
    bool close;
};
// With the animation off the form would never reach the bottom, so it closes at once.
SlideStep SlideOutStep(int top, int screenHeight, bool animate);

// What the start-up sequence needs of the splash screen, the directory chooser and the system.
class StartupScreens {
public:
    // Shows the directory chooser modally: the chosen folder, or nothing when the user gave up.
    virtual std::optional<std::string> ShowBrowseModal() = 0;
    virtual void HideSplash() = 0;     // the scan then runs with nothing shown
    virtual void StartSlideOut() = 0;  // the splash closes itself at the bottom of the screen
    virtual void CloseSplash() = 0;    // "OK" in place of "Loading ...", closed at once

protected:
    ~StartupScreens() = default;
};

// What it needs of its owner, who keeps the configuration file and the main window.
class StartupOwner {
public:
    virtual bool LoadConfiguration() = 0;  // the automix settings with it
    // The automix settings alone: a first run keeps those of the run before ("To change..."
    // leaves them on purpose).
    virtual void ReadAutoMixSettings() = 0;
    virtual bool SaveConfiguration() = 0;
    virtual void SetFirstRunValues(std::int32_t folderCount) = 0;
    virtual void CloseMainWindow() = 0;

protected:
    ~StartupOwner() = default;
};

// The splash screen's first tick: the program's folder, "qnd.cfg" or the first-run choice of the
// music folder, then the scan.
class StartupSequence {
public:
    struct Parts {
        NodeTable& nodes;
        CocktailTable& cocktails;
        Options& options;
        TransportButtons& buttons;
        MainDisplay& display;
        Dialogs& dialogs;
        Shell& shell;
        StartupScreens& screens;
        StartupOwner& owner;
        const ProgramFiles& files;
    };
    explicit StartupSequence(Parts parts) : p_(parts) {}

    bool FirstRun = false;        // until the first cocktail is made
    bool SetupCancelled = false;  // the user gave up choosing a music folder
    // The music folder could not be opened (a disk not plugged in), or holds no music where the
    // playlist named some (a mount point without its disk): the library is empty for this run, and
    // the playlist file is kept for the run that finds the music again.
    bool MusicFolderMissing = false;

    void RunStartupSequence();
    bool BrowseCancelClick();  // the chooser's Cancel: true to show the chooser again
    void SplashLinkClick(const std::string& address);  // a link label released

private:
    bool SavedPlaylistNamesFiles() const;
    Parts p_;
};

}  // namespace quendo
