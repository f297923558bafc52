#include "todoist/TodoistService.h"

#include "BuildConfig.h"
#include "core/Clock.h"
#include "core/Logging.h"
#include "core/UserDefaults.h"
#include "todoist/TodoistDecoding.h"

#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDesktopServices>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>
#include <QUrlQuery>
#include <algorithm>
#include <type_traits>

namespace daybrook {

namespace {

const QString accessTokenKey = QStringLiteral("access_token");
const QString refreshTokenKey = QStringLiteral("refresh_token");
const QString expiresAtKey = QStringLiteral("expires_at");
const QString disabledProjectIdsKey = QStringLiteral("disabledProjectIds");
// Set while the stored token is a personal API token, which is never revoked:
// it is the user's own, shared with their other tools.
const QString apiTokenKey = QStringLiteral("todoistApiToken");
constexpr int pageLimit = 200;
// A list that never ends (a server handing out cursors forever) is refused
// rather than followed until memory runs out: 1000 pages are 200,000 items.
constexpr int maxPages = 1000;
// An expiring token is renewed this long before it runs out, so that it cannot
// expire between the check and the server reading it.
constexpr qint64 refreshMarginSecs = 60;
constexpr auto tooLargeProperty = "daybrookBodyTooLarge";
constexpr auto deadlineProperty = "daybrookDeadlinePassed";
// What the network layer may hold for us before we read it: the size cap is
// counted as bytes arrive, so at most this much lies beyond it.
constexpr qint64 readBufferBytes = 256 * 1024;
// Retries after passing failures wait at most this long, and a server's
// Retry-After is believed up to this much.
constexpr qint64 maxRetryDelayMs = 5 * 60 * 1000;
constexpr qint64 maxRetryAfterMs = 60 * 60 * 1000;

// What one HTTP exchange gave: either a complete response (status and body) or
// a transfer failure with its description.
struct HttpResult {
    bool transferFailed = false;
    QString transferError;
    bool tooLarge = false;
    int status = 0;
    QByteArray body;
    std::optional<qint64> retryAfterMs;

    bool isSuccess() const { return !transferFailed && status >= 200 && status < 300; }
};

// Errors from the network layer (nothing or not all of a response arrived), as
// opposed to HTTP error statuses, which Qt reports as errors too.
bool isTransferError(QNetworkReply::NetworkError error) {
    return error != QNetworkReply::NoError && (error < QNetworkReply::ContentAccessDenied);
}

QString tooLargeText() {
    return QStringLiteral("The server's reply is larger than %1 MiB")
        .arg(TodoistService::maxBodyBytes / (1024 * 1024));
}

// Retry-After as seconds or as an HTTP date; absent when missing or unreadable.
std::optional<qint64> parseRetryAfter(const QByteArray &value) {
    if (value.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = value.trimmed().toLongLong(&ok);
    qint64 ms = 0;
    if (ok) {
        ms = seconds > maxRetryAfterMs / 1000 ? maxRetryAfterMs : seconds * 1000;
    } else {
        QDateTime at = QLocale::c().toDateTime(QString::fromLatin1(value.trimmed()),
                                               QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
        if (!at.isValid())
            return std::nullopt;
        at.setTimeSpec(Qt::UTC);
        ms = Clock::now().msecsTo(at);
    }
    return std::clamp<qint64>(ms, 0, maxRetryAfterMs);
}

// Sends one request. Redirects are never followed: a request carries the token,
// and the only hosts that may see it are the configured ones. The body is read
// as it arrives and refused once it passes the size limit, with the network
// layer's buffer kept small so that a fast server cannot push far beyond it. A
// request ends after `timeoutMs` without data, and after `deadlineMs` in all.
QCoro::Task<HttpResult> send(QNetworkAccessManager *network, QNetworkRequest request, int timeoutMs,
                             int deadlineMs, std::optional<QByteArray> postBody) {
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = postBody ? network->post(request, *postBody) : network->get(request);
    reply->setReadBufferSize(readBufferBytes);
    const auto refuse = [reply] {
        if (reply->property(tooLargeProperty).toBool())
            return;
        reply->setProperty(tooLargeProperty, true);
        reply->abort();
    };
    auto body = std::make_shared<QByteArray>();
    const auto take = [reply, body, refuse] {
        if (reply->property(tooLargeProperty).toBool() || !reply->isOpen())
            return;
        if (body->isEmpty()) {
            bool known = false;
            const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
            if (known && length > 0 && length <= TodoistService::maxBodyBytes)
                body->reserve(length);
        }
        while (reply->bytesAvailable() > 0) {
            const QByteArray chunk = reply->read(readBufferBytes);
            if (body->size() + chunk.size() > TodoistService::maxBodyBytes) {
                body->clear();
                refuse();
                return;
            }
            body->append(chunk);
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, refuse] {
        bool ok = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
        if (ok && length > TodoistService::maxBodyBytes)
            refuse();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply] {
        reply->setProperty(deadlineProperty, true);
        reply->abort();
    });
    deadline->start(deadlineMs);

    co_await reply;
    deadline->stop();
    take();

    HttpResult result;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    result.tooLarge = reply->property(tooLargeProperty).toBool();
    if (!result.tooLarge)
        result.body = std::move(*body);
    if (result.tooLarge) {
        result.transferFailed = true;
        result.transferError = tooLargeText();
    } else if (isTransferError(reply->error()) || !status.isValid()) {
        result.transferFailed = true;
        // Only our own time-outs cancel a request here, and Qt calls those
        // "Operation canceled".
        result.transferError = reply->error() == QNetworkReply::OperationCanceledError
                                   ? QStringLiteral("The request timed out")
                                   : reply->errorString();
    }
    result.status = status.toInt();
    result.retryAfterMs = parseRetryAfter(reply->rawHeader("Retry-After"));
    reply->deleteLater();
    co_return result;
}

// Runs `work` on the thread pool; the future's result is `work`'s.
template <typename Work> QFuture<std::invoke_result_t<Work>> offUiThread(Work work) {
    using Result = std::invoke_result_t<Work>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, work = std::move(work)]() mutable {
        promise->addResult(work());
        promise->finish();
    });
    return future;
}

// An application/x-www-form-urlencoded body. Values are percent-encoded: an
// authorization code or token with "&", "=" or "+" in it must reach the server
// intact.
QByteArray formBody(const QList<std::pair<QString, QString>> &pairs) {
    QByteArray body;
    for (const auto &[name, value] : pairs) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return body;
}

bool refreshRefused(const QByteArray &body) {
    const auto error = decodeOAuthError(body);
    return error && (error->error == QLatin1String("invalid_grant") ||
                     error->error == QLatin1String("invalid_client"));
}

QUrl endpoint(const QUrl &base, const QString &path) {
    QUrl url = base;
    QString basePath = url.path();
    while (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    url.setPath(basePath + path);
    return url;
}

// When a token that lives `seconds` runs out. A lifetime beyond any real one
// is capped, so that the instant stays valid.
QDateTime expiryAfter(qint64 seconds) {
    constexpr qint64 century = 100LL * 366 * 24 * 3600;
    return Clock::now().addSecs(std::clamp<qint64>(seconds, 0, century));
}

} // namespace

TodoistConfig TodoistConfig::fromBuild() {
    TodoistConfig config;
    config.apiBaseUrl = QUrl(QString::fromUtf8(build::todoistApiUrl));
    config.authorizeUrl = QUrl(QString::fromUtf8(build::todoistAuthorizeUrl));
    config.tokenUrl = QUrl(QString::fromUtf8(build::todoistTokenUrl));
    config.registerUrl = QUrl(QString::fromUtf8(build::todoistRegisterUrl));
    config.clientId = QString::fromUtf8(build::todoistClientId);
    config.clientSecret = QString::fromUtf8(build::todoistClientSecret);
    return config;
}

TodoistService::TodoistService(TodoistConfig config, QObject *parent)
    : TodoistService(std::move(config),
                     std::make_shared<KeychainSecretStore>(QString::fromLatin1(secretServiceName)), parent) {}

TodoistService::TodoistService(TodoistConfig config, std::shared_ptr<SecretStore> secrets, QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_secrets(std::move(secrets)),
      m_network(new QNetworkAccessManager(this)),
      m_urlOpener([](const QUrl &url) { QDesktopServices::openUrl(url); }), m_retryTimer(new QTimer(this)) {
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        m_notBefore = QDeadlineTimer(0);
        fetchAll();
    });
    // The stored token arrives later; assigning it then writes it back and
    // starts the first fetch.
    loadStoredToken();
    if (const auto ids = UserDefaults::stringListValue(disabledProjectIdsKey))
        m_disabledProjectIds = QSet<QString>(ids->cbegin(), ids->cend());
}

TodoistService::~TodoistService() {
    // Let every suspended coroutine see that the service is gone before the
    // network manager aborts their replies and resumes them.
    m_lifetime.reset();
    // Deleting a reply does not emit finished, so a coroutine waiting on it would
    // never resume and its frame would leak: abort each reply first, which
    // finishes it and lets its waiter unwind.
    for (QNetworkReply *reply : m_network->findChildren<QNetworkReply *>())
        reply->abort();
    resumeRefreshWaiters();
    delete m_network;
    m_network = nullptr;
}

void TodoistService::setUrlOpener(UrlOpener opener) {
    m_urlOpener = std::move(opener);
}

// MARK: Token state and the secret store

void TodoistService::setAccessToken(const std::optional<QString> &token) {
    claimToken();
    assignRefreshState(std::nullopt, std::nullopt);
    assignAccessToken(token);
}

void TodoistService::assignAccessToken(const std::optional<QString> &token) {
    m_accessToken = token;
    Q_EMIT accessTokenChanged();
    // Delete, then write: the store keeps exactly one item for the key.
    enqueueSecret({SecretOp::Kind::Remove, accessTokenKey, {}, {}});
    if (token)
        enqueueSecret({SecretOp::Kind::Write, accessTokenKey, *token, {}});
}

void TodoistService::assignRefreshState(const std::optional<QString> &refresh,
                                        const std::optional<QDateTime> &expiresAt) {
    const bool had = m_refreshToken || m_expiresAt;
    m_refreshToken = refresh;
    m_expiresAt = expiresAt;
    if (!had && !refresh && !expiresAt)
        return;
    enqueueSecret({SecretOp::Kind::Remove, refreshTokenKey, {}, {}});
    if (refresh)
        enqueueSecret({SecretOp::Kind::Write, refreshTokenKey, *refresh, {}});
    enqueueSecret({SecretOp::Kind::Remove, expiresAtKey, {}, {}});
    if (expiresAt)
        enqueueSecret(
            {SecretOp::Kind::Write, expiresAtKey, expiresAt->toUTC().toString(Qt::ISODateWithMs), {}});
}

// A new account (or none) from now on: whatever was in flight, scheduled or
// still being looked up for the old one is void.
void TodoistService::claimToken() {
    ++m_session;
    m_tokenAssigned = true;
    setWaitingForKeyring(false);
    resetRetries();
}

// Only a keyring that is open and holds nothing means "not signed in". A locked
// or silent one is asked again later, and nothing is written or deleted
// meanwhile: a sign-in must survive a keyring that is unlocked a minute after
// login. A token found is used as it is, not written back.
void TodoistService::loadStoredToken() {
    struct Loaded {
        std::optional<QString> token, refresh;
        std::optional<QDateTime> expiresAt;
        bool unknown = false;
    };
    auto loaded = std::make_shared<Loaded>();
    const auto note = [loaded](const SecretStore::Result &result, std::optional<QString> &into) {
        if (result.status == SecretStore::Status::Unavailable)
            loaded->unknown = true;
        else if (result.status == SecretStore::Status::Ok && !result.value.isEmpty())
            into = result.value;
    };
    enqueueSecret(
        {SecretOp::Kind::Read, accessTokenKey, {}, [loaded, note](const SecretStore::Result &result) {
             note(result, loaded->token);
         }});
    enqueueSecret(
        {SecretOp::Kind::Read, refreshTokenKey, {}, [loaded, note](const SecretStore::Result &result) {
             note(result, loaded->refresh);
         }});
    enqueueSecret(
        {SecretOp::Kind::Read, expiresAtKey, {}, [this, loaded, note](const SecretStore::Result &result) {
             std::optional<QString> text;
             note(result, text);
             if (text) {
                 const QDateTime at = QDateTime::fromString(*text, Qt::ISODateWithMs);
                 if (at.isValid())
                     loaded->expiresAt = at.toUTC();
             }
             // A sign-in or sign-out meanwhile is newer than what was stored.
             if (m_tokenAssigned) {
                 Q_EMIT storedTokenLoaded();
                 return;
             }
             if (loaded->unknown) {
                 qCDebug(lcTodoist) << "the keyring cannot tell yet whether a sign-in is stored";
                 setWaitingForKeyring(true);
                 QTimer::singleShot(m_config.secretRetryMs, this, [this] {
                     if (!m_tokenAssigned)
                         loadStoredToken();
                 });
                 return;
             }
             setWaitingForKeyring(false);
             if (loaded->token) {
                 m_refreshToken = loaded->refresh;
                 m_expiresAt = loaded->expiresAt;
                 m_accessToken = loaded->token;
                 Q_EMIT accessTokenChanged();
                 fetchAll();
             }
             Q_EMIT storedTokenLoaded();
         }});
}

void TodoistService::enqueueSecret(SecretOp op) {
    m_secretOps.push_back(std::move(op));
    if (!m_secretsRunning)
        runSecretOps();
}

// One operation at a time, in order: a delete must not overtake the write that
// was asked for after it.
QCoro::Task<> TodoistService::runSecretOps() {
    const std::weak_ptr<int> alive = m_lifetime;
    const std::shared_ptr<SecretStore> store = m_secrets;
    m_secretsRunning = true;
    while (!m_secretOps.empty()) {
        SecretOp op = std::move(m_secretOps.front());
        m_secretOps.pop_front();
        SecretStore::Result result;
        if (!store) {
            result.status = SecretStore::Status::Missing;
            result.message = QStringLiteral("no secret store");
        } else if (op.kind == SecretOp::Kind::Read) {
            result = co_await store->read(op.key);
        } else if (op.kind == SecretOp::Kind::Write) {
            result = co_await store->write(op.key, op.value);
        } else {
            result = co_await store->remove(op.key);
        }
        if (alive.expired())
            co_return;
        if (result.status != SecretStore::Status::Ok && result.status != SecretStore::Status::NotFound)
            qCDebug(lcTodoist).noquote() << "secret store:" << result.message;
        if (result.status == SecretStore::Status::Missing)
            setSecretStoreNotice(
                QStringLiteral("No keyring is available: the sign-in lasts until Daybrook quits"));
        else if (op.kind == SecretOp::Kind::Write)
            setSecretStoreNotice(
                result.status == SecretStore::Status::Ok
                    ? std::nullopt
                    : std::optional(QStringLiteral(
                          "The keyring did not store the sign-in: it lasts until Daybrook quits")));
        if (op.done)
            op.done(result);
    }
    m_secretsRunning = false;
    Q_EMIT secretOperationsFinished();
}

// MARK: Observed state

void TodoistService::setError(const std::optional<QString> &error) {
    m_error = error;
    Q_EMIT errorChanged();
}

void TodoistService::setWaitingForKeyring(bool waiting) {
    if (m_waitingForKeyring == waiting)
        return;
    m_waitingForKeyring = waiting;
    Q_EMIT waitingForKeyringChanged();
}

void TodoistService::setSecretStoreNotice(const std::optional<QString> &notice) {
    if (m_secretStoreNotice == notice)
        return;
    m_secretStoreNotice = notice;
    Q_EMIT secretStoreNoticeChanged();
}

void TodoistService::setLoading(bool loading) {
    m_loadingCount += loading ? 1 : -1;
    Q_EMIT isLoadingChanged();
}

// MARK: Fetching

QCoro::Task<> TodoistService::fetchAll() {
    if (!m_accessToken)
        co_return;
    // The server asked us to wait: the retry already scheduled for that
    // moment fetches then.
    if (!m_notBefore.hasExpired())
        co_return;
    const std::weak_ptr<int> alive = m_lifetime;
    const quint64 session = m_session;
    setLoading(true);

    // Both tasks start at once and run concurrently.
    QCoro::Task<ListResult<TodoistProject>> projectsTask = fetchProjects(session);
    QCoro::Task<ListResult<TodoistTask>> tasksTask = fetchTasks(session);
    ListResult<TodoistProject> projects = co_await projectsTask;
    ListResult<TodoistTask> tasks = co_await tasksTask;
    if (alive.expired())
        co_return;

    // After a sign-out or a new sign-in these lists belong to nobody. A list
    // that failed for a passing reason keeps what the user sees; only a
    // refused token empties it.
    if (session == m_session) {
        // The old lists are freed on the thread pool: tens of thousands of
        // tasks take a frame or two to free.
        if (projects.failure.kind == Failure::None || projects.failure.kind == Failure::Refused) {
            offUiThread([old = std::exchange(m_projects, std::move(projects.items))] { return old.size(); });
            Q_EMIT projectsChanged();
        }
        if (tasks.failure.kind == Failure::None || tasks.failure.kind == Failure::Refused) {
            offUiThread([old = std::exchange(m_tasks, std::move(tasks.items))] { return old.size(); });
            Q_EMIT tasksChanged();
        }
        if (projects.failure.kind == Failure::None && tasks.failure.kind == Failure::None) {
            resetRetries();
            if (m_error)
                setError(std::nullopt);
        } else {
            scheduleRetry(projects.failure, tasks.failure);
        }
        writeDebugListing();
    }
    setLoading(false);
}

// Passing failures are tried again, each time twice as late, never sooner than
// a server's Retry-After and never later than a few minutes.
void TodoistService::scheduleRetry(const ListFailure &projects, const ListFailure &tasks) {
    if (projects.kind != Failure::Passing && tasks.kind != Failure::Passing)
        return;
    ++m_failuresInARow;
    const int doublings = std::min(m_failuresInARow - 1, 16);
    qint64 delayMs = std::min<qint64>(qint64(m_config.retryBaseMs) << doublings, maxRetryDelayMs);
    const qint64 asked = std::max(projects.retryAfterMs.value_or(0), tasks.retryAfterMs.value_or(0));
    if (asked > 0) {
        m_notBefore = QDeadlineTimer(asked);
        delayMs = std::max(delayMs, asked);
    }
    qCDebug(lcTodoist) << "fetching again in" << delayMs << "ms";
    m_retryTimer->start(int(std::min<qint64>(delayMs, maxRetryAfterMs)));
}

void TodoistService::resetRetries() {
    m_failuresInARow = 0;
    m_notBefore = QDeadlineTimer(0);
    m_retryTimer->stop();
}

QCoro::Task<TodoistService::ListResult<TodoistProject>> TodoistService::fetchProjects(quint64 session) {
    const std::weak_ptr<int> alive = m_lifetime;
    ListResult<TodoistProject> result;
    QSet<QString> seen;
    result.failure = co_await fetchPages(QStringLiteral("/api/v1/projects"), [&](const QByteArray &body) {
        auto page = decodeProjectPage(body);
        if (!page) {
            qCDebug(lcTodoist).noquote() << "projects: cannot decode a page:" << forLog(page.error);
            return PageOutcome{};
        }
        for (TodoistProject &project : page.value->results) {
            if (!seen.contains(project.id)) {
                seen.insert(project.id);
                result.items.append(std::move(project));
            }
        }
        if (!page.value->nextCursor)
            seen = {}; // freed here, not on the UI thread
        return PageOutcome{true, page.value->nextCursor};
    });
    if (alive.expired())
        co_return {};
    if (result.failure.kind != Failure::None) {
        result.items.clear();
        if (session == m_session)
            setError(QStringLiteral("Failed to fetch projects"));
    }
    co_return result;
}

QCoro::Task<TodoistService::ListResult<TodoistTask>> TodoistService::fetchTasks(quint64 session) {
    const std::weak_ptr<int> alive = m_lifetime;
    ListResult<TodoistTask> result;
    QSet<QString> seen;
    result.failure = co_await fetchPages(QStringLiteral("/api/v1/tasks"), [&](const QByteArray &body) {
        auto page = decodeTaskPage(body);
        if (!page) {
            qCDebug(lcTodoist).noquote() << "tasks: cannot decode a page:" << forLog(page.error);
            return PageOutcome{};
        }
        for (TodoistTask &task : page.value->results) {
            if (!seen.contains(task.id)) {
                seen.insert(task.id);
                result.items.append(std::move(task));
            }
        }
        if (!page.value->nextCursor)
            seen = {}; // freed here, not on the UI thread
        return PageOutcome{true, page.value->nextCursor};
    });
    if (alive.expired())
        co_return {};
    if (result.failure.kind != Failure::None) {
        result.items.clear();
        if (session == m_session)
            setError(QStringLiteral("Failed to fetch tasks"));
    }
    co_return result;
}

// Follows one list through all its pages. Every page carries the current token;
// a 401 gets one refresh of an expiring token and one retry of that page. Pages
// are decoded on the thread pool (a large account's page takes long enough to
// freeze the bar); `consume` runs there while this waits.
QCoro::Task<TodoistService::ListFailure> TodoistService::fetchPages(QString path, PageConsumer consume) {
    const std::weak_ptr<int> alive = m_lifetime;
    std::optional<QString> cursor;
    QSet<QString> cursorsSeen;
    for (int page = 0; page < maxPages; ++page) {
        bool retried = false;
        HttpResult result;
        for (;;) {
            if (!co_await ensureFreshToken() || alive.expired() || !m_accessToken)
                co_return ListFailure{Failure::Other, {}};
            const QString token = *m_accessToken;
            QUrl url = endpoint(m_config.apiBaseUrl, path);
            QString query = QStringLiteral("limit=%1").arg(pageLimit);
            if (cursor)
                query += QStringLiteral("&cursor=") + QString::fromLatin1(QUrl::toPercentEncoding(*cursor));
            url.setQuery(query, QUrl::StrictMode);
            QNetworkRequest request(url);
            request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
            qCDebug(lcTodoist).noquote() << "GET" << url.path() << "page" << page + 1;
            result = co_await send(m_network, request, m_config.timeoutMs, m_config.requestDeadlineMs,
                                   std::nullopt);
            if (alive.expired())
                co_return ListFailure{Failure::Other, {}};
            if (!result.transferFailed && result.status == 401 && !retried && m_refreshToken) {
                retried = true;
                if (!co_await refreshAccessToken(token) || alive.expired())
                    co_return ListFailure{Failure::Other, {}};
                continue;
            }
            break;
        }
        if (!result.isSuccess()) {
            qCDebug(lcTodoist).noquote()
                << path << "failed:"
                << (result.transferFailed ? forLog(result.transferError)
                                          : QStringLiteral("HTTP %1").arg(result.status));
            if (result.status == 401 || result.status == 403)
                co_return ListFailure{Failure::Refused, {}};
            const bool passing =
                result.transferFailed ? !result.tooLarge : result.status >= 500 || result.status == 429;
            co_return ListFailure{passing ? Failure::Passing : Failure::Other, result.retryAfterMs};
        }
        // Named, not temporary: GCC 12 mishandles temporaries inside co_await.
        const QByteArray body = std::move(result.body);
        QFuture<PageOutcome> decoding = offUiThread([&consume, body] { return consume(body); });
        const PageOutcome outcome = co_await decoding;
        if (alive.expired() || !outcome.ok)
            co_return ListFailure{Failure::Other, {}};
        if (!outcome.nextCursor)
            co_return ListFailure{};
        if (cursorsSeen.contains(*outcome.nextCursor)) {
            qCDebug(lcTodoist).noquote() << path << "failed: the server repeated a cursor";
            co_return ListFailure{Failure::Other, {}};
        }
        cursorsSeen.insert(*outcome.nextCursor);
        cursor = outcome.nextCursor;
    }
    qCDebug(lcTodoist).noquote() << path << "failed: more than" << maxPages << "pages";
    co_return ListFailure{Failure::Other, {}};
}

namespace {
struct RefreshWait {
    std::vector<std::coroutine_handle<>> &waiters;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiter) { waiters.push_back(waiter); }
    void await_resume() const noexcept {}
};
} // namespace

QCoro::Task<bool> TodoistService::ensureFreshToken() {
    if (!m_accessToken || !m_expiresAt || !m_refreshToken)
        co_return true;
    if (Clock::now().secsTo(*m_expiresAt) > refreshMarginSecs)
        co_return true;
    co_return co_await refreshAccessToken(*m_accessToken);
}

// One refresh at a time: refresh tokens rotate, and sending a spent one again
// can revoke the app's access. Requests that find a refresh under way wait for
// it and then use the token it brought.
QCoro::Task<bool> TodoistService::refreshAccessToken(QString staleToken) {
    const std::weak_ptr<int> alive = m_lifetime;
    if (m_refreshing) {
        co_await RefreshWait{m_refreshWaiters};
        co_return !alive.expired() && m_lastRefreshOk && m_accessToken.has_value();
    }
    if (m_accessToken && *m_accessToken != staleToken)
        co_return true; // someone else renewed it meanwhile
    if (!m_refreshToken)
        co_return false;

    m_refreshing = true;
    const quint64 session = m_session;
    QNetworkRequest request(m_config.tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    const QByteArray body =
        formBody(oauth::refreshForm(*m_refreshToken, clientIdInUse(), m_config.clientSecret));
    qCDebug(lcTodoist).noquote() << "refreshing the access token";
    const HttpResult result =
        co_await send(m_network, request, m_config.timeoutMs, m_config.requestDeadlineMs, body);
    if (alive.expired())
        co_return false;

    bool ok = false;
    if (session != m_session) {
        // Signed out or in again meanwhile: this answer is for nobody.
    } else if (!result.transferFailed &&
               (result.status == 401 || (result.status == 400 && refreshRefused(result.body)))) {
        // Sending the refused token again would never work (and a replayed
        // refresh token can get the app's access revoked).
        qCDebug(lcTodoist).noquote() << "the refresh token was refused: HTTP" << result.status;
        clientIsUnknown(result.body);
        dropRefusedSignIn();
    } else if (!result.isSuccess() || result.status != 200) {
        qCDebug(lcTodoist).noquote() << "token refresh failed:"
                                     << (result.transferFailed
                                             ? forLog(result.transferError)
                                             : QStringLiteral("HTTP %1").arg(result.status));
    } else if (const auto token = decodeTokenResponse(result.body); !token) {
        qCDebug(lcTodoist).noquote() << "token refresh failed:" << forLog(token.error);
    } else {
        // A retried refresh gets no new refresh token; the one we have stays valid.
        const std::optional<QString> refresh =
            token.value->refreshToken ? token.value->refreshToken : m_refreshToken;
        std::optional<QDateTime> expiresAt;
        if (token.value->expiresIn)
            expiresAt = expiryAfter(*token.value->expiresIn);
        assignRefreshState(refresh, expiresAt);
        assignAccessToken(token.value->accessToken);
        ok = true;
    }
    m_refreshing = false;
    m_lastRefreshOk = ok;
    resumeRefreshWaiters();
    co_return ok;
}

void TodoistService::resumeRefreshWaiters() {
    for (const std::coroutine_handle<> waiter : std::exchange(m_refreshWaiters, {}))
        waiter.resume();
}

void TodoistService::writeDebugListing() const {
    if (!lcTodoist().isDebugEnabled())
        return;
    const QList<TodoistTask> today = tasksDueToday();
    qCDebug(lcTodoist).noquote() << QStringLiteral("=== Todoist Debug: %1 tasks due today (%2) ===")
                                        .arg(today.size())
                                        .arg(todayString());
    for (const TodoistTask &task : today) {
        const QString time = task.due->datetime ? QStringLiteral("datetime: ") + *task.due->datetime
                                                : QStringLiteral("no specific time");
        const QString duration =
            task.duration ? QStringLiteral("%1 %2").arg(task.duration->amount).arg(task.duration->unit)
                          : QStringLiteral("no duration");
        qCDebug(lcTodoist).noquote() << forLog(QStringLiteral("  - ") + task.content + " | " + time + " | " +
                                               duration);
    }
    qCDebug(lcTodoist).noquote() << "=== End Todoist Debug ===";
}

// MARK: Sign-in

void TodoistService::startOAuth() {
    beginAuthorization(true);
}

QString TodoistService::clientIdInUse() const {
    if (!m_config.clientId.isEmpty())
        return m_config.clientId;
    const auto client = oauth::registeredClient(m_config.authorizeUrl);
    return client ? client->clientId : QString();
}

// Each Connect starts a fresh authorization: new state, new PKCE verifier, and
// the browser sent to the authorize page. A self-registered client is
// registered first when this server has not seen it yet.
QCoro::Task<> TodoistService::beginAuthorization(bool mayRegisterAgain) {
    const std::weak_ptr<int> alive = m_lifetime;
    endAuthorization();
    const quint64 run = ++m_authorizationRun;

    std::optional<oauth::RegisteredClient> client;
    if (!m_config.clientId.isEmpty())
        client = oauth::RegisteredClient{m_config.clientId, QString::fromLatin1(oauth::schemeRedirectUri)};
    else
        client = oauth::registeredClient(m_config.authorizeUrl);
    if (!client) {
        client = co_await registerClient();
        if (alive.expired() || run != m_authorizationRun || !client)
            co_return;
    }

    oauth::PendingAuthorization pending =
        oauth::newAuthorization(client->clientId, client->redirectUri, Clock::now());
    if (oauth::isLoopbackRedirect(client->redirectUri)) {
        auto *listener = new oauth::LoopbackRedirect(pending.state, this);
        if (!listener->listen()) {
            delete listener;
            setError(QStringLiteral("Could not wait for the browser's answer on this computer"));
            co_return;
        }
        pending.redirectUri = listener->redirectUri();
        connect(listener, &oauth::LoopbackRedirect::received, this, [this](const QUrl &url) {
            [](QPointer<TodoistService> service, QUrl callback) -> QCoro::Task<> {
                if (service)
                    co_await service->handleOAuthCallback(std::move(callback));
            }(this, url);
        });
        m_loopback = listener;
        // The listener lives no longer than the authorization it waits for.
        QTimer::singleShot(oauth::authorizationLifetimeSecs * 1000, listener, &QObject::deleteLater);
    }
    m_pending = pending;
    m_oauthState = pending.state;
    Q_EMIT oauthStateChanged();
    m_mayRegisterAgain = mayRegisterAgain;

    const QUrl url = oauth::authorizeUrl(m_config.authorizeUrl, pending);
    if (url.isValid() && m_urlOpener)
        m_urlOpener(url);
}

void TodoistService::endAuthorization() {
    if (m_loopback)
        m_loopback->deleteLater();
    m_loopback = nullptr;
    m_pending.reset();
    if (m_oauthState) {
        m_oauthState.reset();
        Q_EMIT oauthStateChanged();
    }
}

// Registers this program as a public client. The URL-scheme redirect comes
// first; a server that refuses it gets the loopback address instead.
QCoro::Task<std::optional<oauth::RegisteredClient>> TodoistService::registerClient() {
    const std::weak_ptr<int> alive = m_lifetime;
    const auto fail = [this](const QString &why) {
        setError(QStringLiteral("Could not register Daybrook with Todoist: ") + why);
        return std::optional<oauth::RegisteredClient>();
    };
    if (!m_config.registerUrl.isValid() || m_config.registerUrl.isEmpty())
        co_return fail(QStringLiteral("no registration address is configured"));
    for (const char *redirect : {oauth::schemeRedirectUri, oauth::loopbackRedirectUri}) {
        QNetworkRequest request(m_config.registerUrl);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        qCDebug(lcTodoist).noquote() << "registering a client for" << redirect;
        const HttpResult result =
            co_await send(m_network, request, m_config.timeoutMs, m_config.requestDeadlineMs,
                          oauth::registrationBody(QString::fromLatin1(redirect)));
        if (alive.expired())
            co_return std::nullopt;
        if (result.transferFailed)
            co_return fail(result.transferError);
        if (result.isSuccess()) {
            const auto registration = decodeClientRegistration(result.body);
            if (!registration)
                co_return fail(registration.error);
            // A server may narrow what it accepted; only a redirect it kept is usable.
            const QStringList &kept = registration.value->redirectUris;
            if (kept.isEmpty() || kept.contains(QLatin1String(redirect))) {
                const oauth::RegisteredClient client{registration.value->clientId,
                                                     QString::fromLatin1(redirect)};
                oauth::storeRegisteredClient(m_config.authorizeUrl, client);
                co_return client;
            }
            continue;
        }
        const auto error = decodeOAuthError(result.body);
        if (error && (error->error == QLatin1String("invalid_redirect_uri") ||
                      error->error == QLatin1String("invalid_client_metadata")))
            continue;
        co_return fail(error && error->description ? *error->description
                                                   : QStringLiteral("HTTP %1").arg(result.status));
    }
    co_return fail(QStringLiteral("no redirect address was accepted"));
}

// The server no longer knows the client id (registrations can be dropped on
// its side): forget it, so that the next authorization registers again.
bool TodoistService::clientIsUnknown(const QByteArray &errorBody) {
    const auto error = decodeOAuthError(errorBody);
    if (!error || error->error != QLatin1String("invalid_client"))
        return false;
    if (m_config.clientId.isEmpty())
        oauth::forgetRegisteredClient(m_config.authorizeUrl);
    return true;
}

QCoro::Task<bool> TodoistService::handleOAuthCallback(QUrl url) {
    const auto fail = [this](const QString &text = QStringLiteral("Invalid OAuth callback")) {
        setError(text);
        return false;
    };
    if (!url.isValid())
        co_return fail();
    // The first item of each name counts; an item without a value is as good
    // as none.
    std::optional<QString> code, state, error, description;
    const QUrlQuery query(url);
    for (const auto &[name, value] : query.queryItems(QUrl::FullyDecoded)) {
        std::optional<QString> *slot = name == QLatin1String("code")                ? &code
                                       : name == QLatin1String("state")             ? &state
                                       : name == QLatin1String("error")             ? &error
                                       : name == QLatin1String("error_description") ? &description
                                                                                    : nullptr;
        if (slot && !*slot)
            *slot = value;
    }
    // An error redirect may come without state; one with a foreign state is
    // not ours to act on.
    if (error && !error->isEmpty() && m_oauthState &&
        (!state || state->isEmpty() || *state == *m_oauthState)) {
        endAuthorization();
        if (*error == QLatin1String("access_denied"))
            co_return fail(QStringLiteral("Sign-in cancelled"));
        if ((*error == QLatin1String("invalid_client") || *error == QLatin1String("unauthorized_client")) &&
            m_config.clientId.isEmpty() && m_mayRegisterAgain) {
            oauth::forgetRegisteredClient(m_config.authorizeUrl);
            beginAuthorization(false);
            co_return false;
        }
        co_return fail(description && !description->trimmed().isEmpty()
                           ? QStringLiteral("Sign-in failed: ") + description->trimmed()
                           : QStringLiteral("Sign-in failed (%1)").arg(*error));
    }
    if (!code || code->isEmpty() || !state || state->isEmpty())
        co_return fail();
    if (!m_oauthState || !m_pending || *m_oauthState != *state)
        co_return fail();
    // Single use: whatever happens next, this state is spent.
    const oauth::PendingAuthorization pending = *m_pending;
    endAuthorization();
    if (Clock::now() > pending.expiresAt)
        co_return fail(QStringLiteral("The sign-in took too long. Connect again."));
    co_return co_await exchangeToken(*code, pending);
}

QCoro::Task<bool> TodoistService::exchangeToken(QString code, oauth::PendingAuthorization pending) {
    const std::weak_ptr<int> alive = m_lifetime;
    QNetworkRequest request(m_config.tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    const QByteArray body = formBody(oauth::exchangeForm(pending, code, m_config.clientSecret));
    const HttpResult result =
        co_await send(m_network, request, m_config.timeoutMs, m_config.requestDeadlineMs, body);
    if (alive.expired())
        co_return false;
    if (result.transferFailed) {
        setError(result.transferError);
        co_return false;
    }
    if (result.status != 200) {
        qCDebug(lcTodoist).noquote() << "token exchange answered HTTP" << result.status;
        if (clientIsUnknown(result.body) && m_config.clientId.isEmpty() && m_mayRegisterAgain) {
            // The code belonged to a client the server has forgotten: start over.
            beginAuthorization(false);
            co_return false;
        }
        const auto error = decodeOAuthError(result.body);
        setError(error && error->description
                     ? QStringLiteral("Failed to exchange token: ") + *error->description
                     : QStringLiteral("Failed to exchange token"));
        co_return false;
    }
    const auto token = decodeTokenResponse(result.body);
    if (!token) {
        setError(QStringLiteral("The token response could not be read: %1").arg(token.error));
        co_return false;
    }

    claimToken();
    std::optional<QDateTime> expiresAt;
    if (token.value->expiresIn)
        expiresAt = expiryAfter(*token.value->expiresIn);
    UserDefaults::remove(apiTokenKey);
    assignRefreshState(token.value->refreshToken, expiresAt);
    assignAccessToken(token.value->accessToken);
    setSignInExpired(false);
    setError(std::nullopt);
    co_await fetchAll();
    co_return true;
}

QCoro::Task<std::optional<QString>> TodoistService::connectWithApiToken(QString token) {
    const std::weak_ptr<int> alive = m_lifetime;
    token = token.trimmed();
    // The token goes into a header: nothing but printable ASCII may reach it.
    const bool plain = std::all_of(token.cbegin(), token.cend(),
                                   [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
    if (token.isEmpty() || token.size() > 512 || !plain)
        co_return QStringLiteral("That does not look like an API token. Copy it again from Todoist.");
    QUrl url = endpoint(m_config.apiBaseUrl, QStringLiteral("/api/v1/projects"));
    url.setQuery(QStringLiteral("limit=1"));
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    const HttpResult result =
        co_await send(m_network, request, m_config.timeoutMs, m_config.requestDeadlineMs, std::nullopt);
    if (alive.expired())
        co_return QString();
    if (result.transferFailed)
        co_return QStringLiteral("Could not reach Todoist: ") + result.transferError;
    if (result.status == 401 || result.status == 403)
        co_return QStringLiteral("Todoist did not accept this token. Check that you copied all of it.");
    if (!result.isSuccess())
        co_return QStringLiteral("Todoist could not check the token (HTTP %1). Try again later.")
            .arg(result.status);

    endAuthorization();
    claimToken();
    UserDefaults::setValue(apiTokenKey, true);
    assignRefreshState(std::nullopt, std::nullopt);
    assignAccessToken(token);
    setSignInExpired(false);
    setError(std::nullopt);
    fetchAll();
    co_return std::nullopt;
}

// Signed out: no token, and nothing of the old account's left on the bar.
void TodoistService::forgetSignIn() {
    claimToken();
    assignRefreshState(std::nullopt, std::nullopt);
    assignAccessToken(std::nullopt);
    m_tasks.clear();
    Q_EMIT tasksChanged();
    m_projects.clear();
    Q_EMIT projectsChanged();
    setError(std::nullopt);
}

void TodoistService::dropRefusedSignIn() {
    forgetSignIn();
    setSignInExpired(true);
}

void TodoistService::setSignInExpired(bool expired) {
    m_signInExpired = expired;
    Q_EMIT signInExpiredChanged();
}

// Best effort: the sign-out happens here whatever Todoist answers.
QCoro::Task<> TodoistService::revoke(FormBody form) {
    const std::weak_ptr<int> alive = m_lifetime;
    QNetworkRequest request(endpoint(m_config.apiBaseUrl, QStringLiteral("/api/v1/revoke")));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    const HttpResult result =
        co_await send(m_network, request, m_config.timeoutMs, m_config.requestDeadlineMs, form);
    if (!alive.expired() && !result.isSuccess())
        qCDebug(lcTodoist).noquote() << "revocation failed:"
                                     << (result.transferFailed
                                             ? result.transferError
                                             : QStringLiteral("HTTP %1").arg(result.status));
}

void TodoistService::disconnect() {
    const bool personal = UserDefaults::boolValue(apiTokenKey).value_or(false);
    if (!personal) {
        const QString clientId = clientIdInUse();
        if (m_refreshToken)
            revoke(formBody(oauth::revokeForm(*m_refreshToken, QStringLiteral("refresh_token"), clientId,
                                              m_config.clientSecret)));
        if (m_accessToken)
            revoke(formBody(oauth::revokeForm(*m_accessToken, QStringLiteral("access_token"), clientId,
                                              m_config.clientSecret)));
    }
    UserDefaults::remove(apiTokenKey);
    forgetSignIn();
    if (m_signInExpired)
        setSignInExpired(false);
    m_disabledProjectIds.clear();
    Q_EMIT disabledProjectIdsChanged();
    UserDefaults::remove(disabledProjectIdsKey);
}

// MARK: Derived views

QList<TodoistTask> TodoistService::tasksDueToday() const {
    const QString today = todayString();
    QList<TodoistTask> result;
    for (const TodoistTask &task : m_tasks) {
        if (task.due && task.due->date == today)
            result.append(task);
    }
    return result;
}

int TodoistService::tasksWithDueTimeCount() const {
    return int(std::count_if(m_tasks.cbegin(), m_tasks.cend(),
                             [](const TodoistTask &task) { return task.due && task.due->datetime; }));
}

QString TodoistService::todayString() const {
    return Clock::now().toLocalTime().date().toString(Qt::ISODate);
}

TimeEntryList TodoistService::toTimeEntries() const {
    return todoistTimeEntries(m_tasks, m_projects, m_disabledProjectIds, todayString());
}

// MARK: Project filter

QList<ProjectNode> TodoistService::projectTree() const {
    return buildProjectTree(m_projects);
}

QStringList TodoistService::descendantProjectIds(const QString &id) const {
    return projectDescendantIds(m_projects, id);
}

ToggleState TodoistService::projectToggleState(const QString &id) const {
    return projectToggleStateOf(m_projects, m_disabledProjectIds, id);
}

void TodoistService::setProjectEnabled(const QString &id, bool enabled) {
    QStringList members = descendantProjectIds(id);
    members.prepend(id);
    for (const QString &member : std::as_const(members)) {
        if (enabled)
            m_disabledProjectIds.remove(member);
        else
            m_disabledProjectIds.insert(member);
        Q_EMIT disabledProjectIdsChanged();
    }
    QStringList stored(m_disabledProjectIds.cbegin(), m_disabledProjectIds.cend());
    stored.sort();
    UserDefaults::setValue(disabledProjectIdsKey, stored);
}

} // namespace daybrook
