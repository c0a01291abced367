#include "app/Forms.h"

namespace quendo {

TWelcome::TWelcome(Core& c, QWidget* parent) : QWidget(parent, Qt::Window), core(c) {
    SetupFixedWindow(this, "Welcome", "Welcome to:", QSize(300, 331));
}

}  // namespace quendo
