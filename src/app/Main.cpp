#include <QApplication>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/Application.h"
#include "app/ProgramLocation.h"
#include "library/AutoMixSettings.h"
#include "model/ProgramFiles.h"
#include "platform/qt/QtPlatform.h"
#include "platform/qt/Signals.h"
#include "platform/qt/SingleInstance.h"

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
    // The folder of the program's files, which one running copy holds.
    const std::string folder = quendo::LocateProgramFiles(quendo::RunningExecutablePath()).settingsFolder;
    std::optional<quendo::SingleInstance> instance;
    if (quendo::LoadAutoMixSettings(quendo::BesideExecutable(folder, quendo::kAutoMixFileName)).oneInstance) {
        // "-new": started by the running copy as it ends ("To change..."), so it waits for that one.
        const bool successor = argc > 1 && std::string_view(argv[1]) == "-new";
        // An installed copy's first run has no folder yet, and without one nothing would be locked.
        std::error_code ec;
        if (!folder.empty()) std::filesystem::create_directories(folder, ec);
        instance.emplace(folder, successor);
        if (!instance->First()) {
            if (!instance->RaiseFirst())
                std::fputs("Quendo: a copy already runs for these files, and it did not answer.\n", stderr);
            return 0;
        }
    }
    quendo::Guarded([&instance] {
        quendo::Application quendoApp;
        if (instance) {
            instance->onRaise = [&quendoApp] { quendo::BringToFront(quendoApp.Form1()); };
        }
        quendo::CloseOnTerminationSignals(quendoApp.Form1());
        quendoApp.Form1().show();
        QApplication::exec();
        if (instance) instance->onRaise = nullptr;
    });
    return 0;
}
