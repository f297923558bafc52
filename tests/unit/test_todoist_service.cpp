// The Todoist client against real HTTP servers on 127.0.0.1 that play Todoist:
// paginated lists, the token endpoint, and the ways a server fails; and
// sign-in as a new user meets it, against the strict authorization server
// with a browser that follows the authorize page and hands the redirect back
// the way the desktop would.
#include "core/Clock.h"
#include "core/Logging.h"
#include "core/UrlRouting.h"
#include "platform/SingleInstance.h"
#include "support/MemorySecretStore.h"
#include "support/TestEnvironment.h"
#include "support/TodoistAuthServer.h"
#include "todoist/TodoistSettingsViews.h"

#include <QLineEdit>
#include <QNetworkReply>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace daybrook;
using test::jsonReply;
using test::pageReply;
using test::projectJson;
using test::Reply;
using test::taskJson;
using test::tokenReply;

Q_DECLARE_METATYPE(daybrook::test::Reply)
namespace {

// A bare TCP server for what QHttpServer will not do: answer never, slowly,
// endlessly or only half. `answer` gets each request's socket and head.
class RawServer : public QTcpServer {
public:
    std::function<void(QTcpSocket *, const QByteArray &head)> answer;
    RawServer() {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end >= 0 && answer)
                        answer(socket, std::exchange(*buffer, {}).left(end));
                });
            }
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(serverPort())); }
};

QByteArray head(qint64 length = -1) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" +
           (length < 0 ? QByteArray() : "Content-Length: " + QByteArray::number(length) + "\r\n") + "\r\n";
}

// Short time-outs and retries, so that no test waits long.
TodoistConfig configFor(const QUrl &api, const QUrl &token) {
    return {api,         QUrl("https://sign-in.example/oauth/authorize"),
            token,       {},
            "client-id", "client-secret",
            1000,        3000,
            50,          20};
}

QStringList idsOf(const auto &items) {
    QStringList ids;
    for (const auto &item : items)
        ids << item.id;
    return ids;
}

const QDateTime frozenNow(QDate(2030, 1, 15), QTime(10, 0), Qt::UTC);

} // namespace

class TodoistServiceTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TodoistAuthServer> server;
    std::shared_ptr<test::MemorySecretStore> store;
    std::unique_ptr<TodoistService> service;
    SingleInstance running; // the first instance's socket, as the application has it
    QNetworkAccessManager browser;
    QByteArray lastPage;

    // A distributor's registration by default; the sign-in page opens nowhere.
    std::unique_ptr<TodoistService> makeService(std::optional<TodoistConfig> config = {}) {
        auto made = std::make_unique<TodoistService>(
            config.value_or(configFor(server->url(), server->url("/oauth/access_token"))), store);
        made->setUrlOpener([](const QUrl &) {});
        if (!QSignalSpy(made.get(), &TodoistService::storedTokenLoaded).wait(5000))
            qFatal("the stored token was never looked up");
        return made;
    }
    // A service signed in with a personal token, its lists fetched once.
    void startSignedIn(std::optional<TodoistConfig> config = {}) {
        service = makeService(config);
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
    }
    bool signIn(TodoistService &target, const Reply &tokenReply) {
        server->tokenReplies.append(tokenReply);
        target.startOAuth();
        // Only the first code counts, and a form body must escape its characters.
        return QCoro::waitFor(target.handleOAuthCallback(
            QUrl(QStringLiteral("daybrook://oauth/todoist?code=the-code%2B%26%3D&code=x&state=") +
                 *target.oauthState())));
    }
    // Fetches both lists afresh; returns how many token requests that made.
    qsizetype refetch(TodoistService &target) {
        server->requests.clear();
        QCoro::waitFor(target.fetchAll());
        return server->requests.value("/oauth/access_token").size();
    }

    QNetworkReply *get(const QUrl &url) {
        QNetworkReply *reply = browser.get(QNetworkRequest(url));
        QSignalSpy(reply, &QNetworkReply::finished).wait(5000);
        reply->deleteLater();
        return reply;
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
    // As a default build starts: self-registration, and a browser for the sign-in page.
    void startForBrowser() {
        service = makeService(server->config());
        service->setUrlOpener([this](const QUrl &url) {
            QTimer::singleShot(
                0, this, [this, url] { deliver(get(url)->header(QNetworkRequest::LocationHeader).toUrl()); });
        });
    }
    bool signInThroughBrowser() {
        service->startOAuth();
        return QTest::qWaitFor([&] { return service->isConnected() && !service->tasks().isEmpty(); }, 5000);
    }

private Q_SLOTS:
    void initTestCase() {
        browser.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        QVERIFY(running.listen());
        connect(&running, &SingleInstance::urlReceived, this, [this](const QString &text) {
            if (const auto url = oauthCallbackUrl(text); url && service)
                service->handleOAuthCallback(*url);
        });
    }
    void init() {
        test::resetUserDefaults();
        test::setTimeZone("Europe/Berlin");
        Clock::freezeAt(frozenNow);
        server = std::make_unique<test::TodoistAuthServer>();
        server->accessTokens = {"tok-1"};
        store = std::make_shared<test::MemorySecretStore>();
    }
    void cleanup() {
        if (service)
            QTRY_VERIFY(!service->hasPendingSecretOperations());
        service.reset(); // init sets the clock and the server afresh
    }

    // MARK: The stored sign-in

    // Only an open store that holds nothing means "not signed in"; nothing is
    // ever deleted or rewritten at start. A locked keyring is waited for in
    // the real keyring's test.
    void theStoredSignInAtStart_data() {
        QTest::addColumn<bool>("keyring");
        QTest::addColumn<bool>("stored");
        QTest::newRow("nothing stored") << true << false;
        QTest::newRow("a token stored") << true << true;
        QTest::newRow("no keyring at all") << false << false;
    }
    void theStoredSignInAtStart() {
        QFETCH(bool, keyring);
        QFETCH(bool, stored);
        if (stored)
            store->items.insert("access_token", "tok-1");
        store->failure = keyring ? SecretStore::Status::Ok : SecretStore::Status::Missing;
        service = makeService();
        QVERIFY(!service->isWaitingForKeyring());
        QCOMPARE(service->isConnected(), stored);
        QCOMPARE(service->secretStoreNotice().has_value(), !keyring);
        QTRY_COMPARE(idsOf(service->tasks()), stored ? QStringList{"t1"} : QStringList{});
        QCOMPARE(server->requests.isEmpty(), !stored);
        QCOMPARE(store->operations.filter(QRegularExpression("^read ")), store->operations);
        if (!keyring) { // a sign-in still works, in memory
            service->setAccessToken(QStringLiteral("tok-1"));
            QCoro::waitFor(service->fetchAll());
            QVERIFY(service->tasks().size() == 1 && service->secretStoreNotice());
        }
    }

    // MARK: Fetching

    void followsEveryPageAndKeepsTheFirstOfEachId() {
        startSignedIn();
        // Cursors are opaque: characters that mean something in a URL must survive.
        const QString odd = QStringLiteral("a+b/c=&d %");
        server->pages["projects"][""] = pageReply({projectJson("p1", "One", {}, 1)}, odd);
        server->pages["projects"][odd] = pageReply({projectJson("p2", "Two", "p1", 1)});
        server->pages["tasks"][""] =
            pageReply({taskJson("t1", "p1", "first"), taskJson("t2", "p1", "two")}, "c2");
        server->pages["tasks"]["c2"] =
            pageReply({taskJson("t2", "p1", "again"), taskJson("t3", "p2", "three")});
        QSignalSpy loading(service.get(), &TodoistService::isLoadingChanged);
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(idsOf(service->projects()), (QStringList{"p1", "p2"}));
        QCOMPARE(idsOf(service->tasks()), (QStringList{"t1", "t2", "t3"}));
        QCOMPARE(service->tasks()[1].content, QStringLiteral("two"));
        QCOMPARE(loading.count(), 2);
        QVERIFY(!service->isLoading() && !service->error());
        // A wrong cursor or token gets an error from the server; the page size is only seen here.
        for (const auto &list : std::as_const(server->requests))
            for (const auto &request : list)
                QCOMPARE(request.query.queryItemValue("limit"), QStringLiteral("200"));
    }

    // A failing list keeps what the user sees, unless the token was refused;
    // the other list is not affected. Passing failures are fetched again
    // (after the server's Retry-After), and the next success clears the error.
    void aFailingListKeepsItsLastGoodItems_data() {
        QTest::addColumn<Reply>("reply");
        // "emptied", "kept" (until the next refresh), "retried" (soon, by
        // itself), or "waits" (not before the server's Retry-After, long
        // enough that no stall of a loaded machine lets the next fetch through).
        QTest::addColumn<QString>("outcome");
        QTest::newRow("500 page") << Reply{500, "<h1>Error</h1>", "text/html"} << "retried";
        QTest::newRow("503 later") << Reply{503, "busy", "text/plain", {{"Retry-After", "2"}}} << "waits";
        QTest::newRow("429 with an HTTP date")
            << Reply{429, "{}", "application/json", {{"Retry-After", "Tue, 15 Jan 2030 10:00:02 GMT"}}}
            << "waits";
        QTest::newRow("410 gone") << Reply{410, "Gone", "text/plain"} << "kept";
        QTest::newRow("bad item") << pageReply({projectJson("p", "P", {}, 1), QJsonObject{{"id", "x"}}})
                                  << "kept";
        QTest::newRow("repeated cursor") << pageReply({projectJson("p2", "P", {}, 1)}, "again") << "kept";
        QTest::newRow("too big") << Reply{200, QByteArray(TodoistService::maxBodyBytes + 1, ' ')} << "kept";
        // The token never follows a redirect, not even on the same server.
        QTest::newRow("redirect")
            << Reply{302, {}, "text/plain", {{"Location", "/api/v1/projects?cursor=stolen"}}} << "kept";
        QTest::newRow("401 refused") << jsonReply({{"error", "Unauthorized"}}, 401) << "emptied";
        QTest::newRow("403 forbidden") << jsonReply({{"error", "Forbidden"}}, 403) << "emptied";
    }
    void aFailingListKeepsItsLastGoodItems() {
        QFETCH(Reply, reply);
        QFETCH(QString, outcome);
        startSignedIn();
        server->pages["projects"]["stolen"] = pageReply({projectJson("x", "Stolen", {}, 1)});
        server->pages["projects"]["again"] = pageReply({projectJson("p3", "Loop", {}, 1)}, "again");
        server->pages["projects"][""] = reply;
        server->pages["tasks"][""] = pageReply({taskJson("t2", "p1", "new")});
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(idsOf(service->projects()), outcome == "emptied" ? QStringList{} : QStringList{"p1"});
        QCOMPARE(idsOf(service->tasks()), QStringList{"t2"});
        QCOMPARE(service->error(), QStringLiteral("Failed to fetch projects"));
        QVERIFY(!service->isLoading());

        // The server recovers: a retry, or else the next refresh, brings the news.
        const qsizetype asked = server->requests.value("/api/v1/projects").size();
        server->pages["projects"][""] = pageReply({projectJson("p9", "New", {}, 1)});
        if (outcome != "retried")
            QCoro::waitFor(service->fetchAll());
        if (outcome == "waits")
            QCOMPARE(server->requests.value("/api/v1/projects").size(), asked);
        QTRY_COMPARE_WITH_TIMEOUT(idsOf(service->projects()), QStringList{"p9"}, 10000);
        QVERIFY(!service->error());
    }

    // Faults only a raw socket can make. Each ends the fetch with the projects
    // kept: a body cut off, a server that says nothing (idle time-out), one that
    // drips a byte at a time (overall deadline), and one that never stops
    // (size limit, counted as the bytes arrive).
    void transferFaultsEndTheFetch_data() {
        QTest::addColumn<QString>("fault");
        for (const char *fault : {"cut off", "silent", "drip", "endless"})
            QTest::newRow(fault) << fault;
    }
    void transferFaultsEndTheFetch() {
        QFETCH(QString, fault);
        RawServer raw;
        bool faulty = false;
        qint64 written = 0;
        static constexpr qint64 endlessCap = 4 * TodoistService::maxBodyBytes;
        raw.answer = [&](QTcpSocket *socket, const QByteArray &request) {
            const bool projects = request.startsWith("GET /api/v1/projects");
            const QByteArray body = server->pages[projects ? "projects" : "tasks"][""].body;
            if (!faulty || !projects) {
                socket->write(head(body.size()) + body);
            } else if (fault == "cut off") {
                socket->write(head(body.size()) + body.left(body.size() / 2));
                socket->disconnectFromHost();
            } else if (fault == "drip" || fault == "endless") {
                socket->write(head() + "{\"results\": [");
                const bool drip = fault == "drip";
                auto *pump = new QTimer(socket);
                // An endless reply stops (and then stays silent) at four times the
                // limit, so the check below does not depend on how fast the link is.
                connect(pump, &QTimer::timeout, socket, [socket, drip, &written] {
                    if (socket->state() != QAbstractSocket::ConnectedState ||
                        socket->bytesToWrite() > (1 << 20) || written >= endlessCap)
                        return;
                    written += socket->write(drip ? QByteArray(" ") : QByteArray(1 << 16, ' '));
                });
                pump->start(drip ? 100 : 0);
            }
        };
        auto config = configFor(raw.url(), server->url("/oauth/access_token"));
        config.requestDeadlineMs = 1500;
        startSignedIn(config);
        faulty = true;
        QCoro::waitFor(service->fetchAll()); // time-outs end even a silent or endless reply
        QCOMPARE(idsOf(service->projects()), QStringList{"p1"});
        QCOMPARE(idsOf(service->tasks()), QStringList{"t1"});
        QCOMPARE(service->error(), QStringLiteral("Failed to fetch projects"));
        // The program hung up long before the server ran out of bytes to send.
        QVERIFY2(written < endlessCap, qPrintable(QString::number(written)));
    }

    // MARK: Expiring tokens, and where secrets go

    void expiringTokensAreRefreshedOnceAndNeverLogged() {
        static QStringList messages;
        QLoggingCategory &category = const_cast<QLoggingCategory &>(lcTodoist());
        category.setEnabled(QtDebugMsg, true);
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &m) { messages << m; });
        server->accessTokens = {"secret-access-1"};
        service = makeService();
        QVERIFY(signIn(*service, tokenReply("secret-access-1", 3600, "secret-refresh-1")));
        QCOMPARE(
            server->requests.value("/oauth/access_token")[0].form.queryItemValue("code", QUrl::FullyDecoded),
            "the-code+&=");
        QVERIFY(!service->error() && !service->oauthState() && !service->tasks().isEmpty()); // fetched first
        QCOMPARE(service->accessTokenExpiresAt(), frozenNow.addSecs(3600));
        // An hour later both lists need the token at once: one refresh serves both.
        Clock::freezeAt(frozenNow.addSecs(3600));
        server->accessTokens = {"secret-access-2"};
        server->tokenReplies.append(tokenReply("secret-access-2", 3600));
        QCOMPARE(refetch(*service), 1);
        const auto refreshes = server->requests.value("/oauth/access_token");
        QCOMPARE(refreshes[0].form.queryItemValue("grant_type"), QStringLiteral("refresh_token"));
        QCOMPARE(refreshes[0].form.queryItemValue("refresh_token"), QStringLiteral("secret-refresh-1"));
        QCOMPARE(service->refreshToken(), QStringLiteral("secret-refresh-1")); // the reply brought none
        QCOMPARE(service->accessTokenExpiresAt(), frozenNow.addSecs(7200));
        QCOMPARE(server->requests.value("/api/v1/tasks").size(), 1); // not first with the stale token
        QVERIFY(!service->error());
        qInstallMessageHandler(previous);
        category.setEnabled(QtDebugMsg, false);
        QVERIFY(!messages.isEmpty());
        for (const QString &message : std::as_const(messages))
            for (const char *secret : {"secret-", "client-secret", "the-code"})
                QVERIFY2(!message.contains(QLatin1String(secret)), qPrintable(message));

        QTRY_VERIFY(!service->hasPendingSecretOperations());
        service = makeService();
        QCOMPARE(service->accessTokenExpiresAt(), frozenNow.addSecs(7200)); // read back after a restart
        // A lifetime beyond any date must not read as "expired" on every request.
        server->accessTokens = {"tok-1"};
        QVERIFY(signIn(*service, tokenReply("tok-1", qint64(9.2e18), "r-1")));
        QVERIFY(*service->accessTokenExpiresAt() > frozenNow.addYears(50));
        QCOMPARE(refetch(*service), 0);
    }

    // A 401 gets one refresh and one retry, never a loop; a failed refresh
    // sends no request with the stale token. A passing failure keeps the
    // sign-in; a refusal ends it and asks the user to connect again.
    void a401RefreshesOnceAndARefusedRefreshStops() {
        service = makeService();
        QVERIFY(signIn(*service, tokenReply("tok-1", 3600, "r-1")));
        server->accessTokens = {"tok-2"}; // revoked early on the server's side
        server->tokenReplies.append(tokenReply("tok-2", -1, "r-2"));
        QCOMPARE(refetch(*service), 1);
        QCOMPARE(service->refreshToken(), QStringLiteral("r-2"));
        QVERIFY(!service->accessTokenExpiresAt());
        QCOMPARE(idsOf(service->tasks()), QStringList{"t1"});

        server->accessTokens.clear();
        server->tokenReplies.append(tokenReply("tok-3", -1, "r-3"));
        QCOMPARE(refetch(*service), 1);
        QCOMPARE(server->requests.value("/api/v1/tasks").size(), 2);

        server->accessTokens = {"tok-1"};
        for (const Reply &answer :
             {jsonReply({{"error", "server_error"}}, 503), jsonReply({{"error", "invalid_grant"}}, 400),
              jsonReply({{"error", "invalid_token"}}, 401)}) {
            QVERIFY(signIn(*service, tokenReply("tok-1", 600, "r-1")));
            QVERIFY(!service->isSignInExpired());
            Clock::freezeAt(Clock::now().addSecs(600));
            server->tokenReplies.append(answer);
            QCOMPARE(refetch(*service), 1);
            QCOMPARE(server->requests.value("/api/v1/tasks").size(), 0);
            if (answer.status == 503) {
                QCOMPARE(service->refreshToken(), QStringLiteral("r-1"));
                continue;
            }
            TodoistIntegrationRow row(service.get());
            QVERIFY(!service->isConnected() && service->isSignInExpired() && service->tasks().isEmpty());
            QCOMPARE(row.statusText(), "Sign-in expired. Connect again to show your tasks");
            QVERIFY(row.findChild<QWidget *>("connectButton")->isVisibleTo(&row));
            QTRY_VERIFY(store->items.isEmpty());
        }
    }

    // Quitting while requests and a sign-in are under way: the suspended
    // operations must find the service gone, not touch its remains.
    // Lists refused while a refresh hangs: one request refreshes, the others
    // wait for it; a sign-in's exchange hangs too.
    void destroyingTheServiceMidRequestIsSafe() {
        RawServer raw;
        int heads = 0;
        raw.answer = [&](QTcpSocket *socket, const QByteArray &request) {
            ++heads;
            if (request.startsWith("GET"))
                socket->write("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n");
        };
        store->items = {{"access_token", "tok-1"}, {"refresh_token", "r-1"}};
        service = makeService(configFor(raw.url(), raw.url().resolved(QUrl("/oauth/access_token"))));
        QTRY_COMPARE(heads, 3); // the lists fetched at start, and the refresh
        QCoro::Task<> fetch = service->fetchAll();
        service->startOAuth();
        QCoro::Task<bool> signIn = service->handleOAuthCallback(
            QUrl(QStringLiteral("daybrook://oauth/todoist?code=c&state=") + *service->oauthState()));
        QTRY_COMPARE(heads, 6);
        QTest::qWait(200); // lets the last refusals reach the service; later ones only weaken the check
        service.reset();
        // Every waiter has unwound without touching the service (the sanitizer
        // would see that), none is left suspended for ever.
        QVERIFY(fetch.isReady() && signIn.isReady());
    }

    // MARK: Sign-in as a new user meets it

    void registersAuthorizesAndFetchesThroughEitherRedirect_data() {
        QTest::addColumn<bool>("loopback");
        QTest::newRow("URL scheme, handed over by a second launch") << false;
        QTest::newRow("loopback, when registration refuses the scheme") << true;
    }
    void registersAuthorizesAndFetchesThroughEitherRedirect() {
        QFETCH(bool, loopback);
        server->refuseSchemeRedirects = loopback;
        startForBrowser();
        QVERIFY(signInThroughBrowser());
        QCOMPARE(server->registrations, 1);
        QCOMPARE(server->requests.value("/oauth/access_token").size(), 1);
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
        startForBrowser();
        QVERIFY(signInThroughBrowser());
        QCOMPARE(server->registrations, 1);

        // A server that forgot the client: Connect registers again and goes on.
        server->clients.clear();
        service->disconnect();
        QVERIFY(signInThroughBrowser());
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
        startForBrowser();
        server->denyAccess = row == "cancelled";
        QUrl authorize;
        service->setUrlOpener([&](const QUrl &url) { authorize = url; });
        service->startOAuth();
        QTRY_VERIFY(!authorize.isEmpty());
        if (row == "injected code") // obtained by someone else with their own challenge, sent with our state
            authorize.setQuery(authorize.query().replace(QRegularExpression("code_challenge=[^&]*"),
                                                         "code_challenge=" + oauth::pkceChallenge("other")));
        const QUrl good = get(authorize)->header(QNetworkRequest::LocationHeader).toUrl();
        QUrl callback = good;
        if (row == "wrong state")
            callback.setQuery(QStringLiteral("code=code-1&state=") + oauth::randomToken());
        if (row == "replayed state")
            QVERIFY(QCoro::waitFor(service->handleOAuthCallback(good)));
        if (row == "expired")
            Clock::freezeAt(frozenNow.addSecs(oauth::authorizationLifetimeSecs + 1));

        QVERIFY(!QCoro::waitFor(service->handleOAuthCallback(callback)));
        QCOMPARE(service->error(), error);
        QCOMPARE(server->requests.value("/oauth/access_token").size(),
                 int(row == "replayed state" || row == "injected code"));
        // A stranger's callback does not end the sign-in in progress.
        QCOMPARE(QCoro::waitFor(service->handleOAuthCallback(good)), row == "wrong state");
    }

    // A pasted token is tried before it is kept; a wrong one leaves the dialog open for another.
    void apiTokenIsCheckedBeforeItIsStored() {
        startForBrowser();
        TodoistIntegrationRow row(service.get());
        row.findChild<QPushButton *>("apiTokenButton")->click();
        QPointer<TodoistApiTokenDialog> dialog = row.findChild<TodoistApiTokenDialog *>();
        auto *message = dialog->findChild<QLabel *>("apiTokenMessage");
        dialog->findChild<QLineEdit *>("apiTokenField")->setText("tok-2");
        dialog->findChild<QPushButton *>("apiTokenConnect")->click();
        QTRY_VERIFY(!message->isHidden());
        QVERIFY(message->text().contains("did not accept"));
        QTRY_VERIFY(!service->hasPendingSecretOperations());
        QVERIFY(!service->isConnected() && store->operations.filter("write").isEmpty());
        dialog->findChild<QLineEdit *>("apiTokenField")->setText(" tok-1\n");
        dialog->findChild<QPushButton *>("apiTokenConnect")->click();
        QTRY_VERIFY(!dialog);
        QTRY_VERIFY(!service->hasPendingSecretOperations());
        QCOMPARE(store->items, (QMap<QString, QString>{{"access_token", "tok-1"}}));
        QTRY_COMPARE(service->tasks().size(), 1);
        // The user's own token is theirs to keep: a sign-out sends no revocation.
        service->disconnect();
        QVERIFY(service->findChildren<QNetworkReply *>().isEmpty());
    }
};

QTEST_MAIN(TodoistServiceTest)
#include "test_todoist_service.moc"
