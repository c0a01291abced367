#include "settings/Setting.h"

#include "platform/qt/FixedWindow.h"

namespace quendo {

TSettings::TSettings(QWidget* parent) : QWidget(parent, Qt::Window) {
    SetupFixedWindow(this, "Settings", "Settings", QSize(402, 357));
}

}  // namespace quendo
