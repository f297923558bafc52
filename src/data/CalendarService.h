#pragma once

#include "data/TimeEntry.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <memory>
#include <optional>

namespace daybrook {

// Same raw values as the permission states the rest of the program compares.
enum class CalendarAuthorization {
    NotDetermined = 0,
    Restricted = 1,
    Denied = 2,
    FullAccess = 3,
    WriteOnly = 4
};

// An account that calendars belong to.
struct CalendarSource {
    QString identifier;
    QString title;
};

struct Calendar {
    QString identifier;
    QString title;
    std::optional<Color> color;
    std::optional<CalendarSource> source;
};

struct CalendarEvent {
    QString identifier; // unique per instance, stable across refreshes
    std::optional<QDateTime> startDate;
    std::optional<QDateTime> endDate;
    bool isAllDay = false;
    std::shared_ptr<const Calendar> calendar;
    std::optional<QString> title;
};

struct CalendarGroup {
    std::optional<CalendarSource> source;
    QList<Calendar> calendars;
};

// Today's events from the desktop's calendar store, the permission to read
// them, the integration's switch and the calendars the user excluded.
class CalendarService : public QObject {
    Q_OBJECT
public:
    explicit CalendarService(QObject *parent = nullptr);
    ~CalendarService() override;

    CalendarAuthorization authorizationStatus() const { return m_authorizationStatus; }
    const QList<CalendarEvent> &events() const { return m_events; }
    bool isLoading() const { return m_isLoading; }
    bool isEnabled() const { return m_isEnabled; }
    void setIsEnabled(bool enabled);
    const QSet<QString> &disabledCalendarIds() const { return m_disabledCalendarIds; }

    void checkAuthorizationStatus();
    QCoro::Task<bool> requestAccess();
    void enable();
    void disconnect();
    void setCalendar(const QString &identifier, bool enabled);
    void setCalendars(const QList<Calendar> &calendars, bool enabled);
    QList<CalendarGroup> calendarsBySource() const;
    QCoro::Task<> fetchEvents();
    TimeEntryList timeEntries(const QList<CalendarEvent> &events) const;
    std::optional<CalendarEntry> makeEntry(const CalendarEvent &event) const;

Q_SIGNALS:
    void authorizationStatusChanged();
    void eventsChanged();
    void isLoadingChanged();
    void isEnabledChanged();
    void disabledCalendarIdsChanged();

private:
    CalendarAuthorization m_authorizationStatus = CalendarAuthorization::NotDetermined;
    QList<CalendarEvent> m_events;
    bool m_isLoading = false;
    bool m_isEnabled = true;
    QSet<QString> m_disabledCalendarIds;
};

} // namespace daybrook
