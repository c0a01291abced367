#include "cocktail/Namemuscoc.h"

namespace quendo {

TfrmNameMusCoc::TfrmNameMusCoc(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmNameMusCoc"));
    setWindowTitle(QStringLiteral("Rename"));
    setModal(true);
}

}  // namespace quendo
