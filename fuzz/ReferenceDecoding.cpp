// The straightforward decoder over QJsonDocument that the program used before
// its own scanner: the fuzzer checks that both read every input alike.
#include "ReferenceDecoding.h"

#include "todoist/JsonObjectReader.h"
#include "todoist/TodoistDecoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QTimeZone>

namespace daybrook::reference {

namespace {

bool decodeDue(const QJsonObject &object, QString &error, TodoistDue &due) {
    JsonFieldReader reader(object, error);
    QString date;
    if (!reader.requiredString(QLatin1StringView("date"), date))
        return false;
    if (!reader.optionalString(QLatin1StringView("timezone"), due.timezone))
        return false;
    mapDueDate(date, due);
    return true;
}

bool decodeDuration(const QJsonObject &object, QString &error, TodoistDuration &duration) {
    JsonFieldReader reader(object, error);
    return reader.requiredInteger(QLatin1StringView("amount"), duration.amount) &&
           reader.requiredString(QLatin1StringView("unit"), duration.unit);
}

bool decodeTask(const QJsonObject &object, QString &error, TodoistTask &task) {
    JsonFieldReader reader(object, error);
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
    JsonFieldReader reader(object, error);
    return reader.requiredString(QLatin1StringView("id"), project.id) &&
           reader.requiredString(QLatin1StringView("name"), project.name) &&
           reader.requiredString(QLatin1StringView("color"), project.color) &&
           reader.optionalString(QLatin1StringView("parent_id"), project.parentId) &&
           reader.requiredInteger(QLatin1StringView("child_order"), project.order);
}

template <typename Item, typename DecodeItem>
Decoded<TodoistPage<Item>> decodePage(const QByteArray &body, DecodeItem decodeItem) {
    Decoded<TodoistPage<Item>> result;
    QJsonObject object;
    if (!parseJsonObject(body, object, result.error))
        return result;
    const QJsonValue results = object.value(QLatin1StringView("results"));
    if (!results.isArray()) {
        result.error = results.isUndefined() || results.isNull() ? QStringLiteral("results is missing")
                                                                 : QStringLiteral("results is not an array");
        return result;
    }
    TodoistPage<Item> page;
    JsonFieldReader reader(object, result.error);
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
