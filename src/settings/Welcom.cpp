#include "app/Forms.h"

namespace quendo {

TWelcome::TWelcome(Core& c, QWidget* parent) : QWidget(parent, Qt::Window), core(c) {
    setObjectName(QStringLiteral("Welcome"));
    setWindowTitle(QStringLiteral("Welcome to:"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(300, 331);
}

}  // namespace quendo
