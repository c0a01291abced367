#include <gtest/gtest.h>

#include <csignal>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>

#include "platform/qt/Signals.h"

namespace {

class CountingWindow : public QWidget {
public:
    int closes = 0;

protected:
    void closeEvent(QCloseEvent* e) override {
        ++closes;
        e->accept();
    }
};

TEST(Signals, TerminationClosesTheWindowFromTheEventLoop) {
    CountingWindow w;
    w.show();
    quendo::CloseOnTerminationSignals(w);
    for (int sig : {SIGTERM, SIGHUP}) {
        w.show();
        const int before = w.closes;
        std::raise(sig);
        EXPECT_EQ(w.closes, before) << "nothing runs inside the handler";
        QElapsedTimer t;
        t.start();
        while (w.closes == before && t.elapsed() < 2000) QApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(w.closes, before + 1) << sig;
        EXPECT_FALSE(w.isVisible());
    }
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

}  // namespace
