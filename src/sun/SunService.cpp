#include "sun/SunService.h"

#include "core/Clock.h"
#include "core/Logging.h"
#include "core/UserDefaults.h"
#include "sun/SunCalculator.h"

namespace daybrook {

namespace {
const QString enabledKey = QStringLiteral("sunriseEnabled");

QDate localToday() {
    return Clock::now().toLocalTime().date();
}
} // namespace

SunService::SunService(QObject *parent) : SunService(PositionSourceFactory{}, parent) {}

SunService::SunService(PositionSourceFactory positionSourceFactory, QObject *parent)
    : QObject(parent), m_positionSourceFactory(std::move(positionSourceFactory)) {
    m_dayCheck.setInterval(dayCheckIntervalMsecs);
    connect(&m_dayCheck, &QTimer::timeout, this, &SunService::refreshIfDayChanged);

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
        setSunrise(std::nullopt);
        setSunset(std::nullopt);
    }
}

void SunService::updateLocation() {
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
    const sun::SunEvents events =
        sun::sunEventsOnDate(localToday(), location.latitude(), location.longitude());
    qCDebug(lcSun) << "sun times" << events.sunrise.value_or(QDateTime())
                   << events.sunset.value_or(QDateTime());
    m_lastLocation = location;
    setSunrise(events.sunrise);
    setSunset(events.sunset);
    m_lastFetchDate = Clock::now();
    setError(std::nullopt);
    setIsLoading(false);
}

void SunService::refreshIfDayChanged() {
    if (!m_isEnabled || !m_lastLocation || !m_lastFetchDate ||
        m_lastFetchDate->toLocalTime().date() == localToday())
        return;
    fetchSunTimes(*m_lastLocation);
}

void SunService::locationManagerDidUpdateLocations(const QList<QGeoCoordinate> &locations) {
    if (locations.isEmpty())
        return;
    fetchSunTimes(locations.first());
}

void SunService::locationManagerDidFailWithError(const QString &description) {
    setError(tr("Location error: ") + description);
    setIsLoading(false);
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

} // namespace daybrook
