#include "platform/LocationManager.h"

#include "core/Logging.h"

#include <QGeoPositionInfo>
#include <QGuiApplication>

namespace daybrook {

LocationManager::LocationManager(PositionSourceFactory factory, QObject *parent)
    : QObject(parent), m_factory(factory ? std::move(factory) : PositionSourceFactory(&createDefaultSource)) {
    ensureSource();
}

LocationManager::~LocationManager() = default;

QGeoPositionInfoSource *LocationManager::createDefaultSource(QObject *parent) {
    QString desktopId = QGuiApplication::desktopFileName();
    if (desktopId.isEmpty())
        desktopId = QStringLiteral("daybrook");
    return QGeoPositionInfoSource::createDefaultSource({{QStringLiteral("desktopId"), desktopId}}, parent);
}

QString LocationManager::describe(QGeoPositionInfoSource::Error error) {
    switch (error) {
    case QGeoPositionInfoSource::AccessError:
        return tr("Access to the location service was denied");
    case QGeoPositionInfoSource::ClosedError:
        return tr("The location service closed the connection");
    case QGeoPositionInfoSource::UpdateTimeoutError:
        return tr("No position was received in time");
    case QGeoPositionInfoSource::UnknownSourceError:
    case QGeoPositionInfoSource::NoError:
        break;
    }
    return tr("The location service failed");
}

QString LocationManager::noServiceDescription() {
    return tr("No location service is available on this system, or location services are turned off");
}

bool LocationManager::ensureSource() {
    if (!m_source) {
        m_serviceSeen = false;
        m_source = m_factory(this);
        if (!m_source)
            return false;
        m_source->setPreferredPositioningMethods(desiredMethods);
        connect(m_source, &QGeoPositionInfoSource::positionUpdated, this, &LocationManager::handlePosition);
        connect(m_source, &QGeoPositionInfoSource::errorOccurred, this, &LocationManager::handleError);
    }
    if (!m_serviceSeen) {
        // Without GeoClue the source exists but can do nothing; its request
        // would only end in a timeout much later. Asking it for its methods is
        // one quick call, made until a service has once answered. GeoClue's
        // source reports the failed probe as an access error: not ours.
        m_probing = true;
        m_serviceSeen =
            m_source->supportedPositioningMethods() != QGeoPositionInfoSource::NoPositioningMethods;
        m_probing = false;
    }
    return m_serviceSeen;
}

void LocationManager::requestLocation() {
    if (!ensureSource()) {
        qCDebug(lcSun) << "no positioning service";
        const QPointer<LocationManager> self(this);
        if (setAuthorization(LocationAuthorization::Restricted) && self)
            Q_EMIT didChangeAuthorization();
        if (self)
            Q_EMIT didFailWithError(noServiceDescription());
        return;
    }
    qCDebug(lcSun) << "requesting a position from" << m_source->sourceName();
    m_pending = true;
    m_source->requestUpdate(requestTimeoutMsecs);
}

bool LocationManager::setAuthorization(LocationAuthorization authorization) {
    if (m_authorization == authorization)
        return false;
    m_authorization = authorization;
    return true;
}

void LocationManager::handlePosition(const QGeoPositionInfo &info) {
    // Copied first: `info` belongs to the source, and a request made from the
    // authorization callback below may replace it while we are still here.
    const QGeoCoordinate coordinate = info.coordinate();
    qCDebug(lcSun) << "position" << coordinate;
    m_pending = false;
    const QPointer<LocationManager> self(this);
    if (setAuthorization(LocationAuthorization::Authorized))
        Q_EMIT didChangeAuthorization();
    if (self)
        Q_EMIT didUpdateLocations({coordinate});
}

void LocationManager::handleError(QGeoPositionInfoSource::Error error) {
    // Errors outside a request (GeoClue failing to stop its client after an
    // answer, or the probe above) say nothing about the position asked for.
    if (m_probing || !m_pending || error == QGeoPositionInfoSource::NoError)
        return;
    qCDebug(lcSun) << "position request failed" << error;
    m_pending = false;
    const QPointer<LocationManager> self(this);
    if (error == QGeoPositionInfoSource::AccessError && setAuthorization(LocationAuthorization::Denied))
        Q_EMIT didChangeAuthorization();
    if (self)
        Q_EMIT didFailWithError(describe(error));
}

} // namespace daybrook
