#pragma once
#include <utility>

#include <QObject>
#include <QString>
#include <QWidget>

#include "model/Platform.h"

namespace quendo {

// Web addresses and local files through the desktop's handlers; a restart starts `program`, the
// executable given at construction, through QProcess.
class QtShell : public Shell {
public:
    explicit QtShell(QString program) : program_(std::move(program)) {}
    void Open(const std::string& target) override;
    void RestartProgram() override;

private:
    QString program_;
};

// QMessageBox, placed at the screen's top-left corner or centred.
class QtDialogs : public Dialogs {
public:
    MsgAnswer Message(const std::string& text, MsgIcon icon, MsgButtons buttons, MsgPlace place) override;
};

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
