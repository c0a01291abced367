#include <gtest/gtest.h>

#include <csignal>

#include <filesystem>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include "app/Application.h"
#include "platform/qt/Signals.h"
#include "support/Fakes.h"

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

// The signal ends every loop, the chooser's modal one too: it is no Cancel, so nothing is asked,
// and the close of a first run writes nothing.
TEST(Signals, TerminationInTheFirstRunChooserEndsTheProgram) {
    quendo::testing::TempDir program;
    quendo::Application app(program / "quendo");
    quendo::CloseOnTerminationSignals(app.Form1());
    QWidget* chooser = app.Forms()[4];
    struct Questions : QObject {
        int shown = 0;
        bool eventFilter(QObject* o, QEvent* e) override {
            shown += e->type() == QEvent::Show && qobject_cast<QMessageBox*>(o);
            return false;
        }
    } questions;
    qApp->installEventFilter(&questions);
    bool raised = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
        if (!raised && chooser->isVisible()) {
            raised = true;
            std::raise(SIGTERM);
        }
    });
    watch.start(20);
    QTimer hang;  // a program that goes on fails the test rather than hanging it
    hang.setSingleShot(true);
    QObject::connect(&hang, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    hang.start(20000);
    app.Form1().show();
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(raised);
    EXPECT_EQ(questions.shown, 0);
    EXPECT_FALSE(chooser->isVisible());
    EXPECT_FALSE(std::filesystem::exists(program / "qnd.cfg"));
    EXPECT_FALSE(std::filesystem::exists(program / "qnd.m3u"));
    std::signal(SIGTERM, SIG_DFL);
}

}  // namespace
