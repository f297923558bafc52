#include "todoist/TodoistAuth.h"

#include "core/UserDefaults.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace daybrook::oauth {

namespace {

QString base64Url(const QByteArray &bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// Settings keys are per authorization server, so that a build pointed at
// another server never sends it a client id registered elsewhere.
QString hostKey(const QString &name, const QUrl &endpoint) {
    QString authority = endpoint.host().toLower();
    if (endpoint.port() != -1)
        authority += QStringLiteral("_%1").arg(endpoint.port());
    return name + QLatin1Char('/') + authority;
}

const QString clientIdKey = QStringLiteral("todoistClientId");
const QString redirectUriKey = QStringLiteral("todoistRedirectUri");

QByteArray page(int status, const QByteArray &reason, const QByteArray &text) {
    const QByteArray body =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Daybrook</title></head>"
        "<body style=\"font-family: sans-serif; margin: 3em\"><p>" +
        text + "</p></body></html>";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: "
           "close\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

QString randomToken(int bytes) {
    QByteArray data;
    while (data.size() < bytes) {
        const quint32 value = QRandomGenerator::system()->generate();
        data.append(reinterpret_cast<const char *>(&value), sizeof value);
    }
    data.truncate(bytes);
    return base64Url(data);
}

QString pkceChallenge(const QString &verifier) {
    return base64Url(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256));
}

PendingAuthorization newAuthorization(const QString &clientId, const QString &redirectUri,
                                      const QDateTime &now) {
    return {randomToken(), randomToken(), clientId, redirectUri, now.addSecs(authorizationLifetimeSecs)};
}

QUrl authorizeUrl(const QUrl &endpoint, const PendingAuthorization &pending) {
    QUrl url = endpoint;
    // Encoded by hand: QUrlQuery would leave "+" and "%" in a value as they are.
    const auto item = [](const char *name, const QString &value) {
        return QString::fromLatin1(name) + QLatin1Char('=') +
               QString::fromLatin1(QUrl::toPercentEncoding(value, QByteArrayLiteral(":")));
    };
    const QStringList items{item("client_id", pending.clientId),
                            item("scope", QString::fromLatin1(scope)),
                            item("state", pending.state),
                            item("response_type", QStringLiteral("code")),
                            item("redirect_uri", pending.redirectUri),
                            item("code_challenge", pkceChallenge(pending.verifier)),
                            item("code_challenge_method", QStringLiteral("S256"))};
    url.setQuery(items.join(QLatin1Char('&')), QUrl::StrictMode);
    return url;
}

QByteArray registrationBody(const QString &redirectUri) {
    const QJsonObject body{{"client_name", "Daybrook"},
                           {"redirect_uris", QJsonArray{redirectUri}},
                           {"grant_types", QJsonArray{"authorization_code", "refresh_token"}},
                           {"response_types", QJsonArray{"code"}},
                           {"token_endpoint_auth_method", "none"},
                           {"scope", QString::fromLatin1(scope)}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

static void addClient(FormPairs &form, const QString &clientId, const QString &clientSecret) {
    form.append({QStringLiteral("client_id"), clientId});
    if (!clientSecret.isEmpty())
        form.append({QStringLiteral("client_secret"), clientSecret});
}

FormPairs exchangeForm(const PendingAuthorization &pending, const QString &code,
                       const QString &clientSecret) {
    FormPairs form{{QStringLiteral("grant_type"), QStringLiteral("authorization_code")}};
    addClient(form, pending.clientId, clientSecret);
    form += FormPairs{{QStringLiteral("code"), code},
                      {QStringLiteral("redirect_uri"), pending.redirectUri},
                      {QStringLiteral("code_verifier"), pending.verifier}};
    return form;
}

FormPairs refreshForm(const QString &refreshToken, const QString &clientId, const QString &clientSecret) {
    FormPairs form{{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                   {QStringLiteral("refresh_token"), refreshToken}};
    addClient(form, clientId, clientSecret);
    return form;
}

FormPairs revokeForm(const QString &token, const QString &hint, const QString &clientId,
                     const QString &clientSecret) {
    FormPairs form{{QStringLiteral("token"), token}, {QStringLiteral("token_type_hint"), hint}};
    addClient(form, clientId, clientSecret);
    return form;
}

std::optional<RegisteredClient> registeredClient(const QUrl &authorizeEndpoint) {
    const auto id = UserDefaults::stringValue(hostKey(clientIdKey, authorizeEndpoint));
    const auto redirect = UserDefaults::stringValue(hostKey(redirectUriKey, authorizeEndpoint));
    if (!id || id->isEmpty() || !redirect ||
        (*redirect != QLatin1String(schemeRedirectUri) && *redirect != QLatin1String(loopbackRedirectUri)))
        return std::nullopt;
    return RegisteredClient{*id, *redirect};
}

void storeRegisteredClient(const QUrl &authorizeEndpoint, const RegisteredClient &client) {
    UserDefaults::setValue(hostKey(clientIdKey, authorizeEndpoint), client.clientId);
    UserDefaults::setValue(hostKey(redirectUriKey, authorizeEndpoint), client.redirectUri);
}

void forgetRegisteredClient(const QUrl &authorizeEndpoint) {
    UserDefaults::remove(hostKey(clientIdKey, authorizeEndpoint));
    UserDefaults::remove(hostKey(redirectUriKey, authorizeEndpoint));
}

bool isLoopbackRedirect(const QString &redirectUri) {
    return QUrl(redirectUri).host() == QLatin1String("127.0.0.1");
}

// MARK: Loopback redirect

LoopbackRedirect::LoopbackRedirect(QString expectedState, QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this)), m_state(std::move(expectedState)) {
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        }
    });
}

bool LoopbackRedirect::listen() {
    return m_server->listen(QHostAddress(QHostAddress::LocalHost), 0);
}

QString LoopbackRedirect::redirectUri() const {
    return QStringLiteral("http://127.0.0.1:%1%2")
        .arg(m_server->serverPort())
        .arg(QLatin1String(loopbackPath));
}

void LoopbackRedirect::serve(QTcpSocket *socket) {
    // Only the request line matters; wait until the whole head has arrived so
    // that the answer does not reach a browser still sending.
    const QByteArray head = socket->property("head").toByteArray() + socket->read(maxRequestBytes + 1);
    if (head.size() > maxRequestBytes) {
        socket->write(page(431, "Request Header Fields Too Large", "Request too large."));
        socket->disconnectFromHost();
        return;
    }
    socket->setProperty("head", head);
    if (!head.contains("\r\n\r\n"))
        return;
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QUrl target =
        requestLine.size() == 3 ? QUrl::fromEncoded("http://127.0.0.1" + requestLine[1]) : QUrl();
    const QUrlQuery query(target);
    const QString state = query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
    const bool ours = !m_done && requestLine.value(0) == "GET" && target.isValid() &&
                      target.path() == QLatin1String(loopbackPath) &&
                      (state == m_state || (state.isEmpty() && query.hasQueryItem(QStringLiteral("error"))));
    if (!ours) {
        socket->write(page(404, "Not Found", "This is not a Daybrook sign-in."));
        socket->disconnectFromHost();
        return;
    }
    m_done = true;
    // The sign-in ends with this request and takes the listener with it; the
    // answer must still reach the browser.
    socket->setParent(nullptr);
    QTimer::singleShot(10000, socket, &QObject::deleteLater);
    socket->write(page(200, "OK", "You can close this tab and return to Daybrook."));
    socket->disconnectFromHost();
    m_server->close();
    Q_EMIT received(target);
}

} // namespace daybrook::oauth
