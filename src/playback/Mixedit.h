#pragma once
#include <QWidget>

namespace quendo {

// Still a bare window with its caption.
class TMixEditor : public QWidget {
public:
    explicit TMixEditor(QWidget* parent = nullptr);
};

}  // namespace quendo
