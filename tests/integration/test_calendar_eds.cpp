#include "calendar/CalendarService.h"
#include "core/Clock.h"
#include "core/UserDefaults.h"
#include "state/DataSource.h"
#include "support/EdsFixtures.h"
#include "support/TestEnvironment.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTest>
#include <csignal>
#include <functional>
#include <unistd.h>

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

using namespace daybrook;

// Calendars and events are written through libecal into the private
// evolution-data-server of the test's own D-Bus session, then read back through
// the service. The day is 2026-03-29 in Berlin: summer time starts at 02:00, so
// the day has 23 hours.

namespace {

const QDate day(2026, 3, 29);

QDateTime utc(const char *iso) {
    QDateTime t = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate);
    t.setTimeSpec(Qt::UTC);
    return t;
}

// Runs a coroutine to its end while the event loop turns; false when it did
// not end within the timeout (a hang).
bool finishes(QCoro::Task<> task, int timeoutMs = 30000) {
    auto done = std::make_shared<bool>(false);
    [](QCoro::Task<> inner, std::shared_ptr<bool> flag) -> QCoro::Task<> {
        co_await inner;
        *flag = true;
    }(std::move(task), done);
    (void)QTest::qWaitFor([&] { return *done; }, timeoutMs);
    return *done;
}

template <typename T> std::optional<T> result(QCoro::Task<T> task, int timeoutMs = 30000) {
    auto value = std::make_shared<std::optional<T>>();
    [](QCoro::Task<T> inner, std::shared_ptr<std::optional<T>> out) -> QCoro::Task<> {
        *out = co_await inner;
    }(std::move(task), value);
    (void)QTest::qWaitFor([&] { return value->has_value(); }, timeoutMs);
    return *value;
}

const CalendarEvent *findEvent(const QList<CalendarEvent> &events, const QString &title) {
    for (const CalendarEvent &event : events)
        if (event.title == title)
            return &event;
    return nullptr;
}

QStringList labels(const TimeEntryList &entries) {
    QStringList result;
    for (const TimeEntry &entry : entries)
        result << entry.label();
    return result;
}

// Everything the private session bus runs for evolution-data-server.
QList<uint> edsProcesses() {
    QList<uint> pids;
    auto *bus = QDBusConnection::sessionBus().interface();
    const QStringList names = bus->registeredServiceNames().value();
    for (const QString &name : names)
        if (name.startsWith(QLatin1String("org.gnome.evolution.dataserver.")))
            if (const uint pid = bus->servicePid(name).value(); pid && !pids.contains(pid))
                pids << pid;
    return pids;
}

const QStringList edsServices = {QStringLiteral("org.gnome.evolution.dataserver.Sources5"),
                                 QStringLiteral("org.gnome.evolution.dataserver.Calendar8"),
                                 QStringLiteral("org.gnome.evolution.dataserver.AddressBook10"),
                                 QStringLiteral("org.gnome.evolution.dataserver.UserPrompter0")};

QString serviceOverrideDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/dbus-1/services");
}

void reloadBusConfig() {
    const auto reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")));
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

// Makes the bus unable to start the calendar server again, as on a system
// where it is missing.
void blockServer(bool blocked) {
    QDir().mkpath(serviceOverrideDir());
    for (const QString &name : edsServices) {
        const QString path = serviceOverrideDir() + QLatin1Char('/') + name + QStringLiteral(".service");
        if (blocked) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[D-BUS Service]\nName=" + name.toUtf8() + "\nExec=/bin/false\n");
        } else {
            QFile::remove(path);
        }
    }
    reloadBusConfig();
}

} // namespace

class CalendarEdsTest : public QObject {
    Q_OBJECT

    ESourceRegistry *m_registry = nullptr;
    ECalClient *m_personal = nullptr;
    ECalClient *m_work = nullptr;
    ECalClient *m_plain = nullptr;

    static std::unique_ptr<CalendarService> connectedService() {
        UserDefaults::setValue(QLatin1String(CalendarService::consentKey), true);
        auto service = std::make_unique<CalendarService>();
        return service;
    }

private Q_SLOTS:
    void initTestCase() {
        test::setTimeZone("Europe/Berlin");
        Clock::freezeAt(test::localTime(10, 0, 0, day));
        test::resetUserDefaults();

        GError *error = nullptr;
        m_registry = e_source_registry_new_sync(nullptr, &error);
        test::checkGLib(m_registry != nullptr, error, "registry");

        g_object_unref(
            test::commitSource(m_registry, "test-work-account", "Work account", nullptr, false, nullptr));
        g_object_unref(
            test::commitSource(m_registry, "test-work", "Work", "test-work-account", true, "#ff8800"));
        g_object_unref(test::commitSource(m_registry, "test-plain", "Plain", nullptr, true, nullptr));

        m_personal = test::connectCalendar(m_registry, "system-calendar");
        m_work = test::connectCalendar(m_registry, "test-work");
        m_plain = test::connectCalendar(m_registry, "test-plain");

        test::createEvent(
            m_personal, test::vevent("standup", "20260329T090000", "20260329T093000", "SUMMARY:Standup\r\n"));
        test::createEvent(m_personal, test::vevent("holiday", "20260329", "20260330", "SUMMARY:Holiday\r\n"));
        test::createEvent(m_personal, test::vevent("stretch", "20260320T070000", "20260320T071500",
                                                   "SUMMARY:Stretch\r\n", "RRULE:FREQ=DAILY\r\n"));
        test::createEvent(m_personal, test::vevent("night", "20260328T220000", "20260329T060000",
                                                   "SUMMARY:Night shift\r\n"));
        test::createEvent(m_personal, test::vevent("ended", "20260328T230000", "20260329T000000",
                                                   "SUMMARY:Ended at midnight\r\n"));
        test::createEvent(m_personal, test::vevent("untitled", "20260329T120000", "20260329T121500", ""));
        // A daily lunch whose occurrence today was moved by half an hour.
        test::createEvent(m_personal, test::vevent("lunch", "20260327T120000", "20260327T123000",
                                                   "SUMMARY:Lunch\r\n", "RRULE:FREQ=DAILY;COUNT=5\r\n"));
        test::modifyEvent(
            m_personal,
            test::vevent("lunch", "20260329T123000", "20260329T130000", "SUMMARY:Lunch (late)\r\n",
                         ("RECURRENCE-ID;TZID=" + test::berlinZoneId() + ":20260329T120000\r\n").constData()),
            E_CAL_OBJ_MOD_THIS);
        test::createEvent(
            m_work, test::vevent("late", "20260329T233000", "20260329T234500", "SUMMARY:Late call\r\n"));
        test::createEvent(m_work, test::vevent("tomorrow", "20260330T003000", "20260330T010000",
                                               "SUMMARY:After midnight\r\n"));
        test::createEvent(
            m_plain, test::vevent("plain", "20260329T150000", "20260329T151500", "SUMMARY:Plain event\r\n"));
    }

    void cleanupTestCase() {
        for (ECalClient *client : {m_personal, m_work, m_plain})
            if (client)
                g_object_unref(client);
        if (m_registry)
            g_object_unref(m_registry);
        Clock::reset();
    }

    void nothingIsReadBeforeTheUserConnects() {
        UserDefaults::remove(QLatin1String(CalendarService::consentKey));
        CalendarService service;
        QTest::qWait(500);
        QCOMPARE(service.authorizationStatus(), CalendarAuthorization::NotDetermined);
        QVERIFY(finishes(service.fetchEvents()));
        QVERIFY(service.events().isEmpty());
        QVERIFY(service.calendarsBySource().isEmpty());

        // Connecting records the consent and reads the day by itself, once.
        int fetches = 0;
        connect(&service, &CalendarService::eventsChanged, this, [&] { ++fetches; });
        QCOMPARE(result(service.requestAccess()), std::optional<bool>(true));
        QCOMPARE(service.authorizationStatus(), CalendarAuthorization::FullAccess);
        QTRY_COMPARE_WITH_TIMEOUT(fetches, 1, 20000);
        QTRY_VERIFY(!service.isLoading());
        QTest::qWait(300);
        QCOMPARE(fetches, 1);
        QVERIFY(findEvent(service.events(), QStringLiteral("Standup")));

        // A later start finds the consent and reads without being asked.
        CalendarService again;
        QTRY_COMPARE_WITH_TIMEOUT(again.authorizationStatus(), CalendarAuthorization::FullAccess, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(findEvent(again.events(), QStringLiteral("Standup")), 20000);
    }

    void readsTheWholeCivilDay() {
        auto service = connectedService();
        QVERIFY(finishes(service->fetchEvents()));
        const QList<CalendarEvent> &events = service->events();

        QStringList titles;
        for (const CalendarEvent &event : events)
            titles << event.title.value_or(QStringLiteral("<none>"));
        // Ascending by start. Not there: the event that ended at midnight and
        // the one after midnight (which a 24-hour window from midnight would
        // still catch on this 23-hour day).
        QCOMPARE(titles, (QStringList{"Night shift", "Holiday", "Stretch", "Standup", "<none>",
                                      "Lunch (late)", "Plain event", "Late call"}));

        const auto *night = findEvent(events, QStringLiteral("Night shift"));
        QCOMPARE(*night->startDate, utc("2026-03-28T21:00:00"));
        QCOMPARE(*night->endDate, utc("2026-03-29T04:00:00"));

        // Recurrence expanded in local time across the clock change.
        const auto *stretch = findEvent(events, QStringLiteral("Stretch"));
        QCOMPARE(*stretch->startDate, utc("2026-03-29T05:00:00"));
        QCOMPARE(*stretch->endDate, utc("2026-03-29T05:15:00"));
        QVERIFY(stretch->identifier.startsWith(QLatin1String("stretch")));
        QVERIFY(stretch->identifier != QLatin1String("stretch"));

        const auto *lunch = findEvent(events, QStringLiteral("Lunch (late)"));
        QCOMPARE(*lunch->startDate, utc("2026-03-29T10:30:00"));

        const auto *holiday = findEvent(events, QStringLiteral("Holiday"));
        QVERIFY(holiday->isAllDay);
        QVERIFY(!stretch->isAllDay);
        QVERIFY(!findEvent(events, QStringLiteral("Standup"))->isAllDay);

        // Identifiers: unique, and the same on the next read.
        QStringList ids;
        for (const CalendarEvent &event : events)
            ids << event.identifier;
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
        QVERIFY(finishes(service->fetchEvents()));
        QStringList again;
        for (const CalendarEvent &event : service->events())
            again << event.identifier;
        QCOMPARE(again, ids);

        // Entries: no all-day event; texts and colours as the calendars give them.
        const TimeEntryList entries = service->timeEntries(events);
        QCOMPARE(labels(entries), (QStringList{"Night shift", "Stretch", "Standup", "Event", "Lunch (late)",
                                               "Plain event", "Late call"}));
        for (const TimeEntry &entry : entries) {
            if (entry.label() == QLatin1String("Late call")) {
                QCOMPARE(entry.color().toQColor().name(), QStringLiteral("#ff8800"));
                QCOMPARE(entry.groupName(), std::optional<QString>(QStringLiteral("Work")));
            }
            if (entry.label() == QLatin1String("Plain event"))
                QCOMPARE(entry.color(), standardBlue());
            QCOMPARE(entry.sourceName(), QStringLiteral("Calendar"));
        }
    }

    void groupsCalendarsByAccount() {
        auto service = connectedService();
        QTRY_COMPARE_WITH_TIMEOUT(service->authorizationStatus(), CalendarAuthorization::FullAccess, 20000);
        const QList<CalendarGroup> groups = service->calendarsBySource();
        QVERIFY(groups.size() >= 3);
        // The calendar without an account comes first; the rest by account name.
        QVERIFY(!groups.first().source);
        QCOMPARE(groups.first().calendars.first().title, QStringLiteral("Plain"));
        QVERIFY(!groups.first().calendars.first().color);
        for (qsizetype i = 2; i < groups.size(); ++i)
            QVERIFY(groups[i - 1].source->title <= groups[i].source->title);
        bool sawWork = false;
        for (const CalendarGroup &group : groups) {
            if (group.source && group.source->identifier == QLatin1String("test-work-account")) {
                sawWork = true;
                QCOMPARE(group.source->title, QStringLiteral("Work account"));
                QCOMPARE(group.calendars.size(), 1);
                QCOMPARE(group.calendars.first().identifier, QStringLiteral("test-work"));
            }
        }
        QVERIFY(sawWork);
    }

    void exclusionsPersistAndDisconnectForgets() {
        UserDefaults::setValue(QLatin1String(CalendarService::enabledKey), QStringLiteral("maybe"));
        auto service = connectedService();
        QVERIFY(service->isEnabled()); // a stored value of another kind counts as on
        QVERIFY(finishes(service->fetchEvents()));
        service->setCalendar(QStringLiteral("test-work"), false);
        QVERIFY(!labels(service->timeEntries(service->events())).contains(QStringLiteral("Late call")));
        QVERIFY(findEvent(service->events(), QStringLiteral("Late call"))); // still held

        {
            CalendarService restored;
            QCOMPARE(restored.disabledCalendarIds(), QSet<QString>{QStringLiteral("test-work")});
        }

        service->disconnect();
        QVERIFY(service->events().isEmpty());
        QVERIFY(service->disabledCalendarIds().isEmpty());
        QVERIFY(!UserDefaults::contains(QLatin1String(CalendarService::disabledCalendarsKey)));
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::FullAccess);
        QVERIFY(finishes(service->fetchEvents()));
        QVERIFY(service->events().isEmpty()); // off: nothing is read

        service->enable();
        QTRY_VERIFY_WITH_TIMEOUT(findEvent(service->events(), QStringLiteral("Late call")), 20000);
        QCOMPARE(UserDefaults::boolValue(QLatin1String(CalendarService::enabledKey)),
                 std::optional<bool>(true));
    }

    void followsChangesWithoutARefresh() {
        UserDefaults::setValue(QLatin1String(CalendarService::consentKey), true);
        TodoistConfig offline;
        offline.apiBaseUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
        DataSource source(std::make_unique<CalendarService>(), std::make_unique<TodoistService>(offline));
        source.calendarService()->setChangeDelayMs(300);
        QTRY_VERIFY_WITH_TIMEOUT(labels(source.timeEntries()).contains(QStringLiteral("Standup")), 20000);

        // An edit in another program reaches the bar by itself.
        test::modifyEvent(m_personal, test::vevent("standup", "20260329T091500", "20260329T094500",
                                                   "SUMMARY:Standup (moved)\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(labels(source.timeEntries()).contains(QStringLiteral("Standup (moved)")),
                                 20000);
        for (const TimeEntry &entry : source.timeEntries())
            if (entry.label() == QLatin1String("Standup (moved)"))
                QCOMPARE(entry.startTime(), utc("2026-03-29T07:15:00"));

        // So does a calendar added meanwhile.
        ESource *added = test::commitSource(m_registry, "test-added", "Added", nullptr, true, "#00aa00");
        ECalClient *client = test::connectCalendar(m_registry, "test-added");
        test::createEvent(
            client, test::vevent("added", "20260329T160000", "20260329T161500", "SUMMARY:Added event\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(labels(source.timeEntries()).contains(QStringLiteral("Added event")), 20000);

        // And its removal.
        g_object_unref(client);
        g_object_unref(added);
        added = e_source_registry_ref_source(m_registry, "test-added");
        GError *error = nullptr;
        test::checkGLib(e_source_remove_sync(added, nullptr, &error), error, "remove source");
        g_object_unref(added);
        QTRY_VERIFY_WITH_TIMEOUT(!labels(source.timeEntries()).contains(QStringLiteral("Added event")),
                                 20000);
    }

    void survivesTheServerGoingAway() {
        auto service = connectedService();
        QVERIFY(finishes(service->fetchEvents()));
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::FullAccess);
        const auto before = service->events().size();
        QVERIFY(before > 0);

        blockServer(true);
        const QList<uint> pids = edsProcesses();
        QVERIFY(!pids.isEmpty());
        for (const uint pid : pids)
            ::kill(pid_t(pid), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(edsProcesses().isEmpty(), 20000);

        // The next read ends, and says the store is out of reach.
        QVERIFY(finishes(service->fetchEvents()));
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::Restricted);
        QVERIFY(!service->isLoading());
        QVERIFY(service->calendarsBySource().isEmpty());

        // Connecting now fails with a line on the console.
        UserDefaults::remove(QLatin1String(CalendarService::consentKey));
        QTemporaryFile capture;
        QVERIFY(capture.open());
        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        ::dup2(capture.handle(), STDOUT_FILENO);
        CalendarService fresh;
        const auto granted = result(fresh.requestAccess());
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
        QVERIFY2(granted.has_value(), "connecting did not end");
        QCOMPARE(*granted, false);
        capture.seek(0);
        const QString printed = QString::fromUtf8(capture.readAll());
        QVERIFY2(printed.startsWith(QLatin1String("Calendar access error: ")), qPrintable(printed));
        QCOMPARE(fresh.authorizationStatus(), CalendarAuthorization::NotDetermined);

        // Once the server can run again, the next read brings everything back.
        blockServer(false);
        QVERIFY(finishes(service->fetchEvents()));
        QCOMPARE(service->authorizationStatus(), CalendarAuthorization::FullAccess);
        QCOMPARE(service->events().size(), before);
    }
};

QTEST_GUILESS_MAIN(CalendarEdsTest)
#include "test_calendar_eds.moc"
