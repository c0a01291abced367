#pragma once
#include <QFontMetrics>
#include <QWidget>

namespace quendo {

// The layouts were drawn for a narrow 8 point font, and the platform's sans-serif runs wider: a
// control whose text would be cut off or wrapped gets a smaller size instead, down to a legible
// least. fits(font) tells whether the text fits in that font.
template <class Fits>
void ShrinkToFit(QWidget* w, Fits fits) {
    QFont f = w->font();
    while (f.pixelSize() > 8 && !fits(f)) f.setPixelSize(f.pixelSize() - 1);
    w->setFont(f);
}

// A one-line text in `width` pixels.
inline void FitTextToWidth(QWidget* w, const QString& text, int width) {
    ShrinkToFit(w, [&](const QFont& f) { return QFontMetrics(f).horizontalAdvance(text) <= width; });
}

}  // namespace quendo
