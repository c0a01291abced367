#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/ProgramLocation.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

namespace fs = std::filesystem;

Environment EnvironmentOf(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const char* name) {
        const auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    };
}

TEST(ProgramLocation, AnInstalledCopyUsesTheUsersFoldersAnyOtherCopyItsOwn) {
    TempDir prefix;
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share/quendo");
    const std::string exe = prefix / "bin/quendo";

    ProgramFiles f = LocateProgramFiles(exe, EnvironmentOf({{"HOME", "/home/dj"}}));
    EXPECT_TRUE(f.installed);
    EXPECT_EQ(f.settingsFolder, "/home/dj/.config/quendo");
    EXPECT_EQ(f.cacheFolder, "/home/dj/.cache/quendo");
    EXPECT_EQ(f.helpFile, prefix / "share/quendo/help/Quendo.html");
    EXPECT_EQ(f.demoLibrary, prefix / "share/quendo/Demo Music");

    f = LocateProgramFiles(exe, EnvironmentOf({{"HOME", "/home/dj"}, {"XDG_CONFIG_HOME", "/cfg/"},
                                               {"XDG_CACHE_HOME", "/var/cache/dj"}}));
    EXPECT_EQ(f.settingsFolder, "/cfg/quendo");
    EXPECT_EQ(f.cacheFolder, "/var/cache/dj/quendo");
    // A relative base folder is not valid, and is passed over.
    f = LocateProgramFiles(exe, EnvironmentOf({{"HOME", "/home/dj"}, {"XDG_CONFIG_HOME", "cfg"}}));
    EXPECT_EQ(f.settingsFolder, "/home/dj/.config/quendo");

    // The build tree: bin/ without share/quendo beside it.
    TempDir build;
    fs::create_directories(build / "bin");
    f = LocateProgramFiles(build / "bin/quendo", EnvironmentOf({{"HOME", "/home/dj"}}));
    EXPECT_FALSE(f.installed);
    EXPECT_EQ(f.settingsFolder, build / "bin");
    EXPECT_EQ(f.cacheFolder, build / "bin");
    EXPECT_EQ(f.helpFile, build / "bin/Quendo.html");
    EXPECT_EQ(f.demoLibrary, build / "bin/Demo Music");
    // An unpacked folder that is not called bin, even with a share/quendo beside it.
    fs::create_directories(prefix / "quendo-1.10");
    EXPECT_EQ(LocateProgramFiles(prefix / "quendo-1.10/quendo").settingsFolder, prefix / "quendo-1.10");
    // The executable not found: nothing to go by.
    EXPECT_TRUE(LocateProgramFiles("").settingsFolder.empty());
}

// An installed copy's whole session, from its first run: the folder in ~/.config is made, the
// files live there and nowhere near the executable, and "To change..." deletes them there.
TEST(ProgramLocation, AnInstalledCopyKeepsItsSessionInTheUsersConfiguration) {
    TempDir prefix, home, music;
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share/quendo");
    music.WriteFile("Rock/a.mp3", "");
    FakeWorld w;
    Core& c = *w.core;
    c.files = LocateProgramFiles(prefix / "bin/quendo", EnvironmentOf({{"HOME", home.path()}}));
    const std::string settings = home / ".config/quendo";
    ASSERT_EQ(c.files.settingsFolder, settings);
    fs::remove(settings);  // the folder comes with the first file
    w.forms.on.ShowBrowseModal = [&]() -> std::optional<std::string> { return music.path(); };

    c.FormCreate();
    c.startup.RunStartupSequence();
    EXPECT_EQ(c.nodes.ProgramFolder, settings);
    EXPECT_EQ(home.FilesBelow(), (std::vector<std::string>{".config/quendo/automix.cfg", ".config/quendo/qnd.cfg"}));
    c.startup.FirstRun = false;
    c.FormClose();
    EXPECT_EQ(home.FilesBelow(), (std::vector<std::string>{".config/quendo/automix.cfg",
                                                                 ".config/quendo/qnd.cfg", ".config/quendo/qnd.m3u"}));
    EXPECT_EQ(c.files.cacheFolder, home / ".cache/quendo");
    EXPECT_TRUE(prefix.FilesBelow().empty());

    w.dialogs.answers = {MsgAnswer::Ok};
    c.optionsKeeper.RestartWithNewFolder();
    EXPECT_EQ(home.FilesBelow(), (std::vector<std::string>{".config/quendo/automix.cfg"}));
    EXPECT_EQ(w.shell.restarts, 1);
}

}  // namespace
