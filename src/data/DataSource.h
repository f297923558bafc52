#pragma once

#include "data/CalendarService.h"
#include "data/TimeEntry.h"
#include "todoist/TodoistService.h"

#include <QCoroTask>
#include <QObject>
#include <memory>

namespace daybrook {

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

    QCoro::Task<> refresh();

Q_SIGNALS:
    void timeEntriesChanged();

private:
    std::unique_ptr<CalendarService> m_calendarService;
    std::unique_ptr<TodoistService> m_todoistService;
    TimeEntryList m_timeEntries;
};

} // namespace daybrook
