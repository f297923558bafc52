#include "app/AppDelegate.h"

#include "app/SettingsWindow.h"
#include "app/StatusMenu.h"
#include "app/Updater.h"
#include "bar/FloatingBarPanel.h"
#include "core/Logging.h"
#include "core/Notifications.h"
#include "core/UrlRouting.h"
#include "core/UserDefaults.h"
#include "state/AppState.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTextStream>

namespace daybrook {

AppDelegate::AppDelegate(AppState *appState, QObject *parent)
    : QObject(parent), m_appState(appState ? appState : new AppState(this)), m_updater(Updater::fromBuild()) {
    m_updater->startAutomaticChecks();
}

AppDelegate::~AppDelegate() {
    // The settings window is a top-level widget without a parent.
    if (m_settingsWindow) {
        QObject::disconnect(m_settingsWindow, nullptr, this, nullptr);
        delete m_settingsWindow;
    }
}

void AppDelegate::applicationDidFinishLaunching() {
    // The bar first: it is what the user waits for, and it needs neither the
    // session bus nor the tray, whose set-up can take a while.
    setupFloatingBar();
    setupStatusItem();
    connect(&Notifications::instance(), &Notifications::didSelectScreen, this,
            &AppDelegate::handleScreenSelection);
    // A failure before the tray existed (the first-launch defaults) is told now.
    if (UserDefaults::saveFailed())
        warnSettingsNotSaved(UserDefaults::filePath());
    else
        connect(&Notifications::instance(), &Notifications::settingsNotSaved, this,
                &AppDelegate::warnSettingsNotSaved);
}

void AppDelegate::warnSettingsNotSaved(const QString &path) {
    // A notification rather than a dialog: nothing is lost yet, and the user may
    // fix the file while Daybrook runs. Without a tray the terminal is told.
    const QString message = tr("Changes will be lost when Daybrook quits: %1 cannot be written.").arg(path);
    QSystemTrayIcon *tray = m_statusMenu ? m_statusMenu->trayIcon() : nullptr;
    if (tray && QSystemTrayIcon::isSystemTrayAvailable())
        tray->showMessage(tr("Daybrook cannot save its settings"), message, QSystemTrayIcon::Warning);
    else
        QTextStream(stderr) << message << Qt::endl;
}

QScreen *AppDelegate::chooseScreen(const QString &selectedScreenName) {
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (screen->name() == selectedScreenName)
            return screen;
    }
    if (QScreen *primary = QGuiApplication::primaryScreen())
        return primary;
    return screens.isEmpty() ? nullptr : screens.first();
}

void AppDelegate::setupFloatingBar() {
    if (m_floatingBar)
        return;
    QScreen *screen = chooseScreen(m_appState->selectedScreenName());
    if (!screen) {
        // No screen at all (a display not yet attached): place the bar as soon as one appears.
        if (!m_waitForScreen)
            m_waitForScreen = connect(qGuiApp, &QGuiApplication::screenAdded, this, [this] {
                QObject::disconnect(m_waitForScreen);
                setupFloatingBar();
            });
        return;
    }
    m_floatingBar = std::make_unique<FloatingBarPanel>(m_appState, screen);
    m_floatingBar->show();
    Q_EMIT floatingBarCreated();
}

void AppDelegate::handleURL(const QString &text) {
    const std::optional<QUrl> url = oauthCallbackUrl(text);
    if (!url || !m_appState)
        return;
    qCDebug(lcApp) << "OAuth callback received";
    TodoistService *todoist = m_appState->dataSource()->todoistService();
    if (!todoist)
        return;
    // Fire and forget: the sign-in reports through the service's own state.
    [](QPointer<TodoistService> service, QUrl callback) -> QCoro::Task<> {
        if (service)
            co_await service->handleOAuthCallback(std::move(callback));
    }(todoist, *url);
}

void AppDelegate::handleScreenSelection(const QString &screenName) {
    QScreen *match = nullptr;
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == screenName) {
            match = screen;
            break;
        }
    }
    if (!match || !m_floatingBar)
        return;
    m_floatingBar->setCurrentScreen(match);
}

void AppDelegate::handleActivation() {
    qCInfo(lcApp) << "activation requested by a second launch";
    openSettings();
}

// The status menu's commands; the menu itself is built in StatusMenu.

void AppDelegate::setupStatusItem() {
    if (!m_statusMenu)
        m_statusMenu = std::make_unique<StatusMenu>(this);
    m_statusMenu->setup();
}

SettingsWindow *AppDelegate::settingsWindow() const {
    return m_settingsWindow;
}

void AppDelegate::toggleFloatingBar() {
    if (!m_floatingBar)
        return;
    if (m_floatingBar->isVisible()) {
        m_floatingBar->hide();
    } else {
        m_floatingBar->show();
        m_floatingBar->raise();
    }
}

void AppDelegate::toggleAlwaysExpanded() {
    if (m_floatingBar)
        m_floatingBar->setAlwaysExpanded(m_appState ? !m_appState->alwaysExpanded() : true);
}

void AppDelegate::toggleLaunchAtLogin() {
    if (m_appState)
        m_appState->setLaunchAtLogin(!m_appState->launchAtLogin());
}

void AppDelegate::selectScreen(int index) {
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (index < 0 || index >= screens.size() || !m_appState)
        return;
    const QString name = screens.at(index)->name();
    m_appState->setSelectedScreenName(name);
    Notifications::instance().postDidSelectScreen(name);
}

void AppDelegate::checkForUpdates() {
    m_updater->checkForUpdates();
}

void AppDelegate::openSettings() {
    openSettingsWindow();
}

void AppDelegate::openAbout() {
    openSettingsWindow();
    Notifications::instance().postDidRequestAboutTab();
}

void AppDelegate::quitApp() {
    QCoreApplication::quit();
}

void AppDelegate::openSettingsWindow() {
    if (!m_settingsWindow) {
        DataSource *data = m_appState ? m_appState->dataSource() : nullptr;
        m_settingsWindow = new SettingsWindow(m_appState, data ? data->calendarService() : nullptr,
                                              data ? data->todoistService() : nullptr);
        connect(m_settingsWindow, &SettingsWindow::windowWillClose, this, &AppDelegate::windowWillClose);
        QScreen *screen = m_floatingBar && m_floatingBar->currentScreen() ? m_floatingBar->currentScreen()
                                                                          : QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame(QPoint(), m_settingsWindow->size());
            frame.moveCenter(screen->availableGeometry().center());
            m_settingsWindow->move(frame.topLeft());
        }
    }
    if (m_appState)
        m_appState->setIsSettingsOpen(true);
    // Held expanded while the window is open: the panel declines to collapse while isSettingsOpen.
    if (m_floatingBar)
        m_floatingBar->expand();
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

void AppDelegate::windowWillClose(SettingsWindow *window) {
    if (window != m_settingsWindow)
        return;
    if (m_appState)
        m_appState->setIsSettingsOpen(false);
    if (m_floatingBar)
        m_floatingBar->collapse();
    // The window deletes itself once closed.
    m_settingsWindow = nullptr;
}

} // namespace daybrook
