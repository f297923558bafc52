#pragma once

#include "core/Color.h"
#include "core/TimeEntry.h"
#include "todoist/TodoistModels.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace daybrook {

// Todoist's colour names to colours; an unknown name gives the standard blue.
Color todoistColor(const QString &name);

// The tasks that belong on the bar today as entries, in task order: tasks of
// enabled projects whose due day is `today` ("yyyy-MM-dd") and that have a time.
TimeEntryList todoistTimeEntries(const QList<TodoistTask> &tasks, const QList<TodoistProject> &projects,
                                 const QSet<QString> &disabledProjectIds, const QString &today);

// The project hierarchy: roots in ascending order (stable), children likewise.
// A project whose parent is not in the list is in no tree.
QList<ProjectNode> buildProjectTree(const QList<TodoistProject> &projects);

// Every project below `id`, depth first, children in list order; `id` itself is
// never part of it, even in a list whose parent links form a loop.
QStringList projectDescendantIds(const QList<TodoistProject> &projects, const QString &id);

// How many projects of `id` and everything below it are enabled.
ToggleState projectToggleStateOf(const QList<TodoistProject> &projects,
                                 const QSet<QString> &disabledProjectIds, const QString &id);

} // namespace daybrook
