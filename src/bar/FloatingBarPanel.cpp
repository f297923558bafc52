#include "bar/FloatingBarPanel.h"

#include "app/AppState.h"
#include "bar/BarGeometry.h"

// Placeholder window until the bar's rendering lands.

namespace daybrook {

FloatingBarPanel::FloatingBarPanel(AppState *appState, QScreen *screen)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      m_appState(appState) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setCurrentScreen(screen);
}

FloatingBarPanel::~FloatingBarPanel() = default;

void FloatingBarPanel::setCurrentScreen(QScreen *screen) {
    m_currentScreen = screen;
    if (screen)
        setGeometry(barFrame(screen->geometry(), screen->availableGeometry()));
}

void FloatingBarPanel::expand() {
    if (m_isExpanded)
        return;
    if (m_appState)
        m_appState->refreshIfNeeded();
    m_isExpanded = true;
}

void FloatingBarPanel::collapse() {
    if (m_isExpanded && m_appState && (m_appState->alwaysExpanded() || m_appState->isSettingsOpen()))
        return;
    m_isExpanded = false;
}

void FloatingBarPanel::setAlwaysExpanded(bool pinned) {
    if (m_appState)
        m_appState->setAlwaysExpanded(pinned);
    pinned ? expand() : collapse();
}

} // namespace daybrook
