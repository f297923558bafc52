#pragma once

#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace daybrook {

class AppState;

// The window that carries the bar under the top panel of one screen.
class FloatingBarPanel : public QWidget {
    Q_OBJECT
public:
    FloatingBarPanel(AppState *appState, QScreen *screen);
    ~FloatingBarPanel() override;

    QScreen *currentScreen() const { return m_currentScreen; }
    // Places the panel on the screen (barFrame) and records the frame in the bar state.
    void setCurrentScreen(QScreen *screen);

    bool isExpanded() const { return m_isExpanded; }
    void expand();
    void collapse();
    // Pins or unpins the bar: stores the setting, then expands or collapses.
    void setAlwaysExpanded(bool pinned);

private:
    QPointer<AppState> m_appState;
    QPointer<QScreen> m_currentScreen;
    bool m_isExpanded = false;
};

} // namespace daybrook
