#include "app/Forms.h"

namespace quendo {

TfrmNameMusCoc::TfrmNameMusCoc(Core& c, QWidget* parent) : QDialog(parent), core(c) {
    setObjectName(QStringLiteral("frmNameMusCoc"));
    setWindowTitle(QStringLiteral("Rename"));
    setModal(true);
}

}  // namespace quendo
