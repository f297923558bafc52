// The calendar parts of the settings window driven by clicks against the real
// calendar service, reading the private evolution-data-server of the test's
// own D-Bus session.
#include "app/IntegrationsSettingsView.h"
#include "app/SettingsView.h"
#include "calendar/CalendarService.h"
#include "calendar/CalendarSettingsViews.h"
#include "core/Clock.h"
#include "core/UserDefaults.h"
#include "state/AppState.h"
#include "state/DataSource.h"
#include "support/EdsFixtures.h"
#include "support/TestEnvironment.h"
#include "support/WidgetFinders.h"
#include "todoist/TodoistService.h"
#include "widgets/TriStateCheckbox.h"

#include <QApplication>
#include <QCollator>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

using namespace daybrook;
using test::click;
using test::ids;
using test::shown;

namespace {

// A Wednesday in summer time; the clock stands at 10:00 in Berlin.
const QDate day(2026, 6, 10);

// Events on `day` over all the test calendars (an all-day one among them; one
// event tomorrow is not counted).
constexpr qsizetype eventsToday = 5;

// ---- widgets ----

QWidget *groupHeader(QWidget *pane, const QString &key) {
    return pane->findChild<QWidget *>(QStringLiteral("group:") + key);
}

TriStateCheckbox *groupCheckbox(QWidget *pane, const QString &key) {
    QWidget *header = groupHeader(pane, key);
    return header ? header->findChild<TriStateCheckbox *>(QStringLiteral("groupCheckbox")) : nullptr;
}

ToggleState groupState(QWidget *pane, const QString &key) {
    TriStateCheckbox *box = groupCheckbox(pane, key);
    return box ? box->state() : ToggleState(-1);
}

TriStateCheckbox *calendarCheckbox(QWidget *pane, const QString &id) {
    QWidget *row = pane->findChild<QWidget *>(QStringLiteral("calendar:") + id);
    return row ? row->findChild<TriStateCheckbox *>(QStringLiteral("calendarCheckbox")) : nullptr;
}

QSet<QString> storedDisabledIds() {
    return test::storedStringSet(QLatin1String(CalendarService::disabledCalendarsKey));
}

QStringList barLabels(const CalendarService &service) {
    QStringList labels;
    for (const TimeEntry &entry : service.timeEntries(service.events()))
        labels << entry.label();
    return labels;
}

TodoistConfig offlineTodoist() {
    TodoistConfig config;
    config.apiBaseUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
    config.authorizeUrl = QUrl(QStringLiteral("http://127.0.0.1:9/oauth/authorize"));
    config.tokenUrl = QUrl(QStringLiteral("http://127.0.0.1:9/oauth/access_token"));
    config.timeoutMs = 1000;
    return config;
}

} // namespace

class CalendarSettingsEdsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ESourceRegistry *m_registry = nullptr;
    QList<ECalClient *> m_clients;

    ECalClient *connectTo(const char *uid) {
        m_clients << test::connectCalendar(m_registry, uid);
        return m_clients.last();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Nothing may reach a location service of this machine (GeoClue is on the system bus).
        qputenv("DBUS_SYSTEM_BUS_ADDRESS",
                QByteArray("unix:path=" + QFile::encodeName(m_dir.filePath("no-bus"))));
        test::setTimeZone("Europe/Berlin");

        GError *error = nullptr;
        m_registry = e_source_registry_new_sync(nullptr, &error);
        test::checkGLib(m_registry != nullptr, error, "registry");

        // Two accounts (the second one's calendars made first, so that the
        // order on screen cannot come from the order of creation) and one
        // calendar of no account.
        g_object_unref(test::commitSource(m_registry, "test-zeta-account", "zeta mail", nullptr, false));
        g_object_unref(test::commitSource(m_registry, "test-zeta", "Zeta", "test-zeta-account", true));
        g_object_unref(test::commitSource(m_registry, "test-alpha-account", "Alpha mail", nullptr, false));
        g_object_unref(
            test::commitSource(m_registry, "test-alpha-meetings", "Meetings", "test-alpha-account", true));
        g_object_unref(
            test::commitSource(m_registry, "test-alpha-travel", "Travel", "test-alpha-account", true));
        g_object_unref(test::commitSource(m_registry, "test-loose", "Loose", nullptr, true));

        ECalClient *meetings = connectTo("test-alpha-meetings");
        test::createEvent(
            meetings, test::vevent("standup", "20260610T090000", "20260610T091500", "SUMMARY:Standup\r\n"));
        test::createEvent(meetings,
                          test::vevent("review", "20260610T140000", "20260610T150000", "SUMMARY:Review\r\n"));
        ECalClient *travel = connectTo("test-alpha-travel");
        test::createEvent(travel,
                          test::vevent("train", "20260610T170000", "20260610T183000", "SUMMARY:Train\r\n"));
        test::createEvent(travel, test::vevent("flight", "20260611T080000", "20260611T100000",
                                               "SUMMARY:Flight tomorrow\r\n"));
        ECalClient *zeta = connectTo("test-zeta");
        test::createEvent(zeta, test::vevent("offsite", "20260610", "20260611", "SUMMARY:Offsite\r\n"));
        ECalClient *loose = connectTo("test-loose");
        test::createEvent(
            loose, test::vevent("dentist", "20260610T113000", "20260610T120000", "SUMMARY:Dentist\r\n"));
    }

    void init() {
        test::resetUserDefaults();
        Clock::freezeAt(test::localTime(10, 0, 0, day));
    }

    void cleanup() { Clock::reset(); }

    void cleanupTestCase() {
        for (ECalClient *client : std::as_const(m_clients))
            g_object_unref(client);
        if (m_registry)
            g_object_unref(m_registry);
    }

    void integrationRowConnectsDisconnectsAndEnables() {
        CalendarService service;
        CalendarIntegrationRow row(&service);
        row.show();
        QTest::qWait(300);
        QCOMPARE(service.authorizationStatus(), CalendarAuthorization::NotDetermined);
        QCOMPARE(row.statusText(), QStringLiteral("Not connected"));
        QVERIFY(shown(&row, QStringLiteral("connectButton")));
        QVERIFY(!shown(&row, QStringLiteral("connectedBadge")));
        QVERIFY(!shown(&row, QStringLiteral("detailText")));

        click(row.findChild<QPushButton *>(QStringLiteral("connectButton")));
        QTRY_COMPARE_WITH_TIMEOUT(row.statusText(), QStringLiteral("Reading events from your calendar"),
                                  20000);
        QTRY_COMPARE_WITH_TIMEOUT(row.detailText(), QStringLiteral("%1 events today").arg(eventsToday),
                                  20000);
        QVERIFY(shown(&row, QStringLiteral("connectedBadge")));
        QVERIFY(!shown(&row, QStringLiteral("connectButton")));
        QVERIFY(shown(&row, QStringLiteral("detailText")));
        QCOMPARE(UserDefaults::boolValue(QLatin1String(CalendarService::consentKey)),
                 std::optional<bool>(true));

        click(row.findChild<QPushButton *>(QStringLiteral("disconnectButton")));
        QCOMPARE(row.statusText(), QStringLiteral("Disabled"));
        QVERIFY(shown(&row, QStringLiteral("enableButton")));
        QVERIFY(!shown(&row, QStringLiteral("connectedBadge")));
        QVERIFY(!shown(&row, QStringLiteral("detailText")));
        QVERIFY(service.events().isEmpty());
        UserDefaults::reload();
        QCOMPARE(UserDefaults::boolValue(QLatin1String(CalendarService::enabledKey)),
                 std::optional<bool>(false));

        // Enabling again needs no new consent and reads the day anew.
        click(row.findChild<QPushButton *>(QStringLiteral("enableButton")));
        QCOMPARE(row.statusText(), QStringLiteral("Reading events from your calendar"));
        QVERIFY(shown(&row, QStringLiteral("connectedBadge")));
        QVERIFY(!shown(&row, QStringLiteral("enableButton")));
        QTRY_COMPARE_WITH_TIMEOUT(row.detailText(), QStringLiteral("%1 events today").arg(eventsToday),
                                  20000);
    }

    void calendarTabFollowsAccessAndSwitch() {
        AppStateDependencies dependencies;
        dependencies.dataSource = std::make_unique<DataSource>(
            std::make_unique<CalendarService>(), std::make_unique<TodoistService>(offlineTodoist()));
        AppState state(std::move(dependencies));
        CalendarService *service = state.dataSource()->calendarService();
        SettingsView view(&state, service, state.dataSource()->todoistService());
        view.show();
        const QList<SettingsTab> plain{SettingsTab::General, SettingsTab::Integrations, SettingsTab::About};
        const QList<SettingsTab> withCalendar{SettingsTab::General, SettingsTab::Integrations,
                                              SettingsTab::Calendar, SettingsTab::About};
        // Switched on, but never connected: no tab.
        QTest::qWait(300);
        QVERIFY(service->isEnabled());
        QCOMPARE(view.visibleTabs(), plain);

        click(view.tabBar()->button(SettingsTab::Integrations));
        auto *row = view.currentPane()->findChild<CalendarIntegrationRow *>();
        QVERIFY(row);
        click(row->findChild<QPushButton *>(QStringLiteral("connectButton")));
        QTRY_COMPARE_WITH_TIMEOUT(view.visibleTabs(), withCalendar, 20000);
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::FullAccess);
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        QTRY_COMPARE_WITH_TIMEOUT(row->detailText(), QStringLiteral("%1 events today").arg(eventsToday),
                                  20000);

        click(view.tabBar()->button(SettingsTab::Calendar));
        QCOMPARE(view.selectedTab(), SettingsTab::Calendar);
        auto *pane = qobject_cast<CalendarSettingsView *>(view.currentPane());
        QVERIFY(pane);
        QCOMPARE(pane->findChild<QLabel *>(QStringLiteral("eventCount"))->text(),
                 QString::number(eventsToday));
        QVERIFY(groupHeader(pane, QStringLiteral("test-alpha-account")));

        // Disconnecting on the Calendar tab: access stays, the switch goes off,
        // and with it the tab; the window lands on Integrations.
        click(pane->findChild<QPushButton *>(QStringLiteral("disconnectButton")));
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::FullAccess);
        QVERIFY(!service->isEnabled());
        QCOMPARE(view.visibleTabs(), plain);
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        QVERIFY(view.tabBar()->button(SettingsTab::Integrations)->isSelected());
        QVERIFY(qobject_cast<IntegrationsSettingsView *>(view.currentPane()));
        row = view.currentPane()->findChild<CalendarIntegrationRow *>();
        QVERIFY(row);
        QCOMPARE(row->statusText(), QStringLiteral("Disabled"));

        click(row->findChild<QPushButton *>(QStringLiteral("enableButton")));
        QCOMPARE(view.visibleTabs(), withCalendar);
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        QTRY_COMPARE_WITH_TIMEOUT(row->detailText(), QStringLiteral("%1 events today").arg(eventsToday),
                                  20000);
    }

    void calendarPaneGroupsByAccountAndTogglesGroups() {
        // Connected on an earlier start.
        UserDefaults::setValue(QLatin1String(CalendarService::consentKey), true);
        auto service = std::make_unique<CalendarService>();
        QTRY_COMPARE_WITH_TIMEOUT(service->events().size(), eventsToday, 20000);
        QTRY_VERIFY(!service->isLoading());
        CalendarSettingsView pane(service.get());
        pane.resize(600, 900);
        pane.show();
        QCOMPARE(pane.findChild<QLabel *>(QStringLiteral("eventCount"))->text(),
                 QString::number(eventsToday));

        // Accounts by name, whatever their case; the calendar of no account last.
        QStringList titles;
        for (QLabel *title : pane.findChildren<QLabel *>(QStringLiteral("groupTitle")))
            titles << title->text();
        QVERIFY2(titles.size() >= 3, qPrintable(titles.join(u", ")));
        QCOMPARE(titles.last(), QStringLiteral("Other"));
        QCOMPARE(titles.count(QStringLiteral("Other")), 1);
        QVERIFY2(titles.indexOf(QStringLiteral("Alpha mail")) < titles.indexOf(QStringLiteral("zeta mail")),
                 qPrintable(titles.join(u", ")));
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        for (qsizetype i = 1; i + 1 < titles.size(); ++i)
            QVERIFY2(collator.compare(titles[i - 1], titles[i]) <= 0, qPrintable(titles.join(u", ")));
        QWidget *other = groupHeader(&pane, QStringLiteral("other"));
        QVERIFY(other);
        QCOMPARE(other->findChild<QLabel *>(QStringLiteral("groupTitle"))->text(), QStringLiteral("Other"));
        QCOMPARE(other->findChild<QLabel *>(QStringLiteral("groupCount"))->text(), QStringLiteral("· 1"));
        QCOMPARE(groupHeader(&pane, QStringLiteral("test-alpha-account"))
                     ->findChild<QLabel *>(QStringLiteral("groupCount"))
                     ->text(),
                 QStringLiteral("· 2"));

        // Opening the group of no account shows the calendar itself.
        click(other->findChild<QAbstractButton *>(QStringLiteral("chevron")));
        QVERIFY(calendarCheckbox(&pane, QStringLiteral("test-loose")));

        // A full group -> every calendar of it excluded, and nothing else.
        const QString alpha = QStringLiteral("test-alpha-account");
        QCOMPARE(groupState(&pane, alpha), ToggleState::All);
        click(groupCheckbox(&pane, alpha));
        QCOMPARE(service->disabledCalendarIds(), ids({"test-alpha-meetings", "test-alpha-travel"}));
        QCOMPARE(storedDisabledIds(), ids({"test-alpha-meetings", "test-alpha-travel"}));
        QCOMPARE(groupState(&pane, alpha), ToggleState::None);
        QCOMPARE(groupState(&pane, QStringLiteral("test-zeta-account")), ToggleState::All);
        QCOMPARE(groupState(&pane, QStringLiteral("other")), ToggleState::All);
        QCOMPARE(barLabels(*service), QStringList{QStringLiteral("Dentist")});
        {
            CalendarService restarted;
            QCOMPARE(restarted.disabledCalendarIds(), ids({"test-alpha-meetings", "test-alpha-travel"}));
        }

        // One calendar back on -> the group is mixed.
        click(groupHeader(&pane, alpha)->findChild<QAbstractButton *>(QStringLiteral("chevron")));
        QCOMPARE(pane.expandedSources(), (QSet<QString>{alpha, QStringLiteral("other")}));
        QCOMPARE(calendarCheckbox(&pane, QStringLiteral("test-alpha-travel"))->state(), ToggleState::None);
        click(calendarCheckbox(&pane, QStringLiteral("test-alpha-meetings")));
        QCOMPARE(service->disabledCalendarIds(), ids({"test-alpha-travel"}));
        QCOMPARE(storedDisabledIds(), ids({"test-alpha-travel"}));
        QCOMPARE(calendarCheckbox(&pane, QStringLiteral("test-alpha-meetings"))->state(), ToggleState::All);
        QCOMPARE(groupState(&pane, alpha), ToggleState::Some);
        QCOMPARE(barLabels(*service), (QStringList{QStringLiteral("Standup"), QStringLiteral("Dentist"),
                                                   QStringLiteral("Review")}));

        // A mixed group -> all of it on again.
        click(groupCheckbox(&pane, alpha));
        QVERIFY(service->disabledCalendarIds().isEmpty());
        QCOMPARE(groupState(&pane, alpha), ToggleState::All);
        QCOMPARE(calendarCheckbox(&pane, QStringLiteral("test-alpha-travel"))->state(), ToggleState::All);
        QVERIFY(barLabels(*service).contains(QStringLiteral("Train")));
        {
            CalendarService restarted;
            QVERIFY(restarted.disabledCalendarIds().isEmpty());
        }
    }
};

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    CalendarSettingsEdsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_calendar_settings_eds.moc"
