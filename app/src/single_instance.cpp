#include "app/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

#include "platform/log.h"

namespace morvane {

namespace {

constexpr const char* answer = "ok\n";

}  // namespace

SingleInstance::SingleInstance(QString key, QString folder) : key_(std::move(key)), folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultKey() { return QStringLiteral("brindlecroft-%1").arg(::getuid()); }

QString SingleInstance::defaultFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
    return QDir::tempPath();
}

QString SingleInstance::socketPath() const { return QDir(folder_).filePath(key_ + QStringLiteral(".socket")); }
QString SingleInstance::lockPath() const { return QDir(folder_).filePath(key_ + QStringLiteral(".lock")); }

SingleInstance::Role SingleInstance::claim(const QByteArray& request, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        auto lock = std::make_unique<QLockFile>(lockPath());
        // A lock left by a copy that died is taken over at once (its process is gone).
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            lock_ = std::move(lock);
            return listen() ? Role::primary : Role::failed;
        }
        if (lock->error() != QLockFile::LockFailedError) {
            log::error("SingleInstance", "couldn't use the lock file " + lockPath().toStdString());
            return Role::failed;
        }
        if (handOver(request, static_cast<int>(std::max<qint64>(100, deadline.remainingTime())))) {
            return Role::secondary;
        }
        if (deadline.hasExpired()) return Role::failed;
        QThread::msleep(100);
    }
}

bool SingleInstance::listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a copy that died would make listening fail; the lock says no copy runs.
    QLocalServer::removeServer(socketPath());
    if (!server_->listen(socketPath())) {
        log::error("SingleInstance", "couldn't listen on " + socketPath().toStdString() + ": " +
                                         server_->errorString().toStdString());
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::takeConnection);
    return true;
}

void SingleInstance::takeConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maximumRequestBytes) socket->abort();
                return;
            }
            const QByteArray request = socket->readLine(maximumRequestBytes).trimmed();
            socket->write(answer);
            socket->flush();
            socket->disconnectFromServer();
            emit requested(request);
        });
    }
}

bool SingleInstance::handOver(const QByteArray& request, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    const int wait = std::min(timeoutMs, 1000);
    if (!socket.waitForConnected(wait)) return false;
    QByteArray line = request.left(maximumRequestBytes - 1);
    line.replace('\n', ' ');
    socket.write(line + '\n');
    if (!socket.waitForBytesWritten(wait)) return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    }
    return socket.readLine().startsWith("ok");
}

}  // namespace morvane
