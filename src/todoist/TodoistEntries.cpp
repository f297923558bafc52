#include "todoist/TodoistEntries.h"

#include "core/Logging.h"
#include "todoist/TodoistDecoding.h"

#include <QHash>
#include <algorithm>

namespace daybrook {

namespace {

const QHash<QString, Color> &colorTable() {
    static const QHash<QString, Color> table = [] {
        const std::pair<const char *, const char *> rows[] = {
            {"berry_red", "#B8255F"}, {"red", "#DC4C3E"},         {"orange", "#C77100"},
            {"yellow", "#B29104"},    {"olive_green", "#949C31"}, {"lime_green", "#65A33A"},
            {"green", "#369307"},     {"mint_green", "#42A393"},  {"teal", "#148FAD"},
            {"sky_blue", "#319DC0"},  {"light_blue", "#6988A4"},  {"blue", "#4180FF"},
            {"grape", "#692EC2"},     {"violet", "#CA3FEE"},      {"lavender", "#A4698C"},
            {"magenta", "#E05095"},   {"salmon", "#C9766F"},      {"charcoal", "#808080"},
            {"grey", "#999999"},      {"taupe", "#8F7A69"},
        };
        QHash<QString, Color> colors;
        for (const auto &[name, hex] : rows)
            colors.insert(QString::fromLatin1(name), hexColor(QString::fromLatin1(hex)));
        return colors;
    }();
    return table;
}

// Planned length in minutes. Zero or negative amounts would end a task before
// it starts, so they get the default length; absurdly long ones are capped far
// beyond any day so that the arithmetic cannot overflow.
qint64 lengthInMinutes(const std::optional<TodoistDuration> &duration) {
    constexpr qint64 defaultMinutes = 15;
    constexpr qint64 maxMinutes = 1'000'000'000;
    if (!duration || duration->amount <= 0)
        return defaultMinutes;
    if (duration->unit == QLatin1String("day"))
        return duration->amount > maxMinutes / 1440 ? maxMinutes : duration->amount * 1440;
    return std::min(duration->amount, maxMinutes);
}

} // namespace

Color todoistColor(const QString &name) {
    const auto &table = colorTable();
    const auto it = table.constFind(name);
    return it == table.constEnd() ? standardBlue() : *it;
}

TimeEntryList todoistTimeEntries(const QList<TodoistTask> &tasks, const QList<TodoistProject> &projects,
                                 const QSet<QString> &disabledProjectIds, const QString &today) {
    QHash<QString, QString> colorNames;
    QHash<QString, QString> projectNames;
    colorNames.reserve(projects.size());
    projectNames.reserve(projects.size());
    for (const TodoistProject &project : projects)
        colorNames.insert(project.id, project.color);
    for (const TodoistProject &project : projects)
        projectNames.insert(project.id, project.name);

    const bool logging = lcTodoist().isDebugEnabled();
    if (logging)
        qCDebug(lcTodoist).noquote() << "=== Todoist toTimeEntries Debug ===";

    const QString fallbackColor = QStringLiteral("blue");
    TimeEntryList entries;
    for (const TodoistTask &task : tasks) {
        if (disabledProjectIds.contains(task.projectId))
            continue;
        if (!task.due || !task.due->datetime)
            continue;
        const std::optional<QDateTime> start = parseDueDatetime(*task.due->datetime);
        if (!start) {
            qCDebug(lcTodoist).noquote()
                << "  \u274C Failed to parse datetime:" << forLog(*task.due->datetime)
                << "for task:" << forLog(task.content);
            continue;
        }
        if (task.due->date != today)
            continue;

        TodoistEntry entry;
        entry.id = task.id;
        entry.startTime = *start;
        entry.endTime = start->addSecs(lengthInMinutes(task.duration) * 60);
        entry.label = task.content;
        const auto colorName = colorNames.constFind(task.projectId);
        const QString &color = colorName == colorNames.constEnd() ? fallbackColor : *colorName;
        entry.color = todoistColor(color);
        const auto projectName = projectNames.constFind(task.projectId);
        if (projectName != projectNames.constEnd())
            entry.groupName = *projectName;
        if (logging)
            qCDebug(lcTodoist).noquote()
                << "  \u2705" << forLog(entry.label) << "|"
                << entry.startTime.toLocalTime().toString(Qt::ISODate) << "-"
                << entry.endTime->toLocalTime().toString(Qt::ISODate) << "| color:" << forLog(color);
        entries.append(TimeEntry(std::move(entry)));
    }
    if (logging)
        qCDebug(lcTodoist).noquote() << "=== Created" << entries.size() << "TodoistEntries ===";
    return entries;
}

QList<ProjectNode> buildProjectTree(const QList<TodoistProject> &projects) {
    // Children of each parent in list order, then stably sorted by order.
    QHash<QString, QList<const TodoistProject *>> children;
    QList<const TodoistProject *> roots;
    for (const TodoistProject &project : projects) {
        if (project.parentId)
            children[*project.parentId].append(&project);
        else
            roots.append(&project);
    }
    const auto byOrder = [](const TodoistProject *a, const TodoistProject *b) { return a->order < b->order; };
    std::stable_sort(roots.begin(), roots.end(), byOrder);
    for (auto &group : children)
        std::stable_sort(group.begin(), group.end(), byOrder);

    // Every id is expanded once at most, so a malformed list (repeated ids,
    // parent loops) cannot make the tree infinite.
    QSet<QString> expanded;
    const auto makeNode = [&](const auto &self, const TodoistProject *project, int depth) -> ProjectNode {
        ProjectNode node{*project, depth, {}};
        if (expanded.contains(project->id))
            return node;
        expanded.insert(project->id);
        const auto group = children.constFind(project->id);
        if (group != children.constEnd()) {
            node.children.reserve(group->size());
            for (const TodoistProject *child : *group)
                node.children.append(self(self, child, depth + 1));
        }
        return node;
    };
    QList<ProjectNode> tree;
    tree.reserve(roots.size());
    for (const TodoistProject *root : roots)
        tree.append(makeNode(makeNode, root, 0));
    return tree;
}

QStringList projectDescendantIds(const QList<TodoistProject> &projects, const QString &id) {
    QHash<QString, QStringList> children;
    for (const TodoistProject &project : projects) {
        if (project.parentId)
            children[*project.parentId].append(project.id);
    }
    QStringList result;
    QSet<QString> visited{id};
    // Explicit stack: pre-order, children in list order.
    QStringList stack;
    const auto pushChildren = [&](const QString &parent) {
        const auto group = children.constFind(parent);
        if (group == children.constEnd())
            return;
        for (auto it = group->crbegin(); it != group->crend(); ++it)
            stack.append(*it);
    };
    pushChildren(id);
    while (!stack.isEmpty()) {
        const QString current = stack.takeLast();
        if (visited.contains(current))
            continue;
        visited.insert(current);
        result.append(current);
        pushChildren(current);
    }
    return result;
}

ToggleState projectToggleStateOf(const QList<TodoistProject> &projects,
                                 const QSet<QString> &disabledProjectIds, const QString &id) {
    QStringList members = projectDescendantIds(projects, id);
    members.prepend(id);
    const auto enabled = std::count_if(members.cbegin(), members.cend(),
                                       [&](const QString &m) { return !disabledProjectIds.contains(m); });
    if (enabled == members.size())
        return ToggleState::All;
    return enabled == 0 ? ToggleState::None : ToggleState::Some;
}

} // namespace daybrook
