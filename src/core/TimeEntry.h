#pragma once

#include "core/Color.h"

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>
#include <variant>

namespace daybrook {

// Instants are QDateTime values in UTC; formatting for display converts them to
// the local zone.

// One event of the calendar store.
struct CalendarEntry {
    QString id;
    QDateTime startTime;
    std::optional<QDateTime> endTime;
    QString label;
    Color color;
    std::optional<QString> groupName;

    static QString sourceName() { return QStringLiteral("Calendar"); }
};

// One Todoist task with a due time today.
struct TodoistEntry {
    QString id;
    QDateTime startTime;
    std::optional<QDateTime> endTime;
    QString label;
    Color color;
    std::optional<QString> groupName;

    static QString sourceName() { return QStringLiteral("Todoist"); }
};

// A task and an event recognised as the same thing: the event's times and text,
// the task's identity, colour and project.
struct CombinedEntry {
    TodoistEntry todoistEntry;
    CalendarEntry calendarEntry;

    static QString sourceName() { return QStringLiteral("Todoist \u00B7 Calendar"); }
};

// The read-only face of any item on the bar. Entries compare by id only, and
// only where a caller compares ids explicitly: the type defines no equality.
class TimeEntry {
public:
    TimeEntry() = default;
    TimeEntry(CalendarEntry entry) : m_value(std::move(entry)) {}
    TimeEntry(TodoistEntry entry) : m_value(std::move(entry)) {}
    TimeEntry(CombinedEntry entry) : m_value(std::move(entry)) {}

    const QString &id() const;
    const QDateTime &startTime() const;
    const std::optional<QDateTime> &endTime() const;
    const QString &label() const;
    const Color &color() const;
    QString sourceName() const;
    const std::optional<QString> &groupName() const;

    template <typename Kind> const Kind *as() const { return std::get_if<Kind>(&m_value); }

private:
    std::variant<CalendarEntry, TodoistEntry, CombinedEntry> m_value;
};

using TimeEntryList = QList<TimeEntry>;

} // namespace daybrook

Q_DECLARE_METATYPE(daybrook::TimeEntry)
