#include "app/AppDelegate.h"

#include "app/AppState.h"
#include "app/Logging.h"
#include "app/Notifications.h"
#include "app/UrlRouting.h"
#include "bar/FloatingBarPanel.h"

#include <QGuiApplication>
#include <QScreen>

namespace daybrook {

AppDelegate::AppDelegate(AppState *appState, QObject *parent)
    : QObject(parent), m_appState(appState ? appState : new AppState(this)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    setupFloatingBar();
    connect(&Notifications::instance(), &Notifications::didSelectScreen, this,
            &AppDelegate::handleScreenSelection);
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
}

} // namespace daybrook
