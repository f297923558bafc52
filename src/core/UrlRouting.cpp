#include "core/UrlRouting.h"

namespace daybrook {

std::optional<QUrl> oauthCallbackUrl(const QString &text) {
    if (text.isEmpty())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;

    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0 || QStringView(text).left(colon) != QLatin1String("daybrook"))
        return std::nullopt;
    if (!QStringView(text).mid(colon + 1).startsWith(QLatin1String("//")))
        return std::nullopt;

    // The authority as written: up to the first '/', '?' or '#', without any
    // user information or port.
    const qsizetype authorityStart = colon + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < text.size() && text[authorityEnd] != QLatin1Char('/') &&
           text[authorityEnd] != QLatin1Char('?') && text[authorityEnd] != QLatin1Char('#'))
        ++authorityEnd;
    QStringView host = QStringView(text).mid(authorityStart, authorityEnd - authorityStart);
    if (const qsizetype at = host.lastIndexOf(QLatin1Char('@')); at >= 0)
        host = host.mid(at + 1);
    if (const qsizetype port = host.lastIndexOf(QLatin1Char(':')); port >= 0)
        host = host.left(port);
    if (host != QLatin1String("oauth"))
        return std::nullopt;

    if (url.path(QUrl::FullyEncoded) != QLatin1String("/todoist"))
        return std::nullopt;
    return url;
}

} // namespace daybrook
