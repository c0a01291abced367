#include "settings/Welcom.h"

#include "platform/qt/FixedWindow.h"

namespace quendo {

TWelcome::TWelcome(QWidget* parent) : QWidget(parent, Qt::Window) {
    SetupFixedWindow(this, "Welcome", "Welcome to:", QSize(300, 331));
}

}  // namespace quendo
