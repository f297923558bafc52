// The settings widgets driven by clicks against the real services: Todoist
// played by an HTTP server on 127.0.0.1, the location by a replayed NMEA log.
#include "app/SettingsView.h"
#include "core/Clock.h"
#include "core/UserDefaults.h"
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

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNmeaPositionInfoSource>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace daybrook;
using test::click;
using test::ids;
using test::labelText;
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

ToggleState shownState(QWidget *pane, const char *id) {
    TriStateCheckbox *box = inRow(pane, id);
    return box ? box->state() : ToggleState(-1);
}

QSet<QString> storedDisabledIds() {
    return test::storedStringSet(QStringLiteral("disabledProjectIds"));
}

// ---- Todoist on 127.0.0.1 ----

QByteArray page(const QJsonArray &results, const QJsonValue &cursor = {}) {
    return QJsonDocument(QJsonObject{{"results", results}, {"next_cursor", cursor}})
        .toJson(QJsonDocument::Compact);
}

// Both lists in two pages each; only "tok-1" is let in.
struct FakeTodoist {
    FakeTodoist() {
        // Work > Clients > Acme, Work > Admin, and Home on its own.
        pages["projects"][""] = page({projectJson("w", "Work", {}, 1), projectJson("w1", "Clients", "w", 1)},
                                     QStringLiteral("projects-2"));
        pages["projects"]["projects-2"] =
            page({projectJson("w1a", "Acme", "w1", 1), projectJson("w2", "Admin", "w", 2),
                  projectJson("h", "Home", {}, 2)});
        // On 2030-01-15: one timed task today, one all-day task today, two timed later.
        pages["tasks"][""] =
            page({taskJson("t1", "w1a", "Task t1", "2030-01-15T09:30:00"),
                  taskJson("t2", "h", "Task t2", "2030-01-15"), taskJson("t3", "w2", "Task t3")},
                 QStringLiteral("tasks-2"));
        pages["tasks"]["tasks-2"] = page({taskJson("t4", "w", "Task t4", "2030-01-16T08:00:00"),
                                          taskJson("t5", "h", "Task t5", "2030-01-20T10:00:00Z")});
        for (const char *name : {"projects", "tasks"}) {
            m_server.route(
                QStringLiteral("/api/v1/") + QLatin1String(name),
                [this, name](const QHttpServerRequest &request) {
                    const QString cursor = request.query().queryItemValue(QStringLiteral("cursor"));
                    if (request.value("Authorization") != "Bearer tok-1" || !pages[name].contains(cursor))
                        return QHttpServerResponse(QHttpServerResponder::StatusCode::BadRequest);
                    return QHttpServerResponse("application/json", pages[name][cursor]);
                });
        }
        port = m_server.listen(QHostAddress::LocalHost);
    }

    quint16 port = 0;
    QHash<QString, QHash<QString, QByteArray>> pages; // list -> cursor -> body
    QHttpServer m_server;
};

const QDateTime taskDay(QDate(2030, 1, 15), QTime(10, 0), Qt::UTC);

} // namespace

class SettingsWithServicesTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<FakeTodoist> m_server;
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

private Q_SLOTS:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        QVERIFY(m_dir.isValid());
        // Nothing may reach a location service of this machine (GeoClue is on the system bus).
        qputenv("DBUS_SYSTEM_BUS_ADDRESS",
                QByteArray("unix:path=" + QFile::encodeName(m_dir.filePath("no-bus"))));
    }

    void init() {
        test::resetUserDefaults();
        test::setTimeZone("Europe/Berlin");
        Clock::freezeAt(taskDay);
        m_server = std::make_unique<FakeTodoist>();
        QVERIFY(m_server->port != 0);
        m_config.apiBaseUrl = m_config.authorizeUrl = m_config.tokenUrl =
            QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server->port));
    }

    void cleanup() {
        Clock::reset();
        m_server.reset();
        // Let store operations still sleeping in the event loop finish, so that
        // no coroutine is left suspended when the program ends.
        QTest::qWait(20);
    }

    void projectTreeClicksReachTheService() {
        std::unique_ptr<TodoistService> service = makeTodoist();
        service->setAccessToken(QStringLiteral("tok-1"));
        TodoistSettingsView pane(service.get());
        pane.resize(600, 700);
        pane.show();
        const auto states = [&pane](std::initializer_list<const char *> projects) {
            QList<ToggleState> shown;
            for (const char *id : projects)
                shown.append(shownState(&pane, id));
            return shown;
        };
        using enum ToggleState;
        click(pane.findChild<QPushButton *>(QStringLiteral("refreshButton")));
        QTRY_VERIFY(!service->isLoading() && service->projects().size() == 5);
        QVERIFY(service->tasks().size() == 5 && !service->error());
        QCOMPARE(labelText(&pane, "tasksWithDueTimes") + labelText(&pane, "tasksDueToday"),
                 QStringLiteral("32"));

        // Collapsed: the top level only, each parent with the count of all below it.
        QVERIFY(!projectRow(&pane, "w1"));
        QCOMPARE(labelText(projectRow(&pane, "w"), "descendantCount"), QStringLiteral("· 3"));
        click(inRow<QAbstractButton>(&pane, "w", "chevron"));
        QVERIFY(projectRow(&pane, "w1") && projectRow(&pane, "w2") && !projectRow(&pane, "w1a"));
        QCOMPARE(labelText(projectRow(&pane, "w1"), "descendantCount"), QStringLiteral("· 1"));

        // Parent showing all -> the whole subtree off.
        QCOMPARE(shownState(&pane, "w"), All);
        click(inRow(&pane, "w"));
        QCOMPARE(storedDisabledIds(), ids({"w", "w1", "w1a", "w2"}));
        QCOMPARE(states({"w", "w1", "w2", "h"}), (QList<ToggleState>{None, None, None, All}));
        // One child on -> that child's subtree on, the parent mixed.
        click(inRow(&pane, "w1"));
        QCOMPARE(storedDisabledIds(), ids({"w", "w2"}));
        QCOMPARE(states({"w", "w1", "w2"}), (QList<ToggleState>{Some, All, None}));
        // A service started afresh reads the same filter back.
        QCOMPARE(makeTodoist()->disabledProjectIds(), ids({"w", "w2"}));
        // Mixed parent -> everything below on again.
        click(inRow(&pane, "w"));
        QCOMPARE(storedDisabledIds(), QSet<QString>());
        QCOMPARE(states({"w", "w1", "w2", "h"}), (QList<ToggleState>{All, All, All, All}));

        // An expanded child stays expanded while its parent is folded away...
        click(inRow<QAbstractButton>(&pane, "w1", "chevron"));
        QVERIFY(projectRow(&pane, "w1a"));
        click(inRow<QAbstractButton>(&pane, "w", "chevron"));
        QVERIFY(!projectRow(&pane, "w1") && !projectRow(&pane, "w1a"));
        click(inRow<QAbstractButton>(&pane, "w", "chevron"));
        QVERIFY(projectRow(&pane, "w1a"));
        // ... and across a reload of the lists.
        click(pane.findChild<QPushButton *>(QStringLiteral("refreshButton")));
        QTRY_VERIFY(!service->isLoading());
        QTRY_VERIFY(projectRow(&pane, "w1a"));
        QCOMPARE(pane.expandedProjects(), ids({"w", "w1"}));
    }

    void todoistTabAndRowFollowTheService() {
        AppStateDependencies dependencies;
        dependencies.dataSource = std::make_unique<DataSource>(nullptr, makeTodoist());
        AppState state(std::move(dependencies));
        TodoistService *service = state.dataSource()->todoistService();
        SettingsView view(&state, state.dataSource()->calendarService(), service);
        view.show();
        const QList<SettingsTab> plain{SettingsTab::General, SettingsTab::Integrations, SettingsTab::About};
        click(view.tabBar()->button(SettingsTab::Integrations));
        auto *row = view.currentPane()->findChild<TodoistIntegrationRow *>();
        QVERIFY(row);
        service->setAccessToken(QStringLiteral("tok-1"));
        QCOMPARE(view.visibleTabs(), (QList<SettingsTab>{SettingsTab::General, SettingsTab::Integrations,
                                                         SettingsTab::Todoist, SettingsTab::About}));
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        click(row->findChild<QPushButton *>(QStringLiteral("refreshButton")));
        QTRY_COMPARE(row->detailText(), QStringLiteral("3 tasks with due times · 2 due today"));
        QTRY_VERIFY(!service->isLoading());

        click(view.tabBar()->button(SettingsTab::Todoist));
        click(inRow(view.currentPane(), "h"));
        QCOMPARE(storedDisabledIds(), ids({"h"}));
        // Disconnect from the Todoist tab: the tab goes, Integrations is shown,
        // and nothing of the account is kept.
        click(view.currentPane()->findChild<QPushButton *>(QStringLiteral("disconnectButton")));
        QVERIFY(!service->isConnected());
        QVERIFY(view.visibleTabs() == plain && view.selectedTab() == SettingsTab::Integrations);
        row = view.currentPane()->findChild<TodoistIntegrationRow *>();
        QCOMPARE(row->statusText(), QStringLiteral("Not connected"));
        QCOMPARE(storedDisabledIds(), QSet<QString>{QStringLiteral("<absent>")});
    }

    void sunRowShowsTheComputedTimes() {
        Clock::freezeAt(QDateTime(QDate(2026, 6, 21), QTime(8, 0), Qt::UTC));
        AppStateDependencies dependencies;
        dependencies.dataSource = std::make_unique<DataSource>(nullptr, makeTodoist());
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
        const QString off = QStringLiteral("Show sunrise and sunset times on the bar");
        QCOMPARE(row.statusText(), off);

        click(row.findChild<QPushButton *>(QStringLiteral("enableButton")));
        QVERIFY(sun->isEnabled());
        QTRY_COMPARE(row.statusText(), QStringLiteral("Using your location for accurate times"));
        QTRY_VERIFY(sun->sunrise() && sun->sunset() && !sun->isLoading());
        QVERIFY(!sun->error());
        // Berlin on the June solstice: 02:43 and 19:33 UTC, two hours later on the local clock.
        QCOMPARE(QLocale::c().toString(sun->sunrise()->toUTC(), QStringLiteral("HH:mm ")) +
                     QLocale::c().toString(sun->sunset()->toUTC(), QStringLiteral("HH:mm")),
                 QStringLiteral("02:43 19:33"));
        QCOMPARE(row.detailText(), QStringLiteral("☀️ 04:43 → 🌙 21:33"));

        click(row.findChild<QPushButton *>(QStringLiteral("disableButton")));
        QVERIFY(!sun->isEnabled() && !sun->sunrise() && !sun->sunset());
        QCOMPARE(row.statusText(), off);
        UserDefaults::reload();
        QCOMPARE(UserDefaults::boolValue(QStringLiteral("sunriseEnabled")), std::optional<bool>(false));
    }
};

QTEST_MAIN(SettingsWithServicesTest)
#include "test_settings_with_services.moc"
