#include "platform/qt/StayAwakeDBus.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

namespace quendo {

namespace {
constexpr int kBusTimeoutMs = 5000;
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");

QDBusMessage ScreenSaverCall(const QString& method) {
    return QDBusMessage::createMethodCall(kScreenSaver, QStringLiteral("/org/freedesktop/ScreenSaver"), kScreenSaver,
                                          method);
}
}  // namespace

StayAwakeDBus::~StayAwakeDBus() {
    wanted_ = false;
    Let();
}

void StayAwakeDBus::Hold(bool on) {
    wanted_ = on;
    if (asking_) return;  // the answer looks at wanted_
    if (on && !Held()) AskLogind();
    if (!on) Let();
}

void StayAwakeDBus::Let() {
    if (fd_ >= 0) {
        ::close(fd_);  // logind drops the inhibitor when its descriptor closes
        fd_ = -1;
    }
    if (cookie_ != 0) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) bus.call(ScreenSaverCall(QStringLiteral("UnInhibit")) << cookie_, QDBus::NoBlock);
        cookie_ = 0;
    }
}

void StayAwakeDBus::AskLogind() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return AskScreenSaver();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("idle:sleep") << QStringLiteral("Quendo") << QStringLiteral("Playing music")
         << QStringLiteral("block");
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kBusTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        asking_ = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError() || !reply.value().isValid()) {
            if (wanted_) AskScreenSaver();
            return;
        }
        // The reply's descriptor goes with the reply: keep a copy of our own.
        fd_ = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
        if (!wanted_) Let();
    });
}

void StayAwakeDBus::AskScreenSaver() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(ScreenSaverCall(QStringLiteral("Inhibit")) << QStringLiteral("Quendo")
                                                                  << QStringLiteral("Playing music"),
                      kBusTimeoutMs),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        asking_ = false;
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) return;
        cookie_ = reply.value();
        if (!wanted_) Let();
    });
}

}  // namespace quendo
