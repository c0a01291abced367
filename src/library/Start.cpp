#include "app/Forms.h"

namespace quendo {

TSplash::TSplash(Core& c, QWidget* parent) : QDialog(parent), core(c) {
    setObjectName(QStringLiteral("Splash"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setFixedSize(265, 254);
    setStyleSheet(QStringLiteral("background: black;"));
}

}  // namespace quendo
