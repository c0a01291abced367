#include "playback/Mixedit.h"

#include "platform/qt/FixedWindow.h"

namespace quendo {

TMixEditor::TMixEditor(QWidget* parent) : QWidget(parent, Qt::Window) {
    SetupFixedWindow(this, "MixEditor", "MixEditor", QSize(480, 400));
}

}  // namespace quendo
