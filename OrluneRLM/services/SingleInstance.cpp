#include "services/SingleInstance.hpp"

#include "base/Environment.hpp"
#include "services/PrivateFiles.hpp"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>

namespace orlune::rlm {

namespace {

constexpr const char kActivate[] = "activate\n";

} // namespace

SingleInstance::SingleInstance(const QString& lockPath, QObject* parent)
    : QObject(parent), name_(serverName(lockPath)) {
    if (lockPath.isEmpty()) {
        return;
    }
    try {
        PrivateFiles::createFolders(QFileInfo(lockPath).absolutePath().toStdString());
    } catch (...) {
        // The lock below fails and this copy runs as if alone.
    }
    lock_ = std::make_unique<QLockFile>(lockPath);
    // Never stale by age: only a lock whose process is gone is taken over.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        return;
    }
    // The lock names this process and machine: for this user alone, like
    // every other file of the data folder.
    QFile::setPermissions(lockPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // A socket file left by a copy that died would refuse the listen.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // Still the only copy (the lock says so); it just cannot be called.
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            emit activationRequested();
        }
    });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::bringPrimaryForward(int timeoutMs) const {
    if (isPrimary()) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    socket.write(kActivate, sizeof(kActivate) - 1);
    const bool written = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return written;
}

QString SingleInstance::defaultLockPath() {
    try {
        return QString::fromStdString(
            core::joinPath(core::joinPath(PrivateFiles::dataFolder(), "Orlune"), "OrluneRLM.lock"));
    } catch (...) {
        return {};
    }
}

QString SingleInstance::serverName(const QString& lockPath) {
    const QByteArray digest =
        QCryptographicHash::hash(QFileInfo(lockPath).absoluteFilePath().toUtf8(),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return QStringLiteral("orlune-") + QString::fromLatin1(digest);
}

} // namespace orlune::rlm
