#pragma once
#include <QSize>
#include <QWidget>

namespace quendo {

// A fixed-size window with the system menu and minimize box, as every secondary form has.
inline void SetupFixedWindow(QWidget* w, const char* objectName, const char* title, QSize size) {
    w->setObjectName(QString::fromLatin1(objectName));
    w->setWindowTitle(QString::fromLatin1(title));
    w->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    w->setFixedSize(size);
}

}  // namespace quendo
