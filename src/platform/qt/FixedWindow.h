#pragma once
#include <QSize>
#include <QWidget>

namespace quendo {

// The window type of a form the main window owns: on X11 only a dialog-type window is made
// transient for its owner, which a window manager keeps above it.
constexpr Qt::WindowFlags kOwnedWindow = Qt::Dialog;

// A fixed-size window with the system menu and minimize box, as every secondary form has.
inline void SetupFixedWindow(QWidget* w, const char* objectName, const char* title, QSize size) {
    w->setObjectName(QString::fromLatin1(objectName));
    w->setWindowTitle(QString::fromLatin1(title));
    w->setWindowFlags(kOwnedWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    w->setFixedSize(size);
}

}  // namespace quendo
