#include "calendar/CalendarService.h"
#include "core/UserDefaults.h"
#include "platform/CalendarStore.h"
#include "state/DataSource.h"
#include "support/TestEnvironment.h"

#include <QtTest>

using namespace daybrook;

namespace {

const QDate day(2026, 3, 10);

QDateTime at(int h, int m, int s = 0) {
    return test::localTime(h, m, s, day);
}

TimeEntry task(const QString &id, const QString &label, const QDateTime &start) {
    return TodoistEntry{id, start, start.addSecs(900), label, Color::rgb(1, 0, 0), QStringLiteral("Inbox")};
}

TimeEntry calEvent(const QString &id, const QString &label, const QDateTime &start) {
    return CalendarEntry{id, start, start.addSecs(1800), label, Color::rgb(0, 0, 1), QStringLiteral("Work")};
}

QStringList describe(const TimeEntryList &entries) {
    QStringList out;
    for (const TimeEntry &entry : entries) {
        const char *kind = entry.as<CombinedEntry>() ? "both" : entry.as<TodoistEntry>() ? "task" : "event";
        out << QStringLiteral("%1:%2").arg(QLatin1String(kind), entry.id());
    }
    return out;
}

// The calendar store, served from memory: the real one needs a desktop
// session, which unit tests do not have (the integration tests use it).
class MemoryStore : public CalendarStore {
public:
    QList<StoreCalendar> list{{"home", "Home", "#00ff00", std::nullopt, {}},
                              {"work", "Work", {}, std::nullopt, {}}};
    QList<StoreInstance> instances{{"home", "h1", {}, at(8, 0), at(8, 30), false, QStringLiteral("Run")},
                                   {"work", "w1", {}, at(9, 0), at(9, 30), false, QStringLiteral("Sync")},
                                   {"work", "w2", {}, at(0, 0), at(0, 30), true, QStringLiteral("Off")}};
    int fetches = 0;

    bool isOpen() const override { return true; }
    void open(OpenCallback done) override {
        QTimer::singleShot(0, this, [done] { done({true, {}}); });
    }
    QList<StoreCalendar> calendars() const override { return list; }
    void fetch(const QDateTime &, const QDateTime &, FetchCallback done) override {
        ++fetches;
        QTimer::singleShot(0, this,
                           [done, result = StoreFetchResult{true, {}, list, instances}] { done(result); });
    }
};

} // namespace

class DataSourceTest : public QObject {
    Q_OBJECT

    MemoryStore *m_store = nullptr;
    std::unique_ptr<DataSource> m_source;
    CalendarService *m_calendar = nullptr;

private Q_SLOTS:
    void init() {
        test::setTimeZone("Europe/Berlin");
        test::resetUserDefaults();
        UserDefaults::setValue(QLatin1String(CalendarService::consentKey), true);
        auto store = std::make_unique<MemoryStore>();
        m_store = store.get();
        TodoistConfig offline;
        offline.apiBaseUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
        m_source = std::make_unique<DataSource>(std::make_unique<CalendarService>(std::move(store)),
                                                std::make_unique<TodoistService>(offline));
        m_calendar = m_source->calendarService();
        QTRY_COMPARE(m_source->timeEntries().size(), 2);
        QTRY_VERIFY(!m_calendar->isLoading());
    }

    void combinesWithinTheSameLocalMinute_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("taskStart");
        QTest::addColumn<QDateTime>("eventStart");
        QTest::addColumn<QString>("labels"); // the task's and the event's
        QTest::addColumn<bool>("combined");
        const auto add = [](const char *name, const QDateTime &task, const QDateTime &event,
                            const char *labels, bool combined, const char *zone = "Europe/Berlin") {
            QTest::newRow(name) << QByteArray(zone) << task << event << QString::fromUtf8(labels) << combined;
        };
        add("start and end of one minute", at(9, 0, 0), at(9, 0, 59), "Plan|Plan", true);
        add("fraction of a second", at(9, 0, 0).addMSecs(999), at(9, 0, 0), "Plan|Plan", true);
        add("next minute", at(8, 59, 59), at(9, 0, 0), "Plan|Plan", false);
        add("letter case", at(9, 0), at(9, 0), "Plan|plan", false);
        add("trailing blank", at(9, 0), at(9, 0), "Plan|Plan ", false);
        // "Café" precomposed and with a combining accent.
        add("canonically equivalent", at(9, 0), at(9, 0), "Caf\u00E9|Cafe\u0301", true);
        add("first combining mark", at(9, 0), at(9, 0), "\u00E8|e\u0300", true);
        add("syllable and its letters", at(9, 0), at(9, 0), "\uD55C|\u1112\u1161\u11AB", true);
        // 02:30 happens twice when summer time ends; an hour apart is not the same minute.
        const QDateTime repeated(QDate(2026, 10, 25), QTime(0, 30), Qt::UTC);
        add("repeated hour", repeated, repeated.addSecs(3600), "Plan|Plan", false);
        // UTC+05:45: minutes of the local clock, not of UTC.
        const QDateTime kathmandu(QDate(2026, 3, 10), QTime(3, 15, 30), Qt::UTC);
        add("quarter-hour zone", kathmandu, kathmandu.addSecs(29), "Plan|Plan", true, "Asia/Kathmandu");
        // UTC+00:19:32 until 1937: local minutes start 28 s past UTC ones.
        const QDateTime amsterdam(QDate(1930, 1, 15), QTime(10, 0, 26), Qt::UTC);
        add("zone with seconds", amsterdam, amsterdam.addSecs(3), "Plan|Plan", false, "Europe/Amsterdam");
    }
    void combinesWithinTheSameLocalMinute() {
        QFETCH(QDateTime, taskStart);
        QFETCH(QDateTime, eventStart);
        QFETCH(QString, labels);
        QFETCH(bool, combined);
        QFETCH(QByteArray, zone);
        test::setTimeZone(zone);
        const TimeEntryList merged = mergeEntries({task("t", labels.section('|', 0, 0), taskStart)},
                                                  {calEvent("e", labels.section('|', 1), eventStart)});
        QCOMPARE(describe(merged), (combined ? QStringList{"both:t"} : QStringList{"event:e", "task:t"}));
    }

    void keepsOrderAndResolvesDuplicateKeys() {
        // Two tasks with one key: the later one is combined, neither stays alone.
        // Two events matching one task: both combined, with the task's identity.
        const TimeEntryList merged = mergeEntries(
            {task("t1", "Plan", at(9, 0)), task("t2", "Plan", at(9, 0)), task("t3", "Solo", at(7, 0)),
             task("t4", "Twin", at(12, 0)), task("t5", "Twin", at(12, 0))},
            {calEvent("e1", "Plan", at(9, 0)), calEvent("e2", "Lunch", at(12, 0)),
             calEvent("e3", "Plan", at(9, 0, 30))});
        QCOMPARE(describe(merged),
                 (QStringList{"both:t2", "event:e2", "both:t2", "task:t3", "task:t4", "task:t5"}));
        const TimeEntry &both = merged.first();
        QCOMPARE(both.as<CombinedEntry>()->calendarEntry.id, QStringLiteral("e1"));
        QCOMPARE(merged[2].as<CombinedEntry>()->calendarEntry.id, QStringLiteral("e3"));
        // The task's look, the event's end.
        QCOMPARE((std::tuple{both.startTime(), both.endTime(), both.color(), both.groupName()}),
                 (std::tuple{at(9, 0), std::optional(at(9, 30)), Color::rgb(1, 0, 0),
                             std::optional(QStringLiteral("Inbox"))}));
        QCOMPARE(both.sourceName(), QStringLiteral("Todoist \u00B7 Calendar"));
    }

    void eventsBecomeEntriesUnlessFilteredOut() {
        const int fetches = m_store->fetches;
        CalendarEvent empty{"x", at(9, 0), at(10, 0), false, nullptr, QString()};
        QCOMPARE(m_calendar->makeEntry(empty)->label, QString()); // only an absent title becomes "Event"
        empty.endDate = std::nullopt;
        QVERIFY(!m_calendar->makeEntry(empty));

        // Filters apply to the events held, without a new fetch.
        m_calendar->setCalendar(QStringLiteral("work"), false);
        QTRY_COMPARE(describe(m_source->timeEntries()), QStringList{"event:h1"});
        m_calendar->setCalendar(QStringLiteral("work"), true);
        QTRY_COMPARE(describe(m_source->timeEntries()), (QStringList{"event:h1", "event:w1"}));
        m_calendar->setIsEnabled(false);
        QTRY_VERIFY(m_source->timeEntries().isEmpty());
        m_calendar->setIsEnabled(true);
        QTRY_COMPARE(m_source->timeEntries().size(), 2);
        QCOMPARE(m_store->fetches, fetches);
        QCOMPARE(m_calendar->events().size(), 3); // the all-day event stays held
    }

    void aBurstOfChangesGivesOneRebuild() {
        QSignalSpy rebuilt(m_source.get(), &DataSource::timeEntriesChanged);
        m_calendar->setCalendar(QStringLiteral("home"), false);
        m_calendar->setIsEnabled(false);
        m_source->todoistService()->setAccessToken(std::nullopt);
        m_calendar->setIsEnabled(true);
        m_calendar->setCalendars({Calendar{"work", "Work", std::nullopt, std::nullopt}}, false);
        QCOMPARE(rebuilt.count(), 0); // nothing before the next turn of the loop
        QTRY_COMPARE(rebuilt.count(), 1);
        QVERIFY(!rebuilt.wait(50));                 // and no second one
        QVERIFY(m_source->timeEntries().isEmpty()); // both calendars excluded, switched on

        // An assignment of an unchanged value still counts.
        m_calendar->setIsEnabled(true);
        QTRY_COMPARE(rebuilt.count(), 2);
    }

    void disconnectingDuringAFetchLeavesNoEvents() {
        m_calendar->fetchEvents();
        m_calendar->disconnect();
        QTRY_VERIFY(!m_calendar->isLoading());
        QVERIFY(m_calendar->events().isEmpty());
        QTRY_VERIFY(m_source->timeEntries().isEmpty());
    }
};

QTEST_GUILESS_MAIN(DataSourceTest)
#include "test_data_source.moc"
