#pragma once

#include "core/TimeEntry.h"
#include "platform/SecretStore.h"
#include "todoist/TodoistAuth.h"
#include "todoist/TodoistEntries.h"
#include "todoist/TodoistModels.h"

#include <QCoroTask>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QTimer;

namespace daybrook {

// Where the service talks to; tests point every URL at 127.0.0.1.
struct TodoistConfig {
    QUrl apiBaseUrl;   // e.g. https://api.todoist.com
    QUrl authorizeUrl; // e.g. https://app.todoist.com/oauth/authorize
    QUrl tokenUrl;     // e.g. https://api.todoist.com/oauth/access_token
    QUrl registerUrl;  // e.g. https://todoist.com/oauth/register
    // Empty: the program registers itself as a public client at the first
    // sign-in. A distributor's own registration fills both in.
    QString clientId;
    QString clientSecret;
    int timeoutMs = 60000;          // a request fails after this long without any data moving
    int requestDeadlineMs = 120000; // ... and after this long in all, however slowly data moves
    // After a passing failure (time-out, network error, 5xx, 429) the lists are
    // fetched again after this long, doubling with each failure in a row.
    int retryBaseMs = 5000;
    // How often a locked or silent keyring is asked again for the stored sign-in.
    int secretRetryMs = 5000;

    // The values fixed at configure time.
    static TodoistConfig fromBuild();
};

// The one object through which the program talks to Todoist: the task and
// project lists, sign-in, the stored token and the project filter.
class TodoistService : public QObject {
    Q_OBJECT
public:
    // The secret store holds "access_token" and, for expiring tokens,
    // "refresh_token" and "expires_at". Without one, the desktop's Secret
    // Service under "com.daybrook.todoist" is used.
    explicit TodoistService(TodoistConfig config = TodoistConfig::fromBuild(), QObject *parent = nullptr);
    TodoistService(TodoistConfig config, std::shared_ptr<SecretStore> secrets, QObject *parent = nullptr);
    ~TodoistService() override;

    static constexpr auto secretServiceName = "com.daybrook.todoist";
    static constexpr qint64 maxBodyBytes = 16 * 1024 * 1024;

    bool isLoading() const { return m_loadingCount > 0; }
    const QList<TodoistTask> &tasks() const { return m_tasks; }
    const QList<TodoistProject> &projects() const { return m_projects; }
    const std::optional<QString> &error() const { return m_error; }
    const QSet<QString> &disabledProjectIds() const { return m_disabledProjectIds; }
    const std::optional<QString> &accessToken() const { return m_accessToken; }
    const std::optional<QString> &oauthState() const { return m_oauthState; }
    bool isConnected() const { return m_accessToken.has_value(); }
    // Todoist refused to renew the sign-in: the tokens are gone and the user
    // has to connect again.
    bool isSignInExpired() const { return m_signInExpired; }
    // The keyring has not said yet whether a sign-in is stored (it is locked,
    // or did not answer); it is asked again until it does.
    bool isWaitingForKeyring() const { return m_waitingForKeyring; }
    // Why a sign-in will not survive a restart (no keyring, or it refused to
    // store the token); absent while all is well.
    const std::optional<QString> &secretStoreNotice() const { return m_secretStoreNotice; }

    // Expiring tokens: the token that gets a new access token, and when the
    // current one runs out (absent: it never does).
    const std::optional<QString> &refreshToken() const { return m_refreshToken; }
    const std::optional<QDateTime> &accessTokenExpiresAt() const { return m_expiresAt; }

    // A token set from outside stands alone: it never expires and has no
    // refresh token.
    void setAccessToken(const std::optional<QString> &token);

    QCoro::Task<> fetchAll();
    void startOAuth();
    QCoro::Task<bool> handleOAuthCallback(QUrl url);
    void disconnect();
    // Connects with a personal API token after one request has shown that
    // Todoist accepts it. Gives the reason when it does not; nothing is stored then.
    QCoro::Task<std::optional<QString>> connectWithApiToken(QString token);

    // How startOAuth shows the sign-in page; the browser by default.
    using UrlOpener = std::function<void(const QUrl &)>;
    void setUrlOpener(UrlOpener opener);

    QList<TodoistTask> tasksDueToday() const;
    int tasksWithDueTimeCount() const;
    QString todayString() const;

    TimeEntryList toTimeEntries() const;

    QList<ProjectNode> projectTree() const;
    QStringList descendantProjectIds(const QString &id) const;
    ToggleState projectToggleState(const QString &id) const;
    void setProjectEnabled(const QString &id, bool enabled);

    // True while reads or writes of the secret store are outstanding (the
    // stored token at start, the write-back of every new token).
    bool hasPendingSecretOperations() const { return m_secretsRunning || !m_secretOps.empty(); }

Q_SIGNALS:
    void isLoadingChanged();
    void tasksChanged();
    void projectsChanged();
    void errorChanged();
    void disabledProjectIdsChanged();
    void accessTokenChanged();
    void oauthStateChanged();
    void signInExpiredChanged();
    void waitingForKeyringChanged();
    void secretStoreNoticeChanged();
    // The stored token has been looked up at start (whether or not one was found).
    void storedTokenLoaded();
    void secretOperationsFinished();

private:
    struct SecretOp {
        enum class Kind { Read, Write, Remove } kind;
        QString key;
        QString value;
        std::function<void(const SecretStore::Result &)> done;
    };
    struct PageOutcome {
        bool ok = false;
        std::optional<QString> nextCursor;
    };
    // Runs off the UI thread: decodes one page and takes in its items.
    using PageConsumer = std::function<PageOutcome(const QByteArray &body)>;
    using FormBody = QByteArray;
    // How a list fetch ended. Only a refusal of the token empties the list;
    // a passing failure is tried again.
    enum class Failure { None, Passing, Refused, Other };
    struct ListFailure {
        Failure kind = Failure::None;
        std::optional<qint64> retryAfterMs; // what the server asked for
    };
    template <typename Item> struct ListResult {
        QList<Item> items;
        ListFailure failure;
    };

    void loadStoredToken();
    void claimToken();
    void setWaitingForKeyring(bool waiting);
    void setSecretStoreNotice(const std::optional<QString> &notice);
    void assignAccessToken(const std::optional<QString> &token);
    void assignRefreshState(const std::optional<QString> &refresh, const std::optional<QDateTime> &expiresAt);
    void enqueueSecret(SecretOp op);
    QCoro::Task<> runSecretOps();

    void setError(const std::optional<QString> &error);
    void setLoading(bool loading);

    QCoro::Task<ListResult<TodoistProject>> fetchProjects(quint64 session);
    QCoro::Task<ListResult<TodoistTask>> fetchTasks(quint64 session);
    QCoro::Task<ListFailure> fetchPages(QString path, PageConsumer consume);
    void scheduleRetry(const ListFailure &projects, const ListFailure &tasks);
    void resetRetries();
    QCoro::Task<> beginAuthorization(bool mayRegisterAgain);
    QCoro::Task<std::optional<oauth::RegisteredClient>> registerClient();
    QCoro::Task<bool> exchangeToken(QString code, oauth::PendingAuthorization pending);
    QCoro::Task<> revoke(FormBody form);
    bool clientIsUnknown(const QByteArray &errorBody);
    void endAuthorization();
    QString clientIdInUse() const;
    void forgetSignIn();
    void dropRefusedSignIn();
    void setSignInExpired(bool expired);
    QCoro::Task<bool> ensureFreshToken();
    QCoro::Task<bool> refreshAccessToken(QString staleToken);
    void resumeRefreshWaiters();
    void writeDebugListing() const;

    TodoistConfig m_config;
    std::shared_ptr<SecretStore> m_secrets;
    QNetworkAccessManager *m_network = nullptr;
    UrlOpener m_urlOpener;
    // Coroutines hold a weak reference and stop when the service is gone.
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);

    int m_loadingCount = 0;
    QList<TodoistTask> m_tasks;
    QList<TodoistProject> m_projects;
    std::optional<QString> m_error;
    QSet<QString> m_disabledProjectIds;
    std::optional<QString> m_accessToken;
    std::optional<QString> m_oauthState;
    std::optional<QString> m_refreshToken;
    std::optional<QDateTime> m_expiresAt;
    bool m_signInExpired = false;

    // The authorization the browser was sent to, and its loopback listener
    // when the redirect comes back that way.
    std::optional<oauth::PendingAuthorization> m_pending;
    QPointer<oauth::LoopbackRedirect> m_loopback;
    quint64 m_authorizationRun = 0;
    // One new registration per Connect when the server has forgotten the client.
    bool m_mayRegisterAgain = false;

    // Changes on every sign-in and sign-out: results of requests made for an
    // earlier session are dropped.
    quint64 m_session = 0;
    bool m_tokenAssigned = false; // a token was assigned before the stored one arrived
    bool m_refreshing = false;
    // Requests that found a refresh under way. Resumed directly when it ends,
    // or when the service is destroyed: a queued resumption (a signal's)
    // would die with the service and leave them suspended for ever.
    std::vector<std::coroutine_handle<>> m_refreshWaiters;
    bool m_lastRefreshOk = false;
    bool m_waitingForKeyring = false;
    std::optional<QString> m_secretStoreNotice;

    QTimer *m_retryTimer = nullptr;
    int m_failuresInARow = 0;
    QDeadlineTimer m_notBefore{0}; // a server's Retry-After: no request before it

    std::deque<SecretOp> m_secretOps;
    bool m_secretsRunning = false;
};

} // namespace daybrook
