#include "sun/SunCalculator.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTest>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <limits>

using namespace daybrook;

namespace {

// One row of tests/unit/data/sun-reference.tsv (made by
// tools/generate-sun-reference.py from an independent ephemeris).
struct ReferenceDay {
    QString place;
    double latitude = 0;
    double longitude = 0;
    QByteArray zone;
    QDate date;
    QString kind;
    std::optional<QDateTime> sunrise;
    std::optional<QDateTime> sunset;
    int risings = 0;
    int settings = 0;
};

} // namespace

Q_DECLARE_METATYPE(ReferenceDay)

namespace {

std::optional<QDateTime> parseInstant(const QString &text) {
    if (text == QLatin1String("-"))
        return std::nullopt;
    QDateTime instant = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!instant.isValid())
        qFatal("bad instant in the reference table: %s", qPrintable(text));
    return instant.toUTC();
}

QList<ReferenceDay> referenceTable() {
    QFile file(qEnvironmentVariable("DAYBROOK_SOURCE_DIR") +
               QStringLiteral("/tests/unit/data/sun-reference.tsv"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    QList<ReferenceDay> days;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() != 10)
            qFatal("bad reference line: %s", qPrintable(line));
        days.append({f[0], f[1].toDouble(), f[2].toDouble(), f[3].toLatin1(),
                     QDate::fromString(f[4], Qt::ISODate), f[5], parseInstant(f[6]), parseInstant(f[7]),
                     f[8].toInt(), f[9].toInt()});
    }
    return days;
}

// How close each event must be to the reference, by latitude. Beyond the
// polar circles the Sun crawls along the horizon and a grazing event moves by
// minutes for a hundredth of a degree; there the bound only tells the right
// event from the wrong one (the first sunrise, the last sunset).
double toleranceSeconds(double latitude) {
    if (std::abs(latitude) <= 60.0)
        return 20.0;
    if (std::abs(latitude) <= 66.0)
        return 120.0;
    return 600.0;
}

double secondsBetween(const QDateTime &a, const QDateTime &b) {
    return std::abs(a.msecsTo(b)) / 1000.0;
}

} // namespace

class SunCalculatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        const auto days = referenceTable();
        QVERIFY2(days.size() >= 100, "the reference table is missing or cut short");
        // Days with two sunrises or sunsets must be there to tell first from last.
        QVERIFY(std::count_if(days.begin(), days.end(),
                              [](const ReferenceDay &d) { return d.settings > 1; }) >= 3);
    }

    void cleanup() { test::setTimeZone("UTC"); }

    // Not a check: prints the largest differences from the reference by band.
    void reportWorstErrors() {
        double worst[3] = {0, 0, 0};
        QString where[3];
        for (const ReferenceDay &day : referenceTable()) {
            const sun::SunEvents events =
                sun::sunEventsOnDate(day.date, QTimeZone(day.zone), day.latitude, day.longitude);
            const int band = std::abs(day.latitude) <= 60.0 ? 0 : std::abs(day.latitude) <= 66.0 ? 1 : 2;
            for (const auto &[ours, theirs] :
                 {std::pair{events.sunrise, day.sunrise}, {events.sunset, day.sunset}}) {
                if (!ours || !theirs)
                    continue;
                const double error = secondsBetween(*ours, *theirs);
                if (error > worst[band]) {
                    worst[band] = error;
                    where[band] = day.place + QLatin1Char(' ') + day.date.toString(Qt::ISODate);
                }
            }
        }
        qInfo("worst difference up to 60 degrees: %.1f s (%s)", worst[0], qPrintable(where[0]));
        qInfo("worst difference 60 to 66 degrees: %.1f s (%s)", worst[1], qPrintable(where[1]));
        qInfo("worst difference beyond 66 degrees: %.1f s (%s)", worst[2], qPrintable(where[2]));
    }

    void matchesTheReferenceEphemeris_data() {
        QTest::addColumn<ReferenceDay>("day");
        for (const ReferenceDay &day : referenceTable())
            QTest::addRow("%s %s %s", qPrintable(day.place), qPrintable(day.date.toString(Qt::ISODate)),
                          qPrintable(day.kind))
                << day;
    }
    void matchesTheReferenceEphemeris() {
        QFETCH(ReferenceDay, day);
        const sun::SunEvents events =
            sun::sunEventsOnDate(day.date, QTimeZone(day.zone), day.latitude, day.longitude);

        QCOMPARE(events.sunrise.has_value(), day.sunrise.has_value());
        QCOMPARE(events.sunset.has_value(), day.sunset.has_value());
        const auto tolerance = toleranceSeconds(day.latitude);
        if (events.sunrise) {
            QCOMPARE(events.sunrise->timeSpec(), Qt::UTC);
            const double error = secondsBetween(*events.sunrise, *day.sunrise);
            QVERIFY2(error <= tolerance, qPrintable(QStringLiteral("sunrise off by %1 s").arg(error)));
        }
        if (events.sunset) {
            QCOMPARE(events.sunset->timeSpec(), Qt::UTC);
            const double error = secondsBetween(*events.sunset, *day.sunset);
            QVERIFY2(error <= tolerance, qPrintable(QStringLiteral("sunset off by %1 s").arg(error)));
        }
    }

    // The same days through the process's own time zone, as the program uses it.
    void localCivilDayFollowsTheProcessTimeZone() {
        int compared = 0;
        for (const ReferenceDay &day : referenceTable()) {
            if (day.kind != QLatin1String("clock change") &&
                day.kind != QLatin1String("next to a clock change"))
                continue;
            test::setTimeZone(day.zone);
            const sun::SunEvents events = sun::sunEventsOnDate(day.date, day.latitude, day.longitude);
            const sun::SunEvents zoned =
                sun::sunEventsOnDate(day.date, QTimeZone(day.zone), day.latitude, day.longitude);
            QVERIFY2(events.sunrise == zoned.sunrise && events.sunset == zoned.sunset,
                     qPrintable(day.place + QLatin1Char(' ') + day.date.toString(Qt::ISODate)));
            ++compared;
        }
        QVERIFY(compared >= 20);
    }

    // Clocks far west of their zone's meridian put a sunset into the hour that
    // the spring change removes: that civil day has no sunset at all, and the
    // autumn day that repeats the hour holds the later of two.
    void clockChangeDaysAreExactlyTheCivilDay() {
        test::setTimeZone("Europe/Berlin");
        const sun::SunEvents spring = sun::sunEventsOnDate(QDate(2026, 3, 29), 0.0, -72.0);
        QVERIFY(spring.sunrise);
        QVERIFY(!spring.sunset);
        const sun::SunEvents autumn = sun::sunEventsOnDate(QDate(2026, 10, 25), 0.0, -72.0);
        QVERIFY(autumn.sunset);
        QCOMPARE(autumn.sunset->toLocalTime().date(), QDate(2026, 10, 25));
        QCOMPARE(autumn.sunset->toLocalTime().time().hour(), 23);
    }

    void impossiblePositionsGiveNothing_data() {
        QTest::addColumn<double>("latitude");
        QTest::addColumn<double>("longitude");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("NaN latitude") << nan << 10.0;
        QTest::newRow("NaN longitude") << 50.0 << nan;
        QTest::newRow("infinite latitude") << inf << 10.0;
        QTest::newRow("latitude beyond the pole") << 90.5 << 10.0;
        QTest::newRow("longitude beyond the date line") << 50.0 << -180.5;
    }
    void impossiblePositionsGiveNothing() {
        QFETCH(double, latitude);
        QFETCH(double, longitude);
        QVERIFY(!sun::isValidPosition(latitude, longitude));
        const sun::SunEvents events =
            sun::sunEventsOnDate(QDate(2026, 6, 21), QTimeZone("UTC"), latitude, longitude);
        QVERIFY(!events.sunrise);
        QVERIFY(!events.sunset);
    }

    // The poles and the date line are real places, not errors.
    void edgesOfTheGlobeAreValid() {
        QVERIFY(sun::isValidPosition(90.0, 0.0));
        QVERIFY(sun::isValidPosition(-90.0, 180.0));
        // The South Pole in its summer: the Sun never sets.
        const sun::SunEvents pole = sun::sunEventsOnDate(QDate(2026, 12, 21), QTimeZone("UTC"), -90.0, 0.0);
        QVERIFY(!pole.sunrise && !pole.sunset);
        QVERIFY(sun::solarAltitude(QDateTime(QDate(2026, 12, 21), QTime(12, 0), Qt::UTC).toSecsSinceEpoch(),
                                   -90.0, 0.0) > 20.0);
    }
};

QTEST_GUILESS_MAIN(SunCalculatorTest)
#include "test_sun_calculator.moc"
