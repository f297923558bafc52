#include "support/TodoistAuthServer.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

namespace daybrook::test {

namespace {

using Status = QHttpServerResponder::StatusCode;

QHttpServerResponse error(const QString &code, Status status = Status::BadRequest, const QString &text = {}) {
    return QHttpServerResponse(QJsonObject{{"error", code}, {"error_description", text}}, status);
}

QString value(const QUrlQuery &query, const char *name) {
    return query.queryItemValue(QLatin1String(name), QUrl::FullyDecoded);
}

QHttpServerResponse respond(const Reply &reply) {
    QHttpServerResponse response(reply.contentType, reply.body, Status(reply.status));
    for (const auto &[name, text] : reply.headers)
        response.addHeader(name, text);
    return response;
}

} // namespace

Reply jsonReply(const QJsonObject &object, int status) {
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

Reply pageReply(const QJsonArray &results, const QJsonValue &cursor) {
    return jsonReply({{"results", results}, {"next_cursor", cursor}});
}

Reply tokenReply(const QString &access, qint64 expiresIn, const QString &refresh) {
    QJsonObject object{{"access_token", access}, {"token_type", "Bearer"}, {"refresh_token", refresh}};
    if (expiresIn >= 0)
        object.insert("expires_in", expiresIn);
    return jsonReply(object);
}

TodoistAuthServer::TodoistAuthServer() {
    m_server.route("/oauth/register", [this](const QHttpServerRequest &request) {
        const QJsonObject body = QJsonDocument::fromJson(request.body()).object();
        const QJsonArray uris = body.value("redirect_uris").toArray();
        if (body.value("token_endpoint_auth_method") != "none" || body.value("client_name") != "Daybrook" ||
            body.value("response_types") != QJsonArray{"code"} ||
            body.value("grant_types") != QJsonArray{"authorization_code", "refresh_token"} ||
            uris.size() != 1)
            return error("invalid_client_metadata");
        const QString uri = uris[0].toString();
        if (refuseSchemeRedirects && !uri.startsWith(QLatin1String("http://127.0.0.1/")))
            return error("invalid_redirect_uri");
        const QString id = QStringLiteral("client-%1").arg(++m_serial);
        clients.insert(id, uri);
        ++registrations;
        return QHttpServerResponse(QJsonObject{{"client_id", id}, {"redirect_uris", uris}}, Status::Created);
    });
    m_server.route("/oauth/authorize", [this](const QHttpServerRequest &request) {
        const QUrlQuery query(request.url());
        const QString redirect = value(query, "redirect_uri"), client = value(query, "client_id");
        QUrl target(redirect);
        QUrlQuery answer{{"state", value(query, "state")}};
        if (!clients.contains(client))
            answer.addQueryItem("error", "invalid_client");
        // RFC 8252: a loopback redirect matches whatever port the client listens on.
        else if (QUrl(clients[client]) != target.adjusted(QUrl::RemovePort))
            return QHttpServerResponse("text/plain", "redirect_uri mismatch", Status::BadRequest);
        else if (value(query, "response_type") != "code" || value(query, "code_challenge_method") != "S256" ||
                 value(query, "code_challenge").size() != 43 || value(query, "scope") != "data:read")
            answer.addQueryItem("error", "invalid_request");
        else if (denyAccess)
            answer.addQueryItem("error", "access_denied");
        else {
            const QString code = QStringLiteral("code-%1").arg(++m_serial);
            m_codes.insert(code, {client, value(query, "code_challenge"), redirect});
            answer.addQueryItem("code", code);
        }
        target.setQuery(answer);
        lastRedirectTarget = target.toString(QUrl::FullyEncoded);
        return respond({302, {}, "text/plain", {{"Location", lastRedirectTarget.toUtf8()}}});
    });
    m_server.route("/oauth/access_token",
                   [this](const QHttpServerRequest &request) { return token(request); });
    m_server.route("/api/v1/revoke", [this](const QHttpServerRequest &request) {
        const QString token = value(QUrlQuery(QString::fromUtf8(request.body())), "token");
        revoked << token;
        accessTokens.remove(token);
        refreshTokens.remove(token);
        return QHttpServerResponse(Status::Ok);
    });
    pages["projects"][""] = pageReply({projectJson("p1", "Work", {}, 1)});
    pages["tasks"][""] = pageReply({taskJson("t1", "p1", "Write report", "2030-01-15T09:30:00")});
    for (const char *list : {"projects", "tasks"}) {
        m_server.route(
            QStringLiteral("/api/v1/") + QLatin1String(list), [this, list](const QHttpServerRequest &r) {
                record(r);
                const QByteArray auth = r.value("Authorization");
                if (!auth.startsWith("Bearer ") || !accessTokens.contains(QString::fromUtf8(auth.mid(7))))
                    return error("Unauthorized", Status::Unauthorized);
                const QString cursor = r.query().queryItemValue(QStringLiteral("cursor"), QUrl::FullyDecoded);
                return respond(pages.value(QLatin1String(list))
                                   .value(cursor, jsonReply({{"error", "Invalid cursor"}}, 400)));
            });
    }
    m_port = m_server.listen(QHostAddress::LocalHost);
}

QUrl TodoistAuthServer::url(const QString &path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
}

void TodoistAuthServer::record(const QHttpServerRequest &r) {
    requests[r.url().path()].append({r.query(), QUrlQuery(QString::fromUtf8(r.body()))});
}

TodoistConfig TodoistAuthServer::config() const {
    return {url(), url("/oauth/authorize"), url("/oauth/access_token"), url("/oauth/register"), {}, {}, 5000};
}

QHttpServerResponse TodoistAuthServer::token(const QHttpServerRequest &request) {
    record(request);
    if (!tokenReplies.isEmpty())
        return respond(tokenReplies.takeFirst());
    const QUrlQuery form(QString::fromUtf8(request.body()));
    const QString client = value(form, "client_id");
    if (!clients.contains(client))
        return error("invalid_client", Status::Unauthorized);
    if (form.hasQueryItem("client_secret"))
        return error("invalid_request", Status::BadRequest, "public clients have no secret");
    if (value(form, "grant_type") == "refresh_token") {
        if (!refreshTokens.remove(value(form, "refresh_token")))
            return error("invalid_grant");
        return issueTokens();
    }
    const Grant grant = m_codes.take(value(form, "code"));
    const QByteArray verifier = value(form, "code_verifier").toLatin1();
    const QByteArray challenge =
        QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    if (value(form, "grant_type") != "authorization_code" || grant.clientId != client ||
        grant.redirectUri != value(form, "redirect_uri"))
        return error("invalid_grant");
    if (verifier.size() < 43 || verifier.size() > 128 || challenge != grant.challenge.toLatin1())
        return error("invalid_grant", Status::BadRequest, "code_verifier does not match the challenge");
    return issueTokens();
}

QHttpServerResponse TodoistAuthServer::issueTokens() {
    const QString access = QStringLiteral("access-%1").arg(++m_serial);
    accessTokens.insert(access);
    refreshTokens.insert(QStringLiteral("refresh-%1").arg(m_serial));
    return respond(tokenReply(access, 3600, QStringLiteral("refresh-%1").arg(m_serial)));
}

} // namespace daybrook::test
