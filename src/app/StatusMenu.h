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

private:
    AppDelegate *m_delegate;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon *m_tray = nullptr;
};

} // namespace daybrook
