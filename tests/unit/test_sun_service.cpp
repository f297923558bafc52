#include "core/Clock.h"
#include "core/UserDefaults.h"
#include "sun/SunService.h"
#include "support/NmeaLog.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QNmeaPositionInfoSource>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace daybrook;

namespace {

// The NMEA source of Qt Positioning replaying a file; counts the requests it gets.
class ReplaySource : public QNmeaPositionInfoSource {
public:
    ReplaySource(const QString &path, QObject *parent) : QNmeaPositionInfoSource(SimulationMode, parent) {
        auto *file = new QFile(path, this);
        if (!file->open(QIODevice::ReadOnly))
            qFatal("cannot open %s", qPrintable(path));
        setDevice(file);
    }
    void requestUpdate(int timeout) override {
        ++requests;
        QNmeaPositionInfoSource::requestUpdate(timeout);
    }
    int requests = 0;
};

// Answers every request the way GeoClue does when its agent refuses the program.
class RefusingSource : public ReplaySource {
public:
    using ReplaySource::ReplaySource;
    void requestUpdate(int) override {
        ++requests;
        Q_EMIT errorOccurred(AccessError);
    }
};

const QDate solstice(2026, 6, 21);
// Berlin on the June solstice, from tests/unit/data/sun-reference.tsv.
const QDateTime berlinSunrise(solstice, QTime(2, 43, 6), Qt::UTC);
const QDateTime berlinSunset(solstice, QTime(19, 33, 17), Qt::UTC);

bool near(const std::optional<QDateTime> &value, const QDateTime &expected) {
    return value && std::abs(value->secsTo(expected)) <= 20;
}

} // namespace

class SunServiceTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_berlin;
    QString m_tromso;
    QString m_silent;
    QPointer<ReplaySource> m_source;
    int m_sourcesMade = 0;

    PositionSourceFactory replay(const QString &path) {
        return [this, path](QObject *parent) -> QGeoPositionInfoSource * {
            ++m_sourcesMade;
            m_source = new ReplaySource(path, parent);
            return m_source;
        };
    }
    int requests() const { return m_source ? m_source->requests : 0; }

    static QString writeFile(const QString &path, const QByteArray &content) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Switched on and answered, with no request left in flight.
    static bool switchOnAndSettle(SunService &service) {
        service.setIsEnabled(true);
        return QTest::qWaitFor([&] {
                   return service.locationManager() && !service.locationManager()->isRequestPending();
               }) &&
               !service.isLoading();
    }

private Q_SLOTS:
    void initTestCase() {
        // GeoClue lives on the system bus: point it at nothing, so that the
        // default source here is the one of a machine without a location service.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS",
                QByteArray("unix:path=" + QFile::encodeName(m_dir.filePath("no-bus"))));
        QVERIFY(m_dir.isValid());
        m_berlin = writeFile(m_dir.filePath("berlin.nmea"), test::nmeaTrack(52.52, 13.405, 30));
        m_tromso = writeFile(m_dir.filePath("tromso.nmea"), test::nmeaTrack(69.6492, 18.9553, 30));
        m_silent = writeFile(m_dir.filePath("silent.nmea"), QByteArray());
    }

    void init() {
        test::resetUserDefaults();
        test::setTimeZone("Europe/Berlin");
        Clock::freezeAt(QDateTime(solstice, QTime(8, 0), Qt::UTC));
        m_sourcesMade = 0;
    }

    void cleanup() { Clock::reset(); }

    void startsSwitchedOffWithoutSetting() {
        SunService service(replay(m_berlin));
        QCoreApplication::processEvents();
        QVERIFY(!service.isEnabled());
        QCOMPARE(m_sourcesMade, 0);
        QVERIFY(!UserDefaults::contains(QStringLiteral("sunriseEnabled")));
    }

    // First switch-on with the permission never asked: the first answer
    // authorizes, the permission callback asks again (no times held yet), and
    // today's times at the replayed place are stored.
    void switchingOnFindsTodaysTimes() {
        SunService service(replay(m_berlin));
        QSignalSpy authorization(&service, &SunService::authorizationStatusChanged);
        QSignalSpy sunrise(&service, &SunService::sunriseChanged);
        service.setIsEnabled(true);

        QCOMPARE(UserDefaults::boolValue(QStringLiteral("sunriseEnabled")), std::optional<bool>(true));
        QCOMPARE(m_sourcesMade, 1);
        QCOMPARE(service.authorizationStatus(), LocationAuthorization::Authorized);
        QVERIFY(authorization.count() >= 2); // read at the request, then on the change
        QCOMPARE(requests(), 2);
        QVERIFY(near(service.sunrise(), berlinSunrise));
        QVERIFY(near(service.sunset(), berlinSunset));
        QCOMPARE(service.sunrise()->timeSpec(), Qt::UTC);
        QVERIFY(!service.error());
        QCOMPARE(service.lastFetchDate(), std::optional<QDateTime>(Clock::now()));

        // The second request is answered as well; nothing more is asked.
        QTRY_VERIFY(!service.locationManager()->isRequestPending());
        QTRY_VERIFY(!service.isLoading());
        QVERIFY(sunrise.count() >= 2);
        QCOMPARE(requests(), 2);
        QCOMPARE(m_sourcesMade, 1);
    }

    void refreshAsksAgainOnlyWhileSwitchedOn() {
        SunService service(replay(m_berlin));
        QVERIFY(switchOnAndSettle(service));
        const int before = requests();

        // Today's times are held: no request.
        service.updateLocation();
        QCOMPARE(requests(), before);

        service.refreshSunTimes();
        QCOMPARE(requests(), before + 1);
        QTRY_VERIFY(!service.isLoading());
        QVERIFY(near(service.sunrise(), berlinSunrise));

        service.setIsEnabled(false);
        service.refreshSunTimes();
        QCOMPARE(requests(), before + 1);
        QVERIFY(!service.sunrise());
    }

    void disableClearsTimesAndErrorButKeepsPermission() {
        SunService service(replay(m_berlin));
        QVERIFY(switchOnAndSettle(service));
        service.fetchSunTimes(QGeoCoordinate(91.0, 0.0)); // leaves an error behind
        QVERIFY(service.error());
        const auto fetched = service.lastFetchDate();

        QSignalSpy enabled(&service, &SunService::isEnabledChanged);
        QSignalSpy error(&service, &SunService::errorChanged);
        service.disable();

        QVERIFY(!service.isEnabled());
        QCOMPARE(enabled.count(), 1);
        QCOMPARE(UserDefaults::boolValue(QStringLiteral("sunriseEnabled")), std::optional<bool>(false));
        QVERIFY(!service.sunrise() && !service.sunset());
        QVERIFY(!service.error());
        QCOMPARE(error.count(), 1);
        QCOMPARE(service.authorizationStatus(), LocationAuthorization::Authorized);
        QCOMPARE(service.lastFetchDate(), fetched);
    }

    // Switching off cleared the sunrise, so the cache does not hold and a new
    // position is asked for.
    void switchingOffAndOnAgainTheSameDayAsksAgain() {
        SunService service(replay(m_berlin));
        QVERIFY(switchOnAndSettle(service));
        const int before = requests();

        service.setIsEnabled(false);
        QVERIFY(!service.sunrise() && !service.sunset());
        service.setIsEnabled(true);
        QCOMPARE(requests(), before + 1);
        QTRY_VERIFY(near(service.sunrise(), berlinSunrise));
        QVERIFY(near(service.sunset(), berlinSunset));
    }

    // An answer that arrives after switching off is stored all the same;
    // only the moment of switching clears the times.
    void lateAnswerAfterSwitchingOffIsStored() {
        SunService service(replay(m_berlin));
        service.setIsEnabled(true); // answered at once; the permission callback's request is in flight
        QVERIFY(service.locationManager()->isRequestPending());
        service.setIsEnabled(false);
        QVERIFY(!service.sunrise());

        Clock::freezeAt(Clock::now().addSecs(60));
        QTRY_VERIFY(service.sunrise().has_value());
        QVERIFY(!service.isEnabled());
        QVERIFY(near(service.sunrise(), berlinSunrise));
        QVERIFY(near(service.sunset(), berlinSunset));
        QCOMPARE(service.lastFetchDate(), std::optional<QDateTime>(Clock::now()));
        QCOMPARE(UserDefaults::boolValue(QStringLiteral("sunriseEnabled")), std::optional<bool>(false));
    }

    // With the switch on at launch, construction asks for a position and asks
    // once more on the next turn of the event loop.
    void launchWithSwitchOnAsksDuringConstructionAndOnceMore() {
        UserDefaults::setValue(QStringLiteral("sunriseEnabled"), true);
        UserDefaults::reload();
        SunService service(replay(m_silent));
        QVERIFY(service.isEnabled());
        QCOMPARE(requests(), 1);
        QVERIFY(service.isLoading());
        QCoreApplication::processEvents();
        QCOMPARE(requests(), 2);
        QCOMPARE(m_sourcesMade, 1);
        QCOMPARE(UserDefaults::boolValue(QStringLiteral("sunriseEnabled")), std::optional<bool>(true));
    }

    void refusedAccessMeansDenied() {
        SunService service([this](QObject *parent) {
            m_source = new RefusingSource(m_berlin, parent);
            return m_source.data();
        });
        service.setIsEnabled(true);
        QCOMPARE(service.authorizationStatus(), LocationAuthorization::Denied);
        QCOMPARE(service.error(), std::optional<QString>(QStringLiteral(
                                      "Location error: Access to the location service was denied")));
        QVERIFY(!service.isLoading());
        QVERIFY(!service.sunrise() && !service.sunset());
        QCoreApplication::processEvents();
        QCOMPARE(requests(), 1); // no retry by itself
    }

    void noPositioningServiceIsReportedAtOnce_data() {
        QTest::addColumn<bool>("noSourceAtAll");
        QTest::newRow("no source can be made") << true;
        QTest::newRow("the default source without GeoClue") << false;
    }
    void noPositioningServiceIsReportedAtOnce() {
        QFETCH(bool, noSourceAtAll);
        PositionSourceFactory factory;
        if (noSourceAtAll)
            factory = [](QObject *) { return nullptr; };
        else
            factory = &LocationManager::createDefaultSource;
        SunService service(factory);
        service.setIsEnabled(true);
        // No waiting: the text is there when switching on returns.
        QCOMPARE(service.error(),
                 std::optional<QString>(QStringLiteral("Location error: No location service is available on "
                                                       "this system, or location services are turned off")));
        QVERIFY(!service.isLoading());
        QCOMPARE(service.authorizationStatus(), LocationAuthorization::Restricted);
        QVERIFY(!service.locationManager()->isRequestPending());
    }

    // Polar night: a successful computation with no sunrise, which the cache
    // rule does not count as held.
    void polarNightLeavesTimesAbsentAndAsksAgain() {
        Clock::freezeAt(QDateTime(QDate(2026, 12, 21), QTime(11, 0), Qt::UTC));
        SunService service(replay(m_tromso));
        QVERIFY(switchOnAndSettle(service));
        QVERIFY(service.lastFetchDate());
        QVERIFY(!service.sunrise() && !service.sunset());
        QVERIFY(!service.error());
        const int before = requests();
        service.updateLocation();
        QCOMPARE(requests(), before + 1);
    }

    void impossiblePositionStoresNothing() {
        SunService service(replay(m_berlin));
        QVERIFY(switchOnAndSettle(service));
        const auto sunrise = service.sunrise();
        const auto fetched = service.lastFetchDate();
        Clock::freezeAt(Clock::now().addSecs(3600));

        for (const QGeoCoordinate &position :
             {QGeoCoordinate(qQNaN(), 13.4), QGeoCoordinate(52.5, 181.0), QGeoCoordinate()}) {
            service.fetchSunTimes(position);
            QCOMPARE(service.error(),
                     std::optional<QString>(
                         QStringLiteral("Location error: The location service gave an impossible position")));
            QCOMPARE(service.sunrise(), sunrise);
            QCOMPARE(service.lastFetchDate(), fetched);
            QVERIFY(!service.isLoading());
        }
        // The next good answer clears the error.
        service.refreshSunTimes();
        QTRY_VERIFY(!service.error());
        QVERIFY(near(service.sunrise(), berlinSunrise));
    }

    // A program left running past midnight moves on to the new day's times
    // from the position it has, without asking for a new one.
    void newDayRecomputesFromTheLastPosition() {
        SunService service(replay(m_berlin));
        QVERIFY(switchOnAndSettle(service));
        const int before = requests();

        service.refreshIfDayChanged();
        QVERIFY(near(service.sunrise(), berlinSunrise));

        Clock::freezeAt(QDateTime(solstice.addDays(1), QTime(4, 0), Qt::UTC));
        service.refreshIfDayChanged();
        QVERIFY(service.sunrise());
        QCOMPARE(service.sunrise()->toLocalTime().date(), solstice.addDays(1));
        QVERIFY(std::abs(service.sunrise()->secsTo(berlinSunrise.addDays(1))) < 60);
        QCOMPARE(service.lastFetchDate(), std::optional<QDateTime>(Clock::now()));
        QCOMPARE(requests(), before);

        // Switched off, yesterday's times are not brought back.
        service.setIsEnabled(false);
        Clock::freezeAt(QDateTime(solstice.addDays(2), QTime(4, 0), Qt::UTC));
        service.refreshIfDayChanged();
        QVERIFY(!service.sunrise());
    }
};

QTEST_GUILESS_MAIN(SunServiceTest)
#include "test_sun_service.moc"
