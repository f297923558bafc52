#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <optional>
#include <utility>

class QTcpServer;
class QTcpSocket;

namespace daybrook::oauth {

// The pieces of an OAuth 2 sign-in for a native app: a public client that
// registers itself, proves each authorization with PKCE, and receives the
// browser's redirect either through the URL scheme or on a loopback port.

inline constexpr auto schemeRedirectUri = "daybrook://oauth/todoist";
// Registered without a port: the server accepts any port on the loopback
// address, and each sign-in listens on a fresh one.
inline constexpr auto loopbackRedirectUri = "http://127.0.0.1/todoist";
inline constexpr auto loopbackPath = "/todoist";
inline constexpr auto scope = "data:read";
// An authorization left unanswered this long cannot be completed any more.
inline constexpr qint64 authorizationLifetimeSecs = 10 * 60;

using FormPairs = QList<std::pair<QString, QString>>;

// `bytes` bytes from the system's cryptographic generator, base64url-encoded
// without padding (32 bytes give 43 characters).
QString randomToken(int bytes = 32);
// base64url(SHA-256(verifier)) without padding: the S256 code challenge.
QString pkceChallenge(const QString &verifier);

// One authorization the browser has been sent to and that has not come back.
struct PendingAuthorization {
    QString state;
    QString verifier;
    QString clientId;
    QString redirectUri;
    QDateTime expiresAt;
};

PendingAuthorization newAuthorization(const QString &clientId, const QString &redirectUri,
                                      const QDateTime &now);
QUrl authorizeUrl(const QUrl &endpoint, const PendingAuthorization &pending);

QByteArray registrationBody(const QString &redirectUri);
// The client secret is sent only when the build carries one (a distributor's
// own registration); a self-registered client has none.
FormPairs exchangeForm(const PendingAuthorization &pending, const QString &code, const QString &clientSecret);
FormPairs refreshForm(const QString &refreshToken, const QString &clientId, const QString &clientSecret);
FormPairs revokeForm(const QString &token, const QString &hint, const QString &clientId,
                     const QString &clientSecret);

// The client this program registered with one authorization server, kept in
// the settings under that server's host (a client id is not a secret).
struct RegisteredClient {
    QString clientId;
    QString redirectUri;
};
std::optional<RegisteredClient> registeredClient(const QUrl &authorizeEndpoint);
void storeRegisteredClient(const QUrl &authorizeEndpoint, const RegisteredClient &client);
void forgetRegisteredClient(const QUrl &authorizeEndpoint);

bool isLoopbackRedirect(const QString &redirectUri);

// Listens on 127.0.0.1 for the one redirect of a sign-in: a GET of the expected
// path carrying the expected state (or an error without state). Anything else
// is answered with an error and ignored. After the redirect it stops listening.
class LoopbackRedirect : public QObject {
    Q_OBJECT
public:
    static constexpr int maxRequestBytes = 8 * 1024;

    LoopbackRedirect(QString expectedState, QObject *parent = nullptr);
    bool listen();
    QString redirectUri() const;

Q_SIGNALS:
    void received(const QUrl &url);

private:
    void serve(QTcpSocket *socket);

    QTcpServer *m_server;
    QString m_state;
    bool m_done = false;
};

} // namespace daybrook::oauth
