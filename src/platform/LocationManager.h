#pragma once

#include <QGeoCoordinate>
#include <QGeoPositionInfoSource>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QGeoPositionInfo;

namespace daybrook {

// Location permission as last learnt. The raw values are fixed: the settings
// rows compare against them.
enum class LocationAuthorization {
    NotDetermined = 0,
    Restricted = 1,
    Denied = 2,
    Authorized = 3,
    AuthorizedWhenInUse = 4
};

// Makes the position source the manager asks; may return nullptr when there is none.
using PositionSourceFactory = std::function<QGeoPositionInfoSource *(QObject *parent)>;

// One-shot coarse positions from Qt Positioning (GeoClue 2 on a desktop).
//
// Linux has no per-application location permission that can be read up
// front: GeoClue's agent decides when a client starts. So the permission is
// learnt from answers: it starts not determined, a position makes it
// authorized, an access error makes it denied, and a machine without any
// positioning service reports restricted. Each change is announced before the
// answer that revealed it.
//
// Every signal may be emitted from inside requestLocation(): some sources
// answer synchronously.
class LocationManager : public QObject {
    Q_OBJECT
public:
    // A kilometre is plenty for sun times (it moves them by seconds). Qt has no
    // accuracy in metres; it is expressed as a preference for non-satellite
    // methods (Wi-Fi, cell, address), which GeoClue serves at its coarsest
    // level Qt can ask for, and which avoids waking a GPS receiver.
    static constexpr double desiredAccuracyMeters = 1000.0;
    static constexpr QGeoPositionInfoSource::PositioningMethods desiredMethods =
        QGeoPositionInfoSource::NonSatellitePositioningMethods;
    // How long one request may wait for a position before it fails.
    static constexpr int requestTimeoutMsecs = 60000;

    // Without a factory the system's default source is used.
    explicit LocationManager(PositionSourceFactory factory = {}, QObject *parent = nullptr);
    ~LocationManager() override;

    // The system's default source, named after the desktop entry so that
    // GeoClue's agent can tell the user which application asks.
    static QGeoPositionInfoSource *createDefaultSource(QObject *parent);

    LocationAuthorization authorizationStatus() const { return m_authorization; }
    // True while a request waits for its answer.
    bool isRequestPending() const { return m_pending; }

    // Asks for one position. A request made while another is pending joins it.
    void requestLocation();

    static QString describe(QGeoPositionInfoSource::Error error);
    static QString noServiceDescription();

Q_SIGNALS:
    void didUpdateLocations(const QList<QGeoCoordinate> &locations);
    void didFailWithError(const QString &description);
    void didChangeAuthorization();

private:
    bool ensureSource();
    bool setAuthorization(LocationAuthorization authorization);
    void handlePosition(const QGeoPositionInfo &info);
    void handleError(QGeoPositionInfoSource::Error error);

    PositionSourceFactory m_factory;
    QPointer<QGeoPositionInfoSource> m_source;
    LocationAuthorization m_authorization = LocationAuthorization::NotDetermined;
    bool m_pending = false;
    bool m_serviceSeen = false;
    bool m_probing = false;
};

} // namespace daybrook
