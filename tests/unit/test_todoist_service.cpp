// The Todoist client against a real HTTP server on 127.0.0.1 that plays
// Todoist: paginated lists, the token endpoint, and the ways a server fails.
#include "core/Clock.h"
#include "core/Logging.h"
#include "core/UserDefaults.h"
#include "support/MemorySecretStore.h"
#include "support/TestEnvironment.h"
#include "support/TodoistJson.h"
#include "todoist/TodoistService.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

using namespace daybrook;
using test::projectJson;
using test::taskJson;

namespace {

struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QByteArray location;
};

} // namespace
Q_DECLARE_METATYPE(Reply)
namespace {

struct Recorded {
    QString path;
    QUrlQuery query;
    QByteArray authorization;
    QUrlQuery form;
};

Reply json(const QJsonObject &object, int status = 200) {
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

Reply pageReply(const QJsonArray &results, const QJsonValue &cursor = {}) {
    return json({{"results", results}, {"next_cursor", cursor}});
}

// Todoist on 127.0.0.1: each list answers per cursor ("" = first page) with
// the pages configured, a bearer token outside `validTokens` gets a 401 with
// Todoist's JSON error body, and the token endpoint answers from a queue.
class FakeTodoist {
public:
    FakeTodoist() {
        m_server.route("/api/v1/projects", [this](const QHttpServerRequest &request) {
            return list(QStringLiteral("projects"), request);
        });
        m_server.route("/api/v1/tasks", [this](const QHttpServerRequest &request) {
            return list(QStringLiteral("tasks"), request);
        });
        m_server.route("/oauth/access_token", [this](const QHttpServerRequest &request) {
            requests.append({request.url().path(), request.query(), request.value("Authorization"),
                             QUrlQuery(QString::fromUtf8(request.body()))});
            if (tokenReplies.isEmpty())
                return respond(json({{"error", "no reply configured"}}, 500));
            return respond(tokenReplies.takeFirst());
        });
        port = m_server.listen(QHostAddress::LocalHost);
    }

    QUrl url(const QString &path = {}) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
    }

    QList<Recorded> requestsFor(const QString &path) const {
        QList<Recorded> result;
        for (const Recorded &r : requests)
            if (r.path == path)
                result.append(r);
        return result;
    }

    quint16 port = 0;
    QSet<QString> validTokens{QStringLiteral("tok-1")};
    QHash<QString, QHash<QString, Reply>> pages; // list -> cursor -> reply
    QList<Reply> tokenReplies;
    QList<Recorded> requests;

private:
    QHttpServerResponse list(const QString &name, const QHttpServerRequest &request) {
        requests.append({request.url().path(), request.query(), request.value("Authorization"), {}});
        const QByteArray auth = request.value("Authorization");
        if (!auth.startsWith("Bearer ") || !validTokens.contains(QString::fromUtf8(auth.mid(7))))
            return respond(json({{"error", "Unauthorized"},
                                 {"error_code", 401},
                                 {"error_tag", "AUTH_INVALID_TOKEN"},
                                 {"http_code", 401}},
                                401));
        const QString cursor = request.query().queryItemValue(QStringLiteral("cursor"), QUrl::FullyDecoded);
        const auto &byCursor = pages.value(name);
        if (!byCursor.contains(cursor))
            return respond(json({{"error", "Invalid cursor"}}, 400));
        return respond(byCursor.value(cursor));
    }

    static QHttpServerResponse respond(const Reply &reply) {
        QHttpServerResponse response(reply.contentType, reply.body,
                                     QHttpServerResponder::StatusCode(reply.status));
        if (!reply.location.isEmpty())
            response.addHeader("Location", reply.location);
        return response;
    }

    QHttpServer m_server;
};

// A bare TCP server for what QHttpServer will not do: answer never, or stop
// half-way through a body. `answer` gets each request's head.
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
                    if (end < 0)
                        return;
                    const QByteArray head = buffer->left(end);
                    buffer->remove(0, end + 4);
                    if (answer)
                        answer(socket, head);
                });
            }
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }

private:
    QTcpServer m_server;
};

TodoistConfig configFor(const QUrl &api, const QUrl &token, int timeoutMs = 5000) {
    TodoistConfig config;
    config.apiBaseUrl = api;
    config.authorizeUrl = QUrl(QStringLiteral("https://sign-in.example/oauth/authorize"));
    config.tokenUrl = token;
    config.clientId = QStringLiteral("client-id");
    config.clientSecret = QStringLiteral("client-secret");
    config.timeoutMs = timeoutMs;
    return config;
}

QStringList taskIds(const TodoistService &service) {
    QStringList ids;
    for (const TodoistTask &task : service.tasks())
        ids << task.id;
    return ids;
}

QStringList projectIds(const TodoistService &service) {
    QStringList ids;
    for (const TodoistProject &project : service.projects())
        ids << project.id;
    return ids;
}

const QDateTime frozenNow(QDate(2030, 1, 15), QTime(10, 0), Qt::UTC);

} // namespace

class TodoistServiceTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeTodoist> server;
    std::shared_ptr<test::MemorySecretStore> store;

    std::unique_ptr<TodoistService> makeService(TodoistConfig config) {
        auto service = std::make_unique<TodoistService>(std::move(config), store);
        // Never a real browser.
        service->setUrlOpener([](const QUrl &) {});
        QSignalSpy loaded(service.get(), &TodoistService::storedTokenLoaded);
        if (!loaded.wait(5000))
            qFatal("the stored token was never looked up");
        if (!QTest::qWaitFor([&] { return !service->hasPendingSecretOperations(); }, 5000))
            qFatal("the secret store never settled");
        return service;
    }
    std::unique_ptr<TodoistService> makeService() {
        return makeService(configFor(server->url(), server->url("/oauth/access_token")));
    }

    // One project list and one task list, each in a single page.
    void serveSimpleLists() {
        server->pages["projects"][""] = pageReply({projectJson("p1", "Work", {}, 1)});
        server->pages["tasks"][""] = pageReply({taskJson("t1", "p1", "Write report", "2030-01-15T09:30:00")});
    }

    // A sign-in that gets the code "the-code" and answers with `tokenReply`.
    bool signIn(TodoistService &service, const Reply &tokenReply) {
        server->tokenReplies.append(tokenReply);
        service.startOAuth();
        QUrl callback(QStringLiteral("daybrook://oauth/todoist"));
        callback.setQuery(QStringLiteral("code=the-code&state=") + *service.oauthState());
        return QCoro::waitFor(service.handleOAuthCallback(callback));
    }

private Q_SLOTS:
    void init() {
        test::resetUserDefaults();
        test::setTimeZone("Europe/Berlin");
        Clock::freezeAt(frozenNow);
        server = std::make_unique<FakeTodoist>();
        QVERIFY(server->port != 0);
        store = std::make_shared<test::MemorySecretStore>();
    }
    void cleanup() {
        Clock::reset();
        server.reset();
        // Let store operations still sleeping in the event loop finish, so that
        // no coroutine is left suspended when the program ends.
        QTest::qWait(20);
    }

    // MARK: Start and fetching

    void withoutATokenNothingIsSent() {
        auto service = makeService();
        QVERIFY(!service->isConnected());
        // Nothing found: the stored item is deleted all the same.
        QCOMPARE(store->operations, (QStringList{"read access_token", "read refresh_token", "read expires_at",
                                                 "remove access_token"}));
        QSignalSpy loading(service.get(), &TodoistService::isLoadingChanged);
        QCoro::waitFor(service->fetchAll());
        QVERIFY(server->requests.isEmpty());
        QCOMPARE(loading.count(), 0);
        QVERIFY(!service->isLoading());
    }

    void aStoredTokenConnectsAndFetchesAtStart() {
        serveSimpleLists();
        store->items.insert("access_token", "tok-1");
        auto service = makeService();
        QCOMPARE(service->accessToken(), QStringLiteral("tok-1"));
        QTRY_COMPARE(taskIds(*service), QStringList{"t1"});
        QCOMPARE(projectIds(*service), QStringList{"p1"});
        // The loaded token is written back: delete, then write.
        QCOMPARE(store->operations.mid(3), (QStringList{"remove access_token", "write access_token"}));
        QCOMPARE(store->items.value("access_token"), QStringLiteral("tok-1"));
    }

    void followsEveryPageAndKeepsTheFirstOfEachId() {
        // Cursors are opaque: characters that mean something in a URL must
        // survive the trip.
        const QString odd = QStringLiteral("a+b/c=&d %");
        server->pages["projects"][""] = pageReply({projectJson("p1", "One", {}, 1)}, odd);
        server->pages["projects"][odd] = pageReply({projectJson("p2", "Two", "p1", 1)});
        server->pages["tasks"][""] =
            pageReply({taskJson("t1", "p1", "first"), taskJson("t2", "p1", "second")}, "c2");
        server->pages["tasks"]["c2"] =
            pageReply({taskJson("t2", "p1", "second again"), taskJson("t3", "p2", "third")}, "c3");
        server->pages["tasks"]["c3"] = pageReply({taskJson("t1", "p1", "first again")});
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QSignalSpy loading(service.get(), &TodoistService::isLoadingChanged);
        QCoro::waitFor(service->fetchAll());

        QCOMPARE(projectIds(*service), (QStringList{"p1", "p2"}));
        QCOMPARE(taskIds(*service), (QStringList{"t1", "t2", "t3"}));
        QCOMPARE(service->tasks()[0].content, QStringLiteral("first"));
        QCOMPARE(service->tasks()[1].content, QStringLiteral("second"));
        QVERIFY(!service->error());
        QCOMPARE(loading.count(), 2);
        QVERIFY(!service->isLoading());

        const auto projectRequests = server->requestsFor("/api/v1/projects");
        QCOMPARE(projectRequests.size(), 2);
        QCOMPARE(projectRequests[1].query.queryItemValue("cursor", QUrl::FullyDecoded), odd);
        QCOMPARE(server->requestsFor("/api/v1/tasks").size(), 3);
        for (const Recorded &request : server->requests) {
            QCOMPARE(request.authorization, QByteArray("Bearer tok-1"));
            QCOMPARE(request.query.queryItemValue("limit"), QStringLiteral("200"));
        }
    }

    // A failing list is emptied and named in the error; the other list is not
    // affected. No status, not even a 429 or 410, is retried.
    void oneFailingListIsEmptiedAlone_data() {
        QTest::addColumn<Reply>("projectsReply");
        QTest::newRow("500 with an HTML page")
            << Reply{500, "<html><body><h1>Internal Server Error</h1></body></html>", "text/html"};
        QTest::newRow("429 rate limit") << json({{"error", "Too many requests"},
                                                 {"error_tag", "LIMITS_REACHED"},
                                                 {"http_code", 429},
                                                 {"error_extra", QJsonObject{{"retry_after", 10}}}},
                                                429);
        QTest::newRow("410 gone") << Reply{410, "Gone", "text/plain"};
        QTest::newRow("bare array") << Reply{
            200, QJsonDocument(QJsonArray{projectJson("p", "P", {}, 1)}).toJson()};
        QTest::newRow("one bad element")
            << pageReply({projectJson("p", "P", {}, 1), QJsonObject{{"id", "x"}}});
        QTest::newRow("an error status with a decodable body") << Reply{
            503, QJsonDocument(QJsonObject{{"results", QJsonArray{}}, {"next_cursor", {}}}).toJson()};
    }
    void oneFailingListIsEmptiedAlone() {
        QFETCH(Reply, projectsReply);
        serveSimpleLists();
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(projectIds(*service), QStringList{"p1"});

        server->pages["projects"][""] = projectsReply;
        QCoro::waitFor(service->fetchAll());
        QVERIFY(service->projects().isEmpty());
        QCOMPARE(taskIds(*service), QStringList{"t1"});
        QCOMPARE(service->error(), QStringLiteral("Failed to fetch projects"));
        QCOMPARE(server->requestsFor("/api/v1/projects").size(), 2);
        // The token stays: nothing signs the user out.
        QCOMPARE(service->accessToken(), QStringLiteral("tok-1"));
        QVERIFY(!service->isLoading());
    }

    void aFailureOnALaterPageFailsTheWholeList() {
        server->pages["projects"][""] = pageReply({projectJson("p1", "One", {}, 1)});
        server->pages["tasks"][""] = pageReply({taskJson("t1", "p1", "first")}, "next");
        server->pages["tasks"]["next"] = Reply{500, "<html>oops</html>", "text/html"};
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
        QVERIFY(service->tasks().isEmpty());
        QCOMPARE(projectIds(*service), QStringList{"p1"});
        QCOMPARE(service->error(), QStringLiteral("Failed to fetch tasks"));
    }

    void aServerThatRepeatsItsCursorIsNotFollowedForever() {
        server->pages["projects"][""] = pageReply({projectJson("p1", "One", {}, 1)}, "again");
        server->pages["projects"]["again"] = pageReply({projectJson("p2", "Two", {}, 2)}, "again");
        server->pages["tasks"][""] = pageReply({});
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
        QVERIFY(service->projects().isEmpty());
        QCOMPARE(service->error(), QStringLiteral("Failed to fetch projects"));
        QCOMPARE(server->requestsFor("/api/v1/projects").size(), 2);
    }

    void a401WithoutRefreshTokenFailsBothLists() {
        serveSimpleLists();
        auto service = makeService();
        service->setAccessToken(QStringLiteral("revoked"));
        QCoro::waitFor(service->fetchAll());
        QVERIFY(service->projects().isEmpty() && service->tasks().isEmpty());
        QVERIFY(service->error() == QStringLiteral("Failed to fetch projects") ||
                service->error() == QStringLiteral("Failed to fetch tasks"));
        QCOMPARE(server->requestsFor("/oauth/access_token").size(), 0);
        QCOMPARE(service->accessToken(), QStringLiteral("revoked"));
    }

    // A valid body padded beyond 16 MiB would decode fine: only the limit
    // refuses it.
    void aBodyAboveTheLimitIsRefused() {
        serveSimpleLists();
        QByteArray huge = pageReply({projectJson("p1", "Work", {}, 1)}).body;
        huge.append(QByteArray(TodoistService::maxBodyBytes + 1, ' '));
        server->pages["projects"][""] = Reply{200, huge};
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
        QVERIFY(service->projects().isEmpty());
        QCOMPARE(service->error(), QStringLiteral("Failed to fetch projects"));
        QCOMPARE(taskIds(*service), QStringList{"t1"});
    }

    // The token never follows a redirect, not even to another port of the same
    // machine.
    void redirectsAreNotFollowed() {
        FakeTodoist elsewhere;
        elsewhere.validTokens = {QStringLiteral("tok-1")};
        elsewhere.pages["projects"][""] = pageReply({projectJson("x", "Stolen", {}, 1)});
        serveSimpleLists();
        server->pages["projects"][""] =
            Reply{302, {}, "text/plain", elsewhere.url("/api/v1/projects").toEncoded()};
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
        QVERIFY(elsewhere.requests.isEmpty());
        QVERIFY(service->projects().isEmpty());
        QCOMPARE(service->error(), QStringLiteral("Failed to fetch projects"));
    }

    void aBodyCutOffHalfWayFailsThatList() {
        RawServer raw;
        const QByteArray tasksBody = pageReply({taskJson("t1", "p1", "fine")}).body;
        const QByteArray projectsBody = pageReply({projectJson("p1", "Work", {}, 1)}).body;
        raw.answer = [&](QTcpSocket *socket, const QByteArray &head) {
            const bool projects = head.startsWith("GET /api/v1/projects");
            const QByteArray body = projects ? projectsBody : tasksBody;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\n\r\n");
            socket->write(projects ? body.left(body.size() / 2) : body);
            if (projects)
                socket->disconnectFromHost();
        };
        auto service = makeService(configFor(raw.url(), server->url("/oauth/access_token")));
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
        QVERIFY(service->projects().isEmpty());
        QCOMPARE(taskIds(*service), QStringList{"t1"});
        QCOMPARE(service->error(), QStringLiteral("Failed to fetch projects"));
    }

    void aServerThatNeverAnswersTimesOut() {
        RawServer silent; // accepts, reads, says nothing
        auto service =
            makeService(configFor(silent.url(), silent.url().resolved(QUrl("/oauth/access_token")), 1000));
        service->setAccessToken(QStringLiteral("tok-1"));
        bool finished = false;
        [](TodoistService *s, bool &done) -> QCoro::Task<> {
            co_await s->fetchAll();
            done = true;
        }(service.get(), finished);
        QTRY_VERIFY_WITH_TIMEOUT(finished, 10000);
        QVERIFY(service->projects().isEmpty() && service->tasks().isEmpty());
        QVERIFY(service->error() == QStringLiteral("Failed to fetch projects") ||
                service->error() == QStringLiteral("Failed to fetch tasks"));
        QVERIFY(!service->isLoading());

        // The token exchange has the same time-out; its text is the transfer's own.
        service->startOAuth();
        QUrl callback(QStringLiteral("daybrook://oauth/todoist"));
        callback.setQuery(QStringLiteral("code=c&state=") + *service->oauthState());
        QVERIFY(!QCoro::waitFor(service->handleOAuthCallback(callback)));
        QVERIFY(service->error() && !service->error()->isEmpty());
        QVERIFY(!service->error()->startsWith(QLatin1String("Failed to")));
    }

    // Quitting while requests and a sign-in are under way: the suspended
    // operations must find the service gone, not touch its remains.
    void destroyingTheServiceMidRequestIsSafe() {
        RawServer silent;
        auto service =
            makeService(configFor(silent.url(), silent.url().resolved(QUrl("/oauth/access_token"))));
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::Task<> fetch = service->fetchAll();
        service->startOAuth();
        QCoro::Task<bool> signIn = service->handleOAuthCallback(
            QUrl(QStringLiteral("daybrook://oauth/todoist?code=c&state=") + *service->oauthState()));
        QTest::qWait(200);
        QVERIFY(service->isLoading());
        service.reset();
        QTest::qWait(200);
    }

    // MARK: Sign-in

    void startOAuthOpensTheAuthorizePage() {
        auto service = makeService();
        QList<QUrl> opened;
        service->setUrlOpener([&](const QUrl &url) { opened << url; });
        service->startOAuth();
        QCOMPARE(opened.size(), 1);
        const QString state = *service->oauthState();
        QVERIFY(QRegularExpression("^[A-Za-z0-9_-]{43}$").match(state).hasMatch());
        QCOMPARE(opened[0].adjusted(QUrl::RemoveQuery), QUrl("https://sign-in.example/oauth/authorize"));
        const QList<std::pair<QString, QString>> items = QUrlQuery(opened[0]).queryItems(QUrl::FullyDecoded);
        QCOMPARE(items.mid(0, 5),
                 (QList<std::pair<QString, QString>>{{"client_id", "client-id"},
                                                     {"scope", "data:read"},
                                                     {"state", state},
                                                     {"response_type", "code"},
                                                     {"redirect_uri", "daybrook://oauth/todoist"}}));
        service->startOAuth();
        QVERIFY(*service->oauthState() != state);
    }

    void invalidCallbacksFail_data() {
        QTest::addColumn<QString>("query"); // STATE stands for the state that was sent
        QTest::addColumn<bool>("started");
        QTest::newRow("no code") << "state=STATE" << true;
        QTest::newRow("empty code") << "code=&state=STATE" << true;
        QTest::newRow("no state") << "code=abc" << true;
        QTest::newRow("wrong state") << "code=abc&state=0BADF00D-0000-0000-0000-000000000000" << true;
        QTest::newRow("state in other case") << "code=abc&state=state" << true;
        QTest::newRow("no sign-in in progress") << "code=abc&state=STATE" << false;
    }
    void invalidCallbacksFail() {
        QFETCH(QString, query);
        QFETCH(bool, started);
        auto service = makeService();
        service->setUrlOpener([](const QUrl &) {});
        service->startOAuth();
        const QString state = *service->oauthState();
        if (!started) {
            // A finished sign-in: the state was used once already.
            server->tokenReplies.append(json({{"access_token", "tok-1"}, {"token_type", "Bearer"}}));
            QVERIFY(QCoro::waitFor(service->handleOAuthCallback(
                QUrl(QStringLiteral("daybrook://oauth/todoist?code=first&state=") + state))));
        }
        const int exchanges = server->requestsFor("/oauth/access_token").size();
        const QString sent = query.contains(QLatin1String("state=state")) ? state.toLower() : state;
        QUrl callback(QStringLiteral("daybrook://oauth/todoist"));
        callback.setQuery(QString(query).replace(QLatin1String("STATE"), sent));

        QVERIFY(!QCoro::waitFor(service->handleOAuthCallback(callback)));
        QCOMPARE(service->error(), QStringLiteral("Invalid OAuth callback"));
        QCOMPARE(server->requestsFor("/oauth/access_token").size(), exchanges);
        // A sign-in in progress survives a bad callback.
        if (started)
            QCOMPARE(service->oauthState(), state);
        else
            QVERIFY(!service->oauthState());
    }

    void aSignInExchangesTheCodeStoresTheTokenAndFetches() {
        serveSimpleLists();
        auto service = makeService();
        service->setUrlOpener([](const QUrl &) {});
        store->operations.clear();
        // An earlier failure is cleared by the sign-in.
        QVERIFY(!QCoro::waitFor(service->handleOAuthCallback(QUrl("daybrook://oauth/todoist?code=x"))));
        service->startOAuth();
        server->tokenReplies.append(json({{"access_token", "tok-1"}, {"token_type", "Bearer"}}));
        QUrl callback(QStringLiteral("daybrook://oauth/todoist"));
        callback.setQuery(QStringLiteral("code=a%2Bb%26c%3D&code=second&state=") + *service->oauthState());
        QVERIFY(QCoro::waitFor(service->handleOAuthCallback(callback)));

        const auto exchanges = server->requestsFor("/oauth/access_token");
        QCOMPARE(exchanges.size(), 1);
        const QUrlQuery form = exchanges[0].form;
        QCOMPARE(form.queryItemValue("code", QUrl::FullyDecoded), QStringLiteral("a+b&c="));
        QCOMPARE(form.queryItemValue("client_id", QUrl::FullyDecoded), QStringLiteral("client-id"));
        QCOMPARE(form.queryItemValue("client_secret", QUrl::FullyDecoded), QStringLiteral("client-secret"));
        QCOMPARE(form.queryItemValue("redirect_uri", QUrl::FullyDecoded),
                 QStringLiteral("daybrook://oauth/todoist"));

        QCOMPARE(service->accessToken(), QStringLiteral("tok-1"));
        QVERIFY(!service->error());
        QVERIFY(!service->oauthState());
        QVERIFY(!service->refreshToken() && !service->accessTokenExpiresAt());
        // The fetch ran before the sign-in reported success.
        QCOMPARE(taskIds(*service), QStringList{"t1"});
        QTRY_VERIFY(!service->hasPendingSecretOperations());
        QCOMPARE(store->items, (QMap<QString, QString>{{"access_token", "tok-1"}}));
        QVERIFY(store->operations.indexOf("remove access_token") <
                store->operations.indexOf("write access_token"));

        // A restart finds the token.
        auto restarted = makeService();
        QCOMPARE(restarted->accessToken(), QStringLiteral("tok-1"));
    }

    void aSecondCallbackDuringTheExchangeFails() {
        serveSimpleLists();
        auto service = makeService();
        service->setUrlOpener([](const QUrl &) {});
        service->startOAuth();
        server->tokenReplies.append(json({{"access_token", "tok-1"}, {"token_type", "Bearer"}}));
        const QUrl callback(QStringLiteral("daybrook://oauth/todoist?code=abc&state=") +
                            *service->oauthState());
        QCoro::Task<bool> first = service->handleOAuthCallback(callback);
        QVERIFY(!QCoro::waitFor(service->handleOAuthCallback(callback)));
        QVERIFY(QCoro::waitFor(first));
        QCOMPARE(server->requestsFor("/oauth/access_token").size(), 1);
        QCOMPARE(service->accessToken(), QStringLiteral("tok-1"));
        QVERIFY(!service->error());
    }

    void failedExchangesKeepTheOldToken_data() {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("error"); // a prefix
        QTest::newRow("bad_authorization_code")
            << json({{"error", "bad_authorization_code"}}, 400) << "Failed to exchange token";
        QTest::newRow("500 page") << Reply{500, "<html>down</html>", "text/html"}
                                  << "Failed to exchange token";
        QTest::newRow("no token_type")
            << json({{"access_token", "new"}}) << "The token response could not be read";
        QTest::newRow("not JSON") << Reply{200, "access_token=new", "text/plain"}
                                  << "The token response could not be read";
    }
    void failedExchangesKeepTheOldToken() {
        QFETCH(Reply, reply);
        QFETCH(QString, error);
        serveSimpleLists();
        auto service = makeService();
        service->setUrlOpener([](const QUrl &) {});
        service->setAccessToken(QStringLiteral("tok-1"));
        QVERIFY(!signIn(*service, reply));
        QVERIFY2(service->error()->startsWith(error), qPrintable(*service->error()));
        QCOMPARE(service->accessToken(), QStringLiteral("tok-1"));
        QVERIFY(!service->oauthState());
    }

    void anUnreachableTokenEndpointGivesTheTransferError() {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        const quint16 port = closed.serverPort();
        closed.close();
        auto service =
            makeService(configFor(server->url(), QUrl(QStringLiteral("http://127.0.0.1:%1/t").arg(port))));
        service->setUrlOpener([](const QUrl &) {});
        service->startOAuth();
        const QUrl callback(QStringLiteral("daybrook://oauth/todoist?code=abc&state=") +
                            *service->oauthState());
        QVERIFY(!QCoro::waitFor(service->handleOAuthCallback(callback)));
        QVERIFY2(service->error()->contains(QLatin1String("refused"), Qt::CaseInsensitive),
                 qPrintable(*service->error()));
        QVERIFY(!service->isConnected());
    }

    // MARK: Expiring tokens

    void expiringTokensAreRefreshedOnceBeforeUse() {
        serveSimpleLists();
        auto service = makeService();
        service->setUrlOpener([](const QUrl &) {});
        QVERIFY(signIn(*service, json({{"access_token", "tok-1"},
                                       {"token_type", "Bearer"},
                                       {"expires_in", 3600},
                                       {"refresh_token", "r-1"},
                                       {"scope", "data:read"}})));
        QCOMPARE(service->refreshToken(), QStringLiteral("r-1"));
        QCOMPARE(service->accessTokenExpiresAt(), frozenNow.addSecs(3600));
        QTRY_VERIFY(!service->hasPendingSecretOperations());
        QCOMPARE(store->items.value("refresh_token"), QStringLiteral("r-1"));
        QCOMPARE(QDateTime::fromString(store->items.value("expires_at"), Qt::ISODateWithMs),
                 frozenNow.addSecs(3600));

        // An hour later both lists need the token at once: one refresh serves both.
        Clock::freezeAt(frozenNow.addSecs(3600));
        server->validTokens = {QStringLiteral("tok-2")};
        server->tokenReplies.append(
            json({{"access_token", "tok-2"}, {"token_type", "Bearer"}, {"expires_in", 3600}}));
        server->requests.clear();
        QCoro::waitFor(service->fetchAll());
        const auto refreshes = server->requestsFor("/oauth/access_token");
        QCOMPARE(refreshes.size(), 1);
        QCOMPARE(refreshes[0].form.queryItemValue("grant_type"), QStringLiteral("refresh_token"));
        QCOMPARE(refreshes[0].form.queryItemValue("refresh_token"), QStringLiteral("r-1"));
        QCOMPARE(refreshes[0].form.queryItemValue("client_secret"), QStringLiteral("client-secret"));
        QCOMPARE(service->accessToken(), QStringLiteral("tok-2"));
        // The reply brought no refresh token: the old one stays.
        QCOMPARE(service->refreshToken(), QStringLiteral("r-1"));
        QCOMPARE(service->accessTokenExpiresAt(), frozenNow.addSecs(7200));
        QCOMPARE(taskIds(*service), QStringList{"t1"});
        QVERIFY(!service->error());
        for (const Recorded &request : server->requestsFor("/api/v1/tasks"))
            QCOMPARE(request.authorization, QByteArray("Bearer tok-2"));

        // A restart finds all three.
        QTRY_VERIFY(!service->hasPendingSecretOperations());
        auto restarted = makeService();
        QCOMPARE(restarted->accessToken(), QStringLiteral("tok-2"));
        QCOMPARE(restarted->refreshToken(), QStringLiteral("r-1"));
        QCOMPARE(restarted->accessTokenExpiresAt(), frozenNow.addSecs(7200));
    }

    // Legacy apps get ten-year tokens; a lifetime beyond any date must not
    // turn into an instant that reads as "expired" on every request.
    void enormousLifetimesDoNotForceRefreshes() {
        serveSimpleLists();
        auto service = makeService();
        QVERIFY(signIn(*service, json({{"access_token", "tok-1"},
                                       {"token_type", "Bearer"},
                                       {"expires_in", 9.2e18},
                                       {"refresh_token", "r-1"}})));
        QVERIFY(service->accessTokenExpiresAt()->isValid());
        QVERIFY(*service->accessTokenExpiresAt() > frozenNow.addYears(50));
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(server->requestsFor("/oauth/access_token").size(), 1);
        QCOMPARE(taskIds(*service), QStringList{"t1"});
    }

    void a401RefreshesAndRetriesOnce() {
        serveSimpleLists();
        auto service = makeService();
        service->setUrlOpener([](const QUrl &) {});
        QVERIFY(signIn(*service, json({{"access_token", "tok-1"},
                                       {"token_type", "Bearer"},
                                       {"expires_in", 3600},
                                       {"refresh_token", "r-1"}})));
        // Revoked early on the server's side.
        server->validTokens = {QStringLiteral("tok-2")};
        server->tokenReplies.append(
            json({{"access_token", "tok-2"}, {"token_type", "Bearer"}, {"refresh_token", "r-2"}}));
        server->requests.clear();
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(server->requestsFor("/oauth/access_token").size(), 1);
        QCOMPARE(service->accessToken(), QStringLiteral("tok-2"));
        QCOMPARE(service->refreshToken(), QStringLiteral("r-2"));
        // No expires_in: this token does not expire.
        QVERIFY(!service->accessTokenExpiresAt());
        QCOMPARE(taskIds(*service), QStringList{"t1"});
        QCOMPARE(projectIds(*service), QStringList{"p1"});
        QVERIFY(!service->error());

        // A token that is refused again after a refresh is not refreshed in a loop.
        server->validTokens.clear();
        server->tokenReplies.append(
            json({{"access_token", "tok-3"}, {"token_type", "Bearer"}, {"refresh_token", "r-3"}}));
        server->requests.clear();
        QCoro::waitFor(service->fetchAll());
        QVERIFY(service->projects().isEmpty() && service->tasks().isEmpty());
        QCOMPARE(server->requestsFor("/oauth/access_token").size(), 1);
        QCOMPARE(server->requestsFor("/api/v1/tasks").size(), 2);
    }

    void aFailedRefreshFailsTheRequests() {
        serveSimpleLists();
        auto service = makeService();
        service->setUrlOpener([](const QUrl &) {});
        QVERIFY(signIn(*service, json({{"access_token", "tok-1"},
                                       {"token_type", "Bearer"},
                                       {"expires_in", 600},
                                       {"refresh_token", "r-1"}})));
        Clock::freezeAt(frozenNow.addSecs(600));
        server->tokenReplies.append(json({{"error", "server_error"}}, 503));
        server->requests.clear();
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(server->requestsFor("/oauth/access_token").size(), 1);
        QVERIFY(server->requestsFor("/api/v1/tasks").isEmpty());
        QVERIFY(service->projects().isEmpty() && service->tasks().isEmpty());
        QVERIFY(service->error() == QStringLiteral("Failed to fetch projects") ||
                service->error() == QStringLiteral("Failed to fetch tasks"));
        QCOMPARE(service->accessToken(), QStringLiteral("tok-1"));
        QCOMPARE(service->refreshToken(), QStringLiteral("r-1"));
    }

    // MARK: Where secrets go

    void secretsNeverReachLogsOrSettings() {
        static QStringList messages;
        messages.clear();
        // The runner's QT_LOGGING_RULES would override filter rules.
        QLoggingCategory &category = const_cast<QLoggingCategory &>(lcTodoist());
        category.setEnabled(QtDebugMsg, true);
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { messages << message; });

        serveSimpleLists();
        server->validTokens = {QStringLiteral("secret-access-1"), QStringLiteral("secret-access-2")};
        auto service = makeService();
        service->setUrlOpener([](const QUrl &) {});
        QVERIFY(signIn(*service, json({{"access_token", "secret-access-1"},
                                       {"token_type", "Bearer"},
                                       {"expires_in", 10},
                                       {"refresh_token", "secret-refresh-1"}})));
        server->tokenReplies.append(json({{"access_token", "secret-access-2"}, {"token_type", "Bearer"}}));
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(service->accessToken(), QStringLiteral("secret-access-2"));
        service->setProjectEnabled("p1", false);
        (void)service->toTimeEntries();

        qInstallMessageHandler(previous);
        category.setEnabled(QtDebugMsg, false);
        QVERIFY(!messages.isEmpty()); // the listing was written
        for (const QString &message : std::as_const(messages)) {
            for (const char *secret : {"secret-access", "secret-refresh", "client-secret", "the-code"})
                QVERIFY2(!message.contains(QLatin1String(secret)), qPrintable(message));
        }
        UserDefaults::reload();
        QFile settings(UserDefaults::filePath());
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(!settings.readAll().contains("secret"));
    }

    void withoutASecretStoreTheTokenLivesInMemory() {
        serveSimpleLists();
        store->available = false;
        auto service = makeService();
        QVERIFY(!service->isConnected());
        service->setAccessToken(QStringLiteral("tok-1"));
        QTRY_VERIFY(!service->hasPendingSecretOperations());
        QCOMPARE(service->accessToken(), QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(taskIds(*service), QStringList{"t1"});
    }

    // MARK: Disconnect and the project filter

    void disconnectForgetsEverything() {
        server->pages["projects"][""] =
            pageReply({projectJson("p", "Parent", {}, 1), projectJson("c", "Child", "p", 1)});
        server->pages["tasks"][""] = pageReply({taskJson("t1", "c", "x", "2030-01-15T09:30:00")});
        auto service = makeService();
        service->setUrlOpener([](const QUrl &) {});
        QVERIFY(signIn(*service, json({{"access_token", "tok-1"},
                                       {"token_type", "Bearer"},
                                       {"expires_in", 3600},
                                       {"refresh_token", "r-1"}})));
        service->setProjectEnabled("p", false);
        QVERIFY(UserDefaults::contains("disabledProjectIds"));

        // A fetch still in flight at the sign-out must not bring the lists back.
        QCoro::Task<> inFlight = service->fetchAll();
        service->disconnect();
        QVERIFY(!service->isConnected());
        QVERIFY(service->tasks().isEmpty() && service->projects().isEmpty());
        QVERIFY(service->disabledProjectIds().isEmpty());
        QVERIFY(!service->error());
        QVERIFY(!UserDefaults::contains("disabledProjectIds"));
        QCoro::waitFor(inFlight);
        QVERIFY(service->tasks().isEmpty() && service->projects().isEmpty());
        QVERIFY(!service->error());
        QVERIFY(service->projectTree().isEmpty());
        QTRY_VERIFY(!service->hasPendingSecretOperations());
        QVERIFY(store->items.isEmpty());
        QVERIFY(!makeService()->isConnected());
    }

    void projectCheckboxesActOnWholeSubtrees() {
        server->pages["projects"][""] =
            pageReply({projectJson("p", "Parent", {}, 1), projectJson("c1", "A", "p", 2),
                       projectJson("c2", "B", "p", 1), projectJson("g", "G", "c1", 1)});
        server->pages["tasks"][""] = pageReply({taskJson("t1", "g", "in g", "2030-01-15T09:30:00"),
                                                taskJson("t2", "c2", "in c2", "2030-01-15T10:30:00")});
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(service->descendantProjectIds("p"), (QStringList{"c1", "g", "c2"}));
        QCOMPARE(service->projectTree().size(), 1);

        QSignalSpy changes(service.get(), &TodoistService::disabledProjectIdsChanged);
        service->setProjectEnabled("p", false);
        QCOMPARE(changes.count(), 4);
        QCOMPARE(service->projectToggleState("p"), ToggleState::None);
        QVERIFY(service->toTimeEntries().isEmpty());

        service->setProjectEnabled("c1", true);
        QCOMPARE(service->projectToggleState("c1"), ToggleState::All);
        QCOMPARE(service->projectToggleState("p"), ToggleState::Some);
        QCOMPARE(service->toTimeEntries().size(), 1);
        QCOMPARE(service->toTimeEntries()[0].id(), QStringLiteral("t1"));

        // The set survives a restart.
        UserDefaults::reload();
        auto restarted = makeService();
        QCOMPARE(restarted->disabledProjectIds(), (QSet<QString>{"p", "c2"}));

        service->setProjectEnabled("p", true);
        QCOMPARE(service->projectToggleState("p"), ToggleState::All);
        QCOMPARE(UserDefaults::stringListValue("disabledProjectIds"), QStringList());
    }

    void countsTasksDueTodayByTheirDay() {
        server->pages["projects"][""] = pageReply({});
        server->pages["tasks"][""] = pageReply({
            taskJson("today, timed", "p", "a", "2030-01-15T09:30:00"),
            taskJson("today, all day", "p", "b", "2030-01-15"),
            taskJson("yesterday, timed", "p", "c", "2030-01-14T09:30:00"),
            // 23:30 UTC is already tomorrow in Berlin.
            taskJson("UTC today, local tomorrow", "p", "d", "2030-01-15T23:30:00Z"),
            taskJson("UTC yesterday, local today", "p", "e", "2030-01-14T23:30:00Z"),
            taskJson("undated", "p", "f"),
        });
        auto service = makeService();
        service->setAccessToken(QStringLiteral("tok-1"));
        QCoro::waitFor(service->fetchAll());
        QCOMPARE(service->todayString(), QStringLiteral("2030-01-15"));
        QStringList dueToday;
        for (const TodoistTask &task : service->tasksDueToday())
            dueToday << task.id;
        QCOMPARE(dueToday, (QStringList{"today, timed", "today, all day", "UTC yesterday, local today"}));
        QCOMPARE(service->tasksWithDueTimeCount(), 4);
    }
};

QTEST_GUILESS_MAIN(TodoistServiceTest)
#include "test_todoist_service.moc"
