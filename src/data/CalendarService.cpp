#include "data/CalendarService.h"

// Placeholder until the calendar store lands: no access, no events.

namespace daybrook {

CalendarService::CalendarService(QObject *parent) : QObject(parent) {}
CalendarService::~CalendarService() = default;

void CalendarService::setIsEnabled(bool enabled) {
    m_isEnabled = enabled;
    Q_EMIT isEnabledChanged();
}

void CalendarService::checkAuthorizationStatus() {}
QCoro::Task<bool> CalendarService::requestAccess() {
    co_return false;
}
void CalendarService::enable() {
    setIsEnabled(true);
}
void CalendarService::disconnect() {
    setIsEnabled(false);
}
void CalendarService::setCalendar(const QString &, bool) {}
void CalendarService::setCalendars(const QList<Calendar> &, bool) {}
QList<CalendarGroup> CalendarService::calendarsBySource() const {
    return {};
}
QCoro::Task<> CalendarService::fetchEvents() {
    co_return;
}
TimeEntryList CalendarService::timeEntries(const QList<CalendarEvent> &) const {
    return {};
}
std::optional<CalendarEntry> CalendarService::makeEntry(const CalendarEvent &) const {
    return std::nullopt;
}

} // namespace daybrook
