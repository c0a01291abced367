#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "app/Application.h"
#include "platform/qt/SingleInstance.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

namespace fs = std::filesystem;

// A copy of the program in a folder of its own, whose files it takes as its own.
std::string CopyOfProgram(const TempDir& dir) {
    const std::string exe = dir / "quendo";
    fs::copy_file(QUENDO_PROGRAM, exe);
    fs::permissions(exe, fs::perms::owner_all, fs::perm_options::add);
    return exe;
}

// Runs a copy of the program to its end, serving this process's events meanwhile.
int RunToEnd(QProcess& p, const std::string& exe) {
    p.start(QString::fromStdString(exe), {});
    if (!p.waitForStarted(10000)) return -1;
    if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000)) return -2;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
}

bool LockHeld(const std::string& folder) {
    const int fd = ::open((folder + "/qnd.lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// One copy a folder: a second start raises the first and ends with 0; a copy killed with SIGKILL
// blocks nothing; a copy in another folder runs beside it.
TEST(SingleInstance, SecondStartRaisesTheFirstAndEndsAndAKilledCopyBlocksNothing) {
    TempDir program;
    const std::string exe = CopyOfProgram(program);
    {
        SingleInstance first(program.path());
        ASSERT_TRUE(first.First());
        int raises = 0;
        first.onRaise = [&] { ++raises; };
        QProcess second;
        EXPECT_EQ(RunToEnd(second, exe), 0);
        EXPECT_EQ(raises, 1);
    }

    // The program itself, killed once it holds its folder: lock file and socket stay behind.
    QProcess killed;
    killed.start(QString::fromStdString(exe), {});
    ASSERT_TRUE(killed.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return LockHeld(program.path()); }, 20000));
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(10000));
    EXPECT_FALSE(LockHeld(program.path()));

    SingleInstance next(program.path());
    ASSERT_TRUE(next.First());
    int raises = 0;
    next.onRaise = [&] { ++raises; };
    TempDir elsewhere;
    EXPECT_TRUE(SingleInstance(elsewhere.path()).First());
    QProcess second;
    EXPECT_EQ(RunToEnd(second, exe), 0);
    EXPECT_EQ(raises, 1);
}

// The copy that "To change..." starts runs even when the one that started it is slow to let go,
// and holds the folder once it has. The socket lies in the user's runtime folder, where no other
// user can take its name first, so a later start with another temporary folder still reaches the
// copy; without a runtime folder it lies in the temporary one.
TEST(SingleInstance, ASuccessorRunsWhileItsPredecessorEndsAndIsFoundInTheRuntimeFolder) {
    TempDir program, runtime, otherTemporary;
    const std::string exe = CopyOfProgram(program);
    const QByteArray runtimeBefore = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(fs::path(SingleInstance::SocketName(program.path())).parent_path(), QDir::tempPath().toStdString());
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
    auto predecessor = std::make_unique<SingleInstance>(program.path());
    ASSERT_TRUE(predecessor->First());
    EXPECT_EQ(fs::path(SingleInstance::SocketName(program.path())).parent_path(), runtime.path());
    SingleInstance successor(program.path(), true);
    EXPECT_TRUE(successor.First());
    int raises = 0;
    successor.onRaise = [&] { ++raises; };
    predecessor.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return LockHeld(program.path()); }, 5000));
    QProcess later;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), QString::fromStdString(otherTemporary.path()));
    later.setProcessEnvironment(environment);
    EXPECT_EQ(RunToEnd(later, exe), 0);
    EXPECT_EQ(raises, 1);
    qputenv("XDG_RUNTIME_DIR", runtimeBefore);
}

// The program's window on fake decks, its files in a folder of their own, and one music file.
struct WindowOnFakes {
    FakePlayer deck1, deck2, probe;
    TempDir dir;
    Application app{dir / "quendo", &deck1, &deck2, &probe};
    Core& core = app.core();
    std::int32_t file = [this] {
        core.nodes.ProgramFolder = dir.path();
        core.nodes.MusicFolder = "/music/";
        return core.nodes.AddFileNode(0, "a.mp3");
    }();
};

// The window runs the playlist file's timer: a change, even of 200 entries at once, goes to disk
// with no close.
TEST(PlaylistFileFollows, TheWindowWritesAChangeWithoutAClose) {
    WindowOnFakes w;
    Application& app = w.app;
    Core& c = w.core;
    TempDir& dir = w.dir;
    const std::int32_t j = w.file;
    w.probe.durations["/music/a.mp3"] = 100;
    app.Form1().Act([&] {
        for (int i = 0; i < 200; ++i) c.playlist.AddToPlaylist(j);
    });
    const std::string expected = c.playlist.PlaylistFileContent();
    EXPECT_TRUE(QTest::qWaitFor([&] { return fs::exists(dir / "qnd.m3u") && dir.ReadFile("qnd.m3u") == expected; }, 10000));
}

// A private bus standing in for the system bus, with a mock logind on it. Started by the test;
// where it cannot be, the test fails.
class MockLogind {
public:
    MockLogind() {
        bus_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        if (!bus_.waitForStarted(10000) || !QTest::qWaitFor([&] { return bus_.canReadLine(); }, 10000)) return;
        address = QString::fromUtf8(bus_.readLine()).trimmed();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        logind_.setProcessEnvironment(env);
        logind_.setStandardOutputFile(QProcess::nullDevice());  // its log of calls
        logind_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The system's Python, where the distribution's package puts the module.
        logind_.start(QStringLiteral("/usr/bin/python3"), {"-m", "dbusmock", "--template", "logind"});
        QDBusConnection test = Connection();
        ready = test.isConnected() && QTest::qWaitFor([&] {
            return test.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1")).value();
        }, 20000);
    }
    ~MockLogind() {
        QDBusConnection::disconnectFromBus(QStringLiteral("mock-logind-test"));
        for (QProcess* p : {&logind_, &bus_}) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    QDBusConnection Connection() const {
        return QDBusConnection::connectToBus(address, QStringLiteral("mock-logind-test"));
    }
    // "who what mode" of each inhibitor logind holds.
    QStringList Inhibitors() const {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("ListInhibitors"));
        const QDBusMessage reply = Connection().call(call, QDBus::Block, 5000);
        QStringList list;
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {"no answer"};
        const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            arg.beginStructure();
            arg >> what >> who >> why >> mode >> uid >> pid;
            arg.endStructure();
            list << who + " " + what + " " + mode;
        }
        arg.endArray();
        return list;
    }

    QString address;
    bool ready = false;

private:
    QProcess bus_, logind_;
};

// Logind's idle and sleep inhibitor is taken when a track plays, and let go when it pauses and
// when the program closes.
TEST(StayAwake, LogindInhibitorHeldWhilePlaying) {
    MockLogind logind;
    ASSERT_TRUE(logind.ready) << "no private bus with a mock logind: dbus-daemon and python3-dbusmock are needed";
    // Before the program's first use of the system bus.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", logind.address.toUtf8());

    WindowOnFakes w;
    Application& app = w.app;
    Core& c = w.core;
    const std::int32_t j = w.file;
    for (FakePlayer* p : {&w.deck1, &w.deck2, &w.probe}) p->durations["/music/a.mp3"] = 300;
    c.buttons.UP = true;
    const QStringList held{"Quendo idle:sleep block"};

    EXPECT_EQ(logind.Inhibitors(), QStringList{});
    app.Form1().Act([&] { c.playlist.AddToPlaylist(j); });
    app.Form1().Act([&] { c.Timer1Timer(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.Inhibitors() == held; }, 5000)) << logind.Inhibitors().join(", ").toStdString();

    app.Form1().Act([&] { c.buttons.Play = false; c.PlayClick(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.Inhibitors().isEmpty(); }, 5000));
    app.Form1().Act([&] { c.buttons.Play = true; c.PlayClick(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.Inhibitors() == held; }, 5000));

    app.Form1().close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.Inhibitors().isEmpty(); }, 5000));
}

}  // namespace
