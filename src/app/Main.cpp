#include <QApplication>

#include "app/Application.h"
#include "platform/qt/QtPlatform.h"
#include "platform/qt/Signals.h"

namespace {
// An error that escapes an event handler is shown, and the program goes on.
class GuardedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        bool result = false;
        quendo::Guarded([&] { result = QApplication::notify(receiver, event); });
        return result;
    }
};
}  // namespace

int main(int argc, char** argv) {
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quendo"));
    quendo::Guarded([] {
        quendo::Application quendoApp;
        quendo::CloseOnTerminationSignals(quendoApp.Form1());
        quendoApp.Form1().show();
        QApplication::exec();
    });
    return 0;
}
