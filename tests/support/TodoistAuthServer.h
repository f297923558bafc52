#pragma once

#include "todoist/TodoistService.h"

#include <QHash>
#include <QHttpServer>

namespace daybrook::test {

// Todoist's sign-in and API on 127.0.0.1, as strict as the standards it
// follows: clients register themselves (public clients only), every
// authorization needs an S256 challenge and its verifier, codes are single
// use, refresh tokens rotate, and the lists answer only to a live token.
// Like Todoist it reports authorization errors on the redirect.
class TodoistAuthServer {
public:
    TodoistAuthServer();
    QUrl url(const QString &path = {}) const;
    // Every address here and no client id: the program registers itself, as a default build does.
    TodoistConfig config() const;

    bool refuseSchemeRedirects = false; // registration takes only loopback redirects
    bool denyAccess = false;            // the user presses "Cancel" on the consent page
    bool refreshAnswers401 = false;

    QHash<QString, QString> clients; // client id -> registered redirect URI
    QSet<QString> accessTokens;      // valid now (a personal token may be added)
    QSet<QString> refreshTokens;     // valid now; spent ones are dropped
    QStringList revoked;
    int registrations = 0;
    int exchanges = 0;
    QString lastRedirectTarget; // where the last authorization sent the browser

private:
    struct Grant {
        QString clientId, challenge, redirectUri;
    };
    QHttpServerResponse token(const QHttpServerRequest &request);
    QHttpServerResponse issueTokens();

    QHttpServer m_server;
    quint16 m_port = 0;
    QHash<QString, Grant> m_codes;
    int m_serial = 0;
};

} // namespace daybrook::test
