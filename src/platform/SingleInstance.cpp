#include "platform/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTimer>
#include <unistd.h>

namespace daybrook {

// Wire format: one message per connection, the UTF-8 text of the URL followed
// by a newline; an empty line asks the running instance to come forward.

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}
SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/daybrook-%1.socket").arg(::getuid());
}

bool SingleInstance::sendToRunning(const QString &url, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(url.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    // Only the same user may connect (the socket also lives in the user's runtime folder).
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = socketPath();
    if (!m_server->listen(path)) {
        // A socket file without a listener is left from a crash: take it over.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500))
            return false;
        QLocalServer::removeServer(path);
        if (!m_server->listen(path))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection())
        handle(socket);
}

void SingleInstance::handle(QLocalSocket *socket)
{
    socket->setReadBufferSize(maxMessageBytes + 1);
    auto *timer = new QTimer(socket);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    timer->start(readTimeoutMs);

    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
            // Too long without a newline: drop the connection and its message.
            if (socket->bytesAvailable() > maxMessageBytes)
                socket->abort();
            return;
        }
        const QByteArray line = socket->readLine(maxMessageBytes + 2);
        socket->abort();
        if (!line.endsWith('\n') || line.size() > maxMessageBytes + 1)
            return;
        const QByteArray body = line.chopped(1);
        QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decode(body);
        if (decode.hasError())
            return;
        if (text.isEmpty())
            Q_EMIT activationRequested();
        else
            Q_EMIT urlReceived(text);
    });
}

} // namespace daybrook
