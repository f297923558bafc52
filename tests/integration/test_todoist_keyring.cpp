// The Todoist sign-in kept in the real Secret Service (gnome-keyring on the
// private bus the runner starts, unlocked with "daybrook-test"), checked from
// outside with secret-tool and the keyring's own D-Bus interface.
#include "support/TestEnvironment.h"
#include "todoist/TodoistService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace daybrook;

namespace {

// The Secret Service's (oayays): a secret sent in the clear over a "plain" session.
struct Secret {
    QDBusObjectPath session;
    QByteArray parameters, value;
    QString contentType;
};
QDBusArgument &operator<<(QDBusArgument &arg, const Secret &s) {
    arg.beginStructure();
    arg << s.session << s.parameters << s.value << s.contentType;
    arg.endStructure();
    return arg;
}
const QDBusArgument &operator>>(const QDBusArgument &arg, Secret &s) {
    arg.beginStructure();
    arg >> s.session >> s.parameters >> s.value >> s.contentType;
    arg.endStructure();
    return arg;
}

} // namespace
Q_DECLARE_METATYPE(Secret)
namespace {

const QDBusObjectPath login(QStringLiteral("/org/freedesktop/secrets/collection/login"));

QDBusInterface secrets(const char *interface = "org.freedesktop.Secret.Service") {
    return QDBusInterface(QStringLiteral("org.freedesktop.secrets"),
                          QStringLiteral("/org/freedesktop/secrets"), QString::fromLatin1(interface));
}

// What `secret-tool lookup` finds for one key; nothing when it finds nothing.
std::optional<QString> lookup(const QString &key) {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("lookup"), QStringLiteral("server"),
                QString::fromLatin1(TodoistService::secretServiceName), QStringLiteral("user"), key});
    if (!tool.waitForFinished(10000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(tool.readAllStandardOutput());
}

// The items for one key, locked or not, without unlocking anything.
qsizetype itemCount(const QString &key) {
    const QMap<QString, QString> attributes{
        {QStringLiteral("server"), QString::fromLatin1(TodoistService::secretServiceName)},
        {QStringLiteral("user"), key}};
    const QDBusMessage reply = secrets().call(QStringLiteral("SearchItems"), QVariant::fromValue(attributes));
    if (reply.type() != QDBusMessage::ReplyMessage)
        return -1;
    return qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0)).size() +
           qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1)).size();
}

bool unlockLogin() {
    const QDBusMessage opened = secrets().call(QStringLiteral("OpenSession"), QStringLiteral("plain"),
                                               QVariant::fromValue(QDBusVariant(QString())));
    if (opened.type() != QDBusMessage::ReplyMessage)
        return false;
    const Secret password{
        opened.arguments().at(1).value<QDBusObjectPath>(), {}, "daybrook-test", QStringLiteral("text/plain")};
    return secrets("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface")
               .call(QStringLiteral("UnlockWithMasterPassword"), QVariant::fromValue(login),
                     QVariant::fromValue(password))
               .type() == QDBusMessage::ReplyMessage;
}

} // namespace

class TodoistKeyringTest : public QObject {
    Q_OBJECT

    QHttpServer server;
    TodoistConfig config;
    int listRequests = 0;

    std::unique_ptr<TodoistService> start(bool settle = true) {
        auto service = std::make_unique<TodoistService>(config);
        service->setUrlOpener([](const QUrl &) {});
        if (settle && !QSignalSpy(service.get(), &TodoistService::storedTokenLoaded).wait(20000))
            qFatal("the keyring never answered");
        return service;
    }
    static void settle(TodoistService &service) {
        if (!QTest::qWaitFor([&] { return !service.hasPendingSecretOperations(); }, 20000))
            qFatal("keyring writes never finished");
    }

private Q_SLOTS:
    void initTestCase() {
        qDBusRegisterMetaType<Secret>();
        qDBusRegisterMetaType<QMap<QString, QString>>();
        test::resetUserDefaults();
        const auto empty = [this] {
            ++listRequests;
            return QHttpServerResponse(QJsonObject{{"results", QJsonArray{}}, {"next_cursor", QJsonValue()}});
        };
        server.route("/api/v1/projects", empty);
        server.route("/api/v1/tasks", empty);
        server.route("/oauth/access_token", [] {
            return QHttpServerResponse(QJsonObject{{"access_token", "keyring-access"},
                                                   {"token_type", "Bearer"},
                                                   {"expires_in", 3600},
                                                   {"refresh_token", "keyring-refresh"}});
        });
        const quint16 port = server.listen(QHostAddress::LocalHost);
        QVERIFY(port != 0);
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
        config.apiBaseUrl = QUrl(base);
        config.tokenUrl = QUrl(base + QStringLiteral("/oauth/access_token"));
        config.secretRetryMs = 200;
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"),
                 "run through tests/support/run-test.sh");
    }

    void aSignInSurvivesRestartsUntilDisconnected() {
        {
            auto service = start();
            QVERIFY(!service->isConnected());
            service->startOAuth();
            QVERIFY(QCoro::waitFor(service->handleOAuthCallback(
                QUrl(QStringLiteral("daybrook://oauth/todoist?code=c0de&state=") + *service->oauthState()))));
            settle(*service);
            QCOMPARE(lookup("refresh_token"), QStringLiteral("keyring-refresh"));
            QVERIFY(lookup("expires_at"));
            service->setAccessToken(QStringLiteral("second-token"));
            settle(*service);
            // Delete-then-write leaves exactly one item holding the last token.
            QCOMPARE(lookup("access_token"), QStringLiteral("second-token"));
            QCOMPARE(itemCount("access_token"), 1);
            QVERIFY(!service->secretStoreNotice());
        }
        listRequests = 0;
        auto service = start();
        QCOMPARE(service->accessToken(), QStringLiteral("second-token"));
        QTRY_VERIFY(listRequests >= 2);
        QVERIFY(!service->refreshToken()); // a token set from outside stands alone
        service->disconnect();
        settle(*service);
        QVERIFY(!lookup("access_token") && !lookup("refresh_token") && !lookup("expires_at"));
        QVERIFY(!start()->isConnected());
    }

    // A keyring still locked at start (its prompt dismissed, here for want of
    // a display) is waited for, and the sign-in in it survives until it opens.
    void aLockedKeyringIsWaitedForAndKeepsTheSignIn() {
        {
            auto first = start();
            first->setAccessToken(QStringLiteral("kept-token"));
            settle(*first);
        }
        QDBusReply<QList<QDBusObjectPath>> locked =
            secrets().call(QStringLiteral("Lock"), QVariant::fromValue(QList<QDBusObjectPath>{login}));
        QVERIFY2(locked.isValid(), qPrintable(locked.error().message()));

        auto service = start(false);
        QTRY_VERIFY_WITH_TIMEOUT(service->isWaitingForKeyring() && !service->hasPendingSecretOperations(),
                                 20000);
        QVERIFY(!service->isConnected());
        QCOMPARE(itemCount("access_token"), 1);

        QVERIFY(unlockLogin());
        QTRY_COMPARE_WITH_TIMEOUT(service->accessToken(), QStringLiteral("kept-token"), 20000);
        QVERIFY(!service->isWaitingForKeyring());
        QCOMPARE(lookup("access_token"), QStringLiteral("kept-token"));
    }
};

QTEST_GUILESS_MAIN(TodoistKeyringTest)
#include "test_todoist_keyring.moc"
