#pragma once

#include "app/AppState.h"

#include <QObject>
#include <QPointer>
#include <memory>

class QScreen;

namespace daybrook {

class FloatingBarPanel;

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

    // A later process was started without a URL.
    void handleActivation();

    // The screen the bar goes on: the first whose name equals the setting, else
    // the primary screen, else the first one; null when there is none.
    static QScreen *chooseScreen(const QString &selectedScreenName);

Q_SIGNALS:
    // Emitted once the panel exists (it may wait for a screen to appear).
    void floatingBarCreated();

private:
    void setupFloatingBar();

    QPointer<AppState> m_appState;
    std::unique_ptr<FloatingBarPanel> m_floatingBar;
    QMetaObject::Connection m_waitForScreen;
};

} // namespace daybrook
