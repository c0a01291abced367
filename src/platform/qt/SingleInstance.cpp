#include "platform/qt/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include "model/ProgramFiles.h"

namespace quendo {

namespace {
constexpr char kRaise[] = "raise\n";
constexpr char kDone[] = "ok\n";
// How long a successor waits for the copy that started it to end, before it runs all the same.
constexpr auto kSuccessorWait = std::chrono::seconds(3);
constexpr int kLockRetryMs = 250;

// The user's runtime folder, which no other user can enter, so no one can take the name first;
// the temporary folder only where the desktop gives none.
QString SocketFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(QLatin1Char('/')) && QFileInfo(runtime).isDir()) return runtime;
    return QDir::tempPath();
}
}  // namespace

std::string SingleInstance::SocketName(const std::string& folder) {
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(folder, ec);
    if (ec) canonical = folder;
    const QByteArray key = QByteArray::number(static_cast<qulonglong>(::getuid())) + ':' +
                           QByteArray::fromStdString(canonical.string());
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24);
    return (SocketFolder() + QStringLiteral("/quendo-") + QString::fromLatin1(hash)).toStdString();
}

SingleInstance::SingleInstance(const std::string& folder, bool successor) : name_(SocketName(folder)) {
    const std::string lockPath = BesideExecutable(folder, kLockFileName);
    lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd_ < 0) return;
    const auto until = std::chrono::steady_clock::now() + kSuccessorWait;
    while (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        const bool taken = errno == EWOULDBLOCK || errno == EINTR;
        if (!taken || !successor) {
            first_ = !taken;  // a file system without locks holds nothing
            ::close(lockFd_);
            lockFd_ = -1;
            return;
        }
        if (std::chrono::steady_clock::now() > until) {
            // The copy that started this one is slow to end, and writes nothing more: this one
            // runs all the same, and holds the folder once the other has let go.
            retry_ = std::make_unique<QTimer>();
            QObject::connect(retry_.get(), &QTimer::timeout, retry_.get(), [this] {
                if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) return;
                retry_->stop();
                Listen();
            });
            retry_->start(kLockRetryMs);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Listen();
}

void SingleInstance::Listen() {
    // The lock is ours, so a socket of that name is a dead copy's.
    const QString name = QString::fromStdString(name_);
    QLocalServer::removeServer(name);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) return;  // still first: only a later copy's call goes unanswered
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine()) return;
                if (socket->readLine() != kRaise) return socket->disconnectFromServer();
                if (onRaise) onRaise();
                socket->write(kDone);
                socket->flush();
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    retry_.reset();
    server_.reset();
    if (lockFd_ >= 0) ::close(lockFd_);
}

bool SingleInstance::RaiseFirst(int timeoutMs) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // The first copy may hold the lock a moment before it listens.
    while (std::chrono::steady_clock::now() < until) {
        QLocalSocket socket;
        socket.connectToServer(QString::fromStdString(name_));
        if (socket.waitForConnected(500)) {
            socket.write(kRaise);
            if (!socket.waitForBytesWritten(1000)) return false;
            while (!socket.canReadLine() && socket.waitForReadyRead(static_cast<int>(
                       std::max<long long>(1, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  until - std::chrono::steady_clock::now())
                                                  .count())))) {
            }
            return socket.canReadLine() && socket.readLine() == kDone;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace quendo
