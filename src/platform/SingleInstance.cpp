#include "platform/SingleInstance.h"

#include "core/Logging.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace daybrook {

// Wire format: one message per connection, the UTF-8 text of the URL followed
// by a newline; an empty line asks the running instance to come forward.

namespace {
constexpr int minBackoffMs = 50;

bool fillAddress(const QString &path, sockaddr_un &address) {
    const QByteArray encoded = QFile::encodeName(path);
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (encoded.isEmpty() || size_t(encoded.size()) >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    return true;
}

// Whether something listens on the socket (a full queue still means a listener).
bool answers(const sockaddr_un &address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    const int result = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address));
    const int error = errno;
    ::close(fd);
    return result == 0 || error == EAGAIN || error == EINPROGRESS;
}
} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    if (m_listenFd < 0)
        return;
    delete m_notifier;
    ::close(m_listenFd);
    // Remove the socket only while it is still the one we made.
    struct stat info {};
    const QByteArray path = QFile::encodeName(m_path);
    if (::lstat(path.constData(), &info) == 0 && info.st_dev == m_socketDevice &&
        info.st_ino == m_socketInode)
        ::unlink(path.constData());
    ::close(m_lockFd);
}

QString SingleInstance::socketFolder() {
    // The runtime folder is private when the session set it up properly; under
    // su, sudo -u or a minimal session it may be missing or someone else's.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime))
        return runtime;
    // Anyone may create names in the temporary folder: one made by someone else
    // first, or made wider, or a link, is never used.
    const QString fallback = QDir::tempPath() + QStringLiteral("/daybrook-%1").arg(::geteuid());
    if (::mkdir(QFile::encodeName(fallback).constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return isPrivateFolder(fallback) ? fallback : QString();
}

QString SingleInstance::socketPath() {
    const QString folder = socketFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/daybrook.socket");
}

bool SingleInstance::isPrivateFolder(const QString &dir) {
    struct stat info {};
    if (::lstat(QFile::encodeName(dir).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

bool SingleInstance::sendToRunning(const QString &url, int timeoutMs) {
    // Plain POSIX calls: this runs before any Qt application object exists, so
    // that a later launch hands over its URL even where no display can be opened.
    sockaddr_un address{};
    if (!fillAddress(socketPath(), address))
        return false;
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
    if (m_listenFd >= 0)
        return true;
    const QString folder = socketFolder();
    if (folder.isEmpty())
        return false;
    // Whoever holds the lock is the running instance. Holding it also makes the
    // take-over of a stale socket safe from a second launch doing the same.
    const int lockFd = ::open(QFile::encodeName(folder + QStringLiteral("/daybrook.lock")).constData(),
                              O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0)
        return false;
    auto releaseLock = qScopeGuard([lockFd] { ::close(lockFd); });
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0)
        return false;

    const QString path = folder + QStringLiteral("/daybrook.socket");
    sockaddr_un address{};
    if (!fillAddress(path, address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    auto closeSocket = qScopeGuard([fd] { ::close(fd); });
    const auto bind = [&] {
        return ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    };
    if (!bind()) {
        // A socket file without a listener is left from a crash: take it over.
        if (errno != EADDRINUSE || answers(address))
            return false;
        ::unlink(address.sun_path);
        if (!bind())
            return false;
    }
    struct stat info {};
    if (::listen(fd, SOMAXCONN) != 0 || ::lstat(address.sun_path, &info) != 0) {
        ::unlink(address.sun_path);
        return false;
    }
    releaseLock.dismiss();
    closeSocket.dismiss();
    m_lockFd = lockFd;
    m_listenFd = fd;
    m_path = path;
    m_socketDevice = info.st_dev;
    m_socketInode = info.st_ino;

    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SingleInstance::acceptPending);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, [this] {
        m_notifier->setEnabled(true);
        acceptPending();
    });
    return true;
}

void SingleInstance::acceptPending() {
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            m_backoffMs = 0;
            auto *socket = new QLocalSocket(this);
            if (socket->setSocketDescriptor(fd))
                handle(socket);
            else {
                ::close(fd);
                delete socket;
            }
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors or memory. The listening socket stays (so no second
        // instance can start) and the connection stays queued; the queue would
        // wake us at once, so wait a little, longer each time, and try again.
        m_backoffMs = std::clamp(m_backoffMs * 2, minBackoffMs, maxBackoffMs);
        qCDebug(lcApp) << "cannot accept a connection:" << std::strerror(errno) << "- retrying in"
                       << m_backoffMs << "ms";
        m_notifier->setEnabled(false);
        m_retry->start(m_backoffMs);
        return;
    }
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
