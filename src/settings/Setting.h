#pragma once
#include <QWidget>

namespace quendo {

// Still a bare window with its caption.
class TSettings : public QWidget {
public:
    explicit TSettings(QWidget* parent = nullptr);
};

}  // namespace quendo
