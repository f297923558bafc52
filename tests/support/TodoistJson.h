#pragma once

// Projects and tasks as Todoist's API sends them, for the servers that play
// Todoist on 127.0.0.1.

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace daybrook::test {

// `parent` is a project id, or null for a top-level project.
inline QJsonObject projectJson(const QString &id, const QString &name, const QJsonValue &parent, int order) {
    return {
        {"id", id}, {"name", name}, {"color", "berry_red"}, {"parent_id", parent}, {"child_order", order}};
}

// `due` is a date or date-time as Todoist writes it; empty for no due date.
inline QJsonObject taskJson(const QString &id, const QString &project, const QString &content,
                            const QString &due = {}) {
    const QJsonValue dated = due.isEmpty() ? QJsonValue() : QJsonObject{{"date", due}, {"timezone", {}}};
    return {{"id", id}, {"project_id", project}, {"content", content}, {"duration", {}}, {"due", dated}};
}

} // namespace daybrook::test
