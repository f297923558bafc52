#pragma once

#include <QWidget>

namespace daybrook {

class AppState;
class CalendarService;
class TodoistService;

// The Integrations tab: sunrise/sunset, Todoist and the calendar, one row each.
class IntegrationsSettingsView : public QWidget {
    Q_OBJECT
public:
    IntegrationsSettingsView(AppState *appState, TodoistService *todoist, CalendarService *calendar,
                             QWidget *parent = nullptr);
};

} // namespace daybrook
