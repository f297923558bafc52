#pragma once

#include <QDateTime>
#include <QObject>
#include <optional>

namespace daybrook {

enum class LocationAuthorization {
    NotDetermined = 0,
    Restricted = 1,
    Denied = 2,
    Authorized = 3,
    AuthorizedWhenInUse = 4
};

// Today's sunrise and sunset at the user's location.
class SunService : public QObject {
    Q_OBJECT
public:
    explicit SunService(QObject *parent = nullptr);
    ~SunService() override;

    bool isEnabled() const { return m_isEnabled; }
    void setIsEnabled(bool enabled);
    const std::optional<QDateTime> &sunrise() const { return m_sunrise; }
    const std::optional<QDateTime> &sunset() const { return m_sunset; }
    bool isLoading() const { return m_isLoading; }
    const std::optional<QString> &error() const { return m_error; }
    LocationAuthorization authorizationStatus() const { return m_authorizationStatus; }

    void updateLocation();
    void refreshSunTimes();
    void disable();

Q_SIGNALS:
    void isEnabledChanged();
    void sunriseChanged();
    void sunsetChanged();
    void isLoadingChanged();
    void errorChanged();
    void authorizationStatusChanged();

private:
    bool m_isEnabled = false;
    std::optional<QDateTime> m_sunrise;
    std::optional<QDateTime> m_sunset;
    bool m_isLoading = false;
    std::optional<QString> m_error;
    LocationAuthorization m_authorizationStatus = LocationAuthorization::NotDetermined;
};

} // namespace daybrook
