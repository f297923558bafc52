// The bar's model: time <-> position, entry frames and status, the row layout
// and its cache, and the hover record with the tooltip derived from it.
#include "bar/BarState.h"
#include "core/Clock.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <limits>

using namespace daybrook;
using daybrook::test::barEntry;

namespace {
QDateTime at(int hour, int minute = 0) {
    return test::localTime(hour, minute, 0, test::barDay);
}

// A bar 1450 px wide, 7 to 21 without application state, at `now`.
struct Bar : BarState {
    explicit Bar(const QDateTime &now, const TimeEntryList &entries = {}) {
        setCurrentTime(now);
        setFrame(QRectF(0, 0, 1450, 150));
        setEntries(entries);
    }
    void setEntries(const TimeEntryList &entries) { setPreviewData(BarPreviewData{entries}); }
};
} // namespace

class TestBarState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        test::setTimeZone("Europe/Berlin");
        test::resetUserDefaults();
        Clock::freezeAt(at(12, 0));
    }
    void cleanup() { Clock::reset(); }

    void mapsTimesToPositionsAcrossTheDayRange() {
        Bar state(at(12));
        // Before and after the range, including other days, stick to the edges.
        const QList<std::pair<QDateTime, double>> positions{
            {at(6, 45), 0}, {at(21, 15), 1450}, {at(14), 725}, {at(12).addDays(1), 1450}};
        for (const auto &[time, x] : positions)
            QCOMPARE(state.xPosition(time), x);
        // date(atX:) inverts it inside the bar and extrapolates outside.
        QVERIFY(state.date(-100) < at(6, 45) && state.date(1600) > at(21, 15));
        for (double x : {0.0, 13.0, 500.5, 725.0, 1449.0})
            QVERIFY(qAbs(state.xPosition(state.date(x)) - x) < 0.01);
        // The next day moves the whole range with it.
        state.setCurrentTime(at(12).addDays(1));
        QCOMPARE(state.xPosition(at(14)), 0.0);
        QCOMPARE(state.xPosition(at(14).addDays(1)), 725.0);
        // A zero-width bar puts everything at 0 and every x at the range start.
        state.setFrame(QRectF());
        QCOMPARE(std::pair(state.xPosition(at(14)), state.date(300)), std::pair(0.0, at(6, 45).addDays(1)));
    }

    // Whatever the settings hold, the bar spans the hours between the two
    // values, clamped to the day, and has at most 25 ticks.
    void boundsTheDayRange() {
        constexpr int huge = std::numeric_limits<int>::max(), tiny = std::numeric_limits<int>::min();
        const QList<std::tuple<int, int, QDateTime, QDateTime, int>> cases{
            {6, 22, at(5, 45), at(22, 15), 17},
            {22, 6, at(5, 45), at(22, 15), 17},
            {9, 9, at(8, 45), at(9, 15), 1},
            {7, huge, at(6, 45), at(0, 15).addDays(1), 18},
            {tiny, 21, at(0).addSecs(-900), at(21, 15), 22}};
        for (const auto &[start, end, from, to, ticks] : cases) {
            auto app = std::make_unique<AppState>();
            app->setDayStartHour(start);
            app->setDayEndHour(end);
            BarState state;
            state.setAppState(app.get());
            state.setCurrentTime(at(12));
            QCOMPARE(QDateTime::fromMSecsSinceEpoch(state.rangeStartMSecs()), from);
            QCOMPARE(QDateTime::fromMSecsSinceEpoch(state.rangeEndMSecs()), to);
            QCOMPARE(int(state.hourTicks().size()), ticks);
            // The application state going away falls back to the default range.
            app.reset();
            QCOMPARE(QDateTime::fromMSecsSinceEpoch(state.rangeStartMSecs()), at(6, 45));
            QCOMPARE(int(state.hourTicks().size()), 15);
            QVERIFY(state.entries().isEmpty() && !state.sunriseX() && !state.showSunGradients());
        }
    }

    // On days of 23 and 25 hours every position comes from the real instant
    // of the local clock's hour: the hand at 12:00 sits on the 12:00 tick.
    void placesTheHoursOfClockChangeDays_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QDateTime>("dayStart");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("repeated");
        QTest::addColumn<QDateTime>("repeatedFirst");
        const auto utc = [](int month, int day, int hour) {
            return QDateTime(QDate(2026, month, day), QTime(hour, 0), Qt::UTC);
        };
        QTest::newRow("Berlin, spring")
            << QByteArray("Europe/Berlin") << QDate(2026, 3, 29) << utc(3, 28, 23) << 2 << -1 << QDateTime();
        QTest::newRow("Berlin, autumn") << QByteArray("Europe/Berlin") << QDate(2026, 10, 25)
                                        << utc(10, 24, 22) << -1 << 2 << utc(10, 25, 0);
        // Midnight repeats: the day starts at the earlier one.
        QTest::newRow("Havana, autumn") << QByteArray("America/Havana") << QDate(2026, 11, 1) << utc(11, 1, 4)
                                        << -1 << 0 << utc(11, 1, 4);
    }

    void placesTheHoursOfClockChangeDays() {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        QFETCH(int, skipped);
        QFETCH(int, repeated);
        test::setTimeZone(zone);
        AppState app;
        app.setDayStartHour(0);
        app.setDayEndHour(24);
        BarState state;
        state.setAppState(&app);
        state.setFrame(QRectF(0, 0, 2000, 150));
        state.setCurrentTime(QDateTime(date, QTime(12, 0), Qt::LocalTime));
        QTEST(QDateTime::fromMSecsSinceEpoch(state.dayStartMSecs(), Qt::UTC), "dayStart");
        // The real length of the range: the day's hours and a quarter hour either side.
        QCOMPARE((state.rangeEndMSecs() - state.rangeStartMSecs()) / 3600000.0,
                 24.5 - (skipped >= 0) + (repeated >= 0));
        QCOMPARE(int(state.hourTicks().size()), skipped >= 0 ? 24 : 25);
        for (const HourTick &tick : state.hourTicks()) {
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(tick.msecs, Qt::LocalTime);
            QCOMPARE(local.time(), QTime(tick.hour % 24, 0));
            QVERIFY(tick.hour != skipped);
            QCOMPARE(state.hourX(tick.hour), state.xPositionMSecs(tick.msecs));
            if (tick.hour == repeated)
                QTEST(local.toUTC(), "repeatedFirst");
        }
        QCOMPARE(state.xPosition(state.currentTime()), state.hourX(12));
    }

    void givesEveryEntryAVisibleFrameAndStatus() {
        Bar state(at(12));
        const EntryFrame hour = state.entryFrame(barEntry("a", 900, 1000));
        QVERIFY(hour.x == 1450 * 2.25 / 14.5 && qAbs(hour.width - 100) < 1e-9);
        // An end before the start.
        QCOMPARE(state.entryFrame(barEntry("c", 1000, 900)).width, 2.0);
        // An open entry runs until now and is never past.
        const TimeEntry open = barEntry("e", 1100, -1);
        QVERIFY(qAbs(state.entryFrame(open).x + state.entryFrame(open).width - state.xPosition(at(12))) <
                1e-9);
        // Starting or ending exactly now is current.
        using enum EntryTimeStatus;
        const QList<std::pair<TimeEntry, EntryTimeStatus>> cases{
            {barEntry("a", 900, 1000), Past},     {barEntry("b", 1300, 1400), Future},
            {barEntry("c", 1100, 1300), Current}, {barEntry("d", 1200, 1300), Current},
            {barEntry("e", 1100, 1200), Current}, {open, Current}};
        for (const auto &[e, status] : cases)
            QCOMPARE(state.status(e), status);
        state.setCurrentTime(at(23));
        QCOMPARE(state.status(open), Current);
        state.setCurrentTime(at(10));
        QCOMPARE(state.status(open), Future);
    }

    void laysOutTheWorkedExamples_data() {
        QTest::addColumn<TimeEntryList>("entries");
        QTest::addColumn<QString>("layout"); // row/rows of each entry
        QTest::newRow("chain of three")
            << TimeEntryList{barEntry("a", 900, 1000), barEntry("b", 930, 1030), barEntry("c", 1000, 1100)}
            << "0/2 1/2 0/2";
        QTest::newRow("touching") << TimeEntryList{barEntry("a", 900, 1000), barEntry("b", 1000, 1100)}
                                  << "0/1 0/1";
        QTest::newRow("starts 300 s apart count as close: longer first")
            << TimeEntryList{barEntry("short", 900, 930), barEntry("long", 905, 1200)} << "1/2 0/2";
        QTest::newRow("starts 360 s apart in start order")
            << TimeEntryList{barEntry("short", 900, 930), barEntry("long", 906, 1200)} << "0/2 1/2";
        QTest::newRow("three rows, then an isolated entry")
            << TimeEntryList{barEntry("a", 900, 1200), barEntry("b", 930, 1100), barEntry("c", 1000, 1030),
                             barEntry("d", 1500, 1600)}
            << "0/3 1/3 2/3 0/1";
        // The second "b" links "c" into the first group through the shared id,
        // and both "b" read the first one's row.
        QTest::newRow("repeated id") << TimeEntryList{barEntry("a", 900, 1000), barEntry("b", 930, 1100),
                                                      barEntry("b", 1600, 1700), barEntry("c", 1630, 1800)}
                                     << "0/2 1/2 1/2 0/2";
    }

    void laysOutTheWorkedExamples() {
        QFETCH(TimeEntryList, entries);
        Bar state(at(12), entries);
        QString layout;
        for (const TimeEntry &e : entries)
            layout += QStringLiteral("%1/%2 ").arg(state.layout(e).row).arg(state.layout(e).totalRows);
        QTEST(layout.trimmed(), "layout");
        QCOMPARE(state.cachedTotalRows(), std::ranges::max(layout).digitValue()); // the largest row count
    }

    void keepsTheCacheUntilTheIdsChange() {
        // An open entry from 08:00 overlaps 10:00-10:30 while it is 11:00.
        TimeEntryList entries{barEntry("open", 800, -1), barEntry("meeting", 1000, 1030)};
        Bar state(at(11), entries);
        QCOMPARE(state.layout(entries[1]).row, 1);
        // Neither time moving back before the meeting nor new times under the
        // same ids rebuild the rows.
        state.setCurrentTime(at(9));
        entries[1] = barEntry("meeting", 1800, 1900);
        state.setEntries(entries);
        QVERIFY(state.layout(entries[1]).totalRows == 2 && state.layoutComputationCount() == 1);
        // Reordering does.
        state.setEntries({entries[1], entries[0]});
        QVERIFY(state.layout(entries[1]).row == 0 && state.layout(entries[1]).totalRows == 1);
        QCOMPARE(state.layoutComputationCount(), 2);
        // An empty list: no rows, one row in total; unknown ids read row 0 of 1.
        state.setEntries({});
        QVERIFY(state.layout(entries[0]).row == 0 && state.layout(entries[0]).totalRows == 1);
        QVERIFY(state.cachedTotalRows() == 1 && state.cachedEntryLayouts().isEmpty());
    }

    // Overlapping entries never share a row and share their group's row count;
    // the largest count is the number of rows in use. Some rounds crowd the day
    // so that groups reach the large-group sort.
    void keepsItsInvariantsOnRandomDays() {
        QRandomGenerator random(20260610);
        for (int round = 0; round < 60; ++round) {
            const bool crowded = round >= 50;
            TimeEntryList entries;
            for (int i = 0, n = int(random.bounded(crowded ? 100 : 1, crowded ? 400 : 40)); i < n; ++i) {
                const QDateTime start = at(7).addSecs(60 * qint64(random.bounded(crowded ? 180 : 840)) +
                                                      (random.bounded(4) == 0 ? random.bounded(300) : 0));
                std::optional<QDateTime> end = start.addSecs(60 * random.bounded(5, 180));
                if (random.bounded(15) == 0)
                    end.reset();
                entries.append(CalendarEntry{QStringLiteral("e%1").arg(i), start, end, {}, {}, {}});
            }
            Bar state(at(13), entries);
            int used = 0;
            for (qsizetype i = 0; i < entries.size(); ++i) {
                const EntryLayout a = state.layout(entries[i]);
                QVERIFY(a.row < a.totalRows);
                used = std::max(used, a.row + 1);
                for (qsizetype j = i + 1; j < entries.size(); ++j)
                    if (const EntryLayout b = state.layout(entries[j]);
                        state.entriesOverlap(entries[i], entries[j]))
                        QVERIFY2(a.row != b.row && a.totalRows == b.totalRows,
                                 qPrintable(QString::number(round)));
            }
            QCOMPARE(state.cachedTotalRows(), used);
        }
    }

    void keepsTheCurrentHoverAgainstLateLeaves() {
        // An entry's "left" matches by id whatever its x; a tick's by hour (the
        // pointer's test sends a tick's late leave).
        BarState state;
        state.updateHover(HoveredElement::entry(QStringLiteral("a"), 40), true);
        state.updateHover(HoveredElement::tick(10), false);
        state.updateHover(HoveredElement::entry(QStringLiteral("b"), 0), false);
        QCOMPARE(state.hoveredElement(), HoveredElement::entry(QStringLiteral("a"), 40));
        state.updateHover(HoveredElement::entry(QStringLiteral("a"), 0), false);
        QVERIFY(!state.hoveredElement().has_value());
    }

    void derivesTheTooltipFromTheHover() {
        const TimeEntry review = barEntry("review", 900, 1030);
        Bar state(at(12, 7), {barEntry("open", 815, -1), review});
        // Tick tooltips need no expansion; hour 21 sits at 14.25 / 14.5.
        state.updateHover(HoveredElement::tick(21), true);
        const auto tick = std::get<TooltipContent::Tick>(state.activeTooltip().value().value);
        QCOMPARE(std::pair(tick.text, tick.x), std::pair(QStringLiteral("21:00"), 1450 * 14.25 / 14.5));
        // The clock hand wins over a hovered tick.
        state.setClockHandHovered(true);
        QCOMPARE(std::pair(std::get<TooltipContent::ClockHand>(state.activeTooltip()->value).text,
                           state.activeTooltip()->x()),
                 std::pair(QStringLiteral("12:07"), state.xPosition(at(12, 7))));
        state.setClockHandHovered(false);
        // Entry tooltips only on the expanded bar.
        const double x = state.xPosition(at(9, 42));
        state.updateHover(HoveredElement::entry(QStringLiteral("review"), x), true);
        QVERIFY(!state.activeTooltip());
        state.setIsExpanded(true);
        const auto content = std::get<TooltipContent::Entry>(state.activeTooltip().value().value);
        QCOMPARE(std::tuple(content.timeRange, content.cursorTime, content.x),
                 std::tuple(QStringLiteral("09:00 \u2013 10:30"), QStringLiteral("09:42"), x));
        state.updateHover(HoveredElement::entry(QStringLiteral("open"), 300), true);
        QCOMPARE(state.timeText()->timeRange, QStringLiteral("08:15 \u2013 now"));
        // The entry disappearing from the list ends its tooltip.
        state.setEntries({review});
        QVERIFY(!state.activeTooltip());
    }

    void showsSunGlowsOnlyWhenEnabledWithBothTimes() {
        Bar state(at(12));
        BarPreviewData data{{}, false, at(6, 30), at(21)};
        for (const bool enabled : {false, true}) {
            data.sunEnabled = enabled;
            state.setPreviewData(data);
            // Sunrise before the range: the left edge.
            QCOMPARE(std::tuple(state.showSunGradients(), *state.sunriseX(), *state.sunsetX()),
                     std::tuple(enabled, 0.0, state.xPosition(at(21))));
        }
        data.sunset.reset();
        state.setPreviewData(data);
        QVERIFY(!state.showSunGradients() && !state.sunsetX());
    }
};

QTEST_MAIN(TestBarState)
#include "test_bar_state.moc"
