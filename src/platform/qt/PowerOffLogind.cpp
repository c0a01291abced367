#include "platform/qt/PowerOffLogind.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace quendo {

std::string PowerOffLogind::PowerOffComputer() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return "QDBusConnection::systemBus";
    // A direct call: an interface object would first introspect, blocking for nothing.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
    call << false;  // not interactive: no password prompt from here
    const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
    if (reply.type() == QDBusMessage::ErrorMessage) return "org.freedesktop.login1.Manager.PowerOff";
    return {};
}

}  // namespace quendo
