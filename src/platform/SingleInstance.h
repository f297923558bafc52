#pragma once

#include <QObject>
#include <QString>
#include <sys/types.h>

class QLocalSocket;
class QSocketNotifier;
class QTimer;

namespace daybrook {

// One running Daybrook per user. A later process hands its URL argument (or a
// request to come forward) to the running one over a local socket that only the
// same user can reach, then exits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int maxMessageBytes = 8 * 1024;
    static constexpr int readTimeoutMs = 2000;
    static constexpr int maxBackoffMs = 2000;

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // The folder of the socket: the user's runtime folder when it is ours and
    // private, else a private folder of our own in the temporary folder. Empty
    // when neither can be had: then there is no single instance.
    static QString socketFolder();
    // Path of the socket for the current user; empty without a safe folder.
    static QString socketPath();

    // Sends the message to a running instance. Returns false when none answers.
    static bool sendToRunning(const QString &url, int timeoutMs = 1000);

    // Starts listening; false when another instance runs or there is no safe folder.
    bool listen();

Q_SIGNALS:
    // A URL handed over by a later process (unchecked text: the receiver routes it).
    void urlReceived(const QString &url);
    // A later process was started without a URL.
    void activationRequested();

private:
    // A folder only the current user can enter, and not a symbolic link.
    static bool isPrivateFolder(const QString &dir);
    void acceptPending();
    void handle(QLocalSocket *socket);

    int m_lockFd = -1;
    int m_listenFd = -1;
    QString m_path;
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_retry = nullptr;
    int m_backoffMs = 0;
};

} // namespace daybrook
