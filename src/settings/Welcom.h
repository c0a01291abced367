#pragma once
#include <QWidget>

namespace quendo {

// Still a bare window with its caption.
class TWelcome : public QWidget {
public:
    explicit TWelcome(QWidget* parent = nullptr);
};

}  // namespace quendo
