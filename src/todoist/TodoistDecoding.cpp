#include "todoist/TodoistDecoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QTimeZone>

namespace daybrook {

namespace {

// Reads typed fields of one JSON object and remembers the first failure with a
// path that says where it happened ("results[3].due.date").
class FieldReader {
public:
    FieldReader(const QJsonObject &object, QString path, QString &error)
        : m_object(object), m_path(std::move(path)), m_error(error) {}

    bool requiredString(QLatin1StringView key, QString &out) { return string(key, out, true); }

    bool optionalString(QLatin1StringView key, std::optional<QString> &out) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return true;
        if (!value.isString())
            return fail(key, QStringLiteral("is not a string"));
        out = value.toString();
        return true;
    }

    bool requiredInteger(QLatin1StringView key, qint64 &out) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return fail(key, QStringLiteral("is missing"));
        return integer(key, value, out);
    }

    bool optionalInteger(QLatin1StringView key, std::optional<qint64> &out) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return true;
        qint64 number = 0;
        if (!integer(key, value, number))
            return false;
        out = number;
        return true;
    }

    // Gives the nested object, nothing for an absent or null value; a value of
    // another type fails.
    bool optionalObject(QLatin1StringView key, std::optional<QJsonObject> &out) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return true;
        if (!value.isObject())
            return fail(key, QStringLiteral("is not an object"));
        out = value.toObject();
        return true;
    }

    QString pathOf(QLatin1StringView key) const {
        return m_path.isEmpty() ? QString(key) : m_path + QLatin1Char('.') + key;
    }

private:
    bool string(QLatin1StringView key, QString &out, bool required) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return required ? fail(key, QStringLiteral("is missing")) : true;
        if (!value.isString())
            return fail(key, QStringLiteral("is not a string"));
        out = value.toString();
        return true;
    }

    bool integer(QLatin1StringView key, const QJsonValue &value, qint64 &out) {
        if (!value.isDouble())
            return fail(key, QStringLiteral("is not an integer"));
        // toInteger() gives its default for anything that is not a whole number
        // in range, so two different defaults tell a real value from a refusal.
        const qint64 a = value.toInteger(0);
        const qint64 b = value.toInteger(1);
        if (a != b)
            return fail(key, QStringLiteral("is not an integer"));
        out = a;
        return true;
    }

    bool fail(QLatin1StringView key, const QString &reason) {
        m_error = pathOf(key) + QLatin1Char(' ') + reason;
        return false;
    }

    const QJsonObject &m_object;
    QString m_path;
    QString &m_error;
};

bool isDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// Reads `count` decimal digits at `pos`; -1 when any is not a digit.
int digits(QStringView text, qsizetype pos, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = text[pos + i];
        if (!isDigit(c))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// A due date of the v1 API: "yyyy-MM-dd", a floating "yyyy-MM-ddTHH:mm:ss" or a
// fixed UTC "yyyy-MM-ddTHH:mm:ss[.f...]Z". Our record keeps the day as "date" and
// the full text as "datetime" when there is a time; the day of a fixed time is
// the local day of that instant, which is what "due today" means to the user.
void mapDueDate(const QString &text, TodoistDue &due) {
    if (!text.contains(QLatin1Char('T'))) {
        due.date = text;
        return;
    }
    due.datetime = text;
    const bool fixed =
        text.endsWith(QLatin1Char('Z')) || (text.size() > 6 && (text[text.size() - 6] == QLatin1Char('+') ||
                                                                text[text.size() - 6] == QLatin1Char('-')));
    if (fixed) {
        if (const auto instant = parseDueDatetime(text)) {
            due.date = instant->toLocalTime().date().toString(Qt::ISODate);
            return;
        }
    }
    // A floating time, or a fixed one that does not parse (that task is dropped
    // later with a log line; its day still reads from the text).
    due.date = text.left(10);
}

bool decodeDue(const QJsonObject &object, const QString &path, QString &error, TodoistDue &due) {
    FieldReader reader(object, path, error);
    QString date;
    if (!reader.requiredString(QLatin1StringView("date"), date))
        return false;
    if (!reader.optionalString(QLatin1StringView("timezone"), due.timezone))
        return false;
    mapDueDate(date, due);
    return true;
}

bool decodeDuration(const QJsonObject &object, const QString &path, QString &error,
                    TodoistDuration &duration) {
    FieldReader reader(object, path, error);
    return reader.requiredInteger(QLatin1StringView("amount"), duration.amount) &&
           reader.requiredString(QLatin1StringView("unit"), duration.unit);
}

bool decodeTask(const QJsonObject &object, const QString &path, QString &error, TodoistTask &task) {
    FieldReader reader(object, path, error);
    if (!reader.requiredString(QLatin1StringView("id"), task.id) ||
        !reader.requiredString(QLatin1StringView("content"), task.content) ||
        !reader.requiredString(QLatin1StringView("project_id"), task.projectId))
        return false;
    std::optional<QJsonObject> nested;
    if (!reader.optionalObject(QLatin1StringView("due"), nested))
        return false;
    if (nested) {
        TodoistDue due;
        if (!decodeDue(*nested, reader.pathOf(QLatin1StringView("due")), error, due))
            return false;
        task.due = std::move(due);
    }
    nested.reset();
    if (!reader.optionalObject(QLatin1StringView("duration"), nested))
        return false;
    if (nested) {
        TodoistDuration duration;
        if (!decodeDuration(*nested, reader.pathOf(QLatin1StringView("duration")), error, duration))
            return false;
        task.duration = std::move(duration);
    }
    return true;
}

bool decodeProject(const QJsonObject &object, const QString &path, QString &error, TodoistProject &project) {
    FieldReader reader(object, path, error);
    return reader.requiredString(QLatin1StringView("id"), project.id) &&
           reader.requiredString(QLatin1StringView("name"), project.name) &&
           reader.requiredString(QLatin1StringView("color"), project.color) &&
           reader.optionalString(QLatin1StringView("parent_id"), project.parentId) &&
           reader.requiredInteger(QLatin1StringView("child_order"), project.order);
}

bool parseObject(const QByteArray &body, QJsonObject &object, QString &error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("invalid JSON at offset %1: %2")
                    .arg(parseError.offset)
                    .arg(parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        error = QStringLiteral("the body is not a JSON object");
        return false;
    }
    object = document.object();
    return true;
}

template <typename Item, typename DecodeItem>
Decoded<TodoistPage<Item>> decodePage(const QByteArray &body, DecodeItem decodeItem) {
    Decoded<TodoistPage<Item>> result;
    QJsonObject object;
    if (!parseObject(body, object, result.error))
        return result;
    const QJsonValue results = object.value(QLatin1StringView("results"));
    if (!results.isArray()) {
        result.error = results.isUndefined() || results.isNull() ? QStringLiteral("results is missing")
                                                                 : QStringLiteral("results is not an array");
        return result;
    }
    TodoistPage<Item> page;
    FieldReader reader(object, QString(), result.error);
    if (!reader.optionalString(QLatin1StringView("next_cursor"), page.nextCursor))
        return result;
    if (page.nextCursor && page.nextCursor->isEmpty())
        page.nextCursor.reset();
    const QJsonArray array = results.toArray();
    page.results.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString path = QStringLiteral("results[%1]").arg(i);
        const QJsonValue element = array.at(i);
        if (!element.isObject()) {
            result.error = path + QStringLiteral(" is not an object");
            return result;
        }
        Item item;
        if (!decodeItem(element.toObject(), path, result.error, item))
            return result;
        page.results.append(std::move(item));
    }
    result.value = std::move(page);
    return result;
}

} // namespace

Decoded<TodoistPage<TodoistTask>> decodeTaskPage(const QByteArray &body) {
    return decodePage<TodoistTask>(body, decodeTask);
}

Decoded<TodoistPage<TodoistProject>> decodeProjectPage(const QByteArray &body) {
    return decodePage<TodoistProject>(body, decodeProject);
}

Decoded<TokenResponse> decodeTokenResponse(const QByteArray &body) {
    Decoded<TokenResponse> result;
    QJsonObject object;
    if (!parseObject(body, object, result.error))
        return result;
    TokenResponse token;
    FieldReader reader(object, QString(), result.error);
    if (!reader.requiredString(QLatin1StringView("access_token"), token.accessToken) ||
        !reader.requiredString(QLatin1StringView("token_type"), token.tokenType) ||
        !reader.optionalInteger(QLatin1StringView("expires_in"), token.expiresIn) ||
        !reader.optionalString(QLatin1StringView("refresh_token"), token.refreshToken))
        return result;
    // An empty token would count as "connected" while every request fails.
    if (token.accessToken.isEmpty()) {
        result.error = QStringLiteral("access_token is empty");
        return result;
    }
    if (token.refreshToken && token.refreshToken->isEmpty())
        token.refreshToken.reset();
    result.value = std::move(token);
    return result;
}

std::optional<QDateTime> parseDueDatetime(QStringView text) {
    // yyyy-MM-ddTHH:mm:ss is 19 characters; everything after is optional.
    if (text.size() < 19 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-') ||
        text[10] != QLatin1Char('T') || text[13] != QLatin1Char(':') || text[16] != QLatin1Char(':'))
        return std::nullopt;
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;

    qsizetype pos = 19;
    int millis = 0;
    if (pos < text.size() && text[pos] == QLatin1Char('.')) {
        ++pos;
        const qsizetype start = pos;
        while (pos < text.size() && isDigit(text[pos]))
            ++pos;
        const qsizetype count = pos - start;
        if (count < 1 || count > 9)
            return std::nullopt;
        // QDateTime keeps milliseconds; finer digits are dropped, not rounded,
        // so an instant never moves into the next second.
        for (qsizetype i = 0; i < 3; ++i)
            millis = millis * 10 + (i < count ? text[start + i].unicode() - '0' : 0);
    }
    const QTime time(hour, minute, second, millis);

    if (pos == text.size()) {
        // Floating: the wall-clock time in the zone the user is in now.
        const QDateTime local(date, time, Qt::LocalTime);
        if (!local.isValid())
            return std::nullopt;
        return local.toUTC();
    }
    int offsetSeconds = 0;
    if (text[pos] == QLatin1Char('Z')) {
        if (pos + 1 != text.size())
            return std::nullopt;
    } else if (text[pos] == QLatin1Char('+') || text[pos] == QLatin1Char('-')) {
        if (text.size() - pos != 6 || text[pos + 3] != QLatin1Char(':'))
            return std::nullopt;
        const int offsetHours = digits(text, pos + 1, 2), offsetMinutes = digits(text, pos + 4, 2);
        if (offsetHours < 0 || offsetMinutes < 0 || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (text[pos] == QLatin1Char('-') ? -1 : 1);
    } else {
        return std::nullopt;
    }
    const QDateTime utc(date, time, Qt::UTC);
    return utc.addSecs(-offsetSeconds);
}

} // namespace daybrook
