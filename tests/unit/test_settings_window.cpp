#include "BuildConfig.h"
#include "app/AboutSettingsView.h"
#include "app/SettingsView.h"
#include "calendar/CalendarSettingsViews.h"
#include "sun/SunIntegrationRow.h"
#include "support/TestEnvironment.h"
#include "support/WidgetFinders.h"
#include "todoist/TodoistSettingsViews.h"

#include <QtTest>
#include <QtWidgets>

using namespace daybrook;
using test::child;
using test::click;

Q_DECLARE_METATYPE(daybrook::TabAvailability)
Q_DECLARE_METATYPE(daybrook::CalendarRowState)
Q_DECLARE_METATYPE(daybrook::SunRowState)

class SettingsWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { test::resetUserDefaults(); }

    // ---- tabs ----

    void visibleTabsFollowTheRules_data() {
        QTest::addColumn<TabAvailability>("availability"); // Todoist, calendar service, enabled, status
        QTest::addColumn<QString>("expected");
        const QString head = QStringLiteral("general,integrations,"), none = head + "about";
        using A = CalendarAuthorization;
        using T = TabAvailability;
        QTest::newRow("calendar") << T{false, true, true, A::FullAccess} << head + "calendar,about";
        QTest::newRow("both") << T{true, true, true, A::FullAccess} << head + "todoist,calendar,about";
        QTest::newRow("full access, switched off") << T{false, true, false, A::FullAccess} << none;
        QTest::newRow("denied") << T{false, true, true, A::Denied} << none;
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
        const char *accurate = "Using your location for accurate times",
                   *requesting = "Requesting location...";
        for (const auto &[name, has, on, status, rise, set, loading, text, detail] : {
                 std::tuple{"no state", false, true, 3, true, true, false, "Service unavailable", ""},
                 {"off", true, false, 2, true, true, false, "Show sunrise and sunset times on the bar", ""},
                 {"denied", true, true, 2, false, false, false, "Location access denied", ""},
                 {"loading", true, true, 3, false, false, true, requesting, "Loading..."},
                 {"both times", true, true, 3, true, true, true, accurate, "☀️ 06:05 → 🌙 17:40"},
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

QTEST_MAIN(SettingsWindowTest)
#include "test_settings_window.moc"
