#pragma once

#include "calendar/CalendarService.h"
#include "core/TimeEntry.h"
#include "todoist/TodoistService.h"

#include <QCoroTask>
#include <QObject>
#include <memory>

namespace daybrook {

// What recognises a task and an event as the same thing: the label, "|", and
// the start minute in the local calendar as seconds since 1970. Compare keys
// through normalizedMatchKey, which treats canonically equivalent texts alike.
QString matchKey(const TimeEntry &entry);
QString normalizedMatchKey(const TimeEntry &entry);

// The bar's list: the calendar entries in their order, each one that matches a
// task combined with it (the later of several tasks with one key), then the
// tasks that matched no event, in their order.
TimeEntryList mergeEntries(const TimeEntryList &todoist, const TimeEntryList &calendar);

// Where the bar's entries come from: both services, merged into one list.
class DataSource : public QObject {
    Q_OBJECT
public:
    // Null services are created with their defaults.
    explicit DataSource(std::unique_ptr<CalendarService> calendar = nullptr,
                        std::unique_ptr<TodoistService> todoist = nullptr, QObject *parent = nullptr);
    ~DataSource() override;

    CalendarService *calendarService() const { return m_calendarService.get(); }
    TodoistService *todoistService() const { return m_todoistService.get(); }
    const TimeEntryList &timeEntries() const { return m_timeEntries; }

    // Fetches both services at once; the list follows through change tracking.
    QCoro::Task<> refresh();

Q_SIGNALS:
    void timeEntriesChanged();

private:
    void watchServices();
    void scheduleRebuild();
    void rebuildTimeEntries();

    std::unique_ptr<CalendarService> m_calendarService;
    std::unique_ptr<TodoistService> m_todoistService;
    TimeEntryList m_timeEntries;
    bool m_rebuildScheduled = false;
};

} // namespace daybrook
