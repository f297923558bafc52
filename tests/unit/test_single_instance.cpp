#include "platform/SingleInstance.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace daybrook;

namespace {
// Starts the real program as the first instance, with the URL diagnostics on.
class RunningDaybrook {
public:
    RunningDaybrook() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("daybrook.app.debug=true"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(qEnvironmentVariable("DAYBROOK_BINARY"), {});
    }
    ~RunningDaybrook() {
        process.kill();
        process.waitForFinished(5000);
    }
    bool waitUntilListening() {
        for (int i = 0; i < 100; ++i) {
            QLocalSocket probe;
            probe.connectToServer(SingleInstance::socketPath());
            if (probe.waitForConnected(100)) {
                probe.write("\n");
                probe.waitForBytesWritten(100);
                return true;
            }
            QTest::qWait(50);
        }
        return false;
    }
    QByteArray output() {
        process.waitForReadyRead(50);
        log += process.readAll();
        return log;
    }
    QProcess process;
    QByteArray log;
};

int runSecond(const QStringList &arguments, bool withDisplay = true) {
    QProcess second;
    if (!withDisplay) {
        // No platform at all: opening one would abort, so the hand-off must come first.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        second.setProcessEnvironment(env);
    }
    second.start(qEnvironmentVariable("DAYBROOK_BINARY"), arguments);
    if (!second.waitForFinished(10000))
        return -1;
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -2;
}
} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void messagesReachTheListener() {
        SingleInstance server;
        QVERIFY(server.listen());
        QSignalSpy urls(&server, &SingleInstance::urlReceived);
        QSignalSpy activations(&server, &SingleInstance::activationRequested);

        // The sender blocks on the socket, so it runs on a helper process's behalf here
        // through a raw socket instead.
        const auto send = [](const QByteArray &bytes) {
            QLocalSocket socket;
            socket.connectToServer(SingleInstance::socketPath());
            QVERIFY(socket.waitForConnected(1000));
            socket.write(bytes);
            QVERIFY(socket.waitForBytesWritten(1000));
            QTest::qWait(100);
        };
        send("daybrook://oauth/todoist?code=1&state=2\n");
        QTRY_COMPARE(urls.count(), 1);
        QCOMPARE(urls.at(0).at(0).toString(), QStringLiteral("daybrook://oauth/todoist?code=1&state=2"));

        send("\n");
        QTRY_COMPARE(activations.count(), 1);

        // Oversized, unterminated, and invalid UTF-8 messages are dropped.
        send(QByteArray(SingleInstance::maxMessageBytes + 10, 'a') + '\n');
        send("daybrook://oauth/todoist?code=never-terminated");
        send("daybrook://oauth/todoist?code=\xff\xfe\n");
        QTest::qWait(200);
        QCOMPARE(urls.count(), 1);
        QCOMPARE(activations.count(), 1);

        // A message of exactly the limit still arrives.
        send(QByteArray(SingleInstance::maxMessageBytes, 'b') + '\n');
        QTRY_COMPARE(urls.count(), 2);
    }

    void aSecondListenerIsRefused() {
        SingleInstance first;
        QVERIFY(first.listen());
        SingleInstance second;
        QVERIFY(!second.listen());
    }

    void aStaleSocketIsTakenOver() {
        {
            SingleInstance crashed;
            QVERIFY(crashed.listen());
        }
        // Leave a dead socket file behind, as a crash would.
        QFile stale(SingleInstance::socketPath());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        SingleInstance next;
        QVERIFY(next.listen());
    }

    void aSecondProcessHandsItsUrlOverAndExits() {
        if (qEnvironmentVariableIsEmpty("DAYBROOK_BINARY"))
            QSKIP("DAYBROOK_BINARY is not set");
        RunningDaybrook first;
        QVERIFY(first.waitUntilListening());

        QCOMPARE(runSecond({QStringLiteral("daybrook://oauth/other?code=x&state=y")}), 0);
        QCOMPARE(runSecond({QStringLiteral("Daybrook://oauth/todoist?code=x&state=y")}), 0);
        QTest::qWait(300);
        QVERIFY(!first.output().contains("OAuth callback received"));

        QCOMPARE(runSecond({QStringLiteral("daybrook://oauth/todoist?code=x&state=y")}), 0);
        QTRY_VERIFY(first.output().contains("OAuth callback received"));
        QCOMPARE(first.output().count("OAuth callback received"), 1);

        // A launch without a URL never starts a second bar: it returns at once.
        QCOMPARE(runSecond({}), 0);

        // An oversized message is dropped and the first instance stays up.
        {
            QLocalSocket socket;
            socket.connectToServer(SingleInstance::socketPath());
            QVERIFY(socket.waitForConnected(1000));
            socket.write(QByteArray(64 * 1024, 'x'));
            socket.waitForBytesWritten(1000);
        }
        QTest::qWait(300);
        QCOMPARE(first.process.state(), QProcess::Running);
        QCOMPARE(runSecond({QStringLiteral("daybrook://oauth/todoist?code=z&state=w")}, false), 0);
        QTRY_COMPARE(first.output().count("OAuth callback received"), 2);
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "test_single_instance.moc"
