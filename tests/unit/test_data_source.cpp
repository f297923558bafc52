#include "calendar/CalendarService.h"
#include "core/UserDefaults.h"
#include "platform/CalendarStore.h"
#include "state/DataSource.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTest>

using namespace daybrook;

namespace {

const QDate day(2026, 3, 10);

QDateTime at(int h, int m, int s = 0, QDate date = day) {
    return test::localTime(h, m, s, date);
}

TimeEntry todoistTask(const QString &id, const QString &label, const QDateTime &start) {
    return TodoistEntry{id, start, start.addSecs(900), label, Color::rgb(1, 0, 0), QStringLiteral("Inbox")};
}

TimeEntry calendarEvent(const QString &id, const QString &label, const QDateTime &start) {
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
    QList<StoreCalendar> list;
    QList<StoreInstance> instances;
    int fetches = 0;

    bool isOpen() const override { return true; }
    void open(OpenCallback done) override {
        QMetaObject::invokeMethod(
            this,
            [done] {
                done({true, {}});
            },
            Qt::QueuedConnection);
    }
    QList<StoreCalendar> calendars() const override { return list; }
    void fetch(const QDateTime &, const QDateTime &, FetchCallback done) override {
        ++fetches;
        StoreFetchResult result{true, {}, list, instances};
        QMetaObject::invokeMethod(
            this, [done, result] { done(result); }, Qt::QueuedConnection);
    }
};

StoreInstance instance(const QString &calendar, const QString &uid, const QDateTime &start,
                       std::optional<QString> summary, bool allDay = false) {
    return StoreInstance{calendar, uid, {}, start, start.addSecs(1800), allDay, std::move(summary)};
}

} // namespace

class DataSourceTest : public QObject {
    Q_OBJECT

    MemoryStore *m_store = nullptr;

    std::unique_ptr<DataSource> makeSource() {
        auto store = std::make_unique<MemoryStore>();
        m_store = store.get();
        m_store->list = {
            StoreCalendar{
                QStringLiteral("home"), QStringLiteral("Home"), QStringLiteral("#00ff00"), std::nullopt, {}},
            StoreCalendar{QStringLiteral("work"), QStringLiteral("Work"), {}, std::nullopt, {}}};
        m_store->instances = {
            instance(QStringLiteral("home"), QStringLiteral("h1"), at(8, 0), QStringLiteral("Run")),
            instance(QStringLiteral("work"), QStringLiteral("w1"), at(9, 0), QStringLiteral("Sync")),
            instance(QStringLiteral("work"), QStringLiteral("w2"), at(0, 0), QStringLiteral("Off"), true)};
        TodoistConfig offline;
        offline.apiBaseUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
        return std::make_unique<DataSource>(std::make_unique<CalendarService>(std::move(store)),
                                            std::make_unique<TodoistService>(offline));
    }

private Q_SLOTS:
    void init() {
        test::setTimeZone("Europe/Berlin");
        test::resetUserDefaults();
        UserDefaults::setValue(QLatin1String(CalendarService::consentKey), true);
    }

    void combinesWithinTheSameLocalMinute_data() {
        QTest::addColumn<QDateTime>("taskStart");
        QTest::addColumn<QDateTime>("eventStart");
        QTest::addColumn<QString>("taskLabel");
        QTest::addColumn<QString>("eventLabel");
        QTest::addColumn<bool>("combined");
        const QString plan = QStringLiteral("Plan");
        QTest::newRow("start and end of one minute") << at(9, 0, 0) << at(9, 0, 59) << plan << plan << true;
        QTest::newRow("fraction of a second")
            << at(9, 0, 0).addMSecs(999) << at(9, 0, 0) << plan << plan << true;
        QTest::newRow("one second into the next minute")
            << at(8, 59, 59) << at(9, 0, 0) << plan << plan << false;
        QTest::newRow("letter case") << at(9, 0) << at(9, 0) << plan << QStringLiteral("plan") << false;
        QTest::newRow("trailing blank") << at(9, 0) << at(9, 0) << plan << QStringLiteral("Plan ") << false;
        // "Café" precomposed and with a combining accent.
        QTest::newRow("canonically equivalent")
            << at(9, 0) << at(9, 0) << QStringLiteral("Caf\u00E9") << QStringLiteral("Cafe\u0301") << true;
        // 02:30 happens twice when summer time ends; an hour apart is not the same minute.
        QTest::newRow("repeated hour")
            << QDateTime(QDate(2026, 10, 25), QTime(0, 30), Qt::UTC)
            << QDateTime(QDate(2026, 10, 25), QTime(1, 30), Qt::UTC) << plan << plan << false;
    }
    void combinesWithinTheSameLocalMinute() {
        QFETCH(QDateTime, taskStart);
        QFETCH(QDateTime, eventStart);
        QFETCH(QString, taskLabel);
        QFETCH(QString, eventLabel);
        QFETCH(bool, combined);
        const TimeEntryList merged = mergeEntries({todoistTask("t", taskLabel, taskStart)},
                                                  {calendarEvent("e", eventLabel, eventStart)});
        QCOMPARE(describe(merged), (combined ? QStringList{"both:t"} : QStringList{"event:e", "task:t"}));
    }

    void combinesAcrossZoneOffsetsOfQuarterHours() {
        test::setTimeZone("Asia/Kathmandu"); // UTC+05:45
        const QDateTime local = QDateTime(day, QTime(9, 0, 30), Qt::LocalTime).toUTC();
        const TimeEntryList merged =
            mergeEntries({todoistTask("t", "Plan", local)}, {calendarEvent("e", "Plan", local.addSecs(29))});
        QCOMPARE(describe(merged), QStringList{"both:t"});
        QCOMPARE(
            matchKey(todoistTask("t", "Plan", local)),
            QStringLiteral("Plan|%1").arg(QDateTime(day, QTime(9, 0), Qt::LocalTime).toSecsSinceEpoch()));
    }

    void keepsOrderAndResolvesDuplicateKeys() {
        // Two tasks with one key: the later one is combined, neither stays alone.
        // Two events matching one task: both combined, with the task's identity.
        const TimeEntryList merged =
            mergeEntries({todoistTask("t1", "Plan", at(9, 0)), todoistTask("t2", "Plan", at(9, 0)),
                          todoistTask("t3", "Solo", at(7, 0)), todoistTask("t4", "Twin", at(12, 0)),
                          todoistTask("t5", "Twin", at(12, 0))},
                         {calendarEvent("e1", "Plan", at(9, 0)), calendarEvent("e2", "Lunch", at(12, 0)),
                          calendarEvent("e3", "Plan", at(9, 0, 30))});
        QCOMPARE(describe(merged),
                 (QStringList{"both:t2", "event:e2", "both:t2", "task:t3", "task:t4", "task:t5"}));

        const CombinedEntry *both = merged.first().as<CombinedEntry>();
        QCOMPARE(merged.first().label(), QStringLiteral("Plan"));
        QCOMPARE(merged.first().startTime(), at(9, 0));
        QCOMPARE(merged.first().endTime(), std::optional<QDateTime>(at(9, 30)));
        QCOMPARE(merged.first().color(), Color::rgb(1, 0, 0));
        QCOMPARE(merged.first().groupName(), std::optional<QString>(QStringLiteral("Inbox")));
        QCOMPARE(merged.first().sourceName(), QStringLiteral("Todoist \u00B7 Calendar"));
        QCOMPARE(both->calendarEntry.id, QStringLiteral("e1"));
        QCOMPARE(merged[2].as<CombinedEntry>()->calendarEntry.id, QStringLiteral("e3"));
    }

    void eventsBecomeEntries() {
        auto source = makeSource();
        CalendarService &calendar = *source->calendarService();
        const auto home =
            std::make_shared<const Calendar>(Calendar{"home", "Home", std::nullopt, std::nullopt});
        CalendarEvent base{"x", at(9, 0), at(10, 0), false, home, QStringLiteral("Title")};

        CalendarEvent untitled = base;
        untitled.title = std::nullopt;
        QCOMPARE(calendar.makeEntry(untitled)->label, QStringLiteral("Event"));
        CalendarEvent empty = base;
        empty.title = QString();
        QCOMPARE(calendar.makeEntry(empty)->label, QString());
        QCOMPARE(calendar.makeEntry(base)->color, standardBlue());
        QCOMPARE(calendar.makeEntry(base)->groupName, std::optional<QString>(QStringLiteral("Home")));

        CalendarEvent open = base;
        open.endDate = std::nullopt;
        QVERIFY(!calendar.makeEntry(open));
        CalendarEvent allDay = base;
        allDay.isAllDay = true;
        QVERIFY(!calendar.makeEntry(allDay));
        calendar.setCalendar(QStringLiteral("home"), false);
        QVERIFY(!calendar.makeEntry(base));
    }

    void followsFiltersWithoutFetching() {
        auto source = makeSource();
        CalendarService &calendar = *source->calendarService();
        QTRY_COMPARE(describe(source->timeEntries()), (QStringList{"event:h1", "event:w1"}));
        QTRY_VERIFY(!calendar.isLoading());
        const int fetches = m_store->fetches;
        QCOMPARE(source->timeEntries()[1].color(), standardBlue());
        QCOMPARE(source->timeEntries()[0].color().toQColor().name(), QStringLiteral("#00ff00"));

        calendar.setCalendar(QStringLiteral("work"), false);
        QTRY_COMPARE(describe(source->timeEntries()), QStringList{"event:h1"});
        calendar.setCalendar(QStringLiteral("work"), true);
        QTRY_COMPARE(describe(source->timeEntries()), (QStringList{"event:h1", "event:w1"}));
        calendar.setIsEnabled(false);
        QTRY_VERIFY(source->timeEntries().isEmpty());
        calendar.setIsEnabled(true);
        QTRY_COMPARE(source->timeEntries().size(), 2);
        QCOMPARE(m_store->fetches, fetches);
        QCOMPARE(calendar.events().size(), 3); // the all-day event stays held
    }

    void aBurstOfChangesGivesOneRebuild() {
        auto source = makeSource();
        CalendarService &calendar = *source->calendarService();
        QTRY_COMPARE(source->timeEntries().size(), 2);
        QTRY_VERIFY(!calendar.isLoading());

        QSignalSpy rebuilt(source.get(), &DataSource::timeEntriesChanged);
        calendar.setCalendar(QStringLiteral("home"), false);
        calendar.setIsEnabled(false);
        source->todoistService()->setAccessToken(std::nullopt);
        calendar.setIsEnabled(true);
        calendar.setCalendars({Calendar{"work", "Work", std::nullopt, std::nullopt}}, false);
        QCOMPARE(rebuilt.count(), 0); // nothing before the next turn of the loop
        QTRY_COMPARE(rebuilt.count(), 1);
        QTest::qWait(50);
        QCOMPARE(rebuilt.count(), 1);
        QVERIFY(source->timeEntries().isEmpty()); // both calendars excluded, switched on

        // An assignment of an unchanged value still counts.
        calendar.setIsEnabled(true);
        QTRY_COMPARE(rebuilt.count(), 2);
    }

    void disconnectingDuringAFetchLeavesNoEvents() {
        auto source = makeSource();
        CalendarService &calendar = *source->calendarService();
        QTRY_COMPARE(source->timeEntries().size(), 2);
        QTRY_VERIFY(!calendar.isLoading());
        calendar.fetchEvents();
        calendar.disconnect();
        QTRY_VERIFY(!calendar.isLoading());
        QVERIFY(calendar.events().isEmpty());
        QTRY_VERIFY(source->timeEntries().isEmpty());
    }
};

QTEST_GUILESS_MAIN(DataSourceTest)
#include "test_data_source.moc"
