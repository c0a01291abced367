#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/Application.h"
#include "settings/Setting.h"
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

std::vector<pid_t> WaitForCopies(const std::string& program, bool running) {
    QElapsedTimer clock;
    clock.start();
    std::vector<pid_t> copies = RunningCopies(program);
    while (copies.empty() == running && clock.elapsed() < 20000) {
        QThread::msleep(50);
        copies = RunningCopies(program);
    }
    return copies;
}

std::string CommandLine(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Kills what is left of the copies when the test ends, however it ends.
struct KillCopies {
    std::string program;
    ~KillCopies() {
        for (pid_t pid : RunningCopies(program)) ::kill(pid, SIGKILL);
    }
};

// "To change..." answered with OK, for real: both files go and a new process
// of the program starts; with no files beside it, it waits in its first run until it is ended.
TEST(RestartProcess, ToChangeAnsweredOkStartsTheProgramAgainWithoutItsFiles) {
    TempDir program;
    const std::string exe = program / "quendo";
    fs::copy_file(QUENDO_PROGRAM, exe);
    fs::permissions(exe, fs::perms::owner_all, fs::perm_options::add);
    const KillCopies killer{exe};

    Application app(exe);
    Core& c = app.core();
    c.nodes.ProgramFolder = program.path();
    c.SetFirstRunValues(1);
    ASSERT_TRUE(c.SaveConfiguration());
    ASSERT_TRUE(c.playlist.SavePlaylist());
    c.MenuCommand(cmSettings);
    auto* form = static_cast<TSettings*>(app.Forms()[2]);
    ASSERT_TRUE(form->isVisible());

    QString question;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        question = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    answer.start(10);
    QTest::mouseClick(form->Button2, Qt::LeftButton);
    answer.stop();
    EXPECT_EQ(question, "For continuation is necessary restart of the application. To continue?");

    const std::vector<pid_t> copies = WaitForCopies(exe, true);
    ASSERT_EQ(copies.size(), 1u);
    const pid_t next = copies.front();
    EXPECT_NE(next, ::getpid());
    EXPECT_EQ(CommandLine(next), exe + '\0' + "-new" + '\0');
    std::error_code ec;
    EXPECT_FALSE(fs::exists(program / "qnd.cfg", ec));
    EXPECT_FALSE(fs::exists(program / "qnd.m3u", ec));
    // It is still there a moment later: the start-up did not fail.
    QThread::msleep(1000);
    EXPECT_EQ(RunningCopies(exe), copies);
    EXPECT_FALSE(fs::exists(program / "qnd.cfg", ec));

    // A termination signal (a logout) ends it in its first run.
    ::kill(next, SIGTERM);
    EXPECT_TRUE(WaitForCopies(exe, false).empty());
}

}  // namespace
