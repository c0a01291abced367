#include "app/Forms.h"

namespace quendo {

TSettings::TSettings(Core& c, QWidget* parent) : QWidget(parent, Qt::Window), core(c) {
    setObjectName(QStringLiteral("Settings"));
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(402, 357);
}

}  // namespace quendo
