// The Todoist sign-in kept in the real Secret Service (gnome-keyring on the
// private bus the runner starts, unlocked with "daybrook-test"), checked from
// outside through the keyring's own D-Bus interface.
#include "support/TestEnvironment.h"
#include "support/TodoistAuthServer.h"
#include "todoist/TodoistService.h"

#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QSignalSpy>
#include <QTest>

using namespace daybrook;

namespace {

const QDBusObjectPath login(QStringLiteral("/org/freedesktop/secrets/collection/login"));

QDBusInterface secrets(const char *interface = "org.freedesktop.Secret.Service") {
    return QDBusInterface(QStringLiteral("org.freedesktop.secrets"),
                          QStringLiteral("/org/freedesktop/secrets"), QString::fromLatin1(interface));
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
    QDBusArgument password; // the Secret Service's (oayays) secret, in the clear
    password.beginStructure();
    password << opened.arguments().at(1).value<QDBusObjectPath>() << QByteArray()
             << QByteArray("daybrook-test") << QStringLiteral("text/plain");
    password.endStructure();
    return secrets("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface")
               .call(QStringLiteral("UnlockWithMasterPassword"), QVariant::fromValue(login),
                     QVariant::fromValue(password))
               .type() == QDBusMessage::ReplyMessage;
}

} // namespace

class TodoistKeyringTest : public QObject {
    Q_OBJECT

    test::TodoistAuthServer server;
    TodoistConfig config;

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
        qDBusRegisterMetaType<QMap<QString, QString>>();
        test::resetUserDefaults();
        server.accessTokens = {"keyring-access", "second-token", "kept-token"};
        config = server.config();
        config.clientId = QStringLiteral("keyring-client"); // no self-registration here
        config.secretRetryMs = 200;
    }

    void aSignInSurvivesRestartsUntilDisconnected() {
        {
            auto service = start();
            server.tokenReplies << test::tokenReply("keyring-access", 3600, "keyring-refresh");
            service->startOAuth();
            QVERIFY(QCoro::waitFor(service->handleOAuthCallback(
                QUrl(QStringLiteral("daybrook://oauth/todoist?code=c0de&state=") + *service->oauthState()))));
            settle(*service);
        }
        server.requests.clear();
        auto service = start();
        QCOMPARE(service->accessToken(), QStringLiteral("keyring-access"));
        QCOMPARE(service->refreshToken(), QStringLiteral("keyring-refresh"));
        QVERIFY(service->accessTokenExpiresAt());
        QTRY_VERIFY(!server.requests.value("/api/v1/tasks").isEmpty()); // fetched with the stored token
        service->setAccessToken(QStringLiteral("second-token"));
        settle(*service);
        // Delete-then-write leaves exactly one item holding the last token.
        QCOMPARE(itemCount("access_token"), 1);
        QCOMPARE(start()->accessToken(), QStringLiteral("second-token"));
        QVERIFY(!service->secretStoreNotice());
        service->disconnect();
        settle(*service);
        for (const char *key : {"access_token", "refresh_token", "expires_at"})
            QCOMPARE(itemCount(key), 0);
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
        QCOMPARE(itemCount("access_token"), 1);
    }
};

QTEST_GUILESS_MAIN(TodoistKeyringTest)
#include "test_todoist_keyring.moc"
