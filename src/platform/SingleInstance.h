#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace daybrook {

// One running Daybrook per user. A later process hands its URL argument (or a
// request to come forward) to the running one over a local socket that only the
// same user can reach, then exits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int maxMessageBytes = 8 * 1024;
    static constexpr int readTimeoutMs = 2000;

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Path of the socket for the current user.
    static QString socketPath();

    // Sends the message to a running instance. Returns false when none answers.
    static bool sendToRunning(const QString &url, int timeoutMs = 1000);

    // Starts listening; false when another instance owns the socket.
    bool listen();

Q_SIGNALS:
    // A URL handed over by a later process (unchecked text: the receiver routes it).
    void urlReceived(const QString &url);
    // A later process was started without a URL.
    void activationRequested();

private:
    // A folder only the current user can enter.
    static bool isPrivateFolder(const QString &dir);
    void accept();
    void handle(QLocalSocket *socket);

    QLocalServer *m_server = nullptr;
};

} // namespace daybrook
