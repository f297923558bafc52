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
#include "sun/SunIntegrationRow.h"
#include "support/OffscreenScreens.h"
#include "support/TestEnvironment.h"
#include "support/WidgetFinders.h"
#include "todoist/TodoistSettingsViews.h"
#include "widgets/TriStateCheckbox.h"

#include <QtTest>
#include <QtWidgets>

using namespace daybrook;
using test::click;

template <typename T> T *child(QObject *root, const char *name) {
    return root->findChild<T *>(QLatin1String(name));
}

void press(QWidget *widget, std::initializer_list<Qt::Key> keys) {
    widget->setFocus();
    for (Qt::Key key : keys)
        QTest::keyClick(widget, key);
}

Q_DECLARE_METATYPE(daybrook::TabAvailability)
Q_DECLARE_METATYPE(daybrook::CalendarRowState)
Q_DECLARE_METATYPE(daybrook::SunRowState)

class SettingsWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { test::resetUserDefaults(); }
    void cleanup() { QFile::remove(Autostart::entryPath()); }

    // ---- tabs ----

    void visibleTabsFollowTheRules_data() {
        QTest::addColumn<TabAvailability>("availability"); // Todoist, calendar service, enabled, status
        QTest::addColumn<QString>("expected");
        const QString head = QStringLiteral("general,integrations,"), none = head + "about";
        using A = CalendarAuthorization;
        using T = TabAvailability;
        QTest::newRow("nothing") << T{false, true, true, A::NotDetermined} << none;
        QTest::newRow("todoist") << T{true, true, false, A::FullAccess} << head + "todoist,about";
        QTest::newRow("calendar") << T{false, true, true, A::FullAccess} << head + "calendar,about";
        QTest::newRow("both") << T{true, true, true, A::FullAccess} << head + "todoist,calendar,about";
        QTest::newRow("full access, switched off") << T{false, true, false, A::FullAccess} << none;
        QTest::newRow("restricted") << T{false, true, true, A::Restricted} << none;
        QTest::newRow("denied") << T{false, true, true, A::Denied} << none;
        QTest::newRow("write only") << T{false, true, true, A(4)} << none;
        QTest::newRow("no calendar service") << T{false, false, true, A::FullAccess} << none;
    }
    void visibleTabsFollowTheRules() {
        QFETCH(TabAvailability, availability);
        QStringList raw;
        for (SettingsTab tab : visibleTabs(availability))
            raw.append(rawValue(tab));
        QTEST(raw.join(QLatin1Char(',')), "expected");
        for (const QString &text : raw)
            QCOMPARE(rawValue(*settingsTabFromRawValue(text)), text);
    }

    void tabRowAndGeneralPaneFollowTheUser() {
        TodoistConfig todoist; // a service that could only ever reach this machine
        todoist.apiBaseUrl = todoist.authorizeUrl = todoist.tokenUrl = QUrl("http://127.0.0.1:9");
        AppStateDependencies dependencies;
        dependencies.dataSource =
            std::make_unique<DataSource>(nullptr, std::make_unique<TodoistService>(todoist));
        AppState state(std::move(dependencies));
        SettingsView view(&state, state.dataSource()->calendarService(),
                          state.dataSource()->todoistService());
        view.show();
        const QList<SettingsTab> plain{SettingsTab::General, SettingsTab::Integrations, SettingsTab::About};
        QWidget *pane = view.currentPane();
        QVERIFY(qobject_cast<GeneralSettingsView *>(pane));
        click(child<QCheckBox>(pane, "launchAtLogin"));
        QVERIFY(QFile::exists(Autostart::entryPath()) && state.launchAtLogin());
        click(child<QCheckBox>(pane, "preventScreenRecording")); // on by default
        QVERIFY(!state.preventScreenRecording());

        QVERIFY(child<QPushButton>(pane, "theme:system")->isChecked());
        click(child<QPushButton>(pane, "theme:dark"));
        QVERIFY(state.appearanceMode() == AppearanceMode::Dark && state.isDarkMode());
        state.setAppearanceMode(AppearanceMode::Light); // from elsewhere
        QVERIFY(child<QPushButton>(pane, "theme:light")->isChecked());

        auto *start = child<QComboBox>(pane, "startTimePicker");
        auto *end = child<QComboBox>(pane, "endTimePicker");
        QCOMPARE(start->itemText(0) + end->itemText(0) + end->itemText(23), "00:0001:0024:00");
        QCOMPARE(start->currentText() + end->currentText(), "07:0021:00");
        // Start after end is accepted as it is.
        press(start, {Qt::Key_End, Qt::Key_Up});
        press(end, {Qt::Key_Home, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down});
        QVERIFY(state.dayStartHour() == 22 && state.dayEndHour() == 6);
        press(end, {Qt::Key_End});
        QCOMPARE(state.dayEndHour(), 24);

        // Switching the calendar on without access adds nothing.
        state.dataSource()->calendarService()->setIsEnabled(false);
        state.dataSource()->calendarService()->setIsEnabled(true);
        QCOMPARE(view.visibleTabs(), plain);
        // Arrow keys move along the row and stop at its ends.
        press(view.tabBar(), {Qt::Key_Right});
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        press(view.tabBar(), {Qt::Key_Left, Qt::Key_Left});
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
        QWidget *about = view.currentPane();
        QVERIFY(qobject_cast<AboutSettingsView *>(about));
        QSignalSpy changed(&view, &SettingsView::selectedTabChanged);
        Notifications::instance().postDidRequestAboutTab();
        QVERIFY(view.currentPane() == about && changed.isEmpty());
    }

    void screenPickerMovesTheBarAndTheWindowClosesLikeAPanel() {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        const QList<QScreen *> screens = QGuiApplication::screens();
        delegate.openSettings();
        auto *picker = child<QComboBox>(delegate.settingsWindow()->view()->currentPane(), "screenPicker");
        QCOMPARE(picker->itemText(1), screens.at(1)->name());
        QCOMPARE(picker->currentIndex(), -1); // nothing chosen yet
        QSignalSpy posted(&Notifications::instance(), &Notifications::didSelectScreen);
        press(picker, {Qt::Key_End});
        QVERIFY(delegate.appState()->selectedScreenName() == screens.at(1)->name() && posted.size() == 1);
        QCOMPARE(delegate.floatingBarWindow()->currentScreen(), screens.at(1));
        // A change from elsewhere shows in the picker and moves the bar.
        delegate.appState()->setSelectedScreenName(screens.at(0)->name());
        QCOMPARE(picker->currentIndex(), 0);
        QCOMPARE(delegate.floatingBarWindow()->currentScreen(), screens.at(0));
        delegate.appState()->setSelectedScreenName("gone");
        QCOMPARE(picker->currentIndex(), -1);

        // The menu's About opens the same window on About; Ctrl+W closes it like a panel.
        delegate.openAbout();
        QPointer<SettingsWindow> window = delegate.settingsWindow();
        QVERIFY(window && delegate.appState()->isSettingsOpen());
        QCOMPARE(window->view()->selectedTab(), SettingsTab::About);
        QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!delegate.appState()->isSettingsOpen());
        QTRY_VERIFY(window.isNull());
    }

    // ---- rows of the Integrations tab ----

    void calendarRowTexts_data() {
        QTest::addColumn<CalendarRowState>("state"); // service, status, enabled, events
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("control"); // connected, enable, open settings, connect, retry
        const char *denied = "Access denied - enable in System Settings",
                   *unreachable = "Cannot reach the calendar service - install evolution-data-server";
        for (const auto &[name, service, status, enabled, text, control] : {
                 std::tuple{"no service", false, 3, true, "Service unavailable", 3},
                 {"off, full access", true, 3, false, "Disabled", 1},
                 {"off, denied", true, 2, false, "Disabled", 1},
                 {"not determined", true, 0, true, "Not connected", 3},
                 {"restricted", true, 1, true, unreachable, 4},
                 {"denied", true, 2, true, denied, 2},
                 {"full access", true, 3, true, "Reading events from your calendar", 0},
                 {"write only", true, 4, true, "Write-only access - need full access", 3},
                 {"unknown", true, 9, true, "Unknown status", 3},
             })
            QTest::newRow(name) << CalendarRowState{service, CalendarAuthorization(status), enabled, 5}
                                << QString::fromUtf8(text) << control;
    }
    void calendarRowTexts() {
        QFETCH(CalendarRowState, state);
        QFETCH(QString, text);
        QFETCH(int, control);
        const CalendarRowPresentation shown = presentCalendarRow(state);
        QCOMPARE(int(shown.control), control);
        QCOMPARE(shown.showsDetail, control == int(CalendarRowControl::Connected));
        QCOMPARE(shown.detailText.contains(QLatin1String("5 events today")), shown.showsDetail);
        // The widget shows exactly that.
        CalendarIntegrationRow row(nullptr);
        row.applyState(state);
        QCOMPARE(row.statusText(), text);
        const char *names[] = {"connectedBadge", "enableButton", "openSettingsButton", "connectButton"};
        for (int i = 0; i < 4; ++i) {
            QWidget *widget = row.findChild<QWidget *>(QLatin1String(names[i]));
            QCOMPARE((i == 2 ? widget->parentWidget() : widget)->isVisibleTo(&row), i == control);
        }
    }

    void openSettingsNeedsADesktopSettingsProgram() {
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        QVERIFY(!calendarSettingsCommand());
        CalendarIntegrationRow row(nullptr);
        row.applyState({true, CalendarAuthorization::Denied, true, 0});
        QVERIFY(!child<QWidget>(&row, "openSettingsButton")->isVisibleTo(&row) &&
                child<QWidget>(&row, "recheckButton")->isVisibleTo(&row));
        QFile program(bin.filePath("gnome-control-center"));
        QVERIFY(program.open(QIODevice::WriteOnly) &&
                program.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        const std::optional<ExternalCommand> command = calendarSettingsCommand();
        qputenv("PATH", path);
        QVERIFY(command && command->program == program.fileName());
        QCOMPARE(command->arguments, QStringList{"online-accounts"});
    }

    void sunRowTexts_data() {
        QTest::addColumn<SunRowState>("state");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");
        test::setTimeZone("Europe/Berlin");
        const char *times = "☀️ 06:05 → 🌙 17:40",
                   *accurate = "Using your location for accurate times";
        const char *requesting = "Requesting location...", *denied = "Location access denied";
        for (const auto &[name, has, on, status, rise, set, loading, text, detail] : {
                 std::tuple{"no state", false, true, 3, true, true, false, "Service unavailable", ""},
                 {"off", true, false, 2, true, true, false, "Show sunrise and sunset times on the bar", ""},
                 {"denied", true, true, 2, false, false, false, denied, ""},
                 {"denied, times kept", true, true, 2, true, true, false, denied, times},
                 {"waiting", true, true, 0, false, false, false, requesting, ""},
                 {"loading", true, true, 3, false, false, true, requesting, "Loading..."},
                 {"both times", true, true, 3, true, true, true, accurate, times},
                 {"sunrise only", true, true, 3, true, false, false, accurate, ""},
                 {"sunset only", true, true, 3, false, true, false, requesting, ""},
             }) {
            SunRowState row{has, on, loading, LocationAuthorization(status), {}, {}, "timed out"};
            row.sunrise = rise ? std::optional(test::localTime(6, 5)) : std::nullopt;
            row.sunset = set ? std::optional(test::localTime(17, 40)) : std::nullopt;
            QTest::newRow(name) << row << QString::fromUtf8(text) << QString::fromUtf8(detail);
        }
    }
    void sunRowTexts() {
        QFETCH(SunRowState, state);
        QFETCH(QString, text);
        QFETCH(QString, detail);
        const SunRowPresentation shown = presentSunRow(state);
        const bool on = state.hasAppState && state.isEnabled;
        QVERIFY(shown.showsDetail == on && shown.showsEnabledBadge == on);
        // The error shows also while switched off.
        QCOMPARE(shown.errorText.has_value(), state.hasAppState);
        SunIntegrationRow row(nullptr);
        row.applyState(state);
        QCOMPARE(row.statusText(), text);
        QCOMPARE(row.detailText(), detail);
    }

    void todoistRowTexts() {
        const std::optional<QString> failed = "Failed to fetch tasks";
        for (const auto &[state, text, connected] : {
                 std::tuple{TodoistRowState{false, true, 3, 5, failed}, "Service unavailable", false},
                 {TodoistRowState{true, false, 0, 0, std::nullopt}, "Not connected", false},
                 {TodoistRowState{true, true, 3, 5, failed}, "Showing tasks with due times", true},
             }) {
            const TodoistRowPresentation shown = presentTodoistRow(state);
            QCOMPARE(shown.statusText, text);
            QVERIFY(shown.showsConnectedBadge == connected && shown.showsDetail == connected);
            QCOMPARE(shown.errorText, state.hasService ? state.error : std::nullopt);
        }
        QCOMPARE(presentTodoistRow({true, true, 3, 5, std::nullopt}).detailText,
                 "3 tasks with due times · 5 due today");
    }

    // ---- tri-state checkbox ----

    void checkboxReportsTheWantedValue() {
        TriStateCheckbox box;
        box.resize(20, 20);
        box.show();
        QSignalSpy activated(&box, &TriStateCheckbox::activated);
        for (auto [state, expected] :
             {std::pair{ToggleState::All, false}, {ToggleState::Some, true}, {ToggleState::None, true}}) {
            box.setState(state);
            click(&box);
            press(&box, {Qt::Key_Space});
            // It keeps no state of its own.
            QVERIFY(box.state() == state && activated.size() == 2);
            QVERIFY(activated.takeFirst().at(0) == expected && activated.takeFirst().at(0) == expected);
        }
    }

    // ---- About ----

    void aboutShowsVersionAndOpensLinks() {
        QCOMPARE(aboutVersionLine("1.2", "45") + aboutVersionLine("1.2", {}) + aboutVersionLine({}, {}),
                 "Version 1.2 (45)Version 1.2 (?)Version ? (?)");
        AboutSettingsView about;
        about.show();
        QVERIFY(!child<QLabel>(&about, "appIcon")->pixmap().isNull());
        for (const auto &[button, address] :
             {std::pair{"websiteButton", build::websiteUrl}, {"contactButton", build::contactUrl}}) {
            const QUrl url(QString::fromUtf8(address));
            QDesktopServices::setUrlHandler(url.scheme(), this, "recordUrl");
            click(child<QPushButton>(&about, button));
            QDesktopServices::unsetUrlHandler(url.scheme());
            QCOMPARE(std::exchange(m_opened, {}), QList<QUrl>{url});
        }
        QVERIFY(!openExternalAddress("not an address") && !openExternalAddress({}));
    }

public Q_SLOTS:
    void recordUrl(const QUrl &url) { m_opened.append(url); }

private:
    QList<QUrl> m_opened;
};

int main(int argc, char *argv[]) {
    const QByteArray screens = R"({"name": "eDP-1", "x": 0, "y": 0, "width": 1920, "height": 1080},
        {"name": "DP-3", "x": 1920, "y": 0, "width": 2560, "height": 1440})";
    return test::runOnScreens(argc, argv, screens, [&] {
        QApplication::setQuitOnLastWindowClosed(false);
        SettingsWindowTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_settings_window.moc"
