#pragma once

#include "state/AppState.h"

#include <QObject>
#include <QPointer>
#include <memory>

class QScreen;

namespace daybrook {

class FloatingBarPanel;
class SettingsWindow;
class StatusMenu;
class Updater;

// Owns every long-lived object of the program and wires them together at launch.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(AppState *appState = nullptr, QObject *parent = nullptr);
    ~AppDelegate() override;

    AppState *appState() const { return m_appState; }
    FloatingBarPanel *floatingBarWindow() const { return m_floatingBar.get(); }

    void applicationDidFinishLaunching();

    // A URL handed to the program (a command-line argument or a later process).
    void handleURL(const QString &text);
    void handleScreenSelection(const QString &screenName);
    // Tells the user, once, that the settings file cannot be written.
    void warnSettingsNotSaved(const QString &path);

    // A later process was started without a URL: Settings comes forward.
    void handleActivation();

    // The tray icon and its menu's commands.
    void setupStatusItem();
    StatusMenu *statusMenu() const { return m_statusMenu.get(); }
    Updater *updater() const { return m_updater.get(); }
    SettingsWindow *settingsWindow() const;
    void toggleFloatingBar();
    void toggleAlwaysExpanded();
    void toggleLaunchAtLogin();
    // Index into the current screen list; an index that no longer exists does nothing.
    void selectScreen(int index);
    void checkForUpdates();
    void openSettings();
    void openAbout();
    void quitApp();
    void windowWillClose(SettingsWindow *window);

    // The screen the bar goes on: the first whose name equals the setting, else
    // the primary screen, else the first one; null when there is none.
    static QScreen *chooseScreen(const QString &selectedScreenName);

Q_SIGNALS:
    // Emitted once the panel exists (it may wait for a screen to appear).
    void floatingBarCreated();

private:
    void setupFloatingBar();
    void openSettingsWindow();

    QPointer<AppState> m_appState;
    std::unique_ptr<FloatingBarPanel> m_floatingBar;
    QMetaObject::Connection m_waitForScreen;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<StatusMenu> m_statusMenu;
    QPointer<SettingsWindow> m_settingsWindow;
};

} // namespace daybrook
