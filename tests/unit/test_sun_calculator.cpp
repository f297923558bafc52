#include "sun/SunCalculator.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTest>
#include <QTimeZone>
#include <cmath>

using namespace daybrook;

class SunCalculatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { test::setTimeZone("UTC"); }

    // Rows of tests/unit/data/sun-reference.tsv (made by
    // tools/generate-sun-reference.py from an independent ephemeris): place,
    // latitude, longitude, zone, date, kind, sunrise, sunset, risings, settings.
    void matchesTheReferenceEphemeris_data() {
        QTest::addColumn<QStringList>("f");
        QFile file(qEnvironmentVariable("DAYBROOK_SOURCE_DIR") +
                   QStringLiteral("/tests/unit/data/sun-reference.tsv"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        while (!file.atEnd())
            if (const QString line = QString::fromUtf8(file.readLine()).trimmed();
                !line.startsWith(u'#') && !line.isEmpty())
                QTest::addRow("%s", qPrintable(line.section(u'\t', 0, 0) +
                                               line.section(u'\t', 4, 5).replace(u'\t', u' ').prepend(u' ')))
                    << line.split(u'\t');
    }
    void matchesTheReferenceEphemeris() {
        QFETCH(QStringList, f);
        const QDate date = QDate::fromString(f[4], Qt::ISODate);
        const double latitude = f[1].toDouble(), longitude = f[2].toDouble();
        const sun::SunEvents events =
            sun::sunEventsOnDate(date, QTimeZone(f[3].toLatin1()), latitude, longitude);
        if (f[5].contains(QLatin1String("clock change"))) { // through the process's zone, as the program does
            test::setTimeZone(f[3].toLatin1());
            const sun::SunEvents local = sun::sunEventsOnDate(date, latitude, longitude);
            QVERIFY(local.sunrise == events.sunrise && local.sunset == events.sunset);
        }
        // How close each event must be, by how far `away` from the equator. Beyond
        // the polar circles the Sun crawls along the horizon and a grazing event
        // moves by minutes for a hundredth of a degree; there the bound only tells
        // the right event from the wrong one (the first sunrise, the last sunset).
        const double away = std::abs(latitude), tolerance = away <= 60 ? 20 : away <= 66 ? 120 : 600;
        for (const auto &[ours, theirs] : {std::pair{events.sunrise, f[6]}, {events.sunset, f[7]}}) {
            QCOMPARE(ours.has_value(), theirs != QLatin1String("-"));
            if (!ours)
                continue;
            const double error =
                std::abs(ours->msecsTo(QDateTime::fromString(theirs, Qt::ISODateWithMs))) / 1000.0;
            QVERIFY2(error <= tolerance, qPrintable(QStringLiteral("off by %1 s").arg(error)));
        }
    }

    // Clocks far west of their zone's meridian put a sunset into the hour that
    // the spring change removes: that civil day has no sunset at all, and the
    // autumn day that repeats the hour holds the later of two.
    void clockChangeDaysAreExactlyTheCivilDay() {
        test::setTimeZone("Europe/Berlin");
        const sun::SunEvents spring = sun::sunEventsOnDate(QDate(2026, 3, 29), 0.0, -72.0);
        QVERIFY(spring.sunrise && !spring.sunset);
        const sun::SunEvents autumn = sun::sunEventsOnDate(QDate(2026, 10, 25), 0.0, -72.0);
        QCOMPARE(autumn.sunset.value_or(QDateTime()).toLocalTime().toString("yyyy-MM-dd HH"),
                 QStringLiteral("2026-10-25 23"));
    }

    // Impossible positions give nothing; the poles and the date line are real
    // places (the South Pole in its summer: the Sun never sets, high all day).
    void positionsAtTheEdges_data() {
        QTest::addColumn<double>("latitude");
        QTest::addColumn<double>("longitude");
        QTest::addColumn<bool>("valid");
        QTest::newRow("NaN latitude") << qQNaN() << 10.0 << false;
        QTest::newRow("latitude beyond the pole") << 90.5 << 10.0 << false;
        QTest::newRow("longitude beyond the date line") << 50.0 << -180.5 << false;
        QTest::newRow("North Pole") << 90.0 << 0.0 << true;
        QTest::newRow("South Pole on the date line") << -90.0 << 180.0 << true;
    }
    void positionsAtTheEdges() {
        QFETCH(double, latitude);
        QFETCH(double, longitude);
        QTEST(sun::isValidPosition(latitude, longitude), "valid");
        const QDateTime solstice(QDate(2026, 12, 21), QTime(12, 0), Qt::UTC);
        const sun::SunEvents events =
            sun::sunEventsOnDate(solstice.date(), QTimeZone("UTC"), latitude, longitude);
        QVERIFY(!events.sunrise && !events.sunset);
        if (sun::isValidPosition(latitude, longitude))
            QCOMPARE(sun::solarAltitude(solstice.toSecsSinceEpoch(), latitude, longitude) > 20.0,
                     latitude < 0);
    }
};

QTEST_GUILESS_MAIN(SunCalculatorTest)
#include "test_sun_calculator.moc"
