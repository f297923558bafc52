// The Todoist sign-in kept in the real Secret Service (gnome-keyring on the
// private bus the runner starts), checked from outside with secret-tool.
#include "core/Clock.h"
#include "support/TestEnvironment.h"
#include "todoist/TodoistService.h"

#include <QHttpServer>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace daybrook;

namespace {

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

// How many items the keyring holds for one key.
int itemCount(const QString &key) {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("server"),
                QString::fromLatin1(TodoistService::secretServiceName), QStringLiteral("user"), key});
    tool.waitForFinished(10000);
    return int(QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError())
                   .count(QRegularExpression(QStringLiteral("^\\[/"), QRegularExpression::MultilineOption)));
}

TodoistConfig localConfig(quint16 port) {
    TodoistConfig config;
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    config.apiBaseUrl = QUrl(base);
    config.authorizeUrl = QUrl(base + QStringLiteral("/oauth/authorize"));
    config.tokenUrl = QUrl(base + QStringLiteral("/oauth/access_token"));
    config.clientId = QStringLiteral("client-id");
    config.clientSecret = QStringLiteral("client-secret");
    return config;
}

} // namespace

class TodoistKeyringTest : public QObject {
    Q_OBJECT

    QHttpServer server;
    quint16 port = 0;
    int listRequests = 0;

    std::unique_ptr<TodoistService> start() {
        auto service = std::make_unique<TodoistService>(localConfig(port));
        service->setUrlOpener([](const QUrl &) {});
        QSignalSpy loaded(service.get(), &TodoistService::storedTokenLoaded);
        if (!loaded.wait(20000))
            qFatal("the keyring never answered");
        settle(*service);
        return service;
    }
    static void settle(TodoistService &service) {
        if (!QTest::qWaitFor([&] { return !service.hasPendingSecretOperations(); }, 20000))
            qFatal("keyring writes never finished");
    }

private Q_SLOTS:
    void initTestCase() {
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
        port = server.listen(QHostAddress::LocalHost);
        QVERIFY(port != 0);
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"),
                 "run through tests/support/run-test.sh");
    }

    void tokenRoundTripDisconnectAndRestart() {
        {
            auto service = start();
            QVERIFY(!service->isConnected());
            service->setAccessToken(QStringLiteral("first-token"));
            service->setAccessToken(QStringLiteral("second-token"));
            settle(*service);
            // Delete-then-write leaves exactly one item holding the last token.
            QCOMPARE(lookup("access_token"), QStringLiteral("second-token"));
            QCOMPARE(itemCount("access_token"), 1);
        }

        // A restart finds it, connects and fetches.
        listRequests = 0;
        {
            auto service = start();
            QCOMPARE(service->accessToken(), QStringLiteral("second-token"));
            QTRY_VERIFY(listRequests >= 2);
            QCOMPARE(itemCount("access_token"), 1);

            service->disconnect();
            settle(*service);
            QVERIFY(!lookup("access_token"));
        }

        auto service = start();
        QVERIFY(!service->isConnected());
    }

    void anExpiringSignInKeepsAllThreeSecrets() {
        auto service = start();
        service->startOAuth();
        const QUrl callback(QStringLiteral("daybrook://oauth/todoist?code=c0de&state=") +
                            *service->oauthState());
        QVERIFY(QCoro::waitFor(service->handleOAuthCallback(callback)));
        settle(*service);
        QCOMPARE(lookup("access_token"), QStringLiteral("keyring-access"));
        QCOMPARE(lookup("refresh_token"), QStringLiteral("keyring-refresh"));
        const auto expiresAt = lookup("expires_at");
        QVERIFY(expiresAt);
        QCOMPARE(QDateTime::fromString(*expiresAt, Qt::ISODateWithMs), *service->accessTokenExpiresAt());

        auto restarted = start();
        QCOMPARE(restarted->refreshToken(), QStringLiteral("keyring-refresh"));
        QCOMPARE(restarted->accessTokenExpiresAt(), service->accessTokenExpiresAt());

        restarted->disconnect();
        settle(*restarted);
        QVERIFY(!lookup("access_token") && !lookup("refresh_token") && !lookup("expires_at"));
    }
};

QTEST_GUILESS_MAIN(TodoistKeyringTest)
#include "test_todoist_keyring.moc"
