#pragma once

#include "support/TodoistJson.h"
#include "todoist/TodoistService.h"

#include <QHash>
#include <QHttpServer>
#include <QUrlQuery>

namespace daybrook::test {

// A canned answer, for the faults a well-behaved server never makes.
struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<std::pair<QByteArray, QByteArray>> headers;
};
Reply jsonReply(const QJsonObject &object, int status = 200);
Reply pageReply(const QJsonArray &results, const QJsonValue &cursor = {});
// A negative `expiresIn` leaves it out, and an empty `refresh` is none.
Reply tokenReply(const QString &access, qint64 expiresIn = -1, const QString &refresh = {});

// Todoist's sign-in and API on 127.0.0.1, as strict as the standards it
// follows: clients register themselves (public clients only), every
// authorization needs an S256 challenge and its verifier, codes are single
// use, refresh tokens rotate, and the lists answer only to a live token.
// Like Todoist it reports authorization errors on the redirect.
class TodoistAuthServer {
public:
    struct Request {
        QUrlQuery query, form;
    };

    TodoistAuthServer();
    QUrl url(const QString &path = {}) const;
    // Every address here and no client id: the program registers itself, as a default build does.
    TodoistConfig config() const;

    bool refuseSchemeRedirects = false; // registration takes only loopback redirects
    bool denyAccess = false;            // the user presses "Cancel" on the consent page

    QHash<QString, QString> clients; // client id -> registered redirect URI
    QSet<QString> accessTokens;      // valid now (a personal token may be added)
    QSet<QString> refreshTokens;     // valid now; spent ones are dropped
    QStringList revoked;
    int registrations = 0;
    QString lastRedirectTarget; // where the last authorization sent the browser
    // list ("projects", "tasks") -> cursor ("" = first page) -> reply; an
    // unknown cursor gets a 400. Each list starts with one item.
    QHash<QString, QHash<QString, Reply>> pages;
    // While any are queued, the token endpoint answers with them and checks nothing.
    QList<Reply> tokenReplies;
    QHash<QString, QList<Request>> requests; // by path: to the lists and the token endpoint

private:
    struct Grant {
        QString clientId, challenge, redirectUri;
    };
    QHttpServerResponse token(const QHttpServerRequest &request);
    QHttpServerResponse issueTokens();
    void record(const QHttpServerRequest &request);

    QHttpServer m_server;
    quint16 m_port = 0;
    QHash<QString, Grant> m_codes;
    int m_serial = 0;
};

} // namespace daybrook::test
