#include "BuildConfig.h"
#include "app/AboutSettingsView.h"
#include "app/AppDelegate.h"
#include "app/GeneralSettingsView.h"
#include "app/IntegrationsSettingsView.h"
#include "app/SettingsView.h"
#include "app/SettingsWindow.h"
#include "bar/FloatingBarPanel.h"
#include "calendar/CalendarSettingsViews.h"
#include "core/Notifications.h"
#include "core/UserDefaults.h"
#include "platform/Autostart.h"
#include "state/AppState.h"
#include "sun/SunIntegrationRow.h"
#include "support/OffscreenScreens.h"
#include "support/TestEnvironment.h"
#include "support/WidgetFinders.h"
#include "todoist/TodoistSettingsViews.h"
#include "widgets/TriStateCheckbox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace daybrook;
using test::child;
using test::click;

namespace {

// A small project list with the same rules as the service: a click acts on the
// project and all below it.
struct FakeProjects {
    QList<TodoistProject> projects;
    QSet<QString> disabled;
    QList<std::pair<QString, bool>> calls;

    QStringList descendants(const QString &id) const {
        QStringList result;
        for (const TodoistProject &project : projects) {
            if (project.parentId == id) {
                result.append(project.id);
                result.append(descendants(project.id));
            }
        }
        return result;
    }
    QList<ProjectNode> nodes(const std::optional<QString> &parent, int depth) const {
        QList<ProjectNode> result;
        for (const TodoistProject &project : projects) {
            if (project.parentId == parent)
                result.append({project, depth, nodes(project.id, depth + 1)});
        }
        return result;
    }
    ToggleState state(const QString &id) const {
        const QStringList members = QStringList{id} + descendants(id);
        qsizetype enabled = 0;
        for (const QString &member : members)
            enabled += disabled.contains(member) ? 0 : 1;
        return enabled == members.size() ? ToggleState::All
               : enabled == 0            ? ToggleState::None
                                         : ToggleState::Some;
    }
    TodoistPaneSource source() {
        TodoistPaneSource s;
        s.hasService = true;
        s.tasksWithDueTime = [] { return 4; };
        s.tasksDueToday = [] { return qsizetype(6); };
        s.projectTree = [this] { return nodes(std::nullopt, 0); };
        s.toggleState = [this](const QString &id) { return state(id); };
        s.setProjectEnabled = [this](const QString &id, bool enabled) {
            calls.append({id, enabled});
            for (const QString &member : QStringList{id} + descendants(id)) {
                if (enabled)
                    disabled.remove(member);
                else
                    disabled.insert(member);
            }
        };
        s.error = [] { return std::optional<QString>(QStringLiteral("Failed to fetch tasks")); };
        s.refresh = [] {};
        s.disconnect = [] {};
        return s;
    }
};

TodoistProject project(const QString &id, const QString &name, std::optional<QString> parent = std::nullopt) {
    return {id, name, QStringLiteral("red"), parent, 0};
}

// A Todoist service that could only ever reach this machine: nothing here may
// talk to the real service.
TodoistConfig localTodoist() {
    TodoistConfig config;
    config.apiBaseUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
    config.authorizeUrl = QUrl(QStringLiteral("http://127.0.0.1:9/oauth/authorize"));
    config.tokenUrl = QUrl(QStringLiteral("http://127.0.0.1:9/oauth/access_token"));
    config.clientId = QStringLiteral("test");
    config.clientSecret = QStringLiteral("test");
    config.timeoutMs = 1000;
    return config;
}

ToggleState projectState(QWidget *pane, const QString &id) {
    QWidget *row = pane->findChild<QWidget *>(QStringLiteral("project:") + id);
    if (!row)
        return ToggleState(-1);
    return row->findChild<TriStateCheckbox *>()->state();
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<AppState> m_state;
    std::unique_ptr<SettingsView> m_view;

    SettingsView &openView() {
        AppStateDependencies dependencies;
        dependencies.dataSource =
            std::make_unique<DataSource>(nullptr, std::make_unique<TodoistService>(localTodoist()));
        m_state = std::make_unique<AppState>(std::move(dependencies));
        DataSource *data = m_state->dataSource();
        m_view =
            std::make_unique<SettingsView>(m_state.get(), data->calendarService(), data->todoistService());
        m_view->show();
        return *m_view;
    }

private Q_SLOTS:
    void init() { test::resetUserDefaults(); }
    void cleanup() {
        m_view.reset();
        m_state.reset();
        QFile::remove(Autostart::entryPath());
    }

    // ---- tabs ----

    void visibleTabsFollowTheRules_data() {
        QTest::addColumn<bool>("todoist");
        QTest::addColumn<bool>("hasCalendar");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        const QString none = QStringLiteral("general,integrations,about");
        QTest::newRow("nothing") << false << true << true << 0 << none;
        QTest::newRow("todoist") << true << true << false << 3 << "general,integrations,todoist,about";
        QTest::newRow("calendar") << false << true << true << 3 << "general,integrations,calendar,about";
        QTest::newRow("both") << true << true << true << 3 << "general,integrations,todoist,calendar,about";
        QTest::newRow("full access, switched off") << false << true << false << 3 << none;
        QTest::newRow("restricted") << false << true << true << 1 << none;
        QTest::newRow("denied") << false << true << true << 2 << none;
        QTest::newRow("write only") << false << true << true << 4 << none;
        QTest::newRow("no calendar service") << false << false << true << 3 << none;
    }
    void visibleTabsFollowTheRules() {
        QFETCH(bool, todoist);
        QFETCH(bool, hasCalendar);
        QFETCH(bool, enabled);
        QFETCH(int, status);
        QFETCH(QString, expected);
        QStringList raw;
        for (SettingsTab tab : visibleTabs({todoist, hasCalendar, enabled, CalendarAuthorization(status)}))
            raw.append(rawValue(tab));
        QCOMPARE(raw.join(QLatin1Char(',')), expected);
        for (const QString &text : raw)
            QCOMPARE(rawValue(*settingsTabFromRawValue(text)), text);
    }

    void tabRowFollowsTheServices() {
        SettingsView &view = openView();
        TodoistService *todoist = m_state->dataSource()->todoistService();
        CalendarService *calendar = m_state->dataSource()->calendarService();
        const QList<SettingsTab> plain{SettingsTab::General, SettingsTab::Integrations, SettingsTab::About};
        QCOMPARE(view.visibleTabs(), plain);
        QCOMPARE(view.selectedTab(), SettingsTab::General);
        QVERIFY(qobject_cast<GeneralSettingsView *>(view.currentPane()));

        todoist->setAccessToken(QStringLiteral("token"));
        QCOMPARE(view.visibleTabs(), (QList<SettingsTab>{SettingsTab::General, SettingsTab::Integrations,
                                                         SettingsTab::Todoist, SettingsTab::About}));
        QCOMPARE(view.selectedTab(), SettingsTab::General);

        click(view.tabBar()->button(SettingsTab::Todoist));
        QCOMPARE(view.selectedTab(), SettingsTab::Todoist);
        QVERIFY(qobject_cast<TodoistSettingsView *>(view.currentPane()));
        QVERIFY(view.tabBar()->button(SettingsTab::Todoist)->isSelected());

        // Disconnecting while on the Todoist tab lands on Integrations.
        todoist->setAccessToken(std::nullopt);
        QCOMPARE(view.visibleTabs(), plain);
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        QVERIFY(qobject_cast<IntegrationsSettingsView *>(view.currentPane()));

        // Switching the calendar on without access adds nothing.
        calendar->setIsEnabled(false);
        calendar->setIsEnabled(true);
        QCOMPARE(view.visibleTabs(), plain);

        // Arrow keys move along the row.
        view.tabBar()->setFocus();
        QTest::keyClick(view.tabBar(), Qt::Key_Left);
        QCOMPARE(view.selectedTab(), SettingsTab::General);
        QTest::keyClick(view.tabBar(), Qt::Key_Left);
        QCOMPARE(view.selectedTab(), SettingsTab::General);
    }

    void losingTheCalendarTabSelectsIntegrations() {
        SettingsView &view = openView();
        TabAvailability availability{false, true, true, CalendarAuthorization::FullAccess};
        view.setAvailabilityOverride([&availability] { return availability; });
        click(view.tabBar()->button(SettingsTab::Calendar));
        QCOMPARE(view.selectedTab(), SettingsTab::Calendar);
        QVERIFY(qobject_cast<CalendarSettingsView *>(view.currentPane()));

        availability.calendarEnabled = false;
        view.setAvailabilityOverride([&availability] { return availability; });
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        QVERIFY(!view.visibleTabs().contains(SettingsTab::Calendar));
    }

    void aboutRequestSelectsAbout() {
        SettingsView &view = openView();
        click(view.tabBar()->button(SettingsTab::Integrations));
        Notifications::instance().postDidRequestAboutTab();
        QCOMPARE(view.selectedTab(), SettingsTab::About);
        QVERIFY(qobject_cast<AboutSettingsView *>(view.currentPane()));
        // Again while on About: the pane is kept.
        QWidget *pane = view.currentPane();
        QSignalSpy changed(&view, &SettingsView::selectedTabChanged);
        Notifications::instance().postDidRequestAboutTab();
        QCOMPARE(view.currentPane(), pane);
        QCOMPARE(changed.size(), 0);
    }

    void windowLooksAndBehavesAsAPanel() {
        AppDelegate delegate;
        delegate.openAbout();
        SettingsWindow *window = delegate.settingsWindow();
        QVERIFY(window);
        QCOMPARE(window->view()->selectedTab(), SettingsTab::About);
        QCOMPARE(window->width(), 720);
        QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(window->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(window->windowTitle().isEmpty());
        QVERIFY(delegate.appState()->isSettingsOpen());
        QPointer<SettingsWindow> guard(window);
        QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!delegate.appState()->isSettingsOpen());
        QTRY_VERIFY(guard.isNull());
    }

    // ---- General ----

    void generalPaneWritesEverySetting() {
        SettingsView &view = openView();
        QWidget *pane = view.currentPane();

        click(child<QCheckBox>(pane, QStringLiteral("launchAtLogin")));
        QVERIFY(QFile::exists(Autostart::entryPath()));
        QVERIFY(m_state->launchAtLogin());

        QVERIFY(child<QCheckBox>(pane, QStringLiteral("preventScreenRecording"))->isChecked());
        click(child<QCheckBox>(pane, QStringLiteral("preventScreenRecording")));
        QVERIFY(!m_state->preventScreenRecording());
        QCOMPARE(UserDefaults::boolValue(QStringLiteral("preventScreenRecording")),
                 std::optional<bool>(false));

        QVERIFY(child<QPushButton>(pane, QStringLiteral("theme:system"))->isChecked());
        click(child<QPushButton>(pane, QStringLiteral("theme:dark")));
        QCOMPARE(m_state->appearanceMode(), AppearanceMode::Dark);
        QVERIFY(m_state->isDarkMode());
        QCOMPARE(UserDefaults::stringValue(QStringLiteral("appearanceMode")), QStringLiteral("dark"));
        QVERIFY(!child<QPushButton>(pane, QStringLiteral("theme:system"))->isChecked());
        m_state->setAppearanceMode(AppearanceMode::Light); // from elsewhere
        QVERIFY(child<QPushButton>(pane, QStringLiteral("theme:light"))->isChecked());

        auto *start = child<QComboBox>(pane, QStringLiteral("startTimePicker"));
        auto *end = child<QComboBox>(pane, QStringLiteral("endTimePicker"));
        QCOMPARE(start->count(), 24);
        QCOMPARE(start->itemText(0), QStringLiteral("00:00"));
        QCOMPARE(start->itemText(23), QStringLiteral("23:00"));
        QCOMPARE(end->count(), 24);
        QCOMPARE(end->itemText(0), QStringLiteral("01:00"));
        QCOMPARE(end->itemText(22), QStringLiteral("23:00"));
        QCOMPARE(end->itemText(23), QStringLiteral("24:00"));
        QCOMPARE(start->currentText(), QStringLiteral("07:00"));
        QCOMPARE(end->currentText(), QStringLiteral("21:00"));

        // Start after end is accepted as it is.
        start->setFocus();
        QTest::keyClick(start, Qt::Key_End);
        QTest::keyClick(start, Qt::Key_Up);
        QCOMPARE(m_state->dayStartHour(), 22);
        end->setFocus();
        QTest::keyClick(end, Qt::Key_Home);
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(end, Qt::Key_Down);
        QCOMPARE(m_state->dayEndHour(), 6);
        QCOMPARE(UserDefaults::intValue(QStringLiteral("dayStartHour")), std::optional<int>(22));
        QCOMPARE(UserDefaults::intValue(QStringLiteral("dayEndHour")), std::optional<int>(6));
        QTest::keyClick(end, Qt::Key_End);
        QCOMPARE(m_state->dayEndHour(), 24);
    }

    void hourLabels() {
        QCOMPARE(hourLabel(0), QStringLiteral("00:00"));
        QCOMPARE(hourLabel(7), QStringLiteral("07:00"));
        QCOMPARE(hourLabel(13), QStringLiteral("13:00"));
        QCOMPARE(hourLabel(24), QStringLiteral("24:00"));
    }

    void screenPickerMovesTheBar() {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        FloatingBarPanel *panel = delegate.floatingBarWindow();
        const QList<QScreen *> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 2);
        delegate.openSettings();
        QWidget *pane = delegate.settingsWindow()->view()->currentPane();
        auto *picker = child<QComboBox>(pane, QStringLiteral("screenPicker"));
        QCOMPARE(picker->count(), 2);
        QCOMPARE(picker->itemText(1), screens.at(1)->name());
        // Nothing chosen yet: the stored name is empty.
        QCOMPARE(picker->currentIndex(), -1);

        QSignalSpy posted(&Notifications::instance(), &Notifications::didSelectScreen);
        picker->setFocus();
        QTest::keyClick(picker, Qt::Key_End);
        QCOMPARE(delegate.appState()->selectedScreenName(), screens.at(1)->name());
        QCOMPARE(posted.size(), 1);
        QCOMPARE(posted.at(0).at(0).toString(), screens.at(1)->name());
        QCOMPARE(panel->currentScreen(), screens.at(1));
        const QRect frame = panel->geometry();

        // The menu's choice of the same screen is posted twice; the second changes nothing.
        delegate.selectScreen(1);
        QCOMPARE(posted.size(), 3);
        QCOMPARE(panel->currentScreen(), screens.at(1));
        QCOMPARE(panel->geometry(), frame);
        QCOMPARE(picker->currentIndex(), 1);

        // A change from elsewhere shows in the picker and moves the bar.
        delegate.appState()->setSelectedScreenName(screens.at(0)->name());
        QCOMPARE(picker->currentIndex(), 0);
        QCOMPARE(panel->currentScreen(), screens.at(0));
        delegate.appState()->setSelectedScreenName(QStringLiteral("gone"));
        QCOMPARE(picker->currentIndex(), -1);
        delegate.settingsWindow()->close();
    }

    // ---- rows of the Integrations tab ----

    void calendarRowTexts_data() {
        QTest::addColumn<bool>("hasService");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("control");
        const int connected = int(CalendarRowControl::Connected), enable = int(CalendarRowControl::Enable),
                  open = int(CalendarRowControl::OpenSettings), connect = int(CalendarRowControl::Connect);
        const QString denied = QStringLiteral("Access denied - enable in System Settings");
        QTest::newRow("no service") << false << 3 << true << "Service unavailable" << connect;
        QTest::newRow("no service, off") << false << 3 << false << "Service unavailable" << connect;
        QTest::newRow("off, full access") << true << 3 << false << "Disabled" << enable;
        QTest::newRow("off, denied") << true << 2 << false << "Disabled" << enable;
        QTest::newRow("not determined") << true << 0 << true << "Not connected" << connect;
        QTest::newRow("restricted") << true << 1 << true
                                    << "Cannot reach the calendar service - install evolution-data-server"
                                    << int(CalendarRowControl::Retry);
        QTest::newRow("denied") << true << 2 << true << denied << open;
        QTest::newRow("full access") << true << 3 << true << "Reading events from your calendar" << connected;
        QTest::newRow("write only") << true << 4 << true << "Write-only access - need full access" << connect;
        QTest::newRow("unknown") << true << 9 << true << "Unknown status" << connect;
    }
    void calendarRowTexts() {
        QFETCH(bool, hasService);
        QFETCH(int, status);
        QFETCH(bool, enabled);
        QFETCH(QString, text);
        QFETCH(int, control);
        const CalendarRowState state{hasService, CalendarAuthorization(status), enabled, 5};
        const CalendarRowPresentation shown = presentCalendarRow(state);
        QCOMPARE(shown.statusText, text);
        QCOMPARE(int(shown.control), control);
        QCOMPARE(shown.showsDetail, control == int(CalendarRowControl::Connected));
        if (shown.showsDetail)
            QCOMPARE(shown.detailText, QStringLiteral("5 events today"));

        // The widget shows exactly that.
        CalendarIntegrationRow row(nullptr);
        row.applyState(state);
        QCOMPARE(row.statusText(), text);
        const char *names[] = {"connectedBadge", "enableButton", "openSettingsButton", "connectButton"};
        for (int i = 0; i < 4; ++i) {
            QWidget *widget = row.findChild<QWidget *>(QLatin1String(names[i]));
            QWidget *shownControl = i == 2 ? widget->parentWidget() : widget;
            QCOMPARE(shownControl->isVisibleTo(&row), i == control);
        }
        QCOMPARE(row.findChild<QWidget *>(QStringLiteral("detailLine"))->isVisibleTo(&row),
                 shown.showsDetail);
    }

    void openSettingsNeedsADesktopSettingsProgram() {
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        QVERIFY(!calendarSettingsCommand());
        {
            CalendarIntegrationRow row(nullptr);
            row.applyState({true, CalendarAuthorization::Denied, true, 0});
            QVERIFY(!row.findChild<QWidget *>(QStringLiteral("openSettingsButton"))->isVisibleTo(&row));
            QVERIFY(row.findChild<QWidget *>(QStringLiteral("recheckButton"))->isVisibleTo(&row));
        }
        QFile program(bin.filePath(QStringLiteral("gnome-control-center")));
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("#!/bin/sh\n");
        program.close();
        program.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        const std::optional<ExternalCommand> command = calendarSettingsCommand();
        qputenv("PATH", path);
        QVERIFY(command);
        QCOMPARE(command->program, program.fileName());
        QCOMPARE(command->arguments, QStringList{QStringLiteral("online-accounts")});
    }

    void calendarRowFollowsTheService() {
        CalendarService service;
        CalendarIntegrationRow row(&service);
        QCOMPARE(row.statusText(), presentCalendarRow(row.currentState()).statusText);
        service.setIsEnabled(false);
        QCOMPARE(row.statusText(), QStringLiteral("Disabled"));
        row.show();
        click(row.findChild<QPushButton *>(QStringLiteral("enableButton")));
        QVERIFY(service.isEnabled());
        // Whatever the permission is now, the row shows it.
        QVERIFY(row.statusText() != QStringLiteral("Disabled"));
        QCOMPARE(row.statusText(), presentCalendarRow(row.currentState()).statusText);
        QVERIFY(!row.findChild<QWidget *>(QStringLiteral("enableButton"))->isVisible());
    }

    void sunRowTexts_data() {
        QTest::addColumn<bool>("hasState");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("sunrise");
        QTest::addColumn<bool>("sunset");
        QTest::addColumn<bool>("loading");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");
        const QString times = QStringLiteral("☀️ 06:05 → 🌙 17:40");
        const QString accurate = QStringLiteral("Using your location for accurate times");
        QTest::newRow("no state") << false << true << 3 << true << true << false << "Service unavailable"
                                  << "";
        QTest::newRow("off") << true << false << 2 << true << true << false
                             << "Show sunrise and sunset times on the bar"
                             << "";
        QTest::newRow("denied") << true << true << 2 << false << false << false << "Location access denied"
                                << "";
        QTest::newRow("denied, times kept")
            << true << true << 2 << true << true << false << "Location access denied" << times;
        QTest::newRow("waiting") << true << true << 0 << false << false << false << "Requesting location..."
                                 << "";
        QTest::newRow("loading") << true << true << 3 << false << false << true << "Requesting location..."
                                 << "Loading...";
        QTest::newRow("both times") << true << true << 3 << true << true << true << accurate << times;
        QTest::newRow("sunrise only") << true << true << 3 << true << false << false << accurate << "";
        QTest::newRow("sunset only") << true << true << 3 << false << true << false
                                     << "Requesting location..."
                                     << "";
    }
    void sunRowTexts() {
        QFETCH(bool, hasState);
        QFETCH(bool, enabled);
        QFETCH(int, status);
        QFETCH(bool, sunrise);
        QFETCH(bool, sunset);
        QFETCH(bool, loading);
        QFETCH(QString, text);
        QFETCH(QString, detail);
        test::setTimeZone("Europe/Berlin");
        SunRowState state;
        state.hasAppState = hasState;
        state.isEnabled = enabled;
        state.isLoading = loading;
        state.authorizationStatus = LocationAuthorization(status);
        if (sunrise)
            state.sunrise = test::localTime(6, 5);
        if (sunset)
            state.sunset = test::localTime(17, 40);
        state.error = QStringLiteral("Location error: timed out");
        const SunRowPresentation shown = presentSunRow(state);
        QCOMPARE(shown.statusText, text);
        QCOMPARE(shown.detailText, detail);
        QCOMPARE(shown.showsDetail, hasState && enabled);
        QCOMPARE(shown.showsEnabledBadge, hasState && enabled);
        // The error shows also while switched off.
        QCOMPARE(shown.errorText.has_value(), hasState);

        SunIntegrationRow row(nullptr);
        row.applyState(state);
        QCOMPARE(row.statusText(), text);
        QCOMPARE(row.detailText(), detail);
        QCOMPARE(row.errorText(), hasState ? QStringLiteral("Location error: timed out") : QString());
        QCOMPARE(row.findChild<QWidget *>(QStringLiteral("enableButton"))->isVisibleTo(&row),
                 !(hasState && enabled));
    }

    void sunRowFollowsTheService() {
        AppState state;
        SunIntegrationRow row(state.sunService());
        row.show();
        QCOMPARE(row.statusText(), QStringLiteral("Show sunrise and sunset times on the bar"));
        click(row.findChild<QPushButton *>(QStringLiteral("enableButton")));
        QVERIFY(state.sunService()->isEnabled());
        QVERIFY(row.findChild<QWidget *>(QStringLiteral("enabledBadge"))->isVisible());
        click(row.findChild<QPushButton *>(QStringLiteral("disableButton")));
        QVERIFY(!state.sunService()->isEnabled());
        QCOMPARE(row.statusText(), QStringLiteral("Show sunrise and sunset times on the bar"));
        QVERIFY(!row.findChild<QWidget *>(QStringLiteral("detailLine"))->isVisible());
    }

    void todoistRowTexts() {
        struct Case {
            TodoistRowState state;
            QString text;
            bool connected;
        };
        const QList<Case> cases = {
            {{false, true, 3, 5, QStringLiteral("x")}, QStringLiteral("Service unavailable"), false},
            {{true, false, 0, 0, std::nullopt}, QStringLiteral("Not connected"), false},
            {{true, true, 3, 5, QStringLiteral("Failed to fetch tasks")},
             QStringLiteral("Showing tasks with due times"),
             true},
        };
        for (const Case &c : cases) {
            const TodoistRowPresentation shown = presentTodoistRow(c.state);
            QCOMPARE(shown.statusText, c.text);
            QCOMPARE(shown.showsConnectedBadge, c.connected);
            QCOMPARE(shown.showsDetail, c.connected);
            QCOMPARE(shown.errorText, c.state.hasService ? c.state.error : std::nullopt);
        }
        TodoistRowState connected{true, true, 3, 5, std::nullopt};
        QCOMPARE(presentTodoistRow(connected).detailText,
                 QStringLiteral("3 tasks with due times · 5 due today"));
    }

    void todoistRowFollowsTheService() {
        TodoistService service(localTodoist());
        TodoistIntegrationRow row(&service);
        row.show();
        QCOMPARE(row.statusText(), QStringLiteral("Not connected"));
        QVERIFY(row.findChild<QWidget *>(QStringLiteral("connectButton"))->isVisible());
        service.setAccessToken(QStringLiteral("token"));
        QCOMPARE(row.statusText(), QStringLiteral("Showing tasks with due times"));
        QVERIFY(row.findChild<QWidget *>(QStringLiteral("connectedBadge"))->isVisible());
        QCOMPARE(row.detailText(), QStringLiteral("0 tasks with due times · 0 due today"));
        QVERIFY(row.errorText().isEmpty());

        TodoistIntegrationRow missing(nullptr);
        QCOMPARE(missing.statusText(), QStringLiteral("Service unavailable"));
    }

    // ---- tri-state checkbox, project tree, calendar groups ----

    void checkboxReportsTheWantedValue() {
        TriStateCheckbox box;
        box.resize(20, 20);
        box.show();
        QSignalSpy activated(&box, &TriStateCheckbox::activated);
        for (auto [state, expected] : {std::pair{ToggleState::All, false}, std::pair{ToggleState::Some, true},
                                       std::pair{ToggleState::None, true}}) {
            box.setState(state);
            click(&box);
            QCOMPARE(activated.takeLast().at(0).toBool(), expected);
            // It keeps no state of its own.
            QCOMPARE(box.state(), state);
        }
        box.setState(ToggleState::All);
        box.setFocus();
        QTest::keyClick(&box, Qt::Key_Space);
        QCOMPARE(activated.takeLast().at(0).toBool(), false);
    }

    void projectTreeActsOnSubtrees() {
        FakeProjects fake;
        fake.projects = {project(QStringLiteral("a"), QStringLiteral("Work")),
                         project(QStringLiteral("a1"), QStringLiteral("Clients"), QStringLiteral("a")),
                         project(QStringLiteral("a1x"), QStringLiteral("Acme"), QStringLiteral("a1")),
                         project(QStringLiteral("a2"), QStringLiteral("Admin"), QStringLiteral("a")),
                         project(QStringLiteral("b"), QStringLiteral("Home"))};
        TodoistSettingsView pane(nullptr);
        pane.setSource(fake.source());
        pane.show();

        QCOMPARE(child<QLabel>(&pane, QStringLiteral("tasksWithDueTimes"))->text(), QStringLiteral("4"));
        QCOMPARE(child<QLabel>(&pane, QStringLiteral("tasksDueToday"))->text(), QStringLiteral("6"));
        QCOMPARE(child<QLabel>(&pane, QStringLiteral("errorText"))->text(),
                 QStringLiteral("Failed to fetch tasks"));
        QVERIFY(child<QWidget>(&pane, QStringLiteral("projectsSection"))->isVisible());

        // Collapsed: only the top level, with the count of everything below.
        QVERIFY(pane.findChild<QWidget *>(QStringLiteral("project:a")));
        QVERIFY(!pane.findChild<QWidget *>(QStringLiteral("project:a1")));
        QWidget *rowA = pane.findChild<QWidget *>(QStringLiteral("project:a"));
        QCOMPARE(rowA->findChild<QLabel *>(QStringLiteral("descendantCount"))->text(), QStringLiteral("· 3"));
        QVERIFY(!pane.findChild<QWidget *>(QStringLiteral("project:b"))
                     ->findChild<QLabel *>(QStringLiteral("descendantCount")));

        click(rowA->findChild<QAbstractButton *>(QStringLiteral("chevron")));
        QVERIFY(pane.findChild<QWidget *>(QStringLiteral("project:a1")));
        QVERIFY(!pane.findChild<QWidget *>(QStringLiteral("project:a1x")));

        // Parent showing all -> off with everything below.
        click(pane.findChild<QWidget *>(QStringLiteral("project:a"))->findChild<TriStateCheckbox *>());
        QCOMPARE(fake.calls.last(), std::pair(QStringLiteral("a"), false));
        QCOMPARE(projectState(&pane, QStringLiteral("a")), ToggleState::None);
        QCOMPARE(projectState(&pane, QStringLiteral("a1")), ToggleState::None);
        QCOMPARE(projectState(&pane, QStringLiteral("a2")), ToggleState::None);
        QCOMPARE(projectState(&pane, QStringLiteral("b")), ToggleState::All);

        // One child on -> parent mixed.
        click(pane.findChild<QWidget *>(QStringLiteral("project:a1"))->findChild<TriStateCheckbox *>());
        QCOMPARE(fake.calls.last(), std::pair(QStringLiteral("a1"), true));
        QCOMPARE(projectState(&pane, QStringLiteral("a1")), ToggleState::All);
        QCOMPARE(projectState(&pane, QStringLiteral("a")), ToggleState::Some);
        QVERIFY(!fake.disabled.contains(QStringLiteral("a1x")));

        // Mixed parent -> the whole subtree on.
        click(pane.findChild<QWidget *>(QStringLiteral("project:a"))->findChild<TriStateCheckbox *>());
        QCOMPARE(fake.calls.last(), std::pair(QStringLiteral("a"), true));
        QCOMPARE(projectState(&pane, QStringLiteral("a")), ToggleState::All);
        QVERIFY(fake.disabled.isEmpty());

        // Expansion below a collapsed node is remembered.
        click(pane.findChild<QWidget *>(QStringLiteral("project:a1"))
                  ->findChild<QAbstractButton *>(QStringLiteral("chevron")));
        QVERIFY(pane.findChild<QWidget *>(QStringLiteral("project:a1x")));
        click(pane.findChild<QWidget *>(QStringLiteral("project:a"))
                  ->findChild<QAbstractButton *>(QStringLiteral("chevron")));
        QVERIFY(!pane.findChild<QWidget *>(QStringLiteral("project:a1")));
        click(pane.findChild<QWidget *>(QStringLiteral("project:a"))
                  ->findChild<QAbstractButton *>(QStringLiteral("chevron")));
        QVERIFY(pane.findChild<QWidget *>(QStringLiteral("project:a1x")));
        QCOMPARE(pane.expandedProjects(), (QSet<QString>{QStringLiteral("a"), QStringLiteral("a1")}));
        QCOMPARE(pane.findChild<QWidget *>(QStringLiteral("project:a1x"))->layout()->contentsMargins().left(),
                 32);
    }

    void visibleProjectRowsWalkDepthFirst() {
        const TodoistProject a = project(QStringLiteral("a"), QStringLiteral("A"));
        const TodoistProject a1 = project(QStringLiteral("a1"), QStringLiteral("A1"), QStringLiteral("a"));
        const TodoistProject a11 =
            project(QStringLiteral("a11"), QStringLiteral("A11"), QStringLiteral("a1"));
        const TodoistProject b = project(QStringLiteral("b"), QStringLiteral("B"));
        const QList<ProjectNode> tree = {{a, 0, {{a1, 1, {{a11, 2, {}}}}}}, {b, 0, {}}};
        const auto ids = [](const QList<ProjectRowModel> &rows) {
            QStringList result;
            for (const ProjectRowModel &row : rows)
                result.append(row.project.id);
            return result.join(QLatin1Char(','));
        };
        QCOMPARE(ids(visibleProjectRows(tree, {})), QStringLiteral("a,b"));
        QCOMPARE(ids(visibleProjectRows(tree, {QStringLiteral("a")})), QStringLiteral("a,a1,b"));
        QCOMPARE(ids(visibleProjectRows(tree, {QStringLiteral("a1")})), QStringLiteral("a,b"));
        QCOMPARE(ids(visibleProjectRows(tree, {QStringLiteral("a"), QStringLiteral("a1")})),
                 QStringLiteral("a,a1,a11,b"));
        QCOMPARE(descendantCount(tree.at(0)), 2);
        QCOMPARE(descendantCount(tree.at(1)), 0);
    }

    void todoistPaneWithoutProjectsOrService() {
        TodoistService service(localTodoist());
        TodoistSettingsView pane(&service);
        pane.show();
        QVERIFY(!child<QWidget>(&pane, QStringLiteral("projectsSection"))->isVisible());
        QVERIFY(!child<QWidget>(&pane, QStringLiteral("errorSection"))->isVisible());
        TodoistSettingsView missing(nullptr);
        QCOMPARE(child<QLabel>(&missing, QStringLiteral("tasksDueToday"))->text(), QStringLiteral("0"));
    }

    void calendarGroupsAreOrderedAndTriState() {
        const auto calendar = [](const QString &id, const QString &title,
                                 std::optional<CalendarSource> source) {
            return Calendar{id, title, std::nullopt, source};
        };
        const CalendarSource work{QStringLiteral("src-work"), QStringLiteral("Work")};
        const CalendarSource home{QStringLiteral("src-home"), QStringLiteral("home")};
        QList<CalendarGroup> groups = {
            {std::nullopt, {calendar(QStringLiteral("x"), QStringLiteral("Loose"), std::nullopt)}},
            {work,
             {calendar(QStringLiteral("w1"), QStringLiteral("Meetings"), work),
              calendar(QStringLiteral("w2"), QStringLiteral("Travel"), work)}},
            {home, {calendar(QStringLiteral("h1"), QStringLiteral("Family"), home)}},
        };
        QSet<QString> disabled{QStringLiteral("w1")};
        QList<std::pair<QStringList, bool>> groupCalls;

        CalendarPaneSource source;
        source.hasService = true;
        source.eventCount = [] { return qsizetype(3); };
        source.groups = [&groups] { return groups; };
        source.disabledIds = [&disabled] { return disabled; };
        source.setCalendar = [&disabled](const QString &id, bool enabled) {
            if (enabled)
                disabled.remove(id);
            else
                disabled.insert(id);
        };
        source.setCalendars = [&](const QList<Calendar> &calendars, bool enabled) {
            QStringList ids;
            for (const Calendar &c : calendars) {
                ids.append(c.identifier);
                if (enabled)
                    disabled.remove(c.identifier);
                else
                    disabled.insert(c.identifier);
            }
            groupCalls.append({ids, enabled});
        };
        source.refresh = [] {};
        source.disconnect = [] {};

        CalendarSettingsView pane(nullptr);
        QVERIFY(!child<QWidget>(&pane, QStringLiteral("calendarsSection"))->isVisibleTo(&pane));
        pane.setSource(source);
        pane.show();
        QCOMPARE(child<QLabel>(&pane, QStringLiteral("eventCount"))->text(), QStringLiteral("3"));

        QStringList order;
        for (QLabel *title : pane.findChildren<QLabel *>(QStringLiteral("groupTitle")))
            order.append(title->text());
        QCOMPARE(order,
                 (QStringList{QStringLiteral("home"), QStringLiteral("Work"), QStringLiteral("Other")}));
        QWidget *workHeader = pane.findChild<QWidget *>(QStringLiteral("group:src-work"));
        QVERIFY(pane.findChild<QWidget *>(QStringLiteral("group:other")));
        QCOMPARE(workHeader->findChild<QLabel *>(QStringLiteral("groupCount"))->text(),
                 QStringLiteral("· 2"));
        QCOMPARE(workHeader->findChild<TriStateCheckbox *>()->state(), ToggleState::Some);

        click(workHeader->findChild<TriStateCheckbox *>());
        QCOMPARE(groupCalls.size(), 1);
        QCOMPARE(groupCalls.last(), std::pair(QStringList{QStringLiteral("w1"), QStringLiteral("w2")}, true));
        workHeader = pane.findChild<QWidget *>(QStringLiteral("group:src-work"));
        QCOMPARE(workHeader->findChild<TriStateCheckbox *>()->state(), ToggleState::All);
        click(workHeader->findChild<TriStateCheckbox *>());
        workHeader = pane.findChild<QWidget *>(QStringLiteral("group:src-work"));
        QCOMPARE(workHeader->findChild<TriStateCheckbox *>()->state(), ToggleState::None);

        // Open the group and switch one calendar back on.
        QVERIFY(!pane.findChild<QWidget *>(QStringLiteral("calendar:w2")));
        click(workHeader->findChild<QAbstractButton *>(QStringLiteral("chevron")));
        QWidget *travel = pane.findChild<QWidget *>(QStringLiteral("calendar:w2"));
        QVERIFY(travel);
        QCOMPARE(travel->findChild<TriStateCheckbox *>()->state(), ToggleState::None);
        click(travel->findChild<TriStateCheckbox *>());
        QVERIFY(!disabled.contains(QStringLiteral("w2")));
        workHeader = pane.findChild<QWidget *>(QStringLiteral("group:src-work"));
        QCOMPARE(workHeader->findChild<TriStateCheckbox *>()->state(), ToggleState::Some);
        QCOMPARE(pane.expandedSources(), QSet<QString>{QStringLiteral("src-work")});

        QCOMPARE(calendarGroupState({std::nullopt, {}}, {}), ToggleState::All);
    }

    // ---- glyphs ----

    void everyGlyphIsBuiltInAndTinted() {
        using style::Symbol;
        const auto coverage = [](const QImage &image, QColor *seen) {
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (pixel.alpha() > 200) {
                        ++opaque;
                        *seen = pixel;
                    }
                }
            return opaque;
        };
        for (Symbol symbol :
             {Symbol::Gear, Symbol::Link, Symbol::CheckCircle, Symbol::CheckCircleFilled, Symbol::Calendar,
              Symbol::InfoCircle, Symbol::Sunrise, Symbol::ArrowClockwise, Symbol::ChevronRight,
              Symbol::SquareChecked, Symbol::SquareMixed, Symbol::SquareEmpty}) {
            const QImage image = style::symbolPixmap(symbol, QColor(200, 30, 40), 24, 2.0).toImage();
            QCOMPARE(image.size(), QSize(48, 48));
            QColor seen;
            QVERIFY2(coverage(image, &seen) > 20, qPrintable(style::symbolResource(symbol)));
            // Within rounding of the premultiplied form.
            QVERIFY(qAbs(seen.red() - 200) <= 2 && qAbs(seen.green() - 30) <= 2 &&
                    qAbs(seen.blue() - 40) <= 2);
        }
        // The check mark inside a filled box is cut out, not painted.
        const QImage checked = style::symbolPixmap(Symbol::SquareChecked, Qt::black, 24).toImage();
        QVERIFY(checked.pixelColor(10, 15).alpha() < 80);
        QVERIFY(checked.pixelColor(5, 5).alpha() > 200);

        const QImage tray = style::trayIcon().pixmap(22, 22).toImage();
        QColor seen;
        QVERIFY(!tray.isNull());
        QVERIFY(coverage(tray, &seen) > 50);
    }

    // ---- About ----

    void aboutShowsVersionAndOpensLinks() {
        QCOMPARE(aboutVersionLine(QStringLiteral("1.2"), QStringLiteral("45")),
                 QStringLiteral("Version 1.2 (45)"));
        QCOMPARE(aboutVersionLine(QStringLiteral("1.2"), QString()), QStringLiteral("Version 1.2 (?)"));
        QCOMPARE(aboutVersionLine(QString(), QString()), QStringLiteral("Version ? (?)"));

        AboutSettingsView about;
        about.show();
        QCOMPARE(child<QLabel>(&about, QStringLiteral("appName"))->text(), QStringLiteral("Daybrook"));
        QCOMPARE(child<QLabel>(&about, QStringLiteral("versionLine"))->text(),
                 QStringLiteral("Version %1 (%2)")
                     .arg(QString::fromUtf8(build::version), QString::fromUtf8(build::buildNumber)));
        QVERIFY(!child<QLabel>(&about, QStringLiteral("appIcon"))->pixmap().isNull());

        const QUrl website(QString::fromUtf8(build::websiteUrl));
        const QUrl contact(QString::fromUtf8(build::contactUrl));
        QDesktopServices::setUrlHandler(website.scheme(), this, "recordUrl");
        QDesktopServices::setUrlHandler(contact.scheme(), this, "recordUrl");
        click(child<QPushButton>(&about, QStringLiteral("websiteButton")));
        click(child<QPushButton>(&about, QStringLiteral("contactButton")));
        QDesktopServices::unsetUrlHandler(website.scheme());
        QDesktopServices::unsetUrlHandler(contact.scheme());
        QCOMPARE(m_opened, (QList<QUrl>{website, contact}));
        QVERIFY(!openExternalAddress(QStringLiteral("not an address")));
        QVERIFY(!openExternalAddress(QString()));
    }

public Q_SLOTS:
    void recordUrl(const QUrl &url) { m_opened.append(url); }

private:
    QList<QUrl> m_opened;
};

int main(int argc, char *argv[]) {
    const QByteArray screens = R"(
        {"name": "eDP-1", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "DP-3", "x": 1920, "y": 0, "width": 2560, "height": 1440, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1})";
    return test::runOnScreens(argc, argv, screens, [&] {
        QApplication::setQuitOnLastWindowClosed(false);
        SettingsWindowTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_settings_window.moc"
