#pragma once

#include "todoist/TodoistModels.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace daybrook {

// The decoding layer between Todoist's JSON and our records. Decoding is strict
// and all-or-nothing: a required key that is missing, null or of the wrong type
// fails the whole body; unknown keys are ignored.

template <typename T> struct Decoded {
    std::optional<T> value;
    QString error; // why decoding failed, for messages; empty on success

    explicit operator bool() const { return value.has_value(); }
};

// One page of a paginated list: {"results": [...], "next_cursor": "..." | null}.
template <typename Item> struct TodoistPage {
    QList<Item> results;
    std::optional<QString> nextCursor; // absent on the last page
};

Decoded<TodoistPage<TodoistTask>> decodeTaskPage(const QByteArray &body);
Decoded<TodoistPage<TodoistProject>> decodeProjectPage(const QByteArray &body);
Decoded<TokenResponse> decodeTokenResponse(const QByteArray &body);

// The answer of a dynamic client registration (RFC 7591): the client id the
// server assigned, and the redirect URIs it accepted when it says which.
struct ClientRegistration {
    QString clientId;
    QStringList redirectUris;
};
Decoded<ClientRegistration> decodeClientRegistration(const QByteArray &body);

// An OAuth error body: {"error": "...", "error_description": "..."}.
struct OAuthError {
    QString error;
    std::optional<QString> description;
};
std::optional<OAuthError> decodeOAuthError(const QByteArray &body);

// The instant of a due time: "yyyy-MM-ddTHH:mm:ss" with 0 to 9 fractional
// digits, followed either by "Z" or a "+hh:mm"/"-hh:mm" offset (a fixed instant)
// or by nothing (a floating time on the local clock, read in the current zone).
std::optional<QDateTime> parseDueDatetime(QStringView text);

// Maps the v1 "due.date" text onto our record: the day as "date", the whole
// text as "datetime" when it carries a time (a fixed time's day is the local day
// of its instant).
void mapDueDate(const QString &text, TodoistDue &due);

} // namespace daybrook
