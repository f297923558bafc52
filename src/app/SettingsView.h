#pragma once

#include "calendar/CalendarService.h"
#include "widgets/SettingsStyle.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>
#include <functional>

class QHBoxLayout;
class QVBoxLayout;

namespace daybrook {

class AppState;
class TodoistService;

enum class SettingsTab { General, Integrations, Todoist, Calendar, About };

QString rawValue(SettingsTab tab);
std::optional<SettingsTab> settingsTabFromRawValue(const QString &text);
QString tabTitle(SettingsTab tab);
style::Symbol tabSymbol(SettingsTab tab);

// What decides which tabs are shown.
struct TabAvailability {
    bool todoistConnected = false; // a Todoist service with an access token
    bool hasCalendarService = false;
    bool calendarEnabled = false;
    CalendarAuthorization calendarStatus = CalendarAuthorization::NotDetermined;
};

QList<SettingsTab> visibleTabs(const TabAvailability &availability);

// One icon-and-title button of the tab row.
class SettingsTabButton : public QAbstractButton {
    Q_OBJECT
public:
    SettingsTabButton(SettingsTab tab, QWidget *parent = nullptr);
    SettingsTab tab() const { return m_tab; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    QSize sizeHint() const override { return {80, 50}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    SettingsTab m_tab;
    bool m_selected = false;
};

class SettingsTabBar : public QWidget {
    Q_OBJECT
public:
    explicit SettingsTabBar(QWidget *parent = nullptr);
    void setTabs(const QList<SettingsTab> &tabs);
    const QList<SettingsTab> &tabs() const { return m_tabs; }
    void setSelectedTab(SettingsTab tab);
    SettingsTabButton *button(SettingsTab tab) const;

Q_SIGNALS:
    void tabClicked(SettingsTab tab);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QList<SettingsTab> m_tabs;
    QList<SettingsTabButton *> m_buttons;
    QHBoxLayout *m_row;
    SettingsTab m_selected = SettingsTab::General;
};

// The content of the settings window: the tab row, a divider and the selected pane.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int viewWidth = 720;
    static constexpr int viewHeight = 444;

    SettingsView(AppState *appState, CalendarService *calendar, TodoistService *todoist,
                 QWidget *parent = nullptr);

    SettingsTab selectedTab() const { return m_selectedTab; }
    void setSelectedTab(SettingsTab tab);
    QList<SettingsTab> visibleTabs() const { return m_tabBar->tabs(); }
    SettingsTabBar *tabBar() const { return m_tabBar; }
    QWidget *currentPane() const { return m_pane; }

    // Replaces what the tab row is decided from (previews); null restores the services.
    void setAvailabilityOverride(std::function<TabAvailability()> availability);

Q_SIGNALS:
    void selectedTabChanged(SettingsTab tab);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    TabAvailability availability() const;
    void updateTabs();
    void showPane();

    QPointer<AppState> m_appState;
    QPointer<CalendarService> m_calendar;
    QPointer<TodoistService> m_todoist;
    std::function<TabAvailability()> m_availabilityOverride;
    SettingsTab m_selectedTab = SettingsTab::General;
    SettingsTabBar *m_tabBar;
    QVBoxLayout *m_layout;
    QWidget *m_pane = nullptr;
};

} // namespace daybrook
