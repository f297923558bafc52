#pragma once

#include <QWidget>

namespace daybrook {

class AppState;
class CalendarService;
class SettingsView;
class TodoistService;

// The settings window: above normal windows, fixed in size, moved by its
// background, deleted when closed.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    SettingsWindow(AppState *appState, CalendarService *calendar, TodoistService *todoist);
    ~SettingsWindow() override;

    SettingsView *view() const { return m_view; }

Q_SIGNALS:
    void windowWillClose(SettingsWindow *window);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    SettingsView *m_view;
};

} // namespace daybrook
