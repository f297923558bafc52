#pragma once

#include "platform/LocationManager.h"
#include "sun/Places.h"

#include <QDateTime>
#include <QGeoCoordinate>
#include <QObject>
#include <QTimer>
#include <optional>

namespace daybrook {

// Where the sun times come from: the location service, or a place the user chose.
enum class LocationMode { Automatic, Manual };

// What the position in use is.
enum class PositionSource {
    None,     // nothing yet (asking, or switched off)
    Device,   // the location service's answer
    TimeZone, // the reference city of the system time zone, after the service failed
    Manual,   // the place the user chose
    Unknown   // the service failed and the time zone has no city (UTC): the user must choose
};

struct SunPosition {
    PositionSource source = PositionSource::None;
    // The city and its zone for TimeZone and Manual; for Unknown the zone
    // that has no city (may be empty).
    sun::Place place;
    bool operator==(const SunPosition &) const = default;
};

// Why today has no sunrise or sunset although the position is known.
enum class PolarDay { None, MidnightSun, PolarNight };

// Today's sunrise and sunset at the user's location.
//
// Automatic: asks the location manager for one coarse position when something
// asks for sun times (switching on, a launch with the switch on, the
// permission becoming authorized, Refresh); when the service is missing,
// refuses or fails, uses the system time zone's reference city instead.
// Manual: uses the stored place and never asks the location service.
// Computes the events of today's local civil day there. Times are UTC instants.
class SunService : public QObject {
    Q_OBJECT
public:
    explicit SunService(QObject *parent = nullptr);
    // Tests hand in their own position source (the manager is still made on
    // first use) and their own time zone database folder.
    explicit SunService(PositionSourceFactory positionSourceFactory, QObject *parent = nullptr);
    SunService(PositionSourceFactory positionSourceFactory, const QString &zoneInfoRoot,
               QObject *parent = nullptr);
    ~SunService() override;

    bool isEnabled() const { return m_isEnabled; }
    void setIsEnabled(bool enabled);
    const std::optional<QDateTime> &sunrise() const { return m_sunrise; }
    const std::optional<QDateTime> &sunset() const { return m_sunset; }
    // True from asking for a position until its answer has been turned into
    // times or has failed: the computation itself takes microseconds, the wait
    // for the position is what the user sees.
    bool isLoading() const { return m_isLoading; }
    const std::optional<QString> &error() const { return m_error; }
    LocationAuthorization authorizationStatus() const { return m_authorizationStatus; }
    // When sun times were last stored.
    const std::optional<QDateTime> &lastFetchDate() const { return m_lastFetchDate; }
    // Absent until the first request.
    LocationManager *locationManager() const { return m_locationManager; }
    const QString &zoneInfoRoot() const { return m_zoneInfoRoot; }

    LocationMode locationMode() const { return m_locationMode; }
    // Stores the mode; while switched on, finds the times the new way at once.
    void setLocationMode(LocationMode mode);
    const std::optional<sun::Place> &manualPlace() const { return m_manualPlace; }
    // Stores the place and switches to Manual; an impossible position is refused.
    bool setManualPlace(const sun::Place &place);
    const SunPosition &position() const { return m_position; }
    PolarDay polarDay() const { return m_polarDay; }

    void updateLocation();
    void refreshSunTimes();
    void disable();

    // Computes and stores today's events at the location (also after the
    // switch was turned off: only switching clears the times).
    void fetchSunTimes(const QGeoCoordinate &location);

    // Recomputes from the last position once the local date has moved on, so a
    // running program does not show yesterday's times; asks for no position.
    // Runs by itself every few minutes while switched on.
    void refreshIfDayChanged();

    static constexpr int dayCheckIntervalMsecs = 5 * 60 * 1000;

Q_SIGNALS:
    void isEnabledChanged();
    void sunriseChanged();
    void sunsetChanged();
    void isLoadingChanged();
    void errorChanged();
    void authorizationStatusChanged();
    void locationModeChanged();
    void manualPlaceChanged();
    void positionChanged();
    void polarDayChanged();

private:
    void setSunrise(const std::optional<QDateTime> &sunrise);
    void setSunset(const std::optional<QDateTime> &sunset);
    void setIsLoading(bool loading);
    void setError(const std::optional<QString> &error);
    void setAuthorizationStatus(LocationAuthorization status);
    void setPosition(const SunPosition &position);
    void setPolarDay(PolarDay polarDay);
    void computeAt(const SunPosition &position);
    void useTimeZoneCity();

    void locationManagerDidUpdateLocations(const QList<QGeoCoordinate> &locations);
    void locationManagerDidFailWithError(const QString &description);
    void locationManagerDidChangeAuthorization();

    PositionSourceFactory m_positionSourceFactory;
    LocationManager *m_locationManager = nullptr;
    bool m_isEnabled = false;
    std::optional<QDateTime> m_sunrise;
    std::optional<QDateTime> m_sunset;
    bool m_isLoading = false;
    std::optional<QString> m_error;
    LocationAuthorization m_authorizationStatus = LocationAuthorization::NotDetermined;
    std::optional<QDateTime> m_lastFetchDate;
    QString m_zoneInfoRoot;
    LocationMode m_locationMode = LocationMode::Automatic;
    std::optional<sun::Place> m_manualPlace;
    SunPosition m_position;
    PolarDay m_polarDay = PolarDay::None;
    // Tells a time zone lookup that finished after the mode changed to drop its answer.
    int m_lookupGeneration = 0;
    QTimer m_dayCheck;
};

} // namespace daybrook
