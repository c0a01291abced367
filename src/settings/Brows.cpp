#include "app/Forms.h"

namespace quendo {

TBrowse::TBrowse(Core& c, QWidget* parent) : QDialog(parent), core(c) {
    setObjectName(QStringLiteral("Browse"));
    setWindowTitle(QStringLiteral("Select a directory with your musical files..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setFixedSize(292, 244);
}

}  // namespace quendo
