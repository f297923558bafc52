#include "calendar/CalendarSettingsViews.h"
#include "core/Clock.h"
#include "core/UserDefaults.h"
#include "support/EdsFixtures.h"
#include "support/TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <csignal>

using namespace daybrook;

// Calendars and events are written through libecal into the private
// evolution-data-server of the test's own D-Bus session, or published on a web
// server on 127.0.0.1 for its web calendar backend to fetch, then read back
// through the service. The day is 2026-03-29 in Berlin: summer time starts at
// 02:00, so the day has 23 hours.

namespace {

const QDate day(2026, 3, 29);

QDateTime utc(const char *iso) {
    return QDateTime::fromString(QLatin1String(iso) + u'Z', Qt::ISODate);
}

// The value of a coroutine run to its end while the event loop turns; absent
// when it did not end (a hang).
template <typename T> std::optional<T> result(QCoro::Task<T> task, int timeoutMs = 30000) {
    auto value = std::make_shared<std::optional<T>>();
    [](QCoro::Task<T> inner, std::shared_ptr<std::optional<T>> out) -> QCoro::Task<> {
        *out = co_await inner;
    }(std::move(task), value);
    (void)QTest::qWaitFor([&] { return value->has_value(); }, timeoutMs);
    return *value;
}

QCoro::Task<bool> ended(QCoro::Task<> task) {
    co_await task;
    co_return true;
}

bool finishes(QCoro::Task<> task) {
    return result(ended(std::move(task))).has_value();
}

std::optional<CalendarEvent> findEvent(const QList<CalendarEvent> &events, const char *title) {
    const auto it = std::find_if(events.begin(), events.end(), [&](auto &e) { return e.title == title; });
    return it == events.end() ? std::nullopt : std::optional(*it);
}

std::optional<TimeEntry> entryNamed(const TimeEntryList &entries, const char *label) {
    const auto it = std::find_if(entries.begin(), entries.end(), [&](auto &e) { return e.label() == label; });
    return it == entries.end() ? std::nullopt : std::optional(*it);
}

QStringList calendarIds(const CalendarService &service) {
    QStringList ids;
    for (const CalendarGroup &group : service.calendarsBySource())
        for (const Calendar &calendar : group.calendars)
            ids << calendar.identifier;
    return ids;
}

// Everything the private session bus runs for evolution-data-server.
QList<uint> edsProcesses() {
    QList<uint> pids;
    auto *bus = QDBusConnection::sessionBus().interface();
    for (const QString &name : bus->registeredServiceNames().value())
        if (name.startsWith(QLatin1String("org.gnome.evolution.dataserver.")))
            if (const uint pid = bus->servicePid(name).value(); pid && !pids.contains(pid))
                pids << pid;
    return pids;
}

// Makes the bus unable to start the calendar server again, as on a system
// where it is missing.
void blockServer(bool blocked) {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                        QStringLiteral("/dbus-1/services");
    QDir().mkpath(dir);
    for (const char *name : {"Sources5", "Calendar8", "AddressBook10", "UserPrompter0"}) {
        const QByteArray service = QByteArray("org.gnome.evolution.dataserver.") + name;
        QFile file(dir + QLatin1Char('/') + QLatin1String(service) + QStringLiteral(".service"));
        if (blocked && file.open(QIODevice::WriteOnly))
            file.write("[D-BUS Service]\nName=" + service + "\nExec=/bin/false\n");
        else if (!blocked)
            file.remove();
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

} // namespace

class CalendarEdsTest : public QObject {
    Q_OBJECT

    ESourceRegistry *m_registry = nullptr;
    QList<ECalClient *> m_clients;
    test::FeedServer m_web;

    static std::unique_ptr<CalendarService> connectedService() {
        UserDefaults::setValue(QLatin1String(CalendarService::consentKey), true);
        return std::make_unique<CalendarService>();
    }

    static std::unique_ptr<DataSource> connectedSource() {
        auto source = test::offlineDataSource(connectedService());
        source->calendarService()->setChangeDelayMs(300);
        return source;
    }

private Q_SLOTS:
    void initTestCase() {
        test::setTimeZone("Europe/Berlin");
        Clock::freezeAt(test::localTime(10, 0, 0, day));
        test::resetUserDefaults();
        QVERIFY(m_web.port);

        GError *error = nullptr;
        m_registry = e_source_registry_new_sync(nullptr, &error);
        test::checkGLib(m_registry != nullptr, error, "registry");
        test::commitSource(m_registry, "test-work-account", "Work account", nullptr, false);
        test::commitSource(m_registry, "test-work", "Work", "test-work-account", true, "#ff8800");
        test::commitSource(m_registry, "test-plain", "Plain", nullptr, true, nullptr);
        for (const char *uid : {"system-calendar", "test-work", "test-plain"})
            m_clients << test::connectCalendar(m_registry, uid);
        ECalClient *personal = m_clients[0], *work = m_clients[1], *plain = m_clients[2];

        const struct {
            ECalClient *client;
            const char *uid, *start, *end, *summary, *extra;
        } events[] = {
            {personal, "standup", "20260329T090000", "20260329T093000", "Standup", ""},
            {personal, "holiday", "20260329", "20260330", "Holiday", ""},
            {personal, "stretch", "20260320T070000", "20260320T071500", "Stretch", "RRULE:FREQ=DAILY\r\n"},
            {personal, "night", "20260328T220000", "20260329T060000", "Night shift", ""},
            {personal, "ended", "20260328T230000", "20260329T000000", "Ended at midnight", ""},
            {personal, "untitled", "20260329T120000", "20260329T121500", nullptr, ""},
            {personal, "lunch", "20260327T120000", "20260327T123000", "Lunch",
             "RRULE:FREQ=DAILY;COUNT=5\r\n"},
            {work, "late", "20260329T233000", "20260329T234500", "Late call", ""},
            {work, "tomorrow", "20260330T003000", "20260330T010000", "After midnight", ""},
            {plain, "plain", "20260329T150000", "20260329T151500", "Plain event", ""}};
        for (const auto &e : events)
            test::writeEvent(e.client, test::vevent(e.uid, e.start, e.end, e.summary, e.extra));
        // The daily lunch today was moved by half an hour.
        test::writeEvent(personal,
                         test::vevent("lunch", "20260329T123000", "20260329T130000", "Lunch (late)",
                                      "RECURRENCE-ID;TZID=" + test::berlinZoneId() + ":20260329T120000\r\n"),
                         E_CAL_OBJ_MOD_THIS);
    }

    void cleanupTestCase() {
        for (ECalClient *client : std::as_const(m_clients))
            g_object_unref(client);
        if (m_registry)
            g_object_unref(m_registry);
        Clock::reset();
    }

    void readsTheWholeCivilDay() {
        auto service = connectedService();
        QVERIFY(finishes(service->fetchEvents()));
        const QList<CalendarEvent> events = service->events();
        QStringList titles;
        QStringList ids;
        for (const CalendarEvent &event : events) {
            titles << event.title.value_or(QStringLiteral("<none>"));
            ids << event.identifier;
        }
        // Ascending by start. Not there: the event that ended at midnight and
        // the one after midnight (which a 24-hour window from midnight would
        // still catch on this 23-hour day).
        QCOMPARE(titles, (QStringList{"Night shift", "Holiday", "Stretch", "Standup", "<none>",
                                      "Lunch (late)", "Plain event", "Late call"}));
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

        // Identifiers: unique per occurrence, and the same on the next read.
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
        QVERIFY(finishes(service->fetchEvents()));
        QStringList again;
        for (const CalendarEvent &event : service->events())
            again << event.identifier;
        QCOMPARE(again, ids);

        // Entries: no all-day event; texts and colours as the calendars give them.
        const TimeEntryList entries = service->timeEntries(events);
        QCOMPARE(test::labels(entries), (QStringList{"Night shift", "Stretch", "Standup", "Event",
                                                     "Lunch (late)", "Plain event", "Late call"}));
        QCOMPARE(entryNamed(entries, "Late call")->color().toQColor().name(), QStringLiteral("#ff8800"));
        QCOMPARE(entryNamed(entries, "Late call")->groupName(), QStringLiteral("Work"));
        QCOMPARE(entryNamed(entries, "Plain event")->color(), standardBlue());
    }

    void followsChangesWithoutARefresh() {
        auto source = connectedSource();
        QTRY_VERIFY_WITH_TIMEOUT(entryNamed(source->timeEntries(), "Standup"), 20000);

        // An edit in another program reaches the bar by itself.
        test::writeEvent(m_clients[0],
                         test::vevent("standup", "20260329T091500", "20260329T094500", "Standup (moved)"),
                         E_CAL_OBJ_MOD_ALL);
        QTRY_VERIFY_WITH_TIMEOUT(entryNamed(source->timeEntries(), "Standup (moved)"), 20000);
        QCOMPARE(entryNamed(source->timeEntries(), "Standup (moved)")->startTime(),
                 utc("2026-03-29T07:15:00"));
    }

    void subscribesToACalendarOnTheWeb() {
        m_web.body = feed("Web call");
        auto source = connectedSource();
        CalendarService *service = source->calendarService();
        QTRY_COMPARE_WITH_TIMEOUT(service->authorizationStatus(), CalendarAuthorization::FullAccess, 20000);
        const qsizetype before = calendarIds(*service).size();
        const auto added = result(service->addCalendarFromUrl(m_web.url("/feed.ics")));
        QVERIFY(added && added->ok);
        QCOMPARE(added->text, QStringLiteral("Team, on the web"));

        // Listed under the program's own heading, removable, in its own colour.
        QTRY_VERIFY_WITH_TIMEOUT(calendarIds(*service).size() == before + 1, 20000);
        const QList<CalendarGroup> groups = service->calendarsBySource();
        const auto mine = [](const CalendarGroup &group) { return group.calendars.first().addedByApp; };
        QCOMPARE(std::count_if(groups.begin(), groups.end(), mine), 1);
        const auto group = std::find_if(groups.begin(), groups.end(), mine);
        QCOMPARE(group->source->title, QStringLiteral("Added by Daybrook"));
        const Calendar calendar = group->calendars.first();
        QVERIFY(calendar.title == added->text && calendar.color);

        // The store itself fetched the feed, with its recurrences and zone.
        QTRY_VERIFY_WITH_TIMEOUT(entryNamed(source->timeEntries(), "Web call"), 30000);
        QVERIFY2(m_web.userAgents.size() >= 2 &&
                     !m_web.userAgents.last().startsWith(QLatin1String("Daybrook")),
                 qPrintable(m_web.userAgents.join(u'|')));
        const TimeEntryList entries = source->timeEntries();
        QCOMPARE(entryNamed(entries, "Web call")->startTime(), utc("2026-03-29T10:00:00"));
        QCOMPARE(entryNamed(entries, "Web call")->groupName(), calendar.title);
        QCOMPARE(entryNamed(entries, "Weekly (moved)")->startTime(), utc("2026-03-29T08:00:00"));
        QVERIFY(!entryNamed(entries, "Weekly") && findEvent(service->events(), "Web day")->isAllDay);

        // A change on the web shows after Refresh.
        m_web.body = feed("Web call (changed)", "20260329T070000Z");
        QVERIFY(finishes(service->refresh()));
        QTRY_VERIFY_WITH_TIMEOUT(entryNamed(source->timeEntries(), "Web call (changed)"), 30000);

        // Only calendars added here can be removed here; removing one takes its events.
        QCOMPARE(result(service->removeCalendar(QStringLiteral("test-work"))).value_or(QString()).isEmpty(),
                 false);
        QCOMPARE(result(service->removeCalendar(calendar.identifier)), std::optional<QString>(QString()));
        QTRY_VERIFY_WITH_TIMEOUT(!entryNamed(source->timeEntries(), "Web call (changed)"), 20000);
        QTRY_COMPARE(calendarIds(*service).size(), before);
    }

    void refusesAddressesThatGiveNoCalendar_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("webcal://127.0.0.1:%1/feed.ics").arg(closed.serverPort());
        QTest::newRow("not found") << m_web.url("/missing.ics") << "(HTTP 404 Not Found)";
        QTest::newRow("a web page") << m_web.url("/page.html") << "other than an iCalendar file";
        QTest::newRow("nobody listening") << refused << "Could not connect to 127.0.0.1";
        QTest::newRow("another scheme") << "ftp://127.0.0.1/feed.ics"
                                        << "not a calendar address";
        QTest::newRow("no host") << "webcal:///feed.ics"
                                 << "not a calendar address";
    }
    void refusesAddressesThatGiveNoCalendar() {
        QFETCH(QString, address);
        QFETCH(QString, message);
        auto service = connectedService();
        QTRY_COMPARE_WITH_TIMEOUT(service->authorizationStatus(), CalendarAuthorization::FullAccess, 20000);
        const QStringList before = calendarIds(*service);
        const auto added = result(service->addCalendarFromUrl(address));
        QVERIFY(added && !added->ok);
        QVERIFY2(added->text.contains(message), qPrintable(added->text));
        QTest::qWait(200);
        QCOMPARE(calendarIds(*service), before);
    }

    void saysWhenTheServiceIsMissingAndRetries() {
        auto service = connectedService();
        QVERIFY(finishes(service->fetchEvents()));
        const auto before = service->events().size();
        CalendarIntegrationRow row(service.get());

        blockServer(true);
        for (const uint pid : edsProcesses())
            ::kill(pid_t(pid), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(edsProcesses().isEmpty(), 20000);

        // The next read ends, and says the store is out of reach.
        QVERIFY(finishes(service->fetchEvents()));
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::Restricted);
        QVERIFY(!service->isLoading());
        QVERIFY(service->calendarsBySource().isEmpty());
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
        QTRY_COMPARE_WITH_TIMEOUT(service->authorizationStatus(), CalendarAuthorization::FullAccess, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(service->events().size(), before, 20000);
        QVERIFY(row.statusText().startsWith(QLatin1String("Reading events")));
    }
};

QTEST_MAIN(CalendarEdsTest)
#include "test_calendar_eds.moc"
