#pragma once
#include <QFontMetrics>
#include <QWidget>

namespace quendo {

// The platform's sans-serif runs wider than the font the layout was drawn for: a caption that
// would be cut off in its box gets a smaller size instead, down to a legible least.
inline void FitTextToWidth(QWidget* w, const QString& text, int width) {
    QFont f = w->font();
    while (f.pixelSize() > 8 && QFontMetrics(f).horizontalAdvance(text) > width) f.setPixelSize(f.pixelSize() - 1);
    w->setFont(f);
}

}  // namespace quendo
