#pragma once

#include <QObject>
#include <optional>

class QDBusVariant;

namespace daybrook {

// The desktop's light/dark preference: xdg-desktop-portal's colour scheme,
// followed live; without a portal, the lightness of the application palette.
class SystemAppearance : public QObject {
    Q_OBJECT
public:
    explicit SystemAppearance(QObject *parent = nullptr);

    // True when the desktop prefers dark. Until the portal has answered this
    // is the palette's verdict.
    bool prefersDark() const;

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void onSettingChanged(const QString &ns, const QString &key, const QDBusVariant &value);

private:
    void readPortal();
    void setPortalValue(std::optional<uint> scheme);

    // org.freedesktop.appearance color-scheme: 0 no preference, 1 dark, 2 light.
    std::optional<uint> m_portalScheme;
};

} // namespace daybrook
