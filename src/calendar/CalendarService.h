#pragma once

#include "core/TimeEntry.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace daybrook {

class CalendarStore;

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
    // Subscribed to from the settings; only these can be removed there.
    bool addedByApp = false;
};

struct CalendarEvent {
    QString identifier; // unique per instance, stable across refreshes
    std::optional<QDateTime> startDate;
    std::optional<QDateTime> endDate;
    bool isAllDay = false;
    std::shared_ptr<const Calendar> calendar;
    std::optional<QString> title;
};

// What became of a request to subscribe to a calendar by its address: the
// calendar's name, or a message for the user saying why nothing was added.
struct AddCalendarResult {
    bool ok = false;
    QString text;
};

// The address as the user typed or pasted it, made fetchable: webcal:// and
// webcals:// become https://; absent when it cannot name a calendar on the web.
std::optional<QUrl> calendarFeedAddress(const QString &typed);
// Whether the start of a download is an iCalendar file, and its name
// (X-WR-CALNAME) if it gives one.
bool looksLikeICalendar(const QByteArray &head);
QString feedCalendarName(const QByteArray &head);

struct CalendarGroup {
    std::optional<CalendarSource> source;
    QList<Calendar> calendars;
};

// Today's events from the desktop's calendar store, the permission to read
// them, the integration's switch and the calendars the user excluded.
class CalendarService : public QObject {
    Q_OBJECT
public:
    // Reads the desktop's calendar store (Evolution Data Server).
    explicit CalendarService(QObject *parent = nullptr);
    // Reads the given store instead.
    explicit CalendarService(std::unique_ptr<CalendarStore> store, QObject *parent = nullptr);
    ~CalendarService() override;

    // Stored when the user connects the calendar; until then nothing is read.
    static constexpr const char *consentKey = "calendarAccessGranted";
    static constexpr const char *enabledKey = "calendarEnabled";
    static constexpr const char *disabledCalendarsKey = "disabledCalendarIdentifiers";

    // How long after the store reports a change the events are read again, so
    // that a burst of edits costs one fetch.
    int changeDelayMs() const { return m_changeTimer.interval(); }
    void setChangeDelayMs(int ms) { m_changeTimer.setInterval(ms); }

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
    // Asks calendars kept from remote ones to synchronise (bounded), then reads.
    QCoro::Task<> refresh();
    // Checks the address by fetching it once, then subscribes to it in the
    // calendar store, which does the fetching from then on.
    QCoro::Task<AddCalendarResult> addCalendarFromUrl(QString typed);
    // Empty on success, else why the calendar stays.
    QCoro::Task<QString> removeCalendar(QString identifier);
    TimeEntryList timeEntries(const QList<CalendarEvent> &events) const;
    std::optional<CalendarEntry> makeEntry(const CalendarEvent &event) const;

Q_SIGNALS:
    void authorizationStatusChanged();
    void eventsChanged();
    void isLoadingChanged();
    void isEnabledChanged();
    void disabledCalendarIdsChanged();
    // The store's list of calendars may have changed.
    void calendarsChanged();

private:
    bool hasConsent() const;
    void setAuthorizationStatus(CalendarAuthorization status, bool fetchWhenGranted);
    void setIsLoading(bool loading);
    void setEvents(QList<CalendarEvent> events);
    void persistDisabledCalendars();
    void storeChanged();

    // Operations waiting for the store, each with the way to end its wait
    // early: a destroyed store drops its callbacks, which would leave the
    // waiting coroutines suspended (and their frames leaked) for ever.
    friend class StoreWaits;
    std::map<quint64, std::function<void()>> m_storeWaits;
    quint64 m_nextStoreWait = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

    std::unique_ptr<CalendarStore> m_store;
    QNetworkAccessManager *m_network = nullptr;
    QTimer m_changeTimer;
    int m_runningFetches = 0;
    CalendarAuthorization m_authorizationStatus = CalendarAuthorization::NotDetermined;
    QList<CalendarEvent> m_events;
    bool m_isLoading = false;
    bool m_isEnabled = true;
    QSet<QString> m_disabledCalendarIds;
};

} // namespace daybrook
