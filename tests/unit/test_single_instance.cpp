#include "platform/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace daybrook;

namespace {
// Another user's uid: the tests run as root, which may hand folders to anyone.
constexpr uid_t stranger = 65534;

// A connection that has written its message and stays open (raw: the test
// process itself is the one short of descriptors).
int sendRaw(const QByteArray &bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(SingleInstance::socketPath());
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int runDaybrook(const QStringList &arguments, QProcess *keep = nullptr) {
    QProcess local;
    QProcess &process = keep ? *keep : local;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("daybrook.app.debug=true"));
    if (!keep) {
        // No platform at all for a later launch: the hand-off must come before one is opened.
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
    }
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(qEnvironmentVariable("DAYBROOK_BINARY"), arguments);
    if (keep || !process.waitForFinished(10000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
}
} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
    QByteArray m_runtime = qgetenv("XDG_RUNTIME_DIR");

private Q_SLOTS:
    void cleanup() {
        qputenv("XDG_RUNTIME_DIR", m_runtime);
        qunsetenv("TMPDIR");
        ::chmod(m_runtime.constData(), 0700);
        ::chown(m_runtime.constData(), ::geteuid(), ::getegid());
    }

    void messagesReachTheListener_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("url"); // null: dropped; empty: activation
        const QString oauth = QStringLiteral("daybrook://oauth/todoist?code=1&state=2");
        QTest::newRow("url") << oauth.toUtf8() + '\n' << oauth;
        QTest::newRow("activation") << QByteArray("\n") << QStringLiteral("");
        QTest::newRow("exactly the limit") << QByteArray(SingleInstance::maxMessageBytes, 'b') + '\n'
                                           << QString(SingleInstance::maxMessageBytes, QLatin1Char('b'));
        QTest::newRow("oversized") << QByteArray(SingleInstance::maxMessageBytes + 10, 'a') + '\n'
                                   << QString();
        QTest::newRow("unterminated") << QByteArray("daybrook://oauth/todoist?code=x") << QString();
        QTest::newRow("invalid UTF-8") << QByteArray("daybrook://oauth/todoist?code=\xff\xfe\n") << QString();
    }
    void messagesReachTheListener() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, url);
        SingleInstance server;
        QVERIFY(server.listen());
        QSignalSpy urls(&server, &SingleInstance::urlReceived);
        QSignalSpy activations(&server, &SingleInstance::activationRequested);
        const int fd = sendRaw(bytes);
        QVERIFY(fd >= 0);
        // The listener answers every message, kept or dropped, by closing its end.
        const auto closed = [fd] {
            char byte;
            return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0 || errno == ECONNRESET;
        };
        QTRY_VERIFY(closed());
        ::close(fd);
        QCOMPARE(activations.count(), url.isEmpty() && !url.isNull() ? 1 : 0);
        QCOMPARE(urls.count(), url.isEmpty() ? 0 : 1);
        if (!url.isEmpty())
            QCOMPARE(urls.at(0).at(0).toString(), url);
    }

    void onlyOneListenerAndStaleSocketsAreTakenOver() {
        {
            SingleInstance first;
            QVERIFY(first.listen());
            QVERIFY(!SingleInstance().listen());
        }
        // A dead socket file, as a crash leaves it.
        QFile stale(SingleInstance::socketPath());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        SingleInstance next;
        QVERIFY(next.listen());
        QVERIFY(SingleInstance::sendToRunning(QStringLiteral("daybrook://x")));
    }

    // Hostile local state: where the socket may live.
    void onlyAPrivateFolderOfOursHoldsTheSocket_data() {
        QTest::addColumn<QString>("runtime");  // ok, missing, open, foreign, link
        QTest::addColumn<QString>("fallback"); // absent, ok, open, foreign, link, file
        QTest::addColumn<QString>("used");     // runtime, fallback or none
        for (const auto &[name, runtime, fallback, used] : {
                 std::tuple{"private runtime folder", "ok", "absent", "runtime"},
                 {"no runtime folder: one is made", "missing", "absent", "fallback"},
                 {"runtime folder open to all", "open", "absent", "fallback"},
                 {"runtime folder of another user", "foreign", "ok", "fallback"},
                 {"runtime folder is a link", "link", "absent", "fallback"},
                 {"fallback of another user", "missing", "foreign", "none"},
                 {"fallback open to all", "missing", "open", "none"},
                 {"fallback is a link to ours", "missing", "link", "none"},
                 {"fallback is a file", "missing", "file", "none"},
             })
            QTest::newRow(name) << QString::fromLatin1(runtime) << QString::fromLatin1(fallback)
                                << QString::fromLatin1(used);
    }
    void onlyAPrivateFolderOfOursHoldsTheSocket() {
        QFETCH(QString, runtime);
        QFETCH(QString, fallback);
        QFETCH(QString, used);
        QTemporaryDir tmp;
        const QString fallbackPath = tmp.path() + QStringLiteral("/daybrook-%1").arg(::geteuid());
        const QString own = tmp.path() + QStringLiteral("/own");
        QVERIFY(::mkdir(QFile::encodeName(own).constData(), 0700) == 0);
        const auto prepare = [&](const QString &how, const QString &path) {
            const QByteArray p = QFile::encodeName(path);
            if (how == QLatin1String("link"))
                return ::symlink(QFile::encodeName(own).constData(), p.constData()) == 0;
            if (how == QLatin1String("file"))
                return QFile(path).open(QIODevice::WriteOnly);
            if (how == QLatin1String("missing") || how == QLatin1String("absent"))
                return true;
            QDir().mkpath(path);
            return ::chmod(p.constData(), how == QLatin1String("open") ? 0777 : 0700) == 0 &&
                   (how != QLatin1String("foreign") || ::chown(p.constData(), stranger, stranger) == 0);
        };
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        if (runtime == QLatin1String("missing") || runtime == QLatin1String("link")) {
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(tmp.path() + QStringLiteral("/runtime")));
            QVERIFY(prepare(runtime, tmp.path() + QStringLiteral("/runtime")));
            if (runtime == QLatin1String("missing"))
                qunsetenv("XDG_RUNTIME_DIR");
        } else {
            QVERIFY(prepare(runtime, QString::fromLocal8Bit(m_runtime)));
        }
        QVERIFY(prepare(fallback, fallbackPath));

        // Someone else's listener where ours would be must never get our messages.
        QLocalServer planted;
        const QString plantedIn = fallback == QLatin1String("link") ? own : fallbackPath;
        if (used == QLatin1String("none") && QFileInfo(plantedIn).isDir())
            QVERIFY(planted.listen(plantedIn + QStringLiteral("/daybrook.socket")));

        const QString expected = used == QLatin1String("runtime")    ? QString::fromLocal8Bit(m_runtime)
                                 : used == QLatin1String("fallback") ? fallbackPath
                                                                     : QString();
        QCOMPARE(SingleInstance::socketFolder(), expected);
        QVERIFY(!SingleInstance::sendToRunning(QStringLiteral("daybrook://oauth/todoist?code=secret")));
        QCoreApplication::processEvents();
        QVERIFY(!planted.hasPendingConnections());
        SingleInstance instance;
        QCOMPARE(instance.listen(), !expected.isEmpty());
        if (used == QLatin1String("fallback")) {
            struct stat info {};
            QVERIFY(::lstat(QFile::encodeName(fallbackPath).constData(), &info) == 0);
            QCOMPARE(info.st_mode & 0777, 0700u);
        }
    }

    // Hostile local state: no descriptors left when a burst of launches arrives.
    void runningOutOfDescriptorsKeepsTheInstance() {
        SingleInstance server;
        QVERIFY(server.listen());
        QSignalSpy urls(&server, &SingleInstance::urlReceived);
        QList<int> clients;
        for (int i = 0; i < 8; ++i)
            clients.append(sendRaw(QByteArray("daybrook://burst/") + QByteArray::number(i) + '\n'));
        QVERIFY(!clients.contains(-1));

        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowest);
        rlimit exhausted = saved;
        exhausted.rlim_cur = rlim_t(lowest); // no further descriptor can be opened
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &exhausted) == 0);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        const bool stillThere = QFileInfo::exists(SingleInstance::socketPath());
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &saved) == 0);

        QVERIFY(stillThere);
        QTRY_COMPARE(urls.count(), clients.size());
        QVERIFY(!SingleInstance().listen());
        for (int fd : std::as_const(clients))
            ::close(fd);
        QVERIFY(SingleInstance::sendToRunning(QStringLiteral("daybrook://after")));
        QTRY_COMPARE(urls.count(), clients.size() + 1);
    }

    void aSecondProcessHandsItsUrlOverAndExits() {
        if (qEnvironmentVariableIsEmpty("DAYBROOK_BINARY"))
            QSKIP("DAYBROOK_BINARY is not set");
        QProcess first;
        runDaybrook({}, &first);
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(SingleInstance::socketPath()), 10000);
        QCOMPARE(runDaybrook({QStringLiteral("daybrook://oauth/todoist?code=x&state=y")}), 0);
        QCOMPARE(runDaybrook({}), 0);
        // Handled in order: once the activation shows, every URL before it has been routed.
        QTRY_VERIFY((log += first.readAll()).contains("activation requested"));
        QCOMPARE(log.count("OAuth callback received"), 1);
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        first.waitForFinished(5000);
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "test_single_instance.moc"
