// The straightforward decoder over QJsonDocument that the program used before
// its own scanner: the fuzzer checks that both read every input alike.
#include "ReferenceDecoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QTimeZone>

namespace daybrook::reference {

namespace {

// Reads typed fields of one JSON object and remembers the first failure as
// "key reason"; callers put the path in front ("results[3].due.date is missing"),
// so that successful decoding never builds path texts.
class FieldReader {
public:
    FieldReader(const QJsonObject &object, QString &error) : m_object(object), m_error(error) {}

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
        m_error = key + QLatin1Char(' ') + reason;
        return false;
    }

    const QJsonObject &m_object;
    QString &m_error;
};

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

bool decodeDue(const QJsonObject &object, QString &error, TodoistDue &due) {
    FieldReader reader(object, error);
    QString date;
    if (!reader.requiredString(QLatin1StringView("date"), date))
        return false;
    if (!reader.optionalString(QLatin1StringView("timezone"), due.timezone))
        return false;
    mapDueDate(date, due);
    return true;
}

bool decodeDuration(const QJsonObject &object, QString &error, TodoistDuration &duration) {
    FieldReader reader(object, error);
    return reader.requiredInteger(QLatin1StringView("amount"), duration.amount) &&
           reader.requiredString(QLatin1StringView("unit"), duration.unit);
}

bool decodeTask(const QJsonObject &object, QString &error, TodoistTask &task) {
    FieldReader reader(object, error);
    if (!reader.requiredString(QLatin1StringView("id"), task.id) ||
        !reader.requiredString(QLatin1StringView("content"), task.content) ||
        !reader.requiredString(QLatin1StringView("project_id"), task.projectId))
        return false;
    std::optional<QJsonObject> nested;
    if (!reader.optionalObject(QLatin1StringView("due"), nested))
        return false;
    if (nested) {
        TodoistDue due;
        if (!decodeDue(*nested, error, due)) {
            error.prepend(QLatin1String("due."));
            return false;
        }
        task.due = std::move(due);
    }
    nested.reset();
    if (!reader.optionalObject(QLatin1StringView("duration"), nested))
        return false;
    if (nested) {
        TodoistDuration duration;
        if (!decodeDuration(*nested, error, duration)) {
            error.prepend(QLatin1String("duration."));
            return false;
        }
        task.duration = std::move(duration);
    }
    return true;
}

bool decodeProject(const QJsonObject &object, QString &error, TodoistProject &project) {
    FieldReader reader(object, error);
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
    FieldReader reader(object, result.error);
    if (!reader.optionalString(QLatin1StringView("next_cursor"), page.nextCursor))
        return result;
    if (page.nextCursor && page.nextCursor->isEmpty())
        page.nextCursor.reset();
    const QJsonArray array = results.toArray();
    page.results.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue element = array.at(i);
        if (!element.isObject()) {
            result.error = QStringLiteral("results[%1] is not an object").arg(i);
            return result;
        }
        Item item;
        if (!decodeItem(element.toObject(), result.error, item)) {
            result.error.prepend(QStringLiteral("results[%1].").arg(i));
            return result;
        }
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

} // namespace daybrook::reference
