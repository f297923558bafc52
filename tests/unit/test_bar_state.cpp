// The bar's model: time <-> position, entry frames and status, the row layout
// and its cache, and the hover record with the tooltip derived from it.
#include "bar/BarState.h"
#include "core/Clock.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QRandomGenerator>
#include <QTest>
#include <functional>
#include <numeric>

using namespace daybrook;
using daybrook::test::localTime;

namespace {
const QDate day(2026, 6, 10);

QDateTime at(int hour, int minute = 0) {
    return localTime(hour, minute, 0, day);
}

TimeEntry entry(const QString &id, const QDateTime &start, std::optional<QDateTime> end,
                const QString &label = QString()) {
    return CalendarEntry{
        id, start, end, label.isEmpty() ? id : label, hexColor(u"#4285F4"), QStringLiteral("Work")};
}

TimeEntry entry(const QString &id, int h1, int m1, int h2, int m2) {
    return entry(id, at(h1, m1), at(h2, m2));
}

void setEntries(BarState &state, const TimeEntryList &entries) {
    BarPreviewData data;
    data.entries = entries;
    state.setPreviewData(data);
}

// Connected components of the overlap relation, computed independently of
// the code under test (union-find over all pairs).
QList<QList<int>> overlapGroups(const BarState &state, const TimeEntryList &entries) {
    const int n = int(entries.size());
    std::vector<int> parent(static_cast<size_t>(n));
    std::iota(parent.begin(), parent.end(), 0);
    std::function<int(int)> find = [&](int i) {
        return parent[size_t(i)] == i ? i : parent[size_t(i)] = find(parent[size_t(i)]);
    };
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (state.entriesOverlap(entries[i], entries[j]))
                parent[size_t(find(i))] = find(j);
    QHash<int, QList<int>> groups;
    for (int i = 0; i < n; ++i)
        groups[find(i)].append(i);
    return groups.values();
}
} // namespace

class TestBarState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        test::setTimeZone("Europe/Berlin");
        test::resetUserDefaults();
    }

    void init() { Clock::freezeAt(at(12, 0)); }
    void cleanup() { Clock::reset(); }

    void mapsTimesToPositionsAcrossTheDayRange() {
        BarState state; // without application state the day is 7 to 21
        state.setCurrentTime(at(12));
        state.setFrame(QRectF(0, 0, 1450, 150));
        QCOMPARE(state.xPosition(at(6, 45)), 0.0);
        QCOMPARE(state.xPosition(at(21, 15)), 1450.0);
        QCOMPARE(state.xPosition(at(14, 0)), 725.0);
        // Before and after the range, including other days, stick to the edges.
        QCOMPARE(state.xPosition(at(3, 0)), 0.0);
        QCOMPARE(state.xPosition(at(12).addDays(-1)), 0.0);
        QCOMPARE(state.xPosition(at(23, 59)), 1450.0);
        QCOMPARE(state.xPosition(at(12).addDays(1)), 1450.0);

        // date(atX:) inverts it inside the bar and extrapolates outside.
        QCOMPARE(state.date(0), at(6, 45));
        QCOMPARE(state.date(725), at(14, 0));
        QCOMPARE(state.date(1450), at(21, 15));
        QVERIFY(state.date(-100) < at(6, 45));
        QVERIFY(state.date(1600) > at(21, 15));
        for (double x : {0.0, 13.0, 500.5, 1449.0})
            QVERIFY(qAbs(state.xPosition(state.date(x)) - x) < 0.01);

        // A zero-width bar puts everything at 0 and every x at the range start.
        state.setFrame(QRectF());
        QCOMPARE(state.xPosition(at(14)), 0.0);
        QCOMPARE(state.date(300), at(6, 45));
    }

    void followsTheDayOfTheCurrentTimeAndTheSettings() {
        AppState app;
        BarState state;
        state.setAppState(&app);
        state.setFrame(QRectF(0, 0, 1600, 150));
        state.setCurrentTime(at(12));
        app.setDayStartHour(6);
        app.setDayEndHour(22);
        // 16.5 hours from 05:45 to 22:15.
        QCOMPARE(state.xPosition(at(5, 45)), 0.0);
        QVERIFY(qAbs(state.xPosition(at(14)) - 1600 * 8.25 / 16.5) < 1e-9);
        QCOMPARE(state.hourX(22), 1600 * 16.25 / 16.5);

        // The next day moves the whole range with it.
        state.setCurrentTime(at(12).addDays(1));
        QCOMPARE(state.xPosition(at(14)), 0.0);
        QVERIFY(qAbs(state.xPosition(at(14).addDays(1)) - 800) < 1e-9);

        // The application state going away falls back to the default range.
        {
            AppState gone;
            state.setAppState(&gone);
        }
        QCOMPARE(state.appState(), nullptr);
        QCOMPARE(state.rangeStartHours(), 6.75);
        QCOMPARE(state.rangeEndHours(), 21.25);
        QVERIFY(state.entries().isEmpty());
        QVERIFY(!state.sunriseX());
        QVERIFY(!state.showSunGradients());
    }

    void readsAReversedDayRangeBetweenItsTwoHours() {
        AppState app;
        app.setDayStartHour(22);
        app.setDayEndHour(6);
        BarState state;
        state.setAppState(&app);
        state.setFrame(QRectF(0, 0, 1000, 150));
        state.setCurrentTime(at(12));
        QCOMPARE(state.dayStartHour(), 6);
        QCOMPARE(state.dayEndHour(), 22);
        QCOMPARE(state.xPosition(at(5, 45)), 0.0);
        QCOMPARE(state.xPosition(at(22, 15)), 1000.0);
        const double mid = state.xPosition(at(14));
        QVERIFY(mid > 0 && mid < 1000);
        // Equal hours still give a bar of half an hour.
        app.setDayStartHour(9);
        app.setDayEndHour(9);
        QCOMPARE(state.xPosition(at(9)), 500.0);
    }

    void givesEveryEntryAVisibleFrame() {
        BarState state;
        state.setCurrentTime(at(12));
        state.setFrame(QRectF(0, 0, 1450, 150));
        const EntryFrame hour = state.entryFrame(entry(QStringLiteral("a"), 9, 0, 10, 0));
        QCOMPARE(hour.x, 1450 * 2.25 / 14.5);
        QVERIFY(qAbs(hour.width - 100) < 1e-9);
        // One minute, an end before the start, and an entry outside the range.
        QCOMPARE(state.entryFrame(entry(QStringLiteral("b"), 9, 0, 9, 1)).width, 2.0);
        QCOMPARE(state.entryFrame(entry(QStringLiteral("c"), 10, 0, 9, 0)).width, 2.0);
        QCOMPARE(state.entryFrame(entry(QStringLiteral("d"), 22, 0, 23, 0)).x, 1450.0);
        // An open entry runs until now.
        const EntryFrame open = state.entryFrame(entry(QStringLiteral("e"), at(11), std::nullopt));
        QVERIFY(qAbs(open.x + open.width - state.xPosition(at(12))) < 1e-9);
    }

    void classifiesEntriesAgainstNow() {
        BarState state;
        state.setCurrentTime(at(12));
        QCOMPARE(state.status(entry(QStringLiteral("a"), 9, 0, 10, 0)), EntryTimeStatus::Past);
        QCOMPARE(state.status(entry(QStringLiteral("b"), 13, 0, 14, 0)), EntryTimeStatus::Future);
        QCOMPARE(state.status(entry(QStringLiteral("c"), 11, 0, 13, 0)), EntryTimeStatus::Current);
        // Starting or ending exactly now is current.
        QCOMPARE(state.status(entry(QStringLiteral("d"), 12, 0, 13, 0)), EntryTimeStatus::Current);
        QCOMPARE(state.status(entry(QStringLiteral("e"), 11, 0, 12, 0)), EntryTimeStatus::Current);
        // An open entry is never past.
        const TimeEntry open = entry(QStringLiteral("f"), at(8), std::nullopt);
        QCOMPARE(state.status(open), EntryTimeStatus::Current);
        state.setCurrentTime(at(23));
        QCOMPARE(state.status(open), EntryTimeStatus::Current);
        state.setCurrentTime(at(7));
        QCOMPARE(state.status(open), EntryTimeStatus::Future);
    }

    void laysOutTheWorkedExamples_data() {
        QTest::addColumn<TimeEntryList>("entries");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QList<int>>("totals");
        QTest::newRow("chain of three") << TimeEntryList{entry(QStringLiteral("a"), 9, 0, 10, 0),
                                                         entry(QStringLiteral("b"), 9, 30, 10, 30),
                                                         entry(QStringLiteral("c"), 10, 0, 11, 0)}
                                        << QList<int>{0, 1, 0} << QList<int>{2, 2, 2};
        QTest::newRow("touching") << TimeEntryList{entry(QStringLiteral("a"), 9, 0, 10, 0),
                                                   entry(QStringLiteral("b"), 10, 0, 11, 0)}
                                  << QList<int>{0, 0} << QList<int>{1, 1};
        QTest::newRow("close starts, longer first")
            << TimeEntryList{entry(QStringLiteral("short"), 9, 4, 9, 30),
                             entry(QStringLiteral("long"), 9, 0, 12, 0)}
            << QList<int>{1, 0} << QList<int>{2, 2};
        QTest::newRow("starts 300 s apart count as close")
            << TimeEntryList{entry(QStringLiteral("short"), 9, 0, 9, 30),
                             entry(QStringLiteral("long"), 9, 5, 12, 0)}
            << QList<int>{1, 0} << QList<int>{2, 2};
        QTest::newRow("starts 360 s apart in start order")
            << TimeEntryList{entry(QStringLiteral("short"), 9, 0, 9, 30),
                             entry(QStringLiteral("long"), 9, 6, 12, 0)}
            << QList<int>{0, 1} << QList<int>{2, 2};
        QTest::newRow("three rows, then an isolated entry")
            << TimeEntryList{entry(QStringLiteral("a"), 9, 0, 12, 0),
                             entry(QStringLiteral("b"), 9, 30, 11, 0),
                             entry(QStringLiteral("c"), 10, 0, 10, 30),
                             entry(QStringLiteral("d"), 15, 0, 16, 0)}
            << QList<int>{0, 1, 2, 0} << QList<int>{3, 3, 3, 1};
    }

    void laysOutTheWorkedExamples() {
        QFETCH(TimeEntryList, entries);
        QFETCH(QList<int>, rows);
        QFETCH(QList<int>, totals);
        BarState state;
        state.setCurrentTime(at(12));
        setEntries(state, entries);
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const EntryLayout layout = state.layout(entries[i]);
            QCOMPARE(layout.row, rows[i]);
            QCOMPARE(layout.totalRows, totals[i]);
        }
        QCOMPARE(state.cachedTotalRows(), *std::max_element(totals.begin(), totals.end()));
    }

    void keepsTheCacheUntilTheIdsChange() {
        BarState state;
        state.setCurrentTime(at(11));
        // An open entry from 08:00 overlaps 10:00-10:30 while it is 11:00.
        TimeEntryList entries{entry(QStringLiteral("open"), at(8), std::nullopt),
                              entry(QStringLiteral("meeting"), 10, 0, 10, 30)};
        setEntries(state, entries);
        QCOMPARE(state.layout(entries[1]).row, 1);
        QCOMPARE(state.layoutComputationCount(), 1);

        // Time moving back before the meeting would separate them, but the
        // rows stay until the id list changes.
        state.setCurrentTime(at(9));
        QCOMPARE(state.layout(entries[1]).row, 1);
        QCOMPARE(state.layout(entries[1]).totalRows, 2);
        // Changing times under the same ids does not rebuild either.
        entries[1] = entry(QStringLiteral("meeting"), 18, 0, 19, 0);
        setEntries(state, entries);
        QCOMPARE(state.layout(entries[1]).row, 1);
        QCOMPARE(state.layoutComputationCount(), 1);
        // Reordering does.
        setEntries(state, {entries[1], entries[0]});
        QCOMPARE(state.layout(entries[1]).row, 0);
        QCOMPARE(state.layout(entries[1]).totalRows, 1);
        QCOMPARE(state.layoutComputationCount(), 2);

        // An empty list: no rows, one row in total; unknown ids read row 0 of 1.
        setEntries(state, {});
        const EntryLayout unknown = state.layout(entries[0]);
        QCOMPARE(unknown.row, 0);
        QCOMPARE(unknown.totalRows, 1);
        QCOMPARE(state.cachedTotalRows(), 1);
        QVERIFY(state.cachedEntryLayouts().isEmpty());
    }

    void sharesTheFirstLayoutAmongRepeatedIds() {
        BarState state;
        state.setCurrentTime(at(12));
        const TimeEntryList entries{
            entry(QStringLiteral("a"), 9, 0, 10, 0), entry(QStringLiteral("b"), 9, 30, 11, 0),
            entry(QStringLiteral("b"), 16, 0, 17, 0), entry(QStringLiteral("c"), 16, 30, 18, 0)};
        setEntries(state, entries);
        QCOMPARE(state.layout(entries[1]).row, 1);
        QCOMPARE(state.layout(entries[2]).row, 1);
        QCOMPARE(state.layout(entries[2]).totalRows, state.layout(entries[1]).totalRows);
        // The second "b" links "c" into the first group through the shared id.
        QCOMPARE(state.layout(entries[3]).totalRows, 2);
    }

    void keepsItsInvariantsOnRandomDays() {
        QRandomGenerator random(20260610);
        for (int round = 0; round < 60; ++round) {
            BarState state;
            state.setCurrentTime(at(13));
            const int count = round < 50 ? int(random.bounded(1, 40)) : int(random.bounded(100, 400));
            // Some rounds crowd the day so that groups reach the large-group sort.
            const int spanMinutes = round < 50 ? 14 * 60 : 3 * 60;
            TimeEntryList entries;
            for (int i = 0; i < count; ++i) {
                const QDateTime start = at(7).addSecs(60 * qint64(random.bounded(spanMinutes)) +
                                                      (random.bounded(4) == 0 ? random.bounded(300) : 0));
                std::optional<QDateTime> end = start.addSecs(60 * qint64(random.bounded(5, 180)));
                if (random.bounded(15) == 0)
                    end.reset(); // open
                entries.append(entry(QStringLiteral("e%1").arg(i), start, end));
            }
            setEntries(state, entries);
            QList<EntryLayout> layouts;
            for (const TimeEntry &e : entries)
                layouts.append(state.layout(e));

            int largest = 1;
            for (const QList<int> &group : overlapGroups(state, entries)) {
                int used = 0;
                for (int i : group) {
                    const EntryLayout a = layouts[i];
                    used = std::max(used, a.row + 1);
                    for (int j : group) {
                        if (i != j && state.entriesOverlap(entries[i], entries[j]))
                            QVERIFY2(a.row != layouts[j].row,
                                     qPrintable(QStringLiteral("round %1: %2 and %3 share a row")
                                                    .arg(round)
                                                    .arg(entries[i].id(), entries[j].id())));
                    }
                }
                for (int i : group)
                    QCOMPARE(layouts[i].totalRows, used);
                largest = std::max(largest, used);
            }
            QCOMPARE(state.cachedTotalRows(), largest);

            // The cache is rebuilt exactly when the ordered id list changes.
            const int before = state.layoutComputationCount();
            TimeEntryList retimed = entries;
            retimed[0] = entry(entries[0].id(), at(20), at(21));
            setEntries(state, retimed);
            state.ensureLayout();
            QCOMPARE(state.layoutComputationCount(), before);
            TimeEntryList changed = entries;
            bool idsChanged = true;
            switch (random.bounded(3)) {
            case 0:
                changed.append(entry(QStringLiteral("new"), 9, 0, 10, 0));
                break;
            case 1:
                changed.removeAt(random.bounded(changed.size()));
                break;
            default:
                // Rotating a list of one leaves it as it was.
                changed.prepend(changed.takeLast());
                idsChanged = changed.size() > 1;
                break;
            }
            setEntries(state, changed);
            state.ensureLayout();
            QCOMPARE(state.layoutComputationCount(), before + (idsChanged ? 1 : 0));
        }
    }

    void keepsTheCurrentHoverAgainstLateLeaves() {
        BarState state;
        state.updateHover(HoveredElement::tick(9), true);
        state.updateHover(HoveredElement::tick(10), true);
        state.updateHover(HoveredElement::tick(9), false);
        QCOMPARE(state.hoveredElement(), HoveredElement::tick(10));
        // An entry's "left" matches by id whatever its x; a tick's by hour.
        state.updateHover(HoveredElement::entry(QStringLiteral("a"), 40), true);
        state.updateHover(HoveredElement::tick(10), false);
        QCOMPARE(state.hoveredElement(), HoveredElement::entry(QStringLiteral("a"), 40));
        state.updateHover(HoveredElement::entry(QStringLiteral("b"), 0), false);
        QVERIFY(state.hoveredElement().has_value());
        state.updateHover(HoveredElement::entry(QStringLiteral("a"), 0), false);
        QVERIFY(!state.hoveredElement().has_value());
    }

    void derivesTheTooltipFromTheHover() {
        BarState state;
        state.setCurrentTime(at(12, 7));
        state.setFrame(QRectF(0, 0, 1450, 150));
        const TimeEntry open =
            entry(QStringLiteral("open"), at(8, 15), std::nullopt, QStringLiteral("Writing"));
        const TimeEntry review =
            entry(QStringLiteral("review"), at(9), at(10, 30), QStringLiteral("Design review"));
        setEntries(state, {open, review});

        // Tick tooltips need no expansion; hour 21 sits at 14.25 / 14.5.
        state.updateHover(HoveredElement::tick(21), true);
        auto tip = state.activeTooltip();
        QVERIFY(tip);
        const auto *tick = std::get_if<TooltipContent::Tick>(&tip->value);
        QVERIFY(tick);
        QCOMPARE(tick->text, QStringLiteral("21:00"));
        QCOMPARE(tick->x, 1450 * 14.25 / 14.5);
        state.updateHover(HoveredElement::tick(9), true);
        QCOMPARE(std::get<TooltipContent::Tick>(state.activeTooltip()->value).text, QStringLiteral("09:00"));

        // The clock hand wins over a hovered tick.
        state.setClockHandHovered(true);
        tip = state.activeTooltip();
        QCOMPARE(std::get<TooltipContent::ClockHand>(tip->value).text, QStringLiteral("12:07"));
        QCOMPARE(tip->x(), state.xPosition(at(12, 7)));
        state.setClockHandHovered(false);

        // Entry tooltips only on the expanded bar.
        const double x = state.xPosition(at(9, 42));
        state.updateHover(HoveredElement::entry(QStringLiteral("review"), x), true);
        QVERIFY(!state.isHoveringEntry());
        QVERIFY(!state.activeTooltip());
        state.setIsExpanded(true);
        tip = state.activeTooltip();
        QVERIFY(tip);
        const auto &content = std::get<TooltipContent::Entry>(tip->value);
        QCOMPARE(content.entry.id(), QStringLiteral("review"));
        QCOMPARE(content.timeRange, QStringLiteral("09:00 \u2013 10:30"));
        QCOMPARE(content.cursorTime, QStringLiteral("09:42"));
        QCOMPARE(content.x, x);
        // Moving within the entry moves the tooltip and its cursor time.
        state.updateHover(HoveredElement::entry(QStringLiteral("review"), state.xPosition(at(10, 3))), true);
        QCOMPARE(std::get<TooltipContent::Entry>(state.activeTooltip()->value).cursorTime,
                 QStringLiteral("10:03"));

        state.updateHover(HoveredElement::entry(QStringLiteral("open"), 300), true);
        QCOMPARE(state.timeText()->timeRange, QStringLiteral("08:15 \u2013 now"));

        // The entry disappearing from the list ends its tooltip.
        setEntries(state, {review});
        QVERIFY(!state.isHoveringEntry());
        QVERIFY(!state.activeTooltip());
    }

    void showsSunGlowsOnlyWhenEnabledWithBothTimes() {
        BarState state;
        state.setCurrentTime(at(12));
        state.setFrame(QRectF(0, 0, 1450, 150));
        BarPreviewData data;
        data.sunrise = at(6, 30);
        data.sunset = at(21);
        data.sunEnabled = false;
        state.setPreviewData(data);
        QVERIFY(!state.showSunGradients());
        QCOMPARE(*state.sunsetX(), state.xPosition(at(21)));
        data.sunEnabled = true;
        state.setPreviewData(data);
        QVERIFY(state.showSunGradients());
        // A sunrise before the range sits at the left edge.
        QCOMPARE(*state.sunriseX(), 0.0);
        data.sunset.reset();
        state.setPreviewData(data);
        QVERIFY(!state.showSunGradients());
        QVERIFY(!state.sunsetX());
    }
};

QTEST_MAIN(TestBarState)
#include "test_bar_state.moc"
