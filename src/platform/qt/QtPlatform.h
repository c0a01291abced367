#pragma once
#include <utility>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "model/Platform.h"

namespace quendo {

// Web addresses and local files through the desktop's handlers; a restart starts `program`, the
// executable given at construction, through QProcess.
class QtShell : public Shell {
public:
    explicit QtShell(QString program) : program_(std::move(program)) {}
    bool Open(const std::string& target) override;
    void RestartProgram() override;

private:
    QString program_;
};

// QMessageBox, placed at the screen's top-left corner or centred.
class QtDialogs : public Dialogs {
public:
    MsgAnswer Message(const std::string& text, MsgIcon icon, MsgButtons buttons, MsgPlace place) override;
    // Owns the messages that come while no window of the program is active.
    void SetMainWindow(QWidget* window) { mainWindow_ = window; }

private:
    QPointer<QWidget> mainWindow_;
};

// Ends the program from any depth of modal loops: every running event loop returns at once.
// (QCoreApplication::quit first asks every window to close, and one that stays up, such as the
// splash screen during start-up, keeps the program running.)
void EndEventLoops();
// Brings a window to the front, restored if minimized: what a second start or a remote asks.
void BringToFront(QWidget& window);

// Runs f; an error that escapes it is shown in a box titled "Quendo" and the program goes on.
template <class F>
void Guarded(F&& f);
void ShowEscapedError(const char* what);

template <class F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        ShowEscapedError(e.what());
    } catch (...) {
        ShowEscapedError("Unknown error");
    }
}

}  // namespace quendo
