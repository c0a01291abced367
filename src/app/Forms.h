#pragma once
#include <QDialog>
#include <QWidget>

#include "app/Core.h"
#include "library/Start.h"
#include "settings/Brows.h"

namespace quendo {

// Forms that are still bare windows with their captions.

// A fixed-size window with the system menu and minimize box, as every secondary form has.
inline void SetupFixedWindow(QWidget* w, const char* objectName, const char* title, QSize size) {
    w->setObjectName(QString::fromLatin1(objectName));
    w->setWindowTitle(QString::fromLatin1(title));
    w->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    w->setFixedSize(size);
}

class TSettings : public QWidget {
public:
    TSettings(Core& core, QWidget* parent = nullptr);
    Core& core;
};

class TfrmNameMusCoc : public QDialog {
public:
    TfrmNameMusCoc(Core& core, QWidget* parent = nullptr);
    Core& core;
};

class TWelcome : public QWidget {
public:
    TWelcome(Core& core, QWidget* parent = nullptr);
    Core& core;
};

}  // namespace quendo
