#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

namespace fs = std::filesystem;

bool HasOpen(qint64 pid, const std::string& file) {
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code rc;
        if (fs::read_symlink(e.path(), rc).string() == file) return true;
    }
    return false;
}

// The installed program, run by a user with a fresh home and a saved session there: it plays the
// session from ~/.config/quendo, writes it back there when a termination signal ends it, and
// writes nothing into its installed tree.
TEST(InstalledProgram, PlaysTheSessionFromTheUsersConfigurationAndWritesNothingBesideItself) {
    TempDir prefix, home, scratch;
    QProcess install;
    install.start(QStringLiteral(QUENDO_CMAKE_COMMAND),
                  {"--install", QUENDO_BUILD_DIR, "--prefix", QString::fromStdString(prefix.path())});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
    const std::string music = prefix / "share/quendo/Demo Music/";
    const std::string first = music + "House/Deep Current.wav", second = music + "Lounge/Copper Moon.mp3";
    ASSERT_TRUE(fs::exists(first) && fs::exists(second));

    const std::string settings = home / ".config/quendo";
    fs::create_directories(settings);
    {
        FakeWorld before;
        Core& c = *before.core;
        c.nodes.ProgramFolder = settings;
        c.nodes.MusicFolder = music;
        c.SetFirstRunValues(3);
        c.options.chkShowSplash = false;
        c.options.CheckBox1 = true;  // no welcome
        c.options.RadioGroup1 = suContinueSession;
        ASSERT_TRUE(c.SaveConfiguration());
        fs::remove(settings + "/automix.cfg");  // the program's close writes it again
    }
    home.WriteFile(".config/quendo/qnd.m3u", first + "\r\n" + second + "\r\n");
    const std::vector<std::string> installed = prefix.FilesBelow();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", QString::fromStdString(home.path()));
    environment.remove("XDG_CONFIG_HOME");
    environment.insert("XDG_CACHE_HOME", QString::fromStdString(scratch / "cache"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("SDL_AUDIODRIVER", "dummy");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(QString::fromStdString(scratch.path()));
    program.start(QString::fromStdString(prefix / "bin/quendo"), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // The first track open on a deck: the session has been read and plays.
    QElapsedTimer clock;
    clock.start();
    while (!HasOpen(program.processId(), first) && clock.elapsed() < 30000) QThread::msleep(20);
    EXPECT_TRUE(HasOpen(program.processId(), first));
    QThread::msleep(1000);  // past the measuring of the playlist, which opens it too
    program.terminate();    // SIGTERM
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);

    EXPECT_EQ(home.FilesBelow(),
              (std::vector<std::string>{".config/quendo/automix.cfg", ".config/quendo/qnd.cfg", ".config/quendo/qnd.lock",
                                        ".config/quendo/qnd.m3u"}));
    EXPECT_EQ(home.ReadFile(".config/quendo/qnd.m3u"), first + "\r\n" + second + "\r\n");
    EXPECT_EQ(prefix.FilesBelow(), installed);
}

}  // namespace
