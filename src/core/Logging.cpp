#include "core/Logging.h"

Q_LOGGING_CATEGORY(lcApp, "daybrook.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHover, "daybrook.hover", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLayout, "daybrook.layout", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBar, "daybrook.bar", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTodoist, "daybrook.todoist", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCalendar, "daybrook.calendar", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSun, "daybrook.sun", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "daybrook.settings", QtInfoMsg)

namespace daybrook {

QString forLog(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool bidi = (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
        if (c.category() != QChar::Other_Control && !bidi && u != 0x2028 && u != 0x2029) {
            out += c;
            continue;
        }
        switch (u) {
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            out += u < 0x100 ? QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'))
                             : QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        }
    }
    return out;
}

} // namespace daybrook
