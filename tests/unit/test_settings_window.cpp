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

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace daybrook;
using test::click;

template <typename T> T *child(QObject *root, const char *name) {
    return root->findChild<T *>(QLatin1String(name));
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
        // A Todoist service that could only ever reach this machine.
        TodoistConfig todoist;
        todoist.apiBaseUrl = todoist.authorizeUrl = todoist.tokenUrl =
            QUrl(QStringLiteral("http://127.0.0.1:9"));
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
        QVERIFY(child<QCheckBox>(pane, "preventScreenRecording")->isChecked());
        click(child<QCheckBox>(pane, "preventScreenRecording"));
        QVERIFY(!state.preventScreenRecording());

        QVERIFY(child<QPushButton>(pane, "theme:system")->isChecked());
        click(child<QPushButton>(pane, "theme:dark"));
        QVERIFY(state.appearanceMode() == AppearanceMode::Dark && state.isDarkMode());
        state.setAppearanceMode(AppearanceMode::Light); // from elsewhere
        QVERIFY(child<QPushButton>(pane, "theme:light")->isChecked());

        auto *start = child<QComboBox>(pane, "startTimePicker");
        auto *end = child<QComboBox>(pane, "endTimePicker");
        QCOMPARE(start->itemText(0) + end->itemText(0) + end->itemText(23),
                 QStringLiteral("00:0001:0024:00"));
        QCOMPARE(start->currentText() + end->currentText(), QStringLiteral("07:0021:00"));
        // Start after end is accepted as it is.
        start->setFocus();
        QTest::keyClick(start, Qt::Key_End);
        QTest::keyClick(start, Qt::Key_Up);
        QCOMPARE(state.dayStartHour(), 22);
        end->setFocus();
        QTest::keyClick(end, Qt::Key_Home);
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(end, Qt::Key_Down);
        QCOMPARE(state.dayEndHour(), 6);
        QTest::keyClick(end, Qt::Key_End);
        QCOMPARE(state.dayEndHour(), 24);

        // Switching the calendar on without access adds nothing.
        state.dataSource()->calendarService()->setIsEnabled(false);
        state.dataSource()->calendarService()->setIsEnabled(true);
        QCOMPARE(view.visibleTabs(), plain);
        // Arrow keys move along the row and stop at its ends.
        view.tabBar()->setFocus();
        for (const auto &[key, tab] : {std::pair{Qt::Key_Right, SettingsTab::Integrations},
                                       {Qt::Key_Left, SettingsTab::General},
                                       {Qt::Key_Left, SettingsTab::General}}) {
            QTest::keyClick(view.tabBar(), key);
            QCOMPARE(view.selectedTab(), tab);
        }
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
        picker->setFocus();
        QTest::keyClick(picker, Qt::Key_End);
        QVERIFY(delegate.appState()->selectedScreenName() == screens.at(1)->name() && posted.size() == 1);
        QCOMPARE(delegate.floatingBarWindow()->currentScreen(), screens.at(1));
        // A change from elsewhere shows in the picker and moves the bar.
        delegate.appState()->setSelectedScreenName(screens.at(0)->name());
        QCOMPARE(picker->currentIndex(), 0);
        QCOMPARE(delegate.floatingBarWindow()->currentScreen(), screens.at(0));
        delegate.appState()->setSelectedScreenName(QStringLiteral("gone"));
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
        const char *denied = "Access denied - enable in System Settings";
        for (const auto &[name, service, status, enabled, text, control] : {
                 std::tuple{"no service", false, 3, true, "Service unavailable", 3},
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
        QFile program(bin.filePath(QStringLiteral("gnome-control-center")));
        QVERIFY(program.open(QIODevice::WriteOnly) && program.write("#!/bin/sh\n") > 0);
        program.close();
        program.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        const std::optional<ExternalCommand> command = calendarSettingsCommand();
        qputenv("PATH", path);
        QVERIFY(command && command->program == program.fileName());
        QCOMPARE(command->arguments, QStringList{QStringLiteral("online-accounts")});
    }

    void sunRowTexts_data() {
        QTest::addColumn<SunRowState>("state");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");
        test::setTimeZone("Europe/Berlin");
        const auto state = [](bool has, bool on, int status, bool rise, bool set, bool loading) {
            SunRowState row{
                has, on, loading, LocationAuthorization(status), {}, {}, QStringLiteral("timed out")};
            row.sunrise = rise ? std::optional(test::localTime(6, 5)) : std::nullopt;
            row.sunset = set ? std::optional(test::localTime(17, 40)) : std::nullopt;
            return row;
        };
        const QString times = QString::fromUtf8("☀️ 06:05 → 🌙 17:40"), none;
        const QString accurate = QStringLiteral("Using your location for accurate times");
        const QString requesting = QStringLiteral("Requesting location..."),
                      denied = QStringLiteral("Location access denied");
        const QString unavailable = QStringLiteral("Service unavailable"),
                      loading = QStringLiteral("Loading...");
        QTest::newRow("no state") << state(false, true, 3, true, true, false) << unavailable << none;
        QTest::newRow("off") << state(true, false, 2, true, true, false)
                             << QStringLiteral("Show sunrise and sunset times on the bar") << none;
        QTest::newRow("denied") << state(true, true, 2, false, false, false) << denied << none;
        QTest::newRow("denied, times kept") << state(true, true, 2, true, true, false) << denied << times;
        QTest::newRow("waiting") << state(true, true, 0, false, false, false) << requesting << none;
        QTest::newRow("loading") << state(true, true, 3, false, false, true) << requesting << loading;
        QTest::newRow("both times") << state(true, true, 3, true, true, true) << accurate << times;
        QTest::newRow("sunrise only") << state(true, true, 3, true, false, false) << accurate << none;
        QTest::newRow("sunset only") << state(true, true, 3, false, true, false) << requesting << none;
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
        box.setFocus();
        QSignalSpy activated(&box, &TriStateCheckbox::activated);
        for (auto [state, expected] :
             {std::pair{ToggleState::All, false}, {ToggleState::Some, true}, {ToggleState::None, true}}) {
            box.setState(state);
            click(&box);
            QTest::keyClick(&box, Qt::Key_Space);
            QVERIFY(activated.size() == 2 && activated.at(0).at(0) == expected &&
                    activated.at(1).at(0) == expected);
            activated.clear();
            QCOMPARE(box.state(), state); // it keeps no state of its own
        }
    }

    // ---- About ----

    void aboutShowsVersionAndOpensLinks() {
        QCOMPARE(aboutVersionLine(QStringLiteral("1.2"), QStringLiteral("45")) +
                     aboutVersionLine(QStringLiteral("1.2"), QString()) +
                     aboutVersionLine(QString(), QString()),
                 QStringLiteral("Version 1.2 (45)Version 1.2 (?)Version ? (?)"));
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
        QVERIFY(!openExternalAddress(QStringLiteral("not an address")) && !openExternalAddress(QString()));
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
