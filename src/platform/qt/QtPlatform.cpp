#include "platform/qt/QtPlatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QUrl>

namespace quendo {

bool QtShell::Open(const std::string& target) {
    const QString t = QString::fromStdString(target);
    const QUrl url = t.startsWith('/') ? QUrl::fromLocalFile(t) : QUrl(t);
    return QDesktopServices::openUrl(url);
}

void QtShell::RestartProgram() {
    QProcess::startDetached(program_, {QStringLiteral("-new")});
}

namespace {

// The splash screen and the chooser stay on top, and so may the main window: a message that
// opened behind them would look like a hung program. It belongs to the window it interrupts.
QWidget* MessageOwner(QWidget* fallback) {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    return fallback;
}

}  // namespace

MsgAnswer QtDialogs::Message(const std::string& text, MsgIcon icon, MsgButtons buttons, MsgPlace place) {
    QMessageBox box(MessageOwner(mainWindow_));
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setWindowTitle(QStringLiteral("Quendo"));
    box.setText(QString::fromStdString(text));
    switch (icon) {
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    }
    if (buttons == MsgButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        if (place == MsgPlace::TopLeft) box.move(area.topLeft());
        else box.move(area.center() - QPoint(box.width() / 2, box.height() / 2));
    }
    return box.exec() == QMessageBox::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
}

void EndEventLoops() {
    // Outside any loop, QCoreApplication::exit would only make the next loop return at once.
    if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(0);
}

void BringToFront(QWidget& window) {
    if (window.isMinimized()) window.showNormal();
    window.show();
    window.raise();
    window.activateWindow();
}

void ShowEscapedError(const char* what) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quendo"), QString::fromUtf8(what), QMessageBox::Ok,
                    MessageOwner(nullptr));
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}

}  // namespace quendo
