#include "app/Forms.h"

namespace quendo {

TMixEditor::TMixEditor(Core& c, QWidget* parent) : QWidget(parent, Qt::Window), core(c) {
    SetupFixedWindow(this, "MixEditor", "MixEditor", QSize(480, 400));
}

}  // namespace quendo
