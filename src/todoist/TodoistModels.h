#pragma once

#include "core/ToggleState.h"

#include <QList>
#include <QString>
#include <optional>

namespace daybrook {

// Records of the Todoist API as the rest of the program reads them. Dates and
// times stay texts here; turning them into instants happens in the conversion to
// entries.

struct TodoistDue {
    QString date;                    // "yyyy-MM-dd"
    std::optional<QString> datetime; // the due instant, with or without a zone designator
    std::optional<QString> timezone;
};

struct TodoistDuration {
    qint64 amount = 0;
    QString unit; // "minute" or "day"
};

struct TodoistTask {
    QString id;
    QString content;
    QString projectId;
    std::optional<TodoistDue> due;
    std::optional<TodoistDuration> duration;
};

struct TodoistProject {
    QString id;
    QString name;
    QString color;
    std::optional<QString> parentId;
    qint64 order = 0;
};

struct TokenResponse {
    QString accessToken;
    QString tokenType;
    std::optional<qint64> expiresIn;
    std::optional<QString> refreshToken;
};

struct ProjectNode {
    TodoistProject project;
    int depth = 0;
    QList<ProjectNode> children;
};

} // namespace daybrook
