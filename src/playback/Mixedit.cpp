#include "app/Forms.h"

namespace quendo {

TMixEditor::TMixEditor(Core& c, QWidget* parent) : QWidget(parent, Qt::Window), core(c) {
    setObjectName(QStringLiteral("MixEditor"));
    setWindowTitle(QStringLiteral("MixEditor"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(480, 400);
}

}  // namespace quendo
