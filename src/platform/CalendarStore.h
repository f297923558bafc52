#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
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
    // Subscribed to through this program, which may therefore remove it again.
    bool addedByApp = false;
};

// A calendar read from an iCalendar address, fetched and kept by the store.
struct NewWebCalendar {
    QString displayName;
    QUrl address; // http or https
    QString color;
    int refreshMinutes = 30;
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
    // An empty text means success.
    using DoneCallback = std::function<void(QString error)>;

    using QObject::QObject;

    // Whether the store answered the last time it was asked.
    virtual bool isOpen() const = 0;
    // Connects to the store, or reconnects when it went away.
    virtual void open(OpenCallback done) = 0;
    // The enabled calendars as last reported by the store (no waiting).
    virtual QList<StoreCalendar> calendars() const = 0;
    // Occurrences of every enabled calendar overlapping [start, end).
    virtual void fetch(const QDateTime &start, const QDateTime &end, FetchCallback done) = 0;

    // Subscribes to a calendar on the web; it is listed as added by this program.
    virtual void addWebCalendar(const NewWebCalendar &, DoneCallback done) { unsupported(std::move(done)); }
    // Removes a calendar this program added; others are refused.
    virtual void removeCalendar(const QString &, DoneCallback done) { unsupported(std::move(done)); }
    // Asks every enabled calendar that keeps a copy of a remote one to bring it
    // up to date. Answers when all have answered or after a bounded wait; the
    // new events arrive through changed().
    virtual void synchronize(DoneCallback done) { unsupported(std::move(done)); }

protected:
    void unsupported(DoneCallback done) {
        QMetaObject::invokeMethod(
            this, [done = std::move(done)] { done(QStringLiteral("not supported by this calendar store")); },
            Qt::QueuedConnection);
    }

Q_SIGNALS:
    // A calendar was added, removed or changed, or an event in the watched
    // window changed. Emitted as the store reports it; callers coalesce.
    void changed();
};

// The store on Evolution Data Server.
std::unique_ptr<CalendarStore> createEdsCalendarStore();

} // namespace daybrook
