#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

namespace morvane {

/// One running copy of the application per user. The first start holds a lock file and listens on a local
/// socket, both in the user's runtime folder; a later start finds the lock held, hands its window request to
/// the first over the socket and ends. Two copies would otherwise overwrite each other's settings, libraries
/// and link identity.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,    ///< this process runs the application
        secondary,  ///< the request went to the running copy; this process ends
        failed,     ///< another copy holds the lock but did not take the request
    };

    /// `key` names the lock and the socket; the default is per user.
    explicit SingleInstance(QString key = defaultKey(), QString folder = defaultFolder());
    ~SingleInstance() override;

    static QString defaultKey();
    /// The user's runtime folder ($XDG_RUNTIME_DIR), else the temporary folder.
    static QString defaultFolder();

    /// Becomes the running copy, or hands `request` to it. Waits at most `timeoutMs` for a copy that is still
    /// starting to listen.
    Role claim(const QByteArray& request = "show", int timeoutMs = 5000);

    QString socketPath() const;
    QString lockPath() const;

    /// The longest request taken.
    static constexpr int maximumRequestBytes = 4096;

signals:
    /// Another start asked for the window (on the main thread).
    void requested(const QByteArray& request);

private:
    bool listen();
    bool handOver(const QByteArray& request, int timeoutMs);
    void takeConnection();

    QString key_;
    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

}  // namespace morvane
