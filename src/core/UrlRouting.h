#pragma once

#include <QString>
#include <QUrl>
#include <optional>

namespace daybrook {

// The Todoist sign-in's return address, "daybrook://oauth/todoist?...": scheme,
// host and path compared exactly, letter case included (QUrl itself would
// lower-case the host). Anything else gives nothing.
std::optional<QUrl> oauthCallbackUrl(const QString &text);

} // namespace daybrook
