#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace daybrook {

// Wire format: one message per connection, the UTF-8 text of the URL followed
// by a newline; an empty line asks the running instance to come forward.

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}
SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath() {
    // The user's runtime folder is private (0700), so only the same user can
    // reach the socket. Without one, a private folder of our own in /tmp.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        dir = QDir::tempPath() + QStringLiteral("/daybrook-%1").arg(::getuid());
        ::mkdir(QFile::encodeName(dir).constData(), 0700);
    }
    return dir + QStringLiteral("/daybrook.socket");
}

bool SingleInstance::isPrivateFolder(const QString &dir) {
    struct stat info {};
    if (::lstat(QFile::encodeName(dir).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

bool SingleInstance::sendToRunning(const QString &url, int timeoutMs) {
    // Plain POSIX calls: this runs before any Qt application object exists, so
    // that a later launch hands over its URL even where no display can be opened.
    const QByteArray path = QFile::encodeName(socketPath());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0)
        return false;

    const QByteArray message = url.toUtf8() + '\n';
    qsizetype written = 0;
    while (written < message.size()) {
        pollfd waitable{fd, POLLOUT, 0};
        if (::poll(&waitable, 1, timeoutMs) <= 0)
            return false;
        const ssize_t n =
            ::send(fd, message.constData() + written, size_t(message.size() - written), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        written += n;
    }
    // Wait until the running instance has read the message and closed its end.
    ::shutdown(fd, SHUT_WR);
    pollfd waitable{fd, POLLIN, 0};
    if (::poll(&waitable, 1, timeoutMs) > 0) {
        char drain[16];
        (void)::recv(fd, drain, sizeof(drain), 0);
    }
    return true;
}

bool SingleInstance::listen() {
    const QString path = socketPath();
    if (!isPrivateFolder(QFileInfo(path).absolutePath()))
        return false;
    // A plain bind (no socket options: Qt would then create the socket elsewhere
    // and rename it over an existing one, stealing it from a running instance).
    m_server = new QLocalServer(this);
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

void SingleInstance::accept() {
    while (QLocalSocket *socket = m_server->nextPendingConnection())
        handle(socket);
}

void SingleInstance::handle(QLocalSocket *socket) {
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
