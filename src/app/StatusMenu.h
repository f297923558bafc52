#pragma once

#include <QObject>
#include <QPointer>

class QMenu;
class QSystemTrayIcon;

namespace daybrook {

class AppDelegate;

// The tray icon and its menu. The menu is rebuilt every time it opens, so that
// every check mark shows the current state.
class StatusMenu : public QObject {
    Q_OBJECT
public:
    explicit StatusMenu(AppDelegate *delegate, QObject *parent = nullptr);
    ~StatusMenu() override;

    // Shows the icon; prints one line when the desktop has no tray to show it in.
    void setup();

    QSystemTrayIcon *trayIcon() const { return m_tray; }
    QMenu *menu() const { return m_menu.get(); }

    // Fills `menu` with the current items (replacing what it held).
    void populate(QMenu *menu);

    static QString noTrayMessage();
    // A screen's item in the Display submenu: the monitor's name with its
    // connector ("DELL U2720Q (DP-1)"), or the connector alone.
    static QString screenTitle(const QString &model, const QString &manufacturer, const QString &connector);

private:
    AppDelegate *m_delegate;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon *m_tray = nullptr;
};

} // namespace daybrook
