#include "platform/SystemAppearance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QPalette>

namespace daybrook {

namespace {
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

// The portal wraps the value in one or two variants depending on the method.
std::optional<uint> unwrapScheme(QVariant value) {
    for (int depth = 0;
         depth < 3 && value.canConvert<QDBusVariant>() && value.typeId() == qMetaTypeId<QDBusVariant>();
         ++depth)
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    if (!ok)
        return std::nullopt;
    return scheme;
}
} // namespace

SystemAppearance::SystemAppearance(QObject *parent) : QObject(parent) {
    qRegisterMetaType<QDBusVariant>();
    // Connecting to the session bus waits for it (and, without one, for
    // dbus-launch): done once the event loop runs, so that the program's
    // start-up, the bar's first showing above all, never waits for it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            QDBusConnection bus = QDBusConnection::sessionBus();
            if (!bus.isConnected())
                return;
            bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                        SLOT(onSettingChanged(QString, QString, QDBusVariant)));
            readPortal();
        },
        Qt::QueuedConnection);
}

bool SystemAppearance::prefersDark() const {
    if (m_portalScheme && *m_portalScheme != 0)
        return *m_portalScheme == 1;
    if (!qGuiApp)
        return false;
    return QGuiApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
}

void SystemAppearance::readPortal() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
    call << appearanceNamespace << colorSchemeKey;
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QVariant> reply = *w;
        if (reply.isError())
            return; // no portal: the palette decides
        setPortalValue(unwrapScheme(reply.argumentAt<0>()));
    });
}

void SystemAppearance::onSettingChanged(const QString &ns, const QString &key, const QDBusVariant &value) {
    if (ns != appearanceNamespace || key != colorSchemeKey)
        return;
    setPortalValue(unwrapScheme(value.variant()));
}

void SystemAppearance::setPortalValue(std::optional<uint> scheme) {
    m_portalScheme = scheme;
    Q_EMIT changed();
}

} // namespace daybrook
