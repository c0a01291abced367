#pragma once
#include <QDialog>

namespace quendo {

// Still a bare window with its caption.
class TfrmNameMusCoc : public QDialog {
public:
    explicit TfrmNameMusCoc(QWidget* parent = nullptr);
};

}  // namespace quendo
