#include "StallWatch.h"
#include "calendar/CalendarService.h"
#include "core/UserDefaults.h"
#include "platform/CalendarStore.h"
#include "state/DataSource.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

using namespace daybrook;

namespace {

QDateTime todayAt(int minutes) {
    return QDateTime(QDate::currentDate(), QTime(0, 0), Qt::LocalTime).addSecs(qint64(minutes) * 60).toUTC();
}

// A busy day: 500 tasks and 200 events, a quarter of the events also kept as
// tasks (same title, same minute), titles with and without accents.
struct BusyDay {
    TimeEntryList tasks;
    QList<CalendarEvent> events;

    BusyDay() {
        const auto calendar = std::make_shared<const Calendar>(
            Calendar{QStringLiteral("work"), QStringLiteral("Work"), Color::rgb(0, 0, 1), std::nullopt});
        for (int i = 0; i < 200; ++i) {
            const QString title =
                (i % 3 ? QStringLiteral("Réunion %1") : QStringLiteral("Meeting %1")).arg(i);
            events.append(CalendarEvent{QStringLiteral("event-%1").arg(i), todayAt(360 + i * 4),
                                        todayAt(360 + i * 4 + 30), i % 50 == 0, calendar, title});
        }
        for (int i = 0; i < 500; ++i) {
            const bool twin = i % 10 == 0 && i / 10 < 50;
            const QString title = twin ? *events[(i / 10) * 4].title : QStringLiteral("Task %1").arg(i);
            const QDateTime start = twin ? *events[(i / 10) * 4].startDate : todayAt(420 + i);
            tasks.append(TodoistEntry{QStringLiteral("task-%1").arg(i), start, start.addSecs(900), title,
                                      Color::rgb(1, 0, 0), QStringLiteral("Inbox")});
        }
    }
};

} // namespace

// What one rebuild of the bar's list costs: the calendar events converted
// afresh and merged with the tasks.
static void BM_RebuildEntries(benchmark::State &state) {
    const BusyDay day;
    CalendarService calendar(std::unique_ptr<CalendarStore>{});
    qsizetype combined = 0;
    for (auto _ : state) {
        const TimeEntryList merged = mergeEntries(day.tasks, calendar.timeEntries(day.events));
        combined = std::count_if(merged.begin(), merged.end(),
                                 [](const TimeEntry &e) { return e.as<CombinedEntry>(); });
        benchmark::DoNotOptimize(merged);
    }
    state.counters["combined"] = double(combined);
}
BENCHMARK(BM_RebuildEntries)->Unit(benchmark::kMicrosecond);

namespace {

bool addBenchCalendar(QString *error) {
    GError *gerror = nullptr;
    ESourceRegistry *registry = e_source_registry_new_sync(nullptr, &gerror);
    if (!registry) {
        *error = QString::fromUtf8(gerror->message);
        g_clear_error(&gerror);
        return false;
    }
    ESource *source = e_source_registry_ref_source(registry, "bench-calendar");
    if (!source) {
        source = e_source_new_with_uid("bench-calendar", nullptr, nullptr);
        e_source_set_display_name(source, "Bench");
        auto *extension = e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR);
        e_source_backend_set_backend_name(E_SOURCE_BACKEND(extension), "local");
        e_source_registry_commit_source_sync(registry, source, nullptr, nullptr);
        g_object_unref(source);
        for (int i = 0; i < 100 && !(source = e_source_registry_ref_source(registry, "bench-calendar"));
             ++i) {
            QEventLoop loop;
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
    EClient *client = source ? e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, guint32(-1),
                                                         nullptr, &gerror)
                             : nullptr;
    if (source)
        g_object_unref(source);
    g_object_unref(registry);
    if (!client) {
        *error = gerror ? QString::fromUtf8(gerror->message) : QStringLiteral("no bench calendar");
        g_clear_error(&gerror);
        return false;
    }
    // 200 events today: 180 single ones and 20 daily series.
    GSList *components = nullptr;
    for (int i = 0; i < 200; ++i) {
        const QDateTime start = i < 180 ? todayAt(300 + i * 5) : todayAt(300 + i * 5).addDays(-30);
        const QString ics =
            QStringLiteral(
                "BEGIN:VEVENT\r\nUID:bench-%1\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:%2\r\nDTEND:%3\r\n"
                "SUMMARY:Bench event %1\r\n%4END:VEVENT\r\n")
                .arg(i)
                .arg(start.toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")))
                .arg(start.addSecs(1800).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")))
                .arg(i < 180 ? QString() : QStringLiteral("RRULE:FREQ=DAILY\r\n"));
        components = g_slist_prepend(components, i_cal_component_new_from_string(ics.toUtf8().constData()));
    }
    e_cal_client_create_objects_sync(E_CAL_CLIENT(client), components, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                     nullptr, nullptr);
    g_slist_free_full(components, g_object_unref);
    g_object_unref(client);
    return true;
}

// Runs one fetch while a 1 ms timer ticks; returns the longest gap between two
// ticks, i.e. the longest time the event loop was kept from turning.
double fetchWithStallWatch(CalendarService &service, double *fetchMs) {
    StallWatch watch;
    QEventLoop loop;
    bool done = false;
    [](CalendarService *s, bool *flag, QEventLoop *l) -> QCoro::Task<> {
        co_await s->fetchEvents();
        *flag = true;
        l->quit();
    }(&service, &done, &loop);
    if (!done)
        loop.exec();
    *fetchMs = watch.elapsedMs();
    return watch.longestMs();
}

} // namespace

// How long the UI thread is kept busy at a time while 200 events are read from
// a real evolution-data-server. Needs a session bus with the server, e.g.
//   tests/support/run-test.sh integration build/bench/daybrook_bench --benchmark_filter=EdsFetch
static void BM_EdsFetchStall(benchmark::State &state) {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
        !QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
             .contains(QLatin1String("daybrook-test"))) {
        state.SkipWithError("needs the private session of tests/support/run-test.sh integration");
        return;
    }
    QString error;
    if (!addBenchCalendar(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    UserDefaults::setValue(QLatin1String(CalendarService::consentKey), true);
    CalendarService service;
    // What the loop shows with nothing to do, for comparison (other programs
    // on the machine preempt it too).
    {
        StallWatch watch;
        QEventLoop loop;
        QTimer::singleShot(500, &loop, &QEventLoop::quit);
        loop.exec();
        state.counters["idle_stall_ms"] = watch.longestMs();
    }
    double coldMs = 0;
    const double coldStall = fetchWithStallWatch(service, &coldMs);
    double worst = 0;
    double fetchMs = 0;
    qsizetype events = 0;
    for (auto _ : state) {
        worst = std::max(worst, fetchWithStallWatch(service, &fetchMs));
        events = service.events().size();
    }
    state.counters["events"] = double(events);
    state.counters["stall_ms_max"] = worst;
    state.counters["cold_stall_ms"] = coldStall;
    state.counters["cold_fetch_ms"] = coldMs;
}
BENCHMARK(BM_EdsFetchStall)->Unit(benchmark::kMillisecond)->Iterations(20);
