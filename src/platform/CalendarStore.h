#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace daybrook {

// One calendar of the desktop's calendar store, as the store describes it.
struct StoreCalendar {
    QString uid;
    QString displayName;
    QString color; // as stored ("#rrggbb"); empty when the calendar has none
    // The account the calendar belongs to; absent when it has no parent.
    std::optional<QString> accountUid;
    QString accountName;
};

// One occurrence of an event: recurring events give one per occurrence.
struct StoreInstance {
    QString calendarUid;
    QString uid;
    QString recurrenceId; // empty for an event that does not repeat
    QDateTime start;      // UTC
    QDateTime end;        // UTC
    bool startIsDate = false;
    std::optional<QString> summary;
};

struct StoreOpenResult {
    bool ok = false;
    QString error;
};

struct StoreFetchResult {
    // False when the store could not be reached at all; instances and
    // calendars are then empty.
    bool reachable = false;
    QString error;
    QList<StoreCalendar> calendars;
    // Every occurrence overlapping the window, in calendar order and, within a
    // calendar, ascending by start.
    QList<StoreInstance> instances;
};

// The calendar store behind the calendar service. Every operation answers
// through its callback on a later turn of the event loop, never from inside
// the call; a callback is dropped (never called) when the store is destroyed
// first.
class CalendarStore : public QObject {
    Q_OBJECT
public:
    using OpenCallback = std::function<void(StoreOpenResult)>;
    using FetchCallback = std::function<void(StoreFetchResult)>;

    using QObject::QObject;

    // Whether the store answered the last time it was asked.
    virtual bool isOpen() const = 0;
    // Connects to the store, or reconnects when it went away.
    virtual void open(OpenCallback done) = 0;
    // The enabled calendars as last reported by the store (no waiting).
    virtual QList<StoreCalendar> calendars() const = 0;
    // Occurrences of every enabled calendar overlapping [start, end).
    virtual void fetch(const QDateTime &start, const QDateTime &end, FetchCallback done) = 0;

Q_SIGNALS:
    // A calendar was added, removed or changed, or an event in the watched
    // window changed. Emitted as the store reports it; callers coalesce.
    void changed();
};

// The store on Evolution Data Server.
std::unique_ptr<CalendarStore> createEdsCalendarStore();

} // namespace daybrook
