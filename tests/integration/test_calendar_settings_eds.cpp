// The calendar parts of the settings window driven by clicks against the real
// calendar service, reading the private evolution-data-server of the test's
// own D-Bus session.
#include "app/IntegrationsSettingsView.h"
#include "app/SettingsView.h"
#include "calendar/CalendarSettingsViews.h"
#include "core/Clock.h"
#include "core/UserDefaults.h"
#include "state/AppState.h"
#include "support/EdsFixtures.h"
#include "support/TestEnvironment.h"
#include "support/WidgetFinders.h"
#include "widgets/TriStateCheckbox.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

using namespace daybrook;
using test::click;
using test::ids;
using test::labelText;

namespace {

// A Wednesday in summer time; the clock stands at 10:00 in Berlin.
const QDate day(2026, 6, 10);
// Events on `day` over all the test calendars (an all-day one among them; one
// event tomorrow is not counted).
const QString eventsToday = QStringLiteral("5 events today");

QWidget *group(QWidget *pane, const char *key) {
    return pane->findChild<QWidget *>(QStringLiteral("group:") + QLatin1String(key));
}

template <typename T = QPushButton> T *named(QObject *root, const char *name) {
    return root->findChild<T *>(QLatin1String(name));
}

// The check box of a group ("group:<key>") or of a calendar ("calendar:<id>").
TriStateCheckbox *checkbox(QWidget *pane, const char *row) {
    QWidget *found = named<QWidget>(pane, row);
    const bool group = QByteArray(row).startsWith("group:");
    return found ? found->findChild<TriStateCheckbox *>(group ? "groupCheckbox" : "calendarCheckbox")
                 : nullptr;
}

QStringList barLabels(const CalendarService &service) {
    return test::labels(service.timeEntries(service.events()));
}

} // namespace

class CalendarSettingsEdsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ESourceRegistry *m_registry = nullptr;
    QHash<QByteArray, ECalClient *> m_clients;

    void addEvent(const char *calendar, const char *uid, const char *start, const char *end,
                  const char *title) {
        ECalClient *&client = m_clients[calendar];
        if (!client)
            client = test::connectCalendar(m_registry, calendar);
        test::writeEvent(client, test::vevent(uid, start, end, title));
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
        for (const auto &[uid, name, parent, calendar] :
             {std::tuple<const char *, const char *, const char *, bool>{"test-zeta-account", "zeta mail",
                                                                         nullptr, false},
              {"test-zeta", "Zeta", "test-zeta-account", true},
              {"test-alpha-account", "Alpha mail", nullptr, false},
              {"test-alpha-meetings", "Meetings", "test-alpha-account", true},
              {"test-alpha-travel", "Travel", "test-alpha-account", true},
              {"test-loose", "Loose", nullptr, true}})
            test::commitSource(m_registry, uid, name, parent, calendar);
        addEvent("test-alpha-meetings", "standup", "20260610T090000", "20260610T091500", "Standup");
        addEvent("test-alpha-meetings", "review", "20260610T140000", "20260610T150000", "Review");
        addEvent("test-alpha-travel", "train", "20260610T170000", "20260610T183000", "Train");
        addEvent("test-alpha-travel", "flight", "20260611T080000", "20260611T100000", "Flight tomorrow");
        addEvent("test-zeta", "offsite", "20260610", "20260611", "Offsite");
        addEvent("test-loose", "dentist", "20260610T113000", "20260610T120000", "Dentist");
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

    void connectingShowsTheTabAndDisconnectingHidesIt() {
        UserDefaults::setValue(QLatin1String(CalendarService::enabledKey),
                               QStringLiteral("maybe")); // counts as on
        AppStateDependencies dependencies;
        dependencies.dataSource = test::offlineDataSource(std::make_unique<CalendarService>());
        AppState state(std::move(dependencies));
        CalendarService *service = state.dataSource()->calendarService();
        SettingsView view(&state, service, state.dataSource()->todoistService());
        view.show();
        QList<SettingsTab> plain{SettingsTab::General, SettingsTab::Integrations, SettingsTab::About},
            withCalendar = plain;
        withCalendar.insert(2, SettingsTab::Calendar);
        // Switched on, but never connected: no tab, and nothing read.
        QTest::qWait(300);
        QCOMPARE(view.visibleTabs(), plain);
        click(view.tabBar()->button(SettingsTab::Integrations));
        auto *row = view.currentPane()->findChild<CalendarIntegrationRow *>();
        QVERIFY(row);
        QCOMPARE(row->statusText(), QStringLiteral("Not connected"));
        QVERIFY(service->events().isEmpty() && service->calendarsBySource().isEmpty());
        QVERIFY(!test::shown(row, QStringLiteral("detailText")));

        click(named(row, "connectButton"));
        QTRY_COMPARE_WITH_TIMEOUT(view.visibleTabs(), withCalendar, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(row->detailText(), eventsToday, 20000);
        QVERIFY(test::shown(row, QStringLiteral("connectedBadge")));
        QCOMPARE(row->statusText(), QStringLiteral("Reading events from your calendar"));

        click(view.tabBar()->button(SettingsTab::Calendar));
        auto *pane = qobject_cast<CalendarSettingsView *>(view.currentPane());
        QVERIFY(pane);
        QCOMPARE(labelText(pane, QStringLiteral("eventCount")), QStringLiteral("5"));

        // Disconnecting on the Calendar tab: access stays, the switch goes off,
        // and with it the tab; the window lands on Integrations.
        click(named(pane, "disconnectButton"));
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::FullAccess);
        QCOMPARE(view.visibleTabs(), plain);
        QCOMPARE(view.selectedTab(), SettingsTab::Integrations);
        row = view.currentPane()->findChild<CalendarIntegrationRow *>();
        QVERIFY(row);
        QCOMPARE(row->statusText(), QStringLiteral("Disabled"));
        UserDefaults::reload();
        QCOMPARE(UserDefaults::boolValue(QLatin1String(CalendarService::enabledKey)),
                 std::optional<bool>(false));

        // Enabling again needs no new consent and reads the day anew.
        click(named(row, "enableButton"));
        QCOMPARE(view.visibleTabs(), withCalendar);
        QTRY_COMPARE_WITH_TIMEOUT(row->detailText(), eventsToday, 20000);
    }

    void calendarPaneGroupsTogglesAddsAndRemoves() {
        UserDefaults::setValue(QLatin1String(CalendarService::consentKey), true);
        auto service = std::make_unique<CalendarService>();
        QTRY_COMPARE_WITH_TIMEOUT(service->events().size(), 5, 20000);
        CalendarSettingsView pane(service.get());
        pane.resize(600, 900);
        pane.show();

        // Accounts by name, whatever their case; the calendar of no account last.
        QStringList titles;
        for (QLabel *title : pane.findChildren<QLabel *>(QStringLiteral("groupTitle")))
            titles << title->text();
        QVERIFY2(titles.indexOf(QStringLiteral("Alpha mail")) < titles.indexOf(QStringLiteral("zeta mail")),
                 qPrintable(titles.join(u", ")));
        QCOMPARE(titles.last(), QStringLiteral("Other"));
        QCOMPARE(labelText(group(&pane, "test-alpha-account"), QStringLiteral("groupCount")),
                 QStringLiteral("· 2"));

        // A full group -> every calendar of it excluded, and nothing else.
        const char *alpha = "group:test-alpha-account";
        click(checkbox(&pane, alpha));
        QCOMPARE(service->disabledCalendarIds(), ids({"test-alpha-meetings", "test-alpha-travel"}));
        QCOMPARE(checkbox(&pane, alpha)->state(), ToggleState::None);
        QCOMPARE(checkbox(&pane, "group:other")->state(), ToggleState::All);
        QCOMPARE(barLabels(*service), QStringList{QStringLiteral("Dentist")});
        QCOMPARE(CalendarService().disabledCalendarIds(), ids({"test-alpha-meetings", "test-alpha-travel"}));

        // One calendar back on -> the group is mixed; then all of it on again.
        click(named<QAbstractButton>(group(&pane, "test-alpha-account"), "chevron"));
        click(checkbox(&pane, "calendar:test-alpha-meetings"));
        QCOMPARE(service->disabledCalendarIds(), ids({"test-alpha-travel"}));
        QCOMPARE(checkbox(&pane, alpha)->state(), ToggleState::Some);
        QCOMPARE(barLabels(*service), (QStringList{"Standup", "Dentist", "Review"}));
        click(checkbox(&pane, alpha));
        QVERIFY(service->disabledCalendarIds().isEmpty());
        QCOMPARE(checkbox(&pane, "calendar:test-alpha-travel")->state(), ToggleState::All);
        QVERIFY(CalendarService().disabledCalendarIds().isEmpty());

        test::FeedServer web;
        web.body = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nX-WR-CALNAME:Club\r\n" +
                   test::vevent("match", "20260610T190000", "20260610T210000", "Match") + "END:VCALENDAR\r\n";
        // A page that is no calendar: the dialog stays and says why.
        click(named(&pane, "addCalendarButton"));
        auto *dialog = pane.findChild<AddCalendarDialog *>();
        auto *add = named(dialog, "addButton");
        QVERIFY(dialog->isVisible() && !add->isEnabled());
        dialog->findChild<QLineEdit *>()->setText(web.url("/page.html"));
        click(add);
        QTRY_VERIFY(test::shown(dialog, QStringLiteral("addressError")));
        QVERIFY(labelText(dialog, QStringLiteral("addressError")).contains(QLatin1String("iCalendar")));

        // The feed itself: the dialog closes, and the calendar is listed under its own heading.
        dialog->findChild<QLineEdit *>()->setText(web.url("/feed.ics"));
        click(add);
        QTRY_VERIFY_WITH_TIMEOUT(!pane.findChild<AddCalendarDialog *>(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(group(&pane, "daybrook-subscriptions"), 20000);
        QCOMPARE(labelText(group(&pane, "daybrook-subscriptions"), QStringLiteral("groupTitle")),
                 QStringLiteral("Added by Daybrook"));
        QVERIFY(!named(&pane, "removeCalendarButton"));
        click(named<QAbstractButton>(group(&pane, "daybrook-subscriptions"), "chevron"));
        QCOMPARE(pane.findChildren<QPushButton *>(QStringLiteral("removeCalendarButton")).size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(barLabels(*service).contains(QStringLiteral("Match")), 20000);

        click(named(&pane, "removeCalendarButton"));
        QTRY_VERIFY_WITH_TIMEOUT(!named(&pane, "removeCalendarButton"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!barLabels(*service).contains(QStringLiteral("Match")), 20000);

        // Disconnecting forgets the exclusions, stored ones included.
        click(checkbox(&pane, alpha));
        click(named(&pane, "disconnectButton"));
        QVERIFY(service->disabledCalendarIds().isEmpty() && service->events().isEmpty());
        QVERIFY(!UserDefaults::contains(QLatin1String(CalendarService::disabledCalendarsKey)));
    }
};

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    CalendarSettingsEdsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_calendar_settings_eds.moc"
