#include "app/Forms.h"

namespace quendo {

TSettings::TSettings(Core& c, QWidget* parent) : QWidget(parent, Qt::Window), core(c) {
    SetupFixedWindow(this, "Settings", "Settings", QSize(402, 357));
}

}  // namespace quendo
