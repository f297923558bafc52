#include "app/SettingsView.h"
#include "calendar/CalendarSettingsViews.h"
#include "core/Clock.h"
#include "core/UserDefaults.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"
#include "support/WidgetFinders.h"
#include "todoist/TodoistService.h"
#include "widgets/TriStateCheckbox.h"

#include <QApplication>
#include <QCoroTask>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QHttpServer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

using namespace daybrook;
using test::click;
using test::ids;
using test::labelText;

// Calendars and events are written through libecal into the private
// evolution-data-server of the test's own D-Bus session, or published on a web
// server on 127.0.0.1 for its web calendar backend to fetch, then read back
// through the service and the settings window. The day is 2026-03-29 in
// Berlin: summer time starts at 02:00, so the day has 23 hours. The settings
// window is shown on `june`, a Wednesday in summer time.

// The store answers through several processes; on a loaded machine that takes
// its time, so every wait here is a long one.
#define WAIT(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, 30000)
#define WAIT_EQ(actual, expected) QTRY_COMPARE_WITH_TIMEOUT(actual, expected, 30000)

namespace {

// Ends the test program when a call into the calendar store failed: nothing
// after it could be trusted.
void checkGLib(gboolean ok, GError *error, const char *what) {
    if (!ok)
        qFatal("%s: %s", what, error ? error->message : "failed");
}

ICalTimezone *berlin() {
    return i_cal_timezone_get_builtin_timezone("Europe/Berlin");
}

// An event in Berlin time; times are "yyyyMMddTHHmmss", or "yyyyMMdd" for a
// date. `extra` holds whole content lines ("RRULE:...\r\n").
QByteArray vevent(const char *uid, const char *start, const char *end, const char *summary,
                  const QByteArray &extra = {}) {
    const QByteArray zone =
        qstrlen(start) == 8 ? ";VALUE=DATE:" : ";TZID=" + QByteArray(i_cal_timezone_get_tzid(berlin())) + ":";
    return "BEGIN:VEVENT\r\nUID:" + QByteArray(uid) + "\r\nDTSTAMP:20260301T000000Z\r\nDTSTART" + zone +
           start + "\r\nDTEND" + zone + end + "\r\n" +
           (summary ? "SUMMARY:" + QByteArray(summary) + "\r\n" : "") + extra + "END:VEVENT\r\n";
}

// Creates the event, or with `modify` changes the one it names.
void writeEvent(ECalClient *client, const QByteArray &ics,
                std::optional<ECalObjModType> modify = std::nullopt) {
    GError *error = nullptr;
    ICalComponent *component = i_cal_component_new_from_string(ics.constData());
    checkGLib(component != nullptr, nullptr, ics.constData());
    checkGLib(modify ? e_cal_client_modify_object_sync(client, component, *modify, E_CAL_OPERATION_FLAG_NONE,
                                                       nullptr, &error)
                     : e_cal_client_create_object_sync(client, component, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                                       nullptr, &error),
              error, "write event");
    g_object_unref(component);
}

// A data source reading the calendar store, with Todoist out of reach.
std::unique_ptr<DataSource> offlineDataSource(std::unique_ptr<CalendarService> calendar) {
    TodoistConfig offline;
    offline.apiBaseUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
    return std::make_unique<DataSource>(std::move(calendar), std::make_unique<TodoistService>(offline));
}

// What `get` gives for each item, in order.
template <typename List, typename Get> QStringList each(const List &list, Get get) {
    QStringList result;
    for (const auto &item : list)
        result << std::invoke(get, item);
    return result;
}

const QDate day(2026, 3, 29), june(2026, 6, 10);

QDateTime utc(const char *iso) {
    return QDateTime::fromString(QLatin1String(iso) + u'Z', Qt::ISODate);
}

// The value of a coroutine run to its end while the event loop turns (true
// for one without a value); absent when it did not end (a hang).
template <typename T, typename V = std::conditional_t<std::is_void_v<T>, bool, T>>
std::optional<V> result(QCoro::Task<T> task) {
    auto value = std::make_shared<std::optional<V>>();
    [](QCoro::Task<T> inner, std::shared_ptr<std::optional<V>> out) -> QCoro::Task<> {
        if constexpr (std::is_void_v<T>) {
            co_await inner;
            *out = true;
        } else
            *out = co_await inner;
    }(std::move(task), value);
    (void)QTest::qWaitFor([&] { return value->has_value(); }, 30000);
    return *value;
}

std::optional<CalendarEvent> findEvent(const QList<CalendarEvent> &events, const char *title) {
    const auto it = std::find_if(events.begin(), events.end(), [&](auto &e) { return e.title == title; });
    return it == events.end() ? std::nullopt : std::optional(*it);
}

std::optional<TimeEntry> entryNamed(const TimeEntryList &entries, const char *label) {
    const auto it = std::find_if(entries.begin(), entries.end(), [&](auto &e) { return e.label() == label; });
    return it == entries.end() ? std::nullopt : std::optional(*it);
}

// Everything the private session bus runs for evolution-data-server.
QList<uint> edsProcesses() {
    QList<uint> pids;
    auto *bus = QDBusConnection::sessionBus().interface();
    for (const QString &name : bus->registeredServiceNames().value())
        if (name.startsWith("org.gnome.evolution.dataserver."))
            if (const uint pid = bus->servicePid(name).value(); pid && !pids.contains(pid))
                pids << pid;
    return pids;
}

// Makes the bus unable to start the calendar server again, as on a system
// where it is missing.
void blockServer(bool blocked) {
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/dbus-1/services/";
    QDir().mkpath(dir);
    for (const char *name : {"Sources5", "Calendar8", "AddressBook10", "UserPrompter0"}) {
        const QByteArray service = QByteArray("org.gnome.evolution.dataserver.") + name;
        QFile file(dir + service + ".service");
        QVERIFY(blocked ? file.open(QIODevice::WriteOnly) &&
                              file.write("[D-BUS Service]\nName=" + service + "\nExec=/bin/false\n") > 0
                        : file.remove());
    }
    const auto reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReloadConfig"));
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

// A feed in a zone of its own (not one the store knows by name) with a timed
// event, an all-day one, and a weekly series whose occurrence today was moved.
// An edit on the server shows in the event's stamp, as on every real server.
QByteArray feed(const char *callTitle, const char *stamp = "20260301T000000Z") {
    QFile file(qEnvironmentVariable("DAYBROOK_SOURCE_DIR") + QStringLiteral("/tests/support/web-feed.ics"));
    [&] { QVERIFY(file.open(QIODevice::ReadOnly)); }();
    return file.readAll().replace("@TITLE@", callTitle).replace("@STAMP@", stamp).replace("\n", "\r\n");
}

template <typename T = QWidget> T *named(QObject *root, const char *name) {
    return root->findChild<T *>(QLatin1String(name));
}

// The check box of a group ("group:<key>") or of a calendar ("calendar:<id>"),
// each row holding one.
TriStateCheckbox *checkbox(QWidget *pane, const char *row) {
    return named(pane, row)->findChild<TriStateCheckbox *>();
}

QStringList barLabels(const CalendarService &service) {
    return each(service.timeEntries(service.events()), &TimeEntry::label);
}

} // namespace

class CalendarEdsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ESourceRegistry *m_registry = nullptr;
    QHash<QByteArray, ECalClient *> m_clients;
    // A calendar published on the web at /feed.ics, and an HTML page at
    // /page.html (anything else is a 404), on 127.0.0.1.
    QHttpServer m_web;
    QByteArray m_feed;
    QString url(const char *path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_web.servers().first()->serverPort()).arg(path);
    }

    // A calendar to write to, connected once (when the registry lists it) and
    // taught the Europe/Berlin zone.
    ECalClient *client(const char *uid) {
        ECalClient *&client = m_clients[uid];
        if (client)
            return client;
        GError *error = nullptr;
        ESource *source = nullptr;
        (void)QTest::qWaitFor([&] { return (source = e_source_registry_ref_source(m_registry, uid)); },
                              30000);
        checkGLib(source != nullptr, nullptr, uid);
        client = E_CAL_CLIENT(
            e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, guint32(-1), nullptr, &error));
        checkGLib(client != nullptr, error, "connect");
        g_object_unref(source);
        checkGLib(e_cal_client_add_timezone_sync(client, berlin(), nullptr, &error), error, "add zone");
        return client;
    }

    // Consent given, and the store reached; changes are read again soon.
    static std::unique_ptr<CalendarService> connectedService() {
        UserDefaults::setValue(QLatin1String(CalendarService::consentKey), true);
        auto service = std::make_unique<CalendarService>();
        service->setChangeDelayMs(300);
        [&] { WAIT_EQ(service->authorizationStatus(), CalendarAuthorization::FullAccess); }();
        return service;
    }

private Q_SLOTS:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        // Nothing may reach a location service of this machine (GeoClue is on the system bus).
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath("no-bus")));
        test::setTimeZone("Europe/Berlin");
        m_web.route("/feed.ics", [this] { return QHttpServerResponse("text/calendar", m_feed); });
        m_web.route("/page.html",
                    [] { return QHttpServerResponse("text/html", "<html><body>Hi</body></html>"); });
        QVERIFY(m_web.listen(QHostAddress::LocalHost) && m_dir.isValid());
        GError *error = nullptr;
        m_registry = e_source_registry_new_sync(nullptr, &error);
        checkGLib(m_registry != nullptr, error, "registry");
        // Accounts have no backend. A calendar keeps the colour the store gives
        // it unless `color` is set; nullptr takes it away. The zeta account's
        // calendars are made before the alpha one's, so that the order on
        // screen cannot come from the order of creation.
        const struct {
            const char *uid, *name, *parent, *backend;
            const char *color = "";
        } sources[] = {{"test-work-account", "Work account", nullptr, nullptr},
                       {"test-work", "Work", "test-work-account", "local", "#ff8800"},
                       {"test-plain", "Plain", nullptr, "local", nullptr},
                       {"test-zeta-account", "zeta mail", nullptr, nullptr},
                       {"test-zeta", "Zeta", "test-zeta-account", "local"},
                       {"test-alpha-account", "Alpha mail", nullptr, nullptr},
                       {"test-alpha-meetings", "Meetings", "test-alpha-account", "local"},
                       {"test-alpha-travel", "Travel", "test-alpha-account", "local"},
                       {"test-loose", "Loose", nullptr, "local"}};
        for (const auto &s : sources) {
            ESource *source = e_source_new_with_uid(s.uid, nullptr, &error);
            checkGLib(source != nullptr, error, "new source");
            e_source_set_display_name(source, s.name);
            e_source_set_parent(source, s.parent);
            if (s.backend) {
                auto *extension = e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR);
                e_source_backend_set_backend_name(E_SOURCE_BACKEND(extension), s.backend);
                if (!s.color || *s.color)
                    e_source_selectable_set_color(E_SOURCE_SELECTABLE(extension), s.color);
            }
            checkGLib(e_source_registry_commit_source_sync(m_registry, source, nullptr, &error), error,
                      "commit");
            g_object_unref(source);
        }

        const struct {
            const char *calendar, *uid, *start, *end, *summary, *extra = "";
        } events[] = {
            {"system-calendar", "standup", "20260329T090000", "20260329T093000", "Standup"},
            {"system-calendar", "holiday", "20260329", "20260330", "Holiday"},
            {"system-calendar", "stretch", "20260320T070000", "20260320T071500", "Stretch",
             "RRULE:FREQ=DAILY;COUNT=30\r\n"},
            {"system-calendar", "night", "20260328T220000", "20260329T060000", "Night shift"},
            {"system-calendar", "ended", "20260328T230000", "20260329T000000", "Ended at midnight"},
            {"system-calendar", "untitled", "20260329T120000", "20260329T121500", nullptr},
            {"system-calendar", "lunch", "20260327T120000", "20260327T123000", "Lunch",
             "RRULE:FREQ=DAILY;COUNT=5\r\n"},
            {"test-work", "late", "20260329T233000", "20260329T234500", "Late call"},
            {"test-work", "tomorrow", "20260330T003000", "20260330T010000", "After midnight"},
            {"test-plain", "plain", "20260329T150000", "20260329T151500", "Plain event"},
            {"test-alpha-meetings", "standup", "20260610T090000", "20260610T091500", "Standup"},
            {"test-alpha-meetings", "review", "20260610T140000", "20260610T150000", "Review"},
            {"test-alpha-travel", "train", "20260610T170000", "20260610T183000", "Train"},
            {"test-alpha-travel", "flight", "20260611T080000", "20260611T100000", "Flight tomorrow"},
            {"test-zeta", "offsite", "20260610", "20260611", "Offsite"},
            {"test-loose", "dentist", "20260610T113000", "20260610T120000", "Dentist"}};
        for (const auto &e : events)
            writeEvent(client(e.calendar), vevent(e.uid, e.start, e.end, e.summary, e.extra));
        // The daily lunch today was moved by half an hour.
        writeEvent(client("system-calendar"),
                   vevent("lunch", "20260329T123000", "20260329T130000", "Lunch (late)",
                          "RECURRENCE-ID;TZID=" + QByteArray(i_cal_timezone_get_tzid(berlin())) +
                              ":20260329T120000\r\n"),
                   E_CAL_OBJ_MOD_THIS);
    }

    void init() {
        test::resetUserDefaults();
        Clock::freezeAt(test::localTime(10, 0, 0, day));
    }

    void cleanupTestCase() {
        for (ECalClient *client : std::as_const(m_clients))
            g_object_unref(client);
        if (m_registry)
            g_object_unref(m_registry);
        Clock::reset();
    }

    void readsTheWholeCivilDayAndFollowsChanges() {
        auto source = offlineDataSource(connectedService());
        CalendarService *service = source->calendarService();
        QVERIFY(result(service->fetchEvents()));
        const QList<CalendarEvent> events = service->events();
        // Recurrence expanded in local time across the clock change (Stretch).
        for (const auto &[title, start, end, allDay] :
             {std::tuple{"Night shift", "2026-03-28T21:00:00", "2026-03-29T04:00:00", false},
              {"Stretch", "2026-03-29T05:00:00", "2026-03-29T05:15:00", false},
              {"Lunch (late)", "2026-03-29T10:30:00", "2026-03-29T11:00:00", false},
              {"Holiday", "2026-03-28T23:00:00", "2026-03-29T22:00:00", true}}) {
            const auto event = findEvent(events, title);
            QCOMPARE((std::tuple{*event->startDate, *event->endDate, event->isAllDay}),
                     (std::tuple{utc(start), utc(end), allDay}));
        }
        // Each occurrence is named by the time it was planned for, even when moved.
        QCOMPARE(each(events, &CalendarEvent::identifier).filter(QStringLiteral("/")),
                 (QStringList{"stretch/20260329T050000Z", "lunch/20260329T100000Z"}));

        // Entries, ascending by start: no all-day event; texts and colours as
        // the calendars give them. Not there: the event that ended at midnight
        // and the one after midnight (which a 24-hour window from midnight
        // would still catch on this 23-hour day).
        const TimeEntryList entries = service->timeEntries(events);
        QCOMPARE(each(entries, &TimeEntry::label), (QStringList{"Night shift", "Stretch", "Standup", "Event",
                                                                "Lunch (late)", "Plain event", "Late call"}));
        const auto late = entryNamed(entries, "Late call");
        QVERIFY(late->color().toQColor().name() == "#ff8800" && late->groupName() == "Work");
        QCOMPARE(entryNamed(entries, "Plain event")->color(), standardBlue());

        // An edit in another program reaches the bar by itself.
        writeEvent(client("system-calendar"),
                   vevent("standup", "20260329T091500", "20260329T094500", "Standup (moved)"),
                   E_CAL_OBJ_MOD_ALL);
        WAIT(entryNamed(source->timeEntries(), "Standup (moved)"));
        QCOMPARE(entryNamed(source->timeEntries(), "Standup (moved)")->startTime(),
                 utc("2026-03-29T07:15:00"));
    }

    void subscribesToACalendarOnTheWeb() {
        m_feed = feed("Web call");
        auto source = offlineDataSource(connectedService());
        CalendarService *service = source->calendarService();
        const qsizetype before = service->calendarsBySource().size();
        CalendarSettingsView pane(service);
        pane.resize(600, 900);
        pane.show();
        // A page that is no calendar: the dialog stays and says why.
        click(named(&pane, "addCalendarButton"));
        auto *dialog = pane.findChild<AddCalendarDialog *>();
        auto *add = named(dialog, "addButton");
        QVERIFY(dialog->isVisible() && !add->isEnabled());
        dialog->findChild<QLineEdit *>()->setText(url("/page.html"));
        click(add);
        WAIT(test::shown(dialog, QStringLiteral("addressError")));
        QVERIFY(labelText(dialog, QStringLiteral("addressError")).contains("other than an iCalendar file"));

        // The feed itself: the dialog closes, and the calendar is listed under
        // the program's own heading, removable, in its own colour.
        dialog->findChild<QLineEdit *>()->setText(url("/feed.ics"));
        click(add);
        WAIT(!pane.findChild<AddCalendarDialog *>() && named(&pane, "group:daybrook-subscriptions"));
        QCOMPARE(labelText(named(&pane, "group:daybrook-subscriptions"), QStringLiteral("groupTitle")),
                 QStringLiteral("Added by Daybrook"));
        QVERIFY(!named(&pane, "removeCalendarButton"));
        click(named<QAbstractButton>(named(&pane, "group:daybrook-subscriptions"), "chevron"));
        QCOMPARE(pane.findChildren<QPushButton *>(QStringLiteral("removeCalendarButton")).size(), 1);
        QCOMPARE(service->calendarsBySource().size(), before + 1); // a group of its own

        // The store itself fetched the feed, with its name, recurrences and zone,
        // and the first colour of the palette that no calendar has yet.
        WAIT(entryNamed(source->timeEntries(), "Web call"));
        const TimeEntryList entries = source->timeEntries();
        const auto call = entryNamed(entries, "Web call");
        QCOMPARE((std::tuple{call->startTime(), call->groupName(), call->color().toQColor().name()}),
                 (std::tuple{utc("2026-03-29T10:00:00"), std::optional<QString>("Team, on the web"),
                             QString("#3584e4")}));
        QCOMPARE(entryNamed(entries, "Weekly (moved)")->startTime(), utc("2026-03-29T08:00:00"));
        QVERIFY(!entryNamed(entries, "Weekly") && findEvent(service->events(), "Web day")->isAllDay);

        // A change on the web shows after Refresh.
        m_feed = feed("Web call (changed)", "20260329T070000Z");
        QVERIFY(result(service->refresh()));
        WAIT(entryNamed(source->timeEntries(), "Web call (changed)"));

        // Only calendars added here can be removed here; removing one takes its events.
        QVERIFY(!result(service->removeCalendar(QStringLiteral("test-work"))).value_or(QString()).isEmpty());
        click(named(&pane, "removeCalendarButton"));
        WAIT(!entryNamed(source->timeEntries(), "Web call (changed)"));
        WAIT(!named(&pane, "removeCalendarButton") && service->calendarsBySource().size() == before);
    }

    void refusesAddressesThatGiveNoCalendar_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("webcal://127.0.0.1:%1/feed.ics").arg(closed.serverPort());
        QTest::newRow("not found") << url("/missing.ics") << "(HTTP 404 Not Found)";
        QTest::newRow("nobody listening") << refused << "Could not connect to 127.0.0.1";
        QTest::newRow("another scheme") << QString("ftp://127.0.0.1/feed.ics") << "not a calendar address";
        QTest::newRow("no host") << QString("webcal:///feed.ics") << "not a calendar address";
    }
    void refusesAddressesThatGiveNoCalendar() {
        QFETCH(QString, address);
        QFETCH(QString, message);
        auto service = connectedService();
        const qsizetype before = service->calendarsBySource().size();
        const auto added = result(service->addCalendarFromUrl(address));
        QVERIFY(added && !added->ok);
        QVERIFY2(added->text.contains(message), qPrintable(added->text));
        // A late add would show here.
        (void)QSignalSpy(service.get(), &CalendarService::calendarsChanged).wait(200);
        QCOMPARE(service->calendarsBySource().size(), before);
    }

    void connectingShowsTheTabWhereGroupsToggle() {
        Clock::freezeAt(test::localTime(10, 0, 0, june));
        UserDefaults::setValue(QLatin1String(CalendarService::enabledKey), "maybe"); // counts as on
        AppStateDependencies dependencies;
        dependencies.dataSource = offlineDataSource(std::make_unique<CalendarService>());
        AppState state(std::move(dependencies));
        CalendarService *service = state.dataSource()->calendarService();
        SettingsView view(&state, service, state.dataSource()->todoistService());
        view.show();
        QList<SettingsTab> plain{SettingsTab::General, SettingsTab::Integrations, SettingsTab::About},
            withCalendar = plain;
        withCalendar.insert(2, SettingsTab::Calendar);
        // Switched on, but never connected: no tab, and nothing read.
        (void)QSignalSpy(service, &CalendarService::eventsChanged).wait(300); // a read would show here
        QCOMPARE(view.visibleTabs(), plain);
        click(view.tabBar()->button(SettingsTab::Integrations));
        auto *row = view.currentPane()->findChild<CalendarIntegrationRow *>();
        QCOMPARE(row ? row->statusText() : QString(), QStringLiteral("Not connected"));
        QVERIFY(service->events().isEmpty() && service->calendarsBySource().isEmpty());

        click(named(row, "connectButton"));
        WAIT_EQ(view.visibleTabs(), withCalendar);
        // All of `june` over all the test calendars (an all-day event among them;
        // the one the next day is not counted).
        WAIT_EQ(row->detailText(), QStringLiteral("5 events today"));
        click(view.tabBar()->button(SettingsTab::Calendar));
        auto *pane = qobject_cast<CalendarSettingsView *>(view.currentPane());
        QCOMPARE(pane ? labelText(pane, QStringLiteral("eventCount")) : QString(), QStringLiteral("5"));

        // Accounts by name; the calendar of no account last.
        const QStringList titles =
            each(pane->findChildren<QLabel *>(QStringLiteral("groupTitle")), &QLabel::text);
        QVERIFY2(titles.indexOf("Alpha mail") < titles.indexOf("zeta mail"), qPrintable(titles.join(u", ")));
        QCOMPARE(titles.last(), QStringLiteral("Other"));
        QCOMPARE(labelText(named(pane, "group:test-alpha-account"), QStringLiteral("groupCount")),
                 QStringLiteral("· 2"));

        // A full group -> every calendar of it excluded, and nothing else.
        const char *alpha = "group:test-alpha-account";
        click(checkbox(pane, alpha));
        QCOMPARE(service->disabledCalendarIds(), ids({"test-alpha-meetings", "test-alpha-travel"}));
        QCOMPARE(checkbox(pane, alpha)->state(), ToggleState::None);
        QCOMPARE(checkbox(pane, "group:other")->state(), ToggleState::All);
        QCOMPARE(barLabels(*service), QStringList{QStringLiteral("Dentist")});
        QCOMPARE(CalendarService().disabledCalendarIds(), ids({"test-alpha-meetings", "test-alpha-travel"}));

        // One calendar back on -> the group is mixed; then all of it on again.
        click(named<QAbstractButton>(named(pane, "group:test-alpha-account"), "chevron"));
        click(checkbox(pane, "calendar:test-alpha-meetings"));
        QCOMPARE(service->disabledCalendarIds(), ids({"test-alpha-travel"}));
        QCOMPARE(checkbox(pane, alpha)->state(), ToggleState::Some);
        QCOMPARE(barLabels(*service), (QStringList{"Standup", "Dentist", "Review"}));
        click(checkbox(pane, alpha));
        QVERIFY(service->disabledCalendarIds().isEmpty());
        QCOMPARE(checkbox(pane, "calendar:test-alpha-travel")->state(), ToggleState::All);
        QVERIFY(CalendarService().disabledCalendarIds().isEmpty());

        // Disconnecting on the Calendar tab: access stays, the switch goes off
        // and with it the tab, and the exclusions are forgotten, stored ones included.
        click(checkbox(pane, alpha));
        click(named(pane, "disconnectButton"));
        QVERIFY(service->disabledCalendarIds().isEmpty() && service->events().isEmpty());
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::FullAccess);
        QCOMPARE(view.visibleTabs(), plain);
        UserDefaults::reload();
        QCOMPARE(UserDefaults::boolValue(QLatin1String(CalendarService::enabledKey)), false);
        QVERIFY(!UserDefaults::contains(QLatin1String(CalendarService::disabledCalendarsKey)));

        // Enabling again needs no new consent and reads the day anew.
        row = view.currentPane()->findChild<CalendarIntegrationRow *>();
        click(named(row, "enableButton"));
        QCOMPARE(view.visibleTabs(), withCalendar);
        WAIT_EQ(row->detailText(), QStringLiteral("5 events today"));
    }

    void saysWhenTheServiceIsMissingAndRetries() {
        auto service = connectedService();
        QVERIFY(result(service->fetchEvents()));
        const auto before = service->events().size();
        CalendarIntegrationRow row(service.get());

        blockServer(true);
        for (const uint pid : edsProcesses())
            ::kill(pid_t(pid), SIGTERM);
        WAIT(edsProcesses().isEmpty());

        // The next read ends, and says the store is out of reach.
        QVERIFY(result(service->fetchEvents()));
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::Restricted);
        QVERIFY(!service->isLoading() && service->calendarsBySource().isEmpty());
        QVERIFY(row.statusText().contains(QLatin1String("install evolution-data-server")));
        auto *retry = row.findChild<QPushButton *>(QStringLiteral("retryButton"));
        QVERIFY(retry && !retry->isHidden());

        // Connecting for the first time now says the same, instead of nothing.
        UserDefaults::remove(QLatin1String(CalendarService::consentKey));
        CalendarService fresh;
        QCOMPARE(result(fresh.requestAccess()), std::optional<bool>(false));
        QCOMPARE(fresh.authorizationStatus(), CalendarAuthorization::Restricted);

        // Once the server can run again, the button brings everything back.
        blockServer(false);
        retry->click();
        WAIT_EQ(service->authorizationStatus(), CalendarAuthorization::FullAccess);
        WAIT_EQ(service->events().size(), before);
        QVERIFY(row.statusText().startsWith(QLatin1String("Reading events")));
    }
};

QTEST_MAIN(CalendarEdsTest)
#include "test_calendar_eds.moc"
