#include "data/DataSource.h"

// Placeholder until the merge of both services lands.

namespace daybrook {

DataSource::DataSource(std::unique_ptr<CalendarService> calendar, std::unique_ptr<TodoistService> todoist,
                       QObject *parent)
    : QObject(parent),
      m_calendarService(calendar ? std::move(calendar) : std::make_unique<CalendarService>()),
      m_todoistService(todoist ? std::move(todoist) : std::make_unique<TodoistService>()) {}

DataSource::~DataSource() = default;

QCoro::Task<> DataSource::refresh() {
    co_return;
}

} // namespace daybrook
