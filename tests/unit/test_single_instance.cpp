#include "platform/SingleInstance.h"

#include <QtNetwork>
#include <QtTest>
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
    sockaddr_un address{AF_UNIX, {}};
    const QByteArray path = QFile::encodeName(SingleInstance::socketPath());
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
    QByteArray m_runtime = qgetenv("XDG_RUNTIME_DIR");

private Q_SLOTS:
    void cleanup() {
        qputenv("XDG_RUNTIME_DIR", m_runtime);
        qunsetenv("TMPDIR");
    }

    void messagesReachTheListener_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("url"); // null: dropped; empty: activation
        const QString oauth = "daybrook://oauth/todoist?code=1&state=2";
        const int max = SingleInstance::maxMessageBytes;
        QTest::newRow("url") << oauth.toUtf8() + '\n' << oauth;
        QTest::newRow("activation") << QByteArray("\n") << QStringLiteral("");
        QTest::newRow("exactly the limit") << QByteArray(max, 'b') + '\n' << QString(max, QLatin1Char('b'));
        QTest::newRow("one byte over") << QByteArray(max + 1, 'a') + '\n' << QString();
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
        char byte;
        QTRY_VERIFY(::recv(fd, &byte, 1, MSG_DONTWAIT) == 0 || errno == ECONNRESET);
        ::close(fd);
        QCOMPARE(activations.count(), url.isEmpty() && !url.isNull() ? 1 : 0);
        QCOMPARE(urls.count(), url.isEmpty() ? 0 : 1);
        QCOMPARE(urls.value(0).value(0).toString(), url);
    }

    // Hostile local state: where the socket may live.
    void onlyAPrivateFolderOfOursHoldsTheSocket_data() {
        QTest::addColumn<QString>("runtime");  // absent, ok, open, foreign, link
        QTest::addColumn<QString>("fallback"); // absent, ok, open, foreign, link, file
        QTest::addColumn<QString>("used");     // runtime, fallback or none
        for (const auto &[name, runtime, fallback, used] : {
                 std::tuple{"private runtime folder", "ok", "absent", "runtime"},
                 {"no runtime folder: one is made", "absent", "absent", "fallback"},
                 {"runtime folder open to all", "open", "absent", "fallback"},
                 {"runtime folder of another user", "foreign", "ok", "fallback"},
                 {"runtime folder is a link", "link", "absent", "fallback"},
                 {"fallback of another user", "absent", "foreign", "none"},
                 {"fallback open to all", "absent", "open", "none"},
                 {"fallback is a link to ours", "absent", "link", "none"},
                 {"fallback is a file", "absent", "file", "none"},
             })
            QTest::newRow(name) << QString(runtime) << QString(fallback) << QString(used);
    }
    void onlyAPrivateFolderOfOursHoldsTheSocket() {
        QFETCH(QString, runtime);
        QFETCH(QString, fallback);
        QFETCH(QString, used);
        QTemporaryDir tmp;
        const QString own = tmp.filePath("own"), runtimePath = tmp.filePath("run");
        const QString fallbackPath = tmp.filePath(QStringLiteral("daybrook-%1").arg(::geteuid()));
        const auto prepare = [&](const QString &how, const QString &path) {
            const QByteArray p = QFile::encodeName(path);
            if (how == "link" || how == "file")
                return how == "file" ? QFile(path).open(QIODevice::WriteOnly)
                                     : ::symlink(QFile::encodeName(own).constData(), p.constData()) == 0;
            return how == "absent" || (::mkdir(p.constData(), 0700) == 0 &&
                                       ::chmod(p.constData(), how == "open" ? 0777 : 0700) == 0 &&
                                       (how != "foreign" || ::chown(p.constData(), stranger, stranger) == 0));
        };
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        qputenv("XDG_RUNTIME_DIR", runtime == "absent" ? QByteArray() : QFile::encodeName(runtimePath));
        QVERIFY(prepare("ok", own) && prepare(runtime, runtimePath) && prepare(fallback, fallbackPath));

        // Someone else's listener where ours would be must never get our messages.
        QLocalServer planted;
        const QString plantedIn = fallback == "link" ? own : fallbackPath;
        if (used == "none" && QFileInfo(plantedIn).isDir())
            QVERIFY(planted.listen(plantedIn + "/daybrook.socket"));

        const QString expected =
            QHash<QString, QString>{{"runtime", runtimePath}, {"fallback", fallbackPath}}[used];
        QCOMPARE(SingleInstance::socketFolder(), expected);
        QVERIFY(!SingleInstance::sendToRunning("daybrook://oauth/todoist?code=secret"));
        QCoreApplication::processEvents();
        QVERIFY(!planted.hasPendingConnections());
        // A dead socket file, as a crash leaves it, is taken over; a live listener is not.
        QFile(SingleInstance::socketPath()).open(QIODevice::WriteOnly);
        SingleInstance instance;
        QCOMPARE(instance.listen(), !expected.isEmpty());
        QVERIFY(!SingleInstance().listen());
        QCOMPARE(SingleInstance::sendToRunning("daybrook://x"), !expected.isEmpty());
    }

    // Hostile local state: no descriptors left when a burst of launches arrives.
    void runningOutOfDescriptorsKeepsTheInstance() {
        SingleInstance server;
        QVERIFY(server.listen());
        QSignalSpy urls(&server, &SingleInstance::urlReceived);
        QList<int> clients;
        while (clients.size() < 8)
            clients.append(sendRaw("daybrook://burst/" + QByteArray::number(clients.size()) + '\n'));
        QVERIFY(!clients.contains(-1));

        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowest);
        const rlimit exhausted{rlim_t(lowest), saved.rlim_max}; // no further descriptor can be opened
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &exhausted) == 0);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        const bool stillThere = QFileInfo::exists(SingleInstance::socketPath());
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &saved) == 0);

        QVERIFY(stillThere);
        QTRY_COMPARE(urls.count(), clients.size());
        for (int fd : std::as_const(clients))
            ::close(fd);
        QVERIFY(SingleInstance::sendToRunning("daybrook://after"));
        QTRY_COMPARE(urls.count(), clients.size() + 1);
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "test_single_instance.moc"
