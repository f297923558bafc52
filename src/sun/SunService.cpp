#include "sun/SunService.h"

#include "core/Clock.h"
#include "core/Logging.h"
#include "core/UserDefaults.h"
#include "sun/SunCalculator.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPointer>
#include <QThreadPool>

namespace daybrook {

namespace {
const QString enabledKey = QStringLiteral("sunriseEnabled");
const QString modeKey = QStringLiteral("locationMode");
const QString placeKey = QStringLiteral("manualPlace");

QDate localToday() {
    return Clock::now().toLocalTime().date();
}

// Stored as [name, country, zone, latitude, longitude]; anything else is absent.
std::optional<sun::Place> storedPlace() {
    const std::optional<QStringList> fields = UserDefaults::stringListValue(placeKey);
    if (!fields || fields->size() != 5)
        return std::nullopt;
    bool latitudeOk = false;
    bool longitudeOk = false;
    const sun::Place place{fields->at(0), fields->at(1), fields->at(2),
                           QLocale::c().toDouble(fields->at(3), &latitudeOk),
                           QLocale::c().toDouble(fields->at(4), &longitudeOk)};
    if (!latitudeOk || !longitudeOk || !sun::isValidPosition(place.latitude, place.longitude))
        return std::nullopt;
    return place;
}
} // namespace

SunService::SunService(QObject *parent) : SunService(PositionSourceFactory{}, parent) {}

SunService::SunService(PositionSourceFactory positionSourceFactory, QObject *parent)
    : SunService(std::move(positionSourceFactory), QString(), parent) {}

SunService::SunService(PositionSourceFactory positionSourceFactory, const QString &zoneInfoRoot,
                       QObject *parent)
    : QObject(parent), m_positionSourceFactory(std::move(positionSourceFactory)),
      m_zoneInfoRoot(zoneInfoRoot.isEmpty() ? QString::fromLatin1(sun::defaultZoneInfoRoot) : zoneInfoRoot) {
    m_dayCheck.setInterval(dayCheckIntervalMsecs);
    connect(&m_dayCheck, &QTimer::timeout, this, &SunService::refreshIfDayChanged);

    m_manualPlace = storedPlace();
    if (m_manualPlace && UserDefaults::stringValue(modeKey) == QStringLiteral("manual"))
        m_locationMode = LocationMode::Manual;

    if (UserDefaults::boolValue(enabledKey).value_or(false)) {
        setIsEnabled(true);
        // Asked once more when the event loop runs: what construction started
        // may not have been answered yet (the request then joins it).
        QMetaObject::invokeMethod(this, &SunService::updateLocation, Qt::QueuedConnection);
    }
}

SunService::~SunService() = default;

void SunService::setIsEnabled(bool enabled) {
    m_isEnabled = enabled;
    Q_EMIT isEnabledChanged();

    UserDefaults::setValue(enabledKey, enabled);
    if (enabled) {
        m_dayCheck.start();
        updateLocation();
    } else {
        m_dayCheck.stop();
        ++m_lookupGeneration;
        setSunrise(std::nullopt);
        setSunset(std::nullopt);
        setPolarDay(PolarDay::None);
        setPosition({});
    }
}

void SunService::setLocationMode(LocationMode mode) {
    if (mode == LocationMode::Manual && !m_manualPlace)
        return; // nothing to use yet: a place is chosen first
    m_locationMode = mode;
    Q_EMIT locationModeChanged();
    UserDefaults::setValue(modeKey, mode == LocationMode::Manual ? QStringLiteral("manual")
                                                                 : QStringLiteral("automatic"));
    ++m_lookupGeneration;
    if (!m_isEnabled)
        return;
    if (mode == LocationMode::Automatic)
        setPosition({}); // the chosen place no longer speaks for these times
    m_lastFetchDate.reset();
    updateLocation();
}

bool SunService::setManualPlace(const sun::Place &place) {
    if (!sun::isValidPosition(place.latitude, place.longitude))
        return false;
    m_manualPlace = place;
    Q_EMIT manualPlaceChanged();
    const QLocale c = QLocale::c();
    UserDefaults::setValue(placeKey, QStringList{place.name, place.country, place.zoneId,
                                                 c.toString(place.latitude, 'g', 10),
                                                 c.toString(place.longitude, 'g', 10)});
    setLocationMode(LocationMode::Manual);
    return true;
}

void SunService::updateLocation() {
    if (m_locationMode == LocationMode::Manual && m_manualPlace) {
        // The location service is not asked at all: nothing leaves the machine.
        if (!(m_lastFetchDate && m_lastFetchDate->toLocalTime().date() == localToday() && m_sunrise))
            computeAt({PositionSource::Manual, *m_manualPlace});
        return;
    }
    if (!m_locationManager) {
        m_locationManager = new LocationManager(m_positionSourceFactory, this);
        connect(m_locationManager, &LocationManager::didUpdateLocations, this,
                &SunService::locationManagerDidUpdateLocations);
        connect(m_locationManager, &LocationManager::didFailWithError, this,
                &SunService::locationManagerDidFailWithError);
        connect(m_locationManager, &LocationManager::didChangeAuthorization, this,
                &SunService::locationManagerDidChangeAuthorization);
    }
    setAuthorizationStatus(m_locationManager->authorizationStatus());

    if (m_lastFetchDate && m_lastFetchDate->toLocalTime().date() == localToday() && m_sunrise) {
        qCDebug(lcSun) << "today's times are held";
        return;
    }
    // Set before asking: the answer may arrive inside the request.
    setIsLoading(true);
    m_locationManager->requestLocation();
}

void SunService::refreshSunTimes() {
    if (!m_isEnabled)
        return;
    m_lastFetchDate.reset();
    updateLocation();
}

void SunService::disable() {
    setIsEnabled(false);
    setSunrise(std::nullopt);
    setSunset(std::nullopt);
    setError(std::nullopt);
}

void SunService::fetchSunTimes(const QGeoCoordinate &location) {
    setIsLoading(true);
    if (!location.isValid() || !sun::isValidPosition(location.latitude(), location.longitude())) {
        qCDebug(lcSun) << "impossible position" << location.latitude() << location.longitude();
        setError(tr("Location error: The location service gave an impossible position"));
        setIsLoading(false);
        return;
    }
    sun::Place place;
    place.latitude = location.latitude();
    place.longitude = location.longitude();
    computeAt({PositionSource::Device, place});
}

void SunService::computeAt(const SunPosition &position) {
    // Whatever a time zone lookup still running would say is older than this.
    if (position.source != PositionSource::TimeZone)
        ++m_lookupGeneration;
    const double latitude = position.place.latitude;
    const double longitude = position.place.longitude;
    const QDate today = localToday();
    const sun::SunEvents events = sun::sunEventsOnDate(today, latitude, longitude);
    PolarDay polar = PolarDay::None;
    if (!events.sunrise && !events.sunset) {
        // No crossing all day: the Sun is on one side of the horizon throughout.
        const double noon = QDateTime(today, QTime(12, 0)).toSecsSinceEpoch();
        polar = sun::solarAltitude(noon, latitude, longitude) > sun::standardAltitude ? PolarDay::MidnightSun
                                                                                      : PolarDay::PolarNight;
    }
    qCDebug(lcSun) << "sun times" << events.sunrise.value_or(QDateTime())
                   << events.sunset.value_or(QDateTime()) << "at" << latitude << longitude;
    setPosition(position);
    setSunrise(events.sunrise);
    setSunset(events.sunset);
    setPolarDay(polar);
    m_lastFetchDate = Clock::now();
    // An approximate position keeps the failure that led to it on show.
    if (position.source != PositionSource::TimeZone)
        setError(std::nullopt);
    setIsLoading(false);
}

void SunService::useTimeZoneCity() {
    const int generation = ++m_lookupGeneration;
    const QString root = m_zoneInfoRoot;
    const QString zone = sun::systemTimeZoneId(root);
    qCDebug(lcSun) << "looking up the reference city of" << zone;
    setIsLoading(true);
    const QPointer<SunService> self(this);
    // A few small files, read off the UI thread all the same.
    QThreadPool::globalInstance()->start([self, generation, root, zone] {
        std::optional<sun::Place> city;
        if (!zone.isEmpty())
            city = sun::referenceCity(zone, root);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, generation, zone, city] {
                if (!self || generation != self->m_lookupGeneration)
                    return;
                if (city) {
                    self->computeAt({PositionSource::TimeZone, *city});
                    return;
                }
                sun::Place none;
                none.zoneId = zone;
                self->setPosition({PositionSource::Unknown, none});
                self->setIsLoading(false);
            },
            Qt::QueuedConnection);
    });
}

void SunService::refreshIfDayChanged() {
    const PositionSource source = m_position.source;
    if (!m_isEnabled || source == PositionSource::None || source == PositionSource::Unknown ||
        !m_lastFetchDate || m_lastFetchDate->toLocalTime().date() == localToday())
        return;
    computeAt(m_position);
}

void SunService::locationManagerDidUpdateLocations(const QList<QGeoCoordinate> &locations) {
    // An answer to a request made before switching to a chosen place.
    if (locations.isEmpty() || m_locationMode == LocationMode::Manual)
        return;
    fetchSunTimes(locations.first());
}

void SunService::locationManagerDidFailWithError(const QString &description) {
    if (m_locationMode == LocationMode::Manual)
        return;
    setError(tr("Location error: ") + description);
    // A position the service gave earlier is still better than a guess.
    if (m_position.source == PositionSource::Device) {
        setIsLoading(false);
        return;
    }
    useTimeZoneCity();
}

void SunService::locationManagerDidChangeAuthorization() {
    setAuthorizationStatus(m_locationManager->authorizationStatus());
    if (m_isEnabled && m_authorizationStatus == LocationAuthorization::Authorized)
        updateLocation();
}

void SunService::setSunrise(const std::optional<QDateTime> &sunrise) {
    m_sunrise = sunrise;
    Q_EMIT sunriseChanged();
}

void SunService::setSunset(const std::optional<QDateTime> &sunset) {
    m_sunset = sunset;
    Q_EMIT sunsetChanged();
}

void SunService::setIsLoading(bool loading) {
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

void SunService::setError(const std::optional<QString> &error) {
    m_error = error;
    Q_EMIT errorChanged();
}

void SunService::setAuthorizationStatus(LocationAuthorization status) {
    m_authorizationStatus = status;
    Q_EMIT authorizationStatusChanged();
}

void SunService::setPosition(const SunPosition &position) {
    m_position = position;
    Q_EMIT positionChanged();
}

void SunService::setPolarDay(PolarDay polarDay) {
    m_polarDay = polarDay;
    Q_EMIT polarDayChanged();
}

} // namespace daybrook
