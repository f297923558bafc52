// The settings widgets driven by clicks against the real services: Todoist
// played by an HTTP server on 127.0.0.1, the location by a replayed NMEA log.
#include "app/AboutSettingsView.h"
#include "app/GeneralSettingsView.h"
#include "app/SettingsView.h"
#include "core/Clock.h"
#include "core/Notifications.h"
#include "core/UserDefaults.h"
#include "platform/Autostart.h"
#include "state/AppState.h"
#include "state/DataSource.h"
#include "sun/SunIntegrationRow.h"
#include "sun/SunService.h"
#include "support/MemorySecretStore.h"
#include "support/NmeaLog.h"
#include "support/TestEnvironment.h"
#include "support/TodoistJson.h"
#include "support/WidgetFinders.h"
#include "todoist/TodoistSettingsViews.h"
#include "widgets/TriStateCheckbox.h"

#include <QtHttpServer>
#include <QtPositioning>
#include <QtTest>
#include <QtWidgets>

using namespace daybrook;
using test::child;
using test::click;
using test::ids;
using test::labelText;
using test::press;
using test::projectJson;
using test::taskJson;

namespace {

QWidget *projectRow(QWidget *pane, const char *id) {
    return pane->findChild<QWidget *>(QStringLiteral("project:") + QLatin1String(id));
}

template <typename T = TriStateCheckbox> T *inRow(QWidget *pane, const char *id, const char *name = nullptr) {
    QWidget *row = projectRow(pane, id);
    return row ? row->findChild<T *>(name ? QLatin1String(name) : QString()) : nullptr;
}

// The boxes of those projects' rows: A(ll), S(ome), N(one), or - when the row is not shown.
QString states(QWidget *pane, std::initializer_list<const char *> projects) {
    QString shown;
    for (const char *id : projects) {
        TriStateCheckbox *box = inRow(pane, id);
        shown += QLatin1Char(box ? "ASN"[int(box->state())] : '-');
    }
    return shown;
}

QSet<QString> storedDisabledIds() {
    return test::storedStringSet(QStringLiteral("disabledProjectIds"));
}

QByteArray page(const QJsonArray &results, const QJsonValue &cursor = {}) {
    return QJsonDocument(QJsonObject{{"results", results}, {"next_cursor", cursor}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

class SettingsWithServicesTest : public QObject {
    Q_OBJECT

    QHttpServer m_server;                               // Todoist on 127.0.0.1
    QHash<QString, QHash<QString, QByteArray>> m_pages; // list -> cursor -> body
    TodoistConfig m_config;

    std::unique_ptr<TodoistService> makeTodoist() {
        auto service =
            std::make_unique<TodoistService>(m_config, std::make_shared<test::MemorySecretStore>());
        service->setUrlOpener([](const QUrl &) {});
        QSignalSpy loaded(service.get(), &TodoistService::storedTokenLoaded);
        if (!loaded.wait(5000))
            qFatal("the stored token was never looked up");
        return service;
    }
    AppStateDependencies withTodoist() {
        AppStateDependencies dependencies;
        dependencies.dataSource = std::make_unique<DataSource>(nullptr, makeTodoist());
        return dependencies;
    }

private Q_SLOTS:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        // Nothing may reach a location service of this machine (GeoClue is on the system bus).
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/dev/null/no-bus");
        // Both lists in two pages each; only "tok-1" is let in. Work > Clients > Acme, Work > Admin,
        // and Home on its own. On 2030-01-15: one timed task today, one all-day task today, two timed later.
        m_pages["projects"][""] =
            page({projectJson("w", "Work", {}, 1), projectJson("w1", "Clients", "w", 1)}, "projects-2");
        m_pages["projects"]["projects-2"] =
            page({projectJson("w1a", "Acme", "w1", 1), projectJson("w2", "Admin", "w", 2),
                  projectJson("h", "Home", {}, 2)});
        m_pages["tasks"][""] =
            page({taskJson("t1", "w1a", "Task t1", "2030-01-15T09:30:00"),
                  taskJson("t2", "h", "Task t2", "2030-01-15"), taskJson("t3", "w2", "Task t3")},
                 "tasks-2");
        m_pages["tasks"]["tasks-2"] = page({taskJson("t4", "w", "Task t4", "2030-01-16T08:00:00"),
                                            taskJson("t5", "h", "Task t5", "2030-01-20T10:00:00Z")});
        m_server.route("/api/v1/<arg>", [this](const QString &name, const QHttpServerRequest &request) {
            const QString cursor = request.query().queryItemValue("cursor");
            if (request.value("Authorization") != "Bearer tok-1" || !m_pages.value(name).contains(cursor))
                return QHttpServerResponse(QHttpServerResponder::StatusCode::BadRequest);
            return QHttpServerResponse("application/json", m_pages[name][cursor]);
        });
        const quint16 port = m_server.listen(QHostAddress::LocalHost);
        QVERIFY(port != 0);
        m_config.apiBaseUrl = m_config.authorizeUrl = m_config.tokenUrl =
            QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
    }

    void init() {
        test::resetUserDefaults();
        test::setTimeZone("Europe/Berlin");
        Clock::freezeAt(QDateTime(QDate(2030, 1, 15), QTime(10, 0), Qt::UTC));
    }

    void cleanup() {
        Clock::reset();
        QFile::remove(Autostart::entryPath());
        // Let store operations still sleeping in the event loop finish, so that
        // no coroutine is left suspended when the program ends.
        QTest::qWait(20);
    }

    void projectTreeClicksReachTheService() {
        std::unique_ptr<TodoistService> service = makeTodoist();
        service->setAccessToken("tok-1");
        TodoistSettingsView pane(service.get());
        pane.resize(600, 700);
        pane.show();
        click(pane.findChild<QPushButton *>("refreshButton"));
        QTRY_VERIFY(!service->isLoading() && service->projects().size() == 5 && !service->error());
        QCOMPARE(labelText(&pane, "tasksWithDueTimes") + labelText(&pane, "tasksDueToday"), "32");

        // Collapsed: the top level only, each parent with the count of all below it.
        QCOMPARE(states(&pane, {"w", "w1", "h"}), "A-A");
        QCOMPARE(labelText(projectRow(&pane, "w"), "descendantCount"), "· 3");
        click(inRow<QAbstractButton>(&pane, "w", "chevron"));
        QCOMPARE(states(&pane, {"w1", "w2", "w1a"}), "AA-");

        // Parent showing all -> the whole subtree off.
        click(inRow(&pane, "w"));
        QCOMPARE(storedDisabledIds(), ids({"w", "w1", "w1a", "w2"}));
        QCOMPARE(states(&pane, {"w", "w1", "w2", "h"}), "NNNA");
        // One child on -> that child's subtree on, the parent mixed.
        click(inRow(&pane, "w1"));
        QCOMPARE(storedDisabledIds(), ids({"w", "w2"}));
        QCOMPARE(states(&pane, {"w", "w1", "w2"}), "SAN");
        // A service started afresh reads the same filter back.
        QCOMPARE(makeTodoist()->disabledProjectIds(), ids({"w", "w2"}));
        // Mixed parent -> everything below on again.
        click(inRow(&pane, "w"));
        QCOMPARE(storedDisabledIds(), QSet<QString>());
        QCOMPARE(states(&pane, {"w", "w1", "w2", "h"}), "AAAA");

        // An expanded child stays expanded while its parent is folded away...
        click(inRow<QAbstractButton>(&pane, "w1", "chevron"));
        QCOMPARE(states(&pane, {"w1a"}), "A");
        click(inRow<QAbstractButton>(&pane, "w", "chevron"));
        QCOMPARE(states(&pane, {"w1", "w1a"}), "--");
        click(inRow<QAbstractButton>(&pane, "w", "chevron"));
        QCOMPARE(states(&pane, {"w1a"}), "A");
        // ... and across a reload of the lists.
        click(pane.findChild<QPushButton *>("refreshButton"));
        QTRY_VERIFY(!service->isLoading() && projectRow(&pane, "w1a"));
        QCOMPARE(pane.expandedProjects(), ids({"w", "w1"}));
    }

    void settingsViewFollowsTheUserAndTheServices() {
        AppState state(withTodoist());
        TodoistService *service = state.dataSource()->todoistService();
        SettingsView view(&state, state.dataSource()->calendarService(), service);
        view.show();
        using enum SettingsTab;
        const QList<SettingsTab> plain{General, Integrations, About};
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
        QCOMPARE(view.selectedTab(), Integrations);
        press(view.tabBar(), {Qt::Key_Left, Qt::Key_Left});
        QCOMPARE(view.selectedTab(), General);

        click(view.tabBar()->button(Integrations));
        auto *row = view.currentPane()->findChild<TodoistIntegrationRow *>();
        service->setAccessToken("tok-1");
        QVERIFY(view.visibleTabs() == (QList{General, Integrations, Todoist, About}));
        QCOMPARE(view.selectedTab(), Integrations);
        click(row->findChild<QPushButton *>("refreshButton"));
        QTRY_COMPARE(row->detailText(), "3 tasks with due times · 2 due today");
        QTRY_VERIFY(!service->isLoading());

        click(view.tabBar()->button(Todoist));
        click(inRow(view.currentPane(), "h"));
        QCOMPARE(storedDisabledIds(), ids({"h"}));
        // Disconnect from the Todoist tab: the tab goes, Integrations is shown,
        // and nothing of the account is kept.
        click(view.currentPane()->findChild<QPushButton *>("disconnectButton"));
        QVERIFY(!service->isConnected() && view.selectedTab() == Integrations);
        QCOMPARE(view.visibleTabs(), plain);
        QCOMPARE(storedDisabledIds(), QSet<QString>{"<absent>"});

        // The menu's About request selects About; again while there keeps the pane.
        Notifications::instance().postDidRequestAboutTab();
        QWidget *about = view.currentPane();
        QVERIFY(qobject_cast<AboutSettingsView *>(about));
        QSignalSpy changed(&view, &SettingsView::selectedTabChanged);
        Notifications::instance().postDidRequestAboutTab();
        QVERIFY(view.currentPane() == about && changed.isEmpty());
    }

    void sunRowShowsTheComputedTimes() {
        Clock::freezeAt(QDateTime(QDate(2026, 6, 21), QTime(8, 0), Qt::UTC));
        AppStateDependencies dependencies = withTodoist();
        dependencies.sunService = std::make_unique<SunService>([](QObject *parent) {
            auto *source = new QNmeaPositionInfoSource(QNmeaPositionInfoSource::SimulationMode, parent);
            auto *log = new QBuffer(source); // Berlin
            log->setData(test::nmeaTrack(52.52, 13.405, 30));
            log->open(QIODevice::ReadOnly);
            source->setDevice(log);
            return source;
        });
        AppState state(std::move(dependencies));
        SunService *sun = state.sunService();
        SunIntegrationRow row(sun);
        row.show();

        click(row.findChild<QPushButton *>("enableButton"));
        QTRY_COMPARE(row.statusText(), "Using your location for accurate times");
        QTRY_VERIFY(sun->sunrise() && sun->sunset() && !sun->isLoading() && !sun->error());
        // Berlin on the June solstice: 02:43 and 19:33 UTC, shown on the local clock (UTC+2).
        QCOMPARE(row.detailText(), "☀️ 04:43 → 🌙 21:33");

        click(row.findChild<QPushButton *>("disableButton"));
        QVERIFY(!sun->isEnabled() && !sun->sunrise() && !sun->sunset());
        QCOMPARE(row.statusText(), "Show sunrise and sunset times on the bar");
        UserDefaults::reload();
        QCOMPARE(UserDefaults::boolValue("sunriseEnabled"), std::optional<bool>(false));
    }
};

QTEST_MAIN(SettingsWithServicesTest)
#include "test_settings_with_services.moc"
