#include "app/IntegrationsSettingsView.h"

#include "calendar/CalendarSettingsViews.h"
#include "state/AppState.h"
#include "sun/SunIntegrationRow.h"
#include "todoist/TodoistSettingsViews.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace daybrook {

IntegrationsSettingsView::IntegrationsSettingsView(AppState *appState, TodoistService *todoist,
                                                   CalendarService *calendar, QWidget *parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("integrationsSettingsView"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    QVBoxLayout *layout = addScrollingForm(outer, 12);

    auto *sun = new FormSection;
    sun->addRow(new SunIntegrationRow(appState ? appState->sunService() : nullptr));
    layout->addWidget(sun);
    auto *todoistSection = new FormSection;
    todoistSection->addRow(new TodoistIntegrationRow(todoist));
    layout->addWidget(todoistSection);
    auto *calendarSection = new FormSection;
    calendarSection->addRow(new CalendarIntegrationRow(calendar));
    layout->addWidget(calendarSection);
    layout->addStretch(1);
}

} // namespace daybrook
