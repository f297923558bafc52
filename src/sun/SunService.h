#pragma once

#include "platform/LocationManager.h"

#include <QDateTime>
#include <QGeoCoordinate>
#include <QObject>
#include <QTimer>
#include <optional>

namespace daybrook {

// Today's sunrise and sunset at the user's location.
//
// Asks the location manager for one coarse position when something asks for
// sun times (switching on, a launch with the switch on, the permission
// becoming authorized, Refresh) and computes the events of today's local
// civil day there. Times are UTC instants.
class SunService : public QObject {
    Q_OBJECT
public:
    explicit SunService(QObject *parent = nullptr);
    // Tests hand in their own position source; the manager is still made on first use.
    explicit SunService(PositionSourceFactory positionSourceFactory, QObject *parent = nullptr);
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

private:
    void setSunrise(const std::optional<QDateTime> &sunrise);
    void setSunset(const std::optional<QDateTime> &sunset);
    void setIsLoading(bool loading);
    void setError(const std::optional<QString> &error);
    void setAuthorizationStatus(LocationAuthorization status);

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
    std::optional<QGeoCoordinate> m_lastLocation;
    QTimer m_dayCheck;
};

} // namespace daybrook
