#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <QApplication>

namespace {

// A session bus of this process's own, so that no test reaches the desktop's, and every test
// finds one: with none to start, the tests fail. The daemon ends with the process, however it ends.
class PrivateSessionBus {
public:
    bool Start() {
        int out[2];
        if (::pipe(out) != 0) return false;
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string address;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') address += c;
        ::close(out[0]);
        if (address.empty()) return false;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        return true;
    }
    ~PrivateSessionBus() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    // Test discovery runs the binary without the test's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing = listing || std::string_view(argv[i]) == "--gtest_list_tests";
    PrivateSessionBus bus;
    // Before anything in the process looks for a session bus.
    if (!listing && !bus.Start()) {
        std::fprintf(stderr, "desktop_tests: dbus-daemon --session did not start\n");
        return 1;
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
