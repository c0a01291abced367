#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>

#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

namespace fs = std::filesystem;

// The processes running the executable at `program`: only the ones this test started.
std::vector<pid_t> RunningCopies(const std::string& program) {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code rc;
        if (fs::read_symlink(e.path() / "exe", rc).string() == program) pids.push_back(std::stoi(name));
    }
    return pids;
}

// "To change..." answered with OK, for real: the program closes, its files go, and a new
// process of the same executable starts into its first run (it opens the directory chooser).
TEST(RestartProcess, TheNewInstanceGoesThroughTheFirstRun) {
    TempDir program, music;
    music.WriteFile("Rock/a.mp3", "");
    const std::string exe = program / "quendo";
    fs::copy_file(QUENDO_PROGRAM, exe);
    fs::permissions(exe, fs::perms::owner_all, fs::perm_options::add);

    {
        FakeWorld w;
        Core& c = *w.core;
        c.nodes.ProgramFolder = program.path();
        c.nodes.MusicFolder = music.path() + "/";
        c.SetFirstRunValues(1);
        c.options.chkShowSplash = false;  // no slide to wait for
        c.options.CheckBox1 = true;       // no welcome dialog
        ASSERT_TRUE(c.SaveConfiguration());
    }

    const std::string marker = program / "marker";
    QProcess old;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("SDL_AUDIODRIVER", "dummy");
    env.insert("QUENDO_RESTART_MARKER", QString::fromStdString(marker));
    old.setProcessEnvironment(env);
    old.setStandardOutputFile(QString::fromStdString(program / "output"));
    old.setStandardErrorFile(QString::fromStdString(program / "output"), QIODevice::Append);
    old.start(QString::fromStdString(exe), {});
    ASSERT_TRUE(old.waitForStarted(10000));
    const bool ended = old.waitForFinished(30000);
    if (!ended) old.kill();
    ASSERT_TRUE(ended) << program.ReadFile("output");
    EXPECT_EQ(old.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(old.exitCode(), 0);

    // The new instance reports its chooser; it waits there for a folder that nobody gives.
    std::string line;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        std::ifstream in(marker);
        if (std::getline(in, line) && !line.empty()) break;
        QThread::msleep(50);
    }
    const std::vector<pid_t> copies = RunningCopies(exe);
    const pid_t next = line.rfind("chooser ", 0) == 0 ? std::stoi(line.substr(8)) : 0;
    // A termination signal (a logout) ends it in its chooser.
    auto running = [&] {
        const std::vector<pid_t> now = RunningCopies(exe);
        return std::find(now.begin(), now.end(), next) != now.end();
    };
    if (next > 0) ::kill(next, SIGTERM);
    clock.restart();
    while (next > 0 && running() && clock.elapsed() < 10000) QThread::msleep(50);
    const bool signalEnded = next > 0 && !running();
    for (pid_t pid : RunningCopies(exe)) ::kill(pid, SIGKILL);

    ASSERT_GT(next, 0) << program.ReadFile("output");
    EXPECT_NE(next, static_cast<pid_t>(old.processId()));
    EXPECT_NE(std::find(copies.begin(), copies.end(), next), copies.end());
    EXPECT_TRUE(signalEnded);
    std::error_code ec;
    EXPECT_FALSE(fs::exists(program / "qnd.cfg", ec));
    EXPECT_FALSE(fs::exists(program / "qnd.m3u", ec));
}

}  // namespace
