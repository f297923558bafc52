#include "settings/IntegrationsSettingsView.h"

#include "data/CalendarSettingsViews.h"
#include "data/SunIntegrationRow.h"
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
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll);
    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    scroll->setWidget(content);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(12);

    auto *sun = new FormSection;
    sun->addRow(new SunIntegrationRow(appState));
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
