// Sign-in as a new user meets it: the real service against a strict
// authorization server on 127.0.0.1, with a browser that follows the authorize
// page and hands the redirect back the way the desktop would.
#include "core/Clock.h"
#include "core/UrlRouting.h"
#include "platform/SingleInstance.h"
#include "support/MemorySecretStore.h"
#include "support/TestEnvironment.h"
#include "support/TodoistAuthServer.h"
#include "todoist/TodoistSettingsViews.h"

#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace daybrook;

class TodoistSignInTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TodoistAuthServer> server;
    std::shared_ptr<test::MemorySecretStore> store;
    std::unique_ptr<TodoistService> service;
    SingleInstance running; // the first instance's socket, as the application has it
    QNetworkAccessManager browser;
    QByteArray lastPage;

    QNetworkReply *get(const QUrl &url) {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply *reply = browser.get(request);
        QSignalSpy(reply, &QNetworkReply::finished).wait(5000);
        reply->deleteLater();
        return reply;
    }
    QUrl redirectFor(const QUrl &authorize) {
        return get(authorize)->header(QNetworkRequest::LocationHeader).toUrl();
    }
    // The browser: the scheme redirect starts a second process, which hands
    // the URL to the running one; a loopback redirect is fetched.
    void deliver(const QUrl &redirect) {
        if (redirect.scheme() == QLatin1String("daybrook")) {
            QThread *launch = QThread::create(
                [text = redirect.toString(QUrl::FullyEncoded)] { SingleInstance::sendToRunning(text); });
            connect(launch, &QThread::finished, launch, &QObject::deleteLater);
            launch->start();
        } else {
            lastPage = get(redirect)->readAll();
        }
    }

    void makeService() {
        service = std::make_unique<TodoistService>(server->config(), store);
        service->setUrlOpener([this](const QUrl &url) {
            QTimer::singleShot(0, this, [this, url] { deliver(redirectFor(url)); });
        });
        QVERIFY(QSignalSpy(service.get(), &TodoistService::storedTokenLoaded).wait(5000));
    }
    bool signIn() {
        service->startOAuth();
        return QTest::qWaitFor([&] { return service->isConnected() && !service->tasks().isEmpty(); }, 5000);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(running.listen());
        connect(&running, &SingleInstance::urlReceived, this, [this](const QString &text) {
            if (const auto url = oauthCallbackUrl(text); url && service)
                service->handleOAuthCallback(*url);
        });
    }
    void init() {
        test::resetUserDefaults();
        server = std::make_unique<test::TodoistAuthServer>();
        store = std::make_shared<test::MemorySecretStore>();
    }
    void cleanup() {
        Clock::reset();
        if (service)
            QTRY_VERIFY(!service->hasPendingSecretOperations());
        service.reset();
    }

    void registersAuthorizesAndFetchesThroughEitherRedirect_data() {
        QTest::addColumn<bool>("loopback");
        QTest::newRow("URL scheme, handed over by a second launch") << false;
        QTest::newRow("loopback, when registration refuses the scheme") << true;
    }
    void registersAuthorizesAndFetchesThroughEitherRedirect() {
        QFETCH(bool, loopback);
        server->refuseSchemeRedirects = loopback;
        makeService();
        QVERIFY(signIn());
        QCOMPARE(server->registrations, 1);
        QCOMPARE(server->exchanges, 1);
        QCOMPARE(QUrl(server->lastRedirectTarget).scheme(), QString(loopback ? "http" : "daybrook"));
        if (loopback) {
            QVERIFY(lastPage.contains("You can close this tab and return to Daybrook"));
            // The listener lived only for this sign-in.
            QCOMPARE(get(QUrl(server->lastRedirectTarget))->error(), QNetworkReply::ConnectionRefusedError);
        }
        QTRY_VERIFY(!service->hasPendingSecretOperations());
        QCOMPARE(store->items.value("access_token"), *service->accessToken());

        // Disconnect revokes both tokens at Todoist before forgetting them; a
        // fetch in flight then must not bring the lists back.
        const QSet<QString> issued{*service->refreshToken(), *service->accessToken()};
        QCoro::Task<> inFlight = service->fetchAll();
        service->disconnect();
        QCoro::waitFor(inFlight);
        QVERIFY(!service->isConnected() && service->tasks().isEmpty() && service->projects().isEmpty());
        QTRY_COMPARE(QSet<QString>(server->revoked.cbegin(), server->revoked.cend()), issued);
        QTRY_VERIFY(store->items.isEmpty());

        // The next start reuses the registration.
        makeService();
        QVERIFY(signIn());
        QCOMPARE(server->registrations, 1);

        // A server that forgot the client: Connect registers again and goes on.
        server->clients.clear();
        service->disconnect();
        QVERIFY(signIn());
        QCOMPARE(server->registrations, 2);
    }

    void refusedCallbacks_data() {
        QTest::addColumn<QString>("error");
        QTest::newRow("wrong state") << "Invalid OAuth callback";
        QTest::newRow("replayed state") << "Invalid OAuth callback";
        QTest::newRow("expired") << "The sign-in took too long. Connect again.";
        QTest::newRow("cancelled") << "Sign-in cancelled";
        QTest::newRow("injected code")
            << "Failed to exchange token: code_verifier does not match the challenge";
    }
    void refusedCallbacks() {
        QFETCH(QString, error);
        const QString row = QString::fromLatin1(QTest::currentDataTag());
        makeService();
        server->denyAccess = row == "cancelled";
        QUrl authorize;
        service->setUrlOpener([&](const QUrl &url) { authorize = url; });
        service->startOAuth();
        QTRY_VERIFY(!authorize.isEmpty());
        if (row == "injected code") // obtained by someone else with their own challenge, sent with our state
            authorize.setQuery(authorize.query().replace(QRegularExpression("code_challenge=[^&]*"),
                                                         "code_challenge=" + oauth::pkceChallenge("other")));
        const QUrl good = redirectFor(authorize);
        QUrl callback = good;
        if (row == "wrong state")
            callback.setQuery(QStringLiteral("code=code-1&state=") + oauth::randomToken());
        if (row == "replayed state")
            QVERIFY(QCoro::waitFor(service->handleOAuthCallback(good)));
        if (row == "expired")
            Clock::freezeAt(QDateTime::currentDateTimeUtc().addSecs(oauth::authorizationLifetimeSecs + 1));

        QVERIFY(!QCoro::waitFor(service->handleOAuthCallback(callback)));
        QCOMPARE(service->error(), error);
        QCOMPARE(server->exchanges, int(row == "replayed state" || row == "injected code"));
        // A stranger's callback does not end the sign-in in progress.
        QCOMPARE(QCoro::waitFor(service->handleOAuthCallback(good)), row == "wrong state");
    }

    void apiTokenIsCheckedBeforeItIsStored_data() {
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("good") << " personal-1\n" << true;
        QTest::newRow("wrong") << "personal-2" << false;
    }
    void apiTokenIsCheckedBeforeItIsStored() {
        QFETCH(QString, token);
        QFETCH(bool, accepted);
        server->accessTokens = {QStringLiteral("personal-1")};
        makeService();
        TodoistIntegrationRow row(service.get());
        row.findChild<QPushButton *>("apiTokenButton")->click();
        QPointer<TodoistApiTokenDialog> dialog = row.findChild<TodoistApiTokenDialog *>();
        dialog->findChild<QLineEdit *>("apiTokenField")->setText(token);
        dialog->findChild<QPushButton *>("apiTokenConnect")->click();
        QTRY_VERIFY(!dialog || !dialog->findChild<QLabel *>("apiTokenMessage")->isHidden());
        QCOMPARE(!dialog, accepted);
        QTRY_VERIFY(!service->hasPendingSecretOperations());
        QCOMPARE(service->isConnected(), accepted);
        if (!accepted) {
            QVERIFY(dialog->findChild<QLabel *>("apiTokenMessage")->text().contains("did not accept"));
            QVERIFY(store->operations.filter("write").isEmpty());
            return;
        }
        QCOMPARE(store->items, (QMap<QString, QString>{{"access_token", "personal-1"}}));
        QTRY_COMPARE(service->tasks().size(), 1);
        // The user's own token is theirs to keep: a sign-out sends no revocation.
        service->disconnect();
        QVERIFY(service->findChildren<QNetworkReply *>().isEmpty());
    }

    void aRefusedRefreshAsksToSignInAgain_data() {
        QTest::addColumn<QString>("answer");
        for (const char *answer : {"invalid_grant", "401"})
            QTest::newRow(answer) << QString::fromLatin1(answer);
    }
    void aRefusedRefreshAsksToSignInAgain() {
        QFETCH(QString, answer);
        makeService();
        QVERIFY(signIn());
        if (answer == "invalid_grant")
            server->refreshTokens.clear(); // spent elsewhere
        server->refreshAnswers401 = answer == "401";
        Clock::freezeAt(QDateTime::currentDateTimeUtc().addSecs(3600));
        QCoro::waitFor(service->fetchAll());
        TodoistIntegrationRow row(service.get());
        QVERIFY(!service->isConnected() && service->isSignInExpired() && service->tasks().isEmpty());
        QCOMPARE(row.statusText(), "Sign-in expired. Connect again to show your tasks");
        QVERIFY(row.findChild<QWidget *>("connectButton")->isVisibleTo(&row));
        QTRY_VERIFY(store->items.isEmpty());
        server->refreshAnswers401 = false;
        QVERIFY(signIn());
        QVERIFY(!service->isSignInExpired());
    }
};

QTEST_MAIN(TodoistSignInTest)
#include "test_todoist_signin.moc"
