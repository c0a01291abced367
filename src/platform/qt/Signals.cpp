#include "platform/qt/Signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include <QSocketNotifier>

#include "platform/qt/QtPlatform.h"

namespace quendo {

namespace {
// The handler only writes a byte: all else waits for the event loop.
int signalPipe[2] = {-1, -1};
void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}
}  // namespace

void CloseOnTerminationSignals(QWidget& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
        window.close();
        EndEventLoops();  // whatever the close did, and whatever modal loop is running
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace quendo
