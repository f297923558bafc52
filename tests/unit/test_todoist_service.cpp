// The Todoist client against real HTTP servers on 127.0.0.1 that play Todoist:
// paginated lists, the token endpoint, and the ways a server fails.
#include "core/Clock.h"
#include "core/Logging.h"
#include "support/MemorySecretStore.h"
#include "support/TestEnvironment.h"
#include "support/TodoistAuthServer.h"
#include "todoist/TodoistService.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace daybrook;
using test::jsonReply;
using test::pageReply;
using test::projectJson;
using test::Reply;
using test::taskJson;
using test::tokenReply;
using Status = SecretStore::Status;

Q_DECLARE_METATYPE(daybrook::test::Reply)
Q_DECLARE_METATYPE(daybrook::SecretStore::Status)
namespace {

// A bare TCP server for what QHttpServer will not do: answer never, slowly,
// endlessly or only half. `answer` gets each request's socket and head.
class RawServer : public QObject {
public:
    std::function<void(QTcpSocket *, const QByteArray &head)> answer;
    RawServer() {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
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
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }

private:
    QTcpServer m_server;
};

QByteArray head(qint64 length = -1) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" +
           (length < 0 ? QByteArray() : "Content-Length: " + QByteArray::number(length) + "\r\n") + "\r\n";
}

// Short time-outs and retries, so that no test waits long.
TodoistConfig configFor(const QUrl &api, const QUrl &token) {
    return {api,         QUrl("https://sign-in.example/oauth/authorize"),
            token,       QUrl(),
            "client-id", "client-secret",
            1000,        3000,
            50,          20};
}

template <typename T> QStringList idsOf(const QList<T> &items) {
    QStringList ids;
    for (const T &item : items)
        ids << item.id;
    return ids;
}

const QDateTime frozenNow(QDate(2030, 1, 15), QTime(10, 0), Qt::UTC);

} // namespace

class TodoistServiceTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TodoistAuthServer> server;
    std::shared_ptr<test::MemorySecretStore> store;

    std::unique_ptr<TodoistService> makeService(std::optional<TodoistConfig> config = {}) {
        auto service = std::make_unique<TodoistService>(
            config.value_or(configFor(server->url(), server->url("/oauth/access_token"))), store);
        service->setUrlOpener([](const QUrl &) {});
        if (!QSignalSpy(service.get(), &TodoistService::storedTokenLoaded).wait(5000))
            qFatal("the stored token was never looked up");
        return service;
    }
    bool signIn(TodoistService &service, const Reply &tokenReply) {
        server->tokenReplies.append(tokenReply);
        service.startOAuth();
        // Only the first code counts, and a form body must escape its characters.
        return QCoro::waitFor(service.handleOAuthCallback(
            QUrl(QStringLiteral("daybrook://oauth/todoist?code=the-code%2B%26%3D&code=x&state=") +
                 *service.oauthState())));
    }
    // Fetches both lists afresh; returns how many token requests that made.
    qsizetype refetch(TodoistService &service) {
        server->requests.clear();
        QCoro::waitFor(service.fetchAll());
        return server->requestsFor("/oauth/access_token").size();
    }

private Q_SLOTS:
    void init() {
        test::resetUserDefaults();
        test::setTimeZone("Europe/Berlin");
        Clock::freezeAt(frozenNow);
        server = std::make_unique<test::TodoistAuthServer>();
        server->accessTokens = {"tok-1"};
        store = std::make_shared<test::MemorySecretStore>();
    }
    void cleanup() {
        Clock::reset();
        server.reset();
    }

    // MARK: The stored sign-in

    // Only an open store that holds nothing means "not signed in"; nothing is
    // ever deleted or rewritten at start. A locked keyring is waited for in
    // the real keyring's test.
    void theStoredSignInAtStart_data() {
        QTest::addColumn<Status>("failure");
        QTest::addColumn<bool>("stored");
        QTest::newRow("nothing stored") << Status::Ok << false;
        QTest::newRow("a token stored") << Status::Ok << true;
        QTest::newRow("no keyring at all") << Status::Missing << false;
    }
    void theStoredSignInAtStart() {
        QFETCH(Status, failure);
        QFETCH(bool, stored);
        if (stored)
            store->items.insert("access_token", "tok-1");
        store->failure = failure;
        auto service = makeService();
        QVERIFY(!service->isWaitingForKeyring());
        QCOMPARE(service->isConnected(), stored);
        QCOMPARE(service->secretStoreNotice().has_value(), failure == Status::Missing);
        QTRY_COMPARE(idsOf(service->tasks()), stored ? QStringList{"t1"} : QStringList{});
        QCOMPARE(server->requests.isEmpty(), !stored);
        for (const QString &op : std::as_const(store->operations))
            QVERIFY2(op.startsWith("read"), qPrintable(op));
        if (failure == Status::Missing) { // a sign-in still works, in memory
            service->setAccessToken(QStringLiteral("tok-1"));
            QCoro::waitFor(service->fetchAll());
            QVERIFY(service->tasks().size() == 1 && service->secretStoreNotice());
        }
    }

    // MARK: Fetching

    void followsEveryPageAndKeepsTheFirstOfEachId() {
        // Cursors are opaque: characters that mean something in a URL must survive.
        const QString odd = QStringLiteral("a+b/c=&d %");
        server->pages["projects"][""] = pageReply({projectJson("p1", "One", {}, 1)}, odd);
        server->pages["projects"][odd] = pageReply({projectJson("p2", "Two", "p1", 1)});
        server->pages["tasks"][""] =
            pageReply({taskJson("t1", "p1", "first"), taskJson("t2", "p1", "two")}, "c2");
        server->pages["tasks"]["c2"] =
            pageReply({taskJson("t2", "p1", "again"), taskJson("t3", "p2", "three")});
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QSignalSpy loading(service.get(), &TodoistService::isLoadingChanged);
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(idsOf(service->projects()), (QStringList{"p1", "p2"}));
        QCOMPARE(idsOf(service->tasks()), (QStringList{"t1", "t2", "t3"}));
        QCOMPARE(service->tasks()[1].content, QStringLiteral("two"));
        QCOMPARE(loading.count(), 2);
        QVERIFY(!service->isLoading() && !service->error());
        // A wrong cursor or token gets an error from the server; the page size is only seen here.
        for (const auto &request : std::as_const(server->requests))
            QCOMPARE(request.query.queryItemValue("limit"), QStringLiteral("200"));
    }

    // A failing list keeps what the user sees, unless the token was refused;
    // the other list is not affected. Passing failures are fetched again
    // (after the server's Retry-After), and the next success clears the error.
    void aFailingListKeepsItsLastGoodItems_data() {
        QTest::addColumn<Reply>("reply");
        // "emptied", "kept" (until the next refresh), "retried" (soon, by
        // itself), or "waits" (not before the server's Retry-After).
        QTest::addColumn<QString>("outcome");
        QTest::newRow("500 page") << Reply{500, "<h1>Error</h1>", "text/html"} << "retried";
        QTest::newRow("503 with Retry-After")
            << Reply{503, "busy", "text/plain", {{"Retry-After", "1"}}} << "waits";
        QTest::newRow("429 with an HTTP date")
            << Reply{429, "{}", "application/json", {{"Retry-After", "Tue, 15 Jan 2030 10:00:01 GMT"}}}
            << "waits";
        QTest::newRow("410 gone") << Reply{410, "Gone", "text/plain"} << "kept";
        QTest::newRow("one bad element")
            << pageReply({projectJson("p", "P", {}, 1), QJsonObject{{"id", "x"}}}) << "kept";
        QTest::newRow("repeated cursor") << pageReply({projectJson("p2", "P", {}, 1)}, "again") << "kept";
        QTest::newRow("above the size limit")
            << Reply{200, QByteArray(TodoistService::maxBodyBytes + 1, ' ')} << "kept";
        // The token never follows a redirect, not even on the same server.
        QTest::newRow("redirect")
            << Reply{302, {}, "text/plain", {{"Location", "/api/v1/projects?cursor=stolen"}}} << "kept";
        QTest::newRow("401 refused") << jsonReply({{"error", "Unauthorized"}}, 401) << "emptied";
        QTest::newRow("403 forbidden") << jsonReply({{"error", "Forbidden"}}, 403) << "emptied";
    }
    void aFailingListKeepsItsLastGoodItems() {
        QFETCH(Reply, reply);
        QFETCH(QString, outcome);
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
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
        const qsizetype asked = server->requestsFor("/api/v1/projects").size();
        server->pages["projects"][""] = pageReply({projectJson("p9", "New", {}, 1)});
        if (outcome != "retried")
            QCoro::waitFor(service->fetchAll());
        if (outcome == "waits")
            QCOMPARE(server->requestsFor("/api/v1/projects").size(), asked);
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
        const QByteArray projects = pageReply({projectJson("p1", "Work", {}, 1)}).body;
        const QByteArray tasks = pageReply({taskJson("t1", "p1", "fine")}).body;
        bool faulty = false;
        qint64 written = 0;
        static constexpr qint64 endlessCap = 4 * TodoistService::maxBodyBytes;
        raw.answer = [&](QTcpSocket *socket, const QByteArray &request) {
            const QByteArray body = request.startsWith("GET /api/v1/projects") ? projects : tasks;
            if (!faulty || body == tasks) {
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
        auto service = makeService(config);
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
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
        auto service = makeService();
        QVERIFY(signIn(*service, tokenReply("secret-access-1", 3600, "secret-refresh-1")));
        QCOMPARE(
            server->requestsFor("/oauth/access_token")[0].form.queryItemValue("code", QUrl::FullyDecoded),
            "the-code+&=");
        QVERIFY(!service->error() && !service->oauthState() && !service->tasks().isEmpty()); // fetched first
        QCOMPARE(service->accessTokenExpiresAt(), frozenNow.addSecs(3600));
        // An hour later both lists need the token at once: one refresh serves both.
        Clock::freezeAt(frozenNow.addSecs(3600));
        server->accessTokens = {"secret-access-2"};
        server->tokenReplies.append(tokenReply("secret-access-2", 3600));
        QCOMPARE(refetch(*service), 1);
        const auto refreshes = server->requestsFor("/oauth/access_token");
        QCOMPARE(refreshes[0].form.queryItemValue("grant_type"), QStringLiteral("refresh_token"));
        QCOMPARE(refreshes[0].form.queryItemValue("refresh_token"), QStringLiteral("secret-refresh-1"));
        QCOMPARE(service->refreshToken(), QStringLiteral("secret-refresh-1")); // the reply brought none
        QCOMPARE(service->accessTokenExpiresAt(), frozenNow.addSecs(7200));
        QCOMPARE(server->requestsFor("/api/v1/tasks")[0].authorization, QByteArray("Bearer secret-access-2"));
        QVERIFY(!service->error());
        qInstallMessageHandler(previous);
        category.setEnabled(QtDebugMsg, false);
        QVERIFY(!messages.isEmpty());
        for (const QString &message : std::as_const(messages))
            for (const char *secret : {"secret-", "client-secret", "the-code"})
                QVERIFY2(!message.contains(QLatin1String(secret)), qPrintable(message));

        QTRY_VERIFY(!service->hasPendingSecretOperations());
        auto restarted = makeService();
        QCOMPARE(restarted->accessTokenExpiresAt(), frozenNow.addSecs(7200)); // read back after a restart
        // A lifetime beyond any date must not read as "expired" on every request.
        server->accessTokens = {"tok-1"};
        QVERIFY(signIn(*restarted, tokenReply("tok-1", qint64(9.2e18), "r-1")));
        QVERIFY(*restarted->accessTokenExpiresAt() > frozenNow.addYears(50));
        QCOMPARE(refetch(*restarted), 0);
    }

    // A 401 gets one refresh and one retry, never a loop; a failed refresh
    // sends no request with the stale token.
    void a401RefreshesOnceAndARefusedRefreshStops() {
        auto service = makeService();
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
        QCOMPARE(server->requestsFor("/api/v1/tasks").size(), 2);

        server->accessTokens = {"tok-1"};
        QVERIFY(signIn(*service, tokenReply("tok-1", 600, "r-1")));
        Clock::freezeAt(frozenNow.addSecs(600));
        server->tokenReplies.append(jsonReply({{"error", "server_error"}}, 503));
        QCOMPARE(refetch(*service), 1);
        QCOMPARE(server->requestsFor("/api/v1/tasks").size(), 0);
        QCOMPARE(service->refreshToken(), QStringLiteral("r-1"));
    }

    // Quitting while requests and a sign-in are under way: the suspended
    // operations must find the service gone, not touch its remains.
    void destroyingTheServiceMidRequestIsSafe() {
        RawServer silent;
        int heads = 0;
        silent.answer = [&](QTcpSocket *, const QByteArray &) { ++heads; };
        auto service =
            makeService(configFor(silent.url(), silent.url().resolved(QUrl("/oauth/access_token"))));
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::Task<> fetch = service->fetchAll();
        service->startOAuth();
        QCoro::Task<bool> signIn = service->handleOAuthCallback(
            QUrl(QStringLiteral("daybrook://oauth/todoist?code=c&state=") + *service->oauthState()));
        QTRY_COMPARE(heads, 3);
        service.reset();
        QCoro::waitFor(fetch); // hangs, or crashes under the sanitizer, if the service is touched
    }
};

QTEST_GUILESS_MAIN(TodoistServiceTest)
#include "test_todoist_service.moc"
