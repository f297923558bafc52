#include "BuildConfig.h"
#include "app/AboutSettingsView.h"
#include "app/AppDelegate.h"
#include "app/GeneralSettingsView.h"
#include "app/SettingsView.h"
#include "app/SettingsWindow.h"
#include "bar/FloatingBarPanel.h"
#include "calendar/CalendarSettingsViews.h"
#include "core/Notifications.h"
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
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace daybrook;
using test::child;
using test::click;

namespace {

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

    void tabRowFollowsAvailabilityKeysAndRequests() {
        SettingsView &view = openView();
        const QList<SettingsTab> plain{SettingsTab::General, SettingsTab::Integrations, SettingsTab::About};
        QVERIFY(qobject_cast<GeneralSettingsView *>(view.currentPane()));
        // Switching the calendar on without access adds nothing.
        CalendarService *calendar = m_state->dataSource()->calendarService();
        calendar->setIsEnabled(false);
        calendar->setIsEnabled(true);
        QCOMPARE(view.visibleTabs(), plain);
        // Arrow keys move along the row and stop at its ends.
        view.tabBar()->setFocus();
        QTest::keyClick(view.tabBar(), Qt::Key_Right);
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        QTest::keyClick(view.tabBar(), Qt::Key_Left);
        QTest::keyClick(view.tabBar(), Qt::Key_Left);
        QCOMPARE(view.selectedTab(), SettingsTab::General);

        // Losing the tab that is shown lands on Integrations.
        TabAvailability availability{false, true, true, CalendarAuthorization::FullAccess};
        view.setAvailabilityOverride([&availability] { return availability; });
        click(view.tabBar()->button(SettingsTab::Calendar));
        QVERIFY(qobject_cast<CalendarSettingsView *>(view.currentPane()));
        availability.calendarEnabled = false;
        view.setAvailabilityOverride([&availability] { return availability; });
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        QCOMPARE(view.visibleTabs(), plain);

        // The menu's About request selects About; again while there keeps the pane.
        Notifications::instance().postDidRequestAboutTab();
        QVERIFY(qobject_cast<AboutSettingsView *>(view.currentPane()));
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

        QVERIFY(child<QPushButton>(pane, QStringLiteral("theme:system"))->isChecked());
        click(child<QPushButton>(pane, QStringLiteral("theme:dark")));
        QCOMPARE(m_state->appearanceMode(), AppearanceMode::Dark);
        QVERIFY(m_state->isDarkMode());
        QVERIFY(!child<QPushButton>(pane, QStringLiteral("theme:system"))->isChecked());
        m_state->setAppearanceMode(AppearanceMode::Light); // from elsewhere
        QVERIFY(child<QPushButton>(pane, QStringLiteral("theme:light"))->isChecked());

        auto *start = child<QComboBox>(pane, QStringLiteral("startTimePicker"));
        auto *end = child<QComboBox>(pane, QStringLiteral("endTimePicker"));
        QCOMPARE(start->itemText(0) + end->itemText(0) + end->itemText(23),
                 QStringLiteral("00:0001:0024:00"));
        QCOMPARE(start->currentText() + end->currentText(), QStringLiteral("07:0021:00"));

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
        QTest::keyClick(end, Qt::Key_End);
        QCOMPARE(m_state->dayEndHour(), 24);
    }

    void screenPickerMovesTheBar() {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        const QList<QScreen *> screens = QGuiApplication::screens();
        delegate.openSettings();
        auto *picker = child<QComboBox>(delegate.settingsWindow()->view()->currentPane(),
                                        QStringLiteral("screenPicker"));
        QCOMPARE(picker->itemText(1), screens.at(1)->name());
        QCOMPARE(picker->currentIndex(), -1); // nothing chosen yet

        QSignalSpy posted(&Notifications::instance(), &Notifications::didSelectScreen);
        picker->setFocus();
        QTest::keyClick(picker, Qt::Key_End);
        QCOMPARE(delegate.appState()->selectedScreenName(), screens.at(1)->name());
        QCOMPARE(posted.size(), 1);
        QCOMPARE(delegate.floatingBarWindow()->currentScreen(), screens.at(1));

        // A change from elsewhere shows in the picker and moves the bar.
        delegate.appState()->setSelectedScreenName(screens.at(0)->name());
        QCOMPARE(picker->currentIndex(), 0);
        QCOMPARE(delegate.floatingBarWindow()->currentScreen(), screens.at(0));
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
        QTest::addColumn<int>("control"); // connected, enable, open settings, connect, retry
        const char *denied = "Access denied - enable in System Settings";
        for (const auto &[name, service, status, enabled, text, control] : {
                 std::tuple{"no service", false, 3, true, "Service unavailable", 3},
                 {"no service, off", false, 3, false, "Service unavailable", 3},
                 {"off, full access", true, 3, false, "Disabled", 1},
                 {"off, denied", true, 2, false, "Disabled", 1},
                 {"not determined", true, 0, true, "Not connected", 3},
                 {"restricted", true, 1, true,
                  "Cannot reach the calendar service - install evolution-data-server", 4},
                 {"denied", true, 2, true, denied, 2},
                 {"full access", true, 3, true, "Reading events from your calendar", 0},
                 {"write only", true, 4, true, "Write-only access - need full access", 3},
                 {"unknown", true, 9, true, "Unknown status", 3},
             })
            QTest::newRow(name) << service << status << enabled << QString::fromUtf8(text) << control;
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

    void sunRowTexts_data() {
        QTest::addColumn<bool>("hasState");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("sunrise");
        QTest::addColumn<bool>("sunset");
        QTest::addColumn<bool>("loading");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");
        const char *times = "☀️ 06:05 → 🌙 17:40";
        const char *accurate = "Using your location for accurate times";
        const char *requesting = "Requesting location...";
        for (const auto &[name, state, enabled, status, rise, set, loading, text, detail] : {
                 std::tuple{"no state", false, true, 3, true, true, false, "Service unavailable", ""},
                 {"off", true, false, 2, true, true, false, "Show sunrise and sunset times on the bar", ""},
                 {"denied", true, true, 2, false, false, false, "Location access denied", ""},
                 {"denied, times kept", true, true, 2, true, true, false, "Location access denied", times},
                 {"waiting", true, true, 0, false, false, false, requesting, ""},
                 {"loading", true, true, 3, false, false, true, requesting, "Loading..."},
                 {"both times", true, true, 3, true, true, true, accurate, times},
                 {"sunrise only", true, true, 3, true, false, false, accurate, ""},
                 {"sunset only", true, true, 3, false, true, false, requesting, ""},
             })
            QTest::newRow(name) << state << enabled << status << rise << set << loading
                                << QString::fromUtf8(text) << QString::fromUtf8(detail);
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
    }

    void todoistRowTexts() {
        const std::optional<QString> failed = QStringLiteral("Failed to fetch tasks");
        for (const auto &[state, text, connected] : {
                 std::tuple{TodoistRowState{false, true, 3, 5, failed}, "Service unavailable", false},
                 {TodoistRowState{true, false, 0, 0, std::nullopt}, "Not connected", false},
                 {TodoistRowState{true, true, 3, 5, failed}, "Showing tasks with due times", true},
             }) {
            const TodoistRowPresentation shown = presentTodoistRow(state);
            QCOMPARE(shown.statusText, QString::fromLatin1(text));
            QCOMPARE(shown.showsConnectedBadge, connected);
            QCOMPARE(shown.showsDetail, connected);
            QCOMPARE(shown.errorText, state.hasService ? state.error : std::nullopt);
        }
        QCOMPARE(presentTodoistRow({true, true, 3, 5, std::nullopt}).detailText,
                 QStringLiteral("3 tasks with due times · 5 due today"));
    }

    // ---- tri-state checkbox ----

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

    // ---- About ----

    void aboutShowsVersionAndOpensLinks() {
        QCOMPARE(aboutVersionLine(QStringLiteral("1.2"), QStringLiteral("45")),
                 QStringLiteral("Version 1.2 (45)"));
        QCOMPARE(aboutVersionLine(QStringLiteral("1.2"), QString()), QStringLiteral("Version 1.2 (?)"));
        QCOMPARE(aboutVersionLine(QString(), QString()), QStringLiteral("Version ? (?)"));

        AboutSettingsView about;
        about.show();
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
