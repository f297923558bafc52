#include "bar/BarState.h"
#include "core/Clock.h"
#include "core/UserDefaults.h"
#include "state/AppState.h"
#include "sun/PlacePicker.h"
#include "sun/SunIntegrationRow.h"
#include "support/NmeaLog.h"
#include "support/TestEnvironment.h"

#include <QLineEdit>
#include <QNmeaPositionInfoSource>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace daybrook;

namespace {

// The NMEA source of Qt Positioning replaying a log; counts the requests. A
// refusing one answers the way GeoClue does when its agent says no.
class ReplaySource : public QNmeaPositionInfoSource {
public:
    ReplaySource(const QString &path, bool refuses, QObject *parent)
        : QNmeaPositionInfoSource(SimulationMode, parent), refuses(refuses) {
        auto *file = new QFile(path, this);
        setDevice(file->open(QIODevice::ReadOnly) ? file : nullptr);
    }
    void requestUpdate(int timeout) override {
        ++requests;
        refuses ? Q_EMIT errorOccurred(AccessError) : QNmeaPositionInfoSource::requestUpdate(timeout);
    }
    bool refuses;
    int requests = 0;
};

const QDate solstice(2026, 6, 21);
// Berlin on the June solstice, from tests/unit/data/sun-reference.tsv.
const QDateTime berlinSunrise(solstice, QTime(2, 43, 6), Qt::UTC);

bool near(const std::optional<QDateTime> &value, const QDateTime &expected) {
    return value && std::abs(value->secsTo(expected)) <= 20;
}

void writeFile(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}

} // namespace

class SunServiceTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QPointer<ReplaySource> m_source;
    int m_sourcesMade = 0;

    // A source replaying the log of a place; "" makes none (no positioning service).
    PositionSourceFactory replay(const char *place, bool refuses = false) {
        return [this, place, refuses](QObject *parent) -> QGeoPositionInfoSource * {
            ++m_sourcesMade;
            return *place ? m_source = new ReplaySource(m_dir.filePath(QLatin1String(place)), refuses, parent)
                          : nullptr;
        };
    }
    int requests() const { return m_source ? m_source->requests : 0; }

    // Switched on and answered, with no request left in flight.
    static bool switchOnAndSettle(SunService &service) {
        service.setIsEnabled(true);
        return QTest::qWaitFor(
            [&] { return !service.isLoading() && !service.locationManager()->isRequestPending(); }, 30000);
    }

private Q_SLOTS:
    void initTestCase() {
        // GeoClue lives on the system bus: point it at nothing, so that the
        // default source here is the one of a machine without a location service.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath("no-bus")));
        writeFile(m_dir.filePath("berlin"), test::nmeaTrack(52.52, 13.405, 30));
        writeFile(m_dir.filePath("svalbard"), test::nmeaTrack(78.2232, 15.6267, 30));
        // A tz folder whose links are copies, known only from tzdata.zi.
        writeFile(m_dir.filePath("tz/zone1970.tab"), "#\nDE,NO\t+5230+01322\tEurope/Berlin\tmost\n");
        writeFile(m_dir.filePath("tz/zone.tab"), "AQ\t-7824+10654\tAntarctica/Vostok\n");
        writeFile(m_dir.filePath("tz/tzdata.zi"), "L Europe/Berlin Europe/Oslo\nL Etc/UTC UTC\n");
        for (const char *zone : {"Europe/Berlin", "Europe/Oslo", "Antarctica/Vostok", "UTC", "Etc/UTC"})
            writeFile(m_dir.filePath(QStringLiteral("tz/") + QLatin1String(zone)), "TZif");
    }

    void init() {
        test::resetUserDefaults();
        test::setTimeZone("Europe/Berlin");
        Clock::freezeAt(QDateTime(solstice, QTime(8, 0), Qt::UTC));
        m_sourcesMade = 0;
    }

    void cleanup() { Clock::reset(); }

    // First switch-on with the permission never asked: the first answer
    // authorizes, the permission callback asks again (no times held yet).
    // Held times suppress a request; Refresh and off-and-on ask again.
    void switchingOnFindsTodaysTimesAndRefreshAsksAgain() {
        QVERIFY(!SunService(replay("berlin")).isEnabled()); // off without a stored switch, asking nothing
        QCOMPARE(m_sourcesMade, 0);
        SunService service(replay("berlin"));
        QVERIFY(switchOnAndSettle(service) && near(service.sunrise(), berlinSunrise));
        QCOMPARE(service.authorizationStatus(), LocationAuthorization::Authorized);
        QCOMPARE(requests(), 2);
        service.updateLocation();
        QCOMPARE(requests(), 2);
        service.refreshSunTimes();
        QCOMPARE(requests(), 3);
        service.setIsEnabled(false);
        service.refreshSunTimes();
        QCOMPARE(requests(), 3);
        QVERIFY(switchOnAndSettle(service));
        QCOMPARE(requests(), 4);

        // An impossible answer changes nothing but the error.
        service.fetchSunTimes(QGeoCoordinate(91.0, 0.0));
        QCOMPARE(*service.error(),
                 QStringLiteral("Location error: The location service gave an impossible position"));
        QVERIFY(near(service.sunrise(), berlinSunrise) && !service.isLoading());
        // Past midnight, the new day's times come from the position held, without asking.
        Clock::freezeAt(QDateTime(solstice.addDays(1), QTime(4, 0), Qt::UTC));
        service.refreshIfDayChanged();
        QVERIFY(std::abs(service.sunrise()->secsTo(berlinSunrise.addDays(1))) < 60 && requests() == 4);
        m_source->refuses = true; // a refusal later keeps the service's own earlier position
        service.refreshSunTimes();
        QTRY_VERIFY_WITH_TIMEOUT(!service.isLoading() && service.position().source == PositionSource::Device,
                                 30000);
        const auto fetched = service.lastFetchDate();
        service.disable();
        QVERIFY(!service.sunrise() && !service.sunset() && !service.error() &&
                service.lastFetchDate() == fetched);
    }

    // Without a position from the service, the zone's reference city stands in
    // and the row says so; a zone without a city asks for a place.
    void fallsBackToTheTimeZoneCity_data() {
        // source: "" none, "default" without GeoClue, "refuse", "fixture" none with the
        // small tz folder above (else the installed one); city: NaN latitude for none.
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("tz");
        QTest::addColumn<QPointF>("city");
        const auto add = [](const char *name, const char *source, const char *tz, double lat, double lon) {
            QTest::newRow(name) << QByteArray(source) << QByteArray(tz) << QPointF(lat, lon);
        };
        add("Berlin", "", "Europe/Berlin", 52.5, 13.3667);
        add("zone.tab only", "default", "Europe/Jersey", 49.1836, -2.1067);
        add("link", "refuse", ":Asia/Calcutta", 22.5333, 88.3667);
        add("UTC", "", "UTC", qQNaN(), 0);
        add("fixture, south", "fixture", "Antarctica/Vostok", -78.4, 106.9);
        add("fixture, copied link", "fixture", "Europe/Oslo", 52.5, 13.3667);
    }
    void fallsBackToTheTimeZoneCity() {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, tz);
        QFETCH(QPointF, city);
        test::setTimeZone(tz);
        const bool refuses = source == "refuse";
        SunService service(source == "default" ? PositionSourceFactory(&LocationManager::createDefaultSource)
                                               : replay(refuses ? "berlin" : "", true),
                           source == "fixture" ? m_dir.filePath("tz") : QString());
        SunIntegrationRow row(&service);
        service.setIsEnabled(true);
        QVERIFY(service.error()->contains(refuses ? "was denied" : "No location service is available"));
        QCOMPARE(service.authorizationStatus(),
                 refuses ? LocationAuthorization::Denied : LocationAuthorization::Restricted);
        QTRY_VERIFY_WITH_TIMEOUT(!service.isLoading(), 30000);
        const QString zone = QString::fromLatin1(tz).remove(QLatin1Char(':'));
        const bool none = std::isnan(city.x());
        QCOMPARE(service.position().source, none ? PositionSource::Unknown : PositionSource::TimeZone);
        const QPointF found(service.position().place.latitude, service.position().place.longitude);
        // The reason stays on show, and the row names the zone.
        QVERIFY(service.error() && (none ? !service.sunrise() : (found - city).manhattanLength() < 1e-3));
        QCOMPARE(row.statusText(),
                 (none ? QStringLiteral("Time zone %1 has no reference city: choose a place")
                       : QStringLiteral("Approximate (time zone %1)"))
                     .arg(zone));
    }

    // A chosen place is stored and used without the location service after a
    // restart; a damaged stored place is ignored.
    void chosenPlaceSurvivesARestart() {
        const sun::Place bogota{"Bogotá, D.C.", "Colombia", {}, 4.711, -74.0721};
        {
            SunService service(replay(""));
            QVERIFY(switchOnAndSettle(service) && !service.setManualPlace({"", "", "", 91.0, 0.0}));
            QVERIFY(service.setManualPlace(bogota) && !service.error());
        }
        PlacePicker picker(QString::fromLatin1(sun::defaultZoneInfoRoot));
        QVERIFY(QSignalSpy(&picker, &PlacePicker::placesLoaded).wait(30000));
        picker.findChild<QLineEdit *>("placeSearch")->setText("SÃO pau"); // any word, any case or accent
        QCOMPARE(picker.chosenPlace()->zoneId, QStringLiteral("America/Sao_Paulo"));
        // A typed position wins once complete.
        picker.findChild<QLineEdit *>("latitudeField")->setText("4,711");
        QVERIFY(!picker.chosenPlace());
        picker.findChild<QLineEdit *>("longitudeField")->setText("-74.0721");
        QCOMPARE(picker.chosenPlace()->latitude, 4.711);
        UserDefaults::reload();
        m_sourcesMade = 0;
        SunService restarted(replay("berlin"));
        QVERIFY(restarted.locationMode() == LocationMode::Manual &&
                restarted.position() == (SunPosition{PositionSource::Manual, bogota}));
        QVERIFY(restarted.sunrise()->secsTo(*restarted.sunset()) < 13 * 3600); // not Berlin's long June day
        QCoreApplication::processEvents();
        QCOMPARE(m_sourcesMade, 0);

        restarted.setLocationMode(LocationMode::Automatic);
        QTRY_VERIFY_WITH_TIMEOUT(near(restarted.sunrise(), berlinSunrise), 30000);
        UserDefaults::setValue(QStringLiteral("locationMode"), QStringLiteral("manual"));
        UserDefaults::setValue(QStringLiteral("manualPlace"), QStringList{"X", "", "", "north", "1"});
        QCOMPARE(SunService(replay("berlin")).locationMode(), LocationMode::Automatic);
    }

    // At 78° N the Sun neither rises in December nor sets in June: the row
    // says so, the bar is all night or all day, and the next request asks again.
    void polarDaysAtSvalbard_data() {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<double>("morningNightEnd");
        QTest::newRow("December") << QDate(2026, 12, 21) << "No sunrise today" << 1000.0;
        QTest::newRow("June") << QDate(2026, 6, 21) << "No sunset today" << 0.0;
    }
    void polarDaysAtSvalbard() {
        QFETCH(QDate, date);
        test::setTimeZone("Arctic/Longyearbyen");
        Clock::freezeAt(QDateTime(date, QTime(11, 0), Qt::UTC));
        AppStateDependencies dependencies;
        dependencies.sunService = std::make_unique<SunService>(replay("svalbard"));
        AppState app(std::move(dependencies));
        SunService &service = *app.sunService();
        QVERIFY(switchOnAndSettle(service));
        QTEST(SunIntegrationRow(&service).detailText(), "detail");
        BarState bar;
        bar.setAppState(&app);
        bar.setFrame(QRectF(0, 0, 1000, 6));
        QTEST(bar.nightMorningX(), "morningNightEnd");
        QCOMPARE(bar.nightEveningX(), 1000.0);
        service.updateLocation();
        QCOMPARE(requests(), 3);
    }
};

QTEST_MAIN(SunServiceTest)
#include "test_sun_service.moc"
