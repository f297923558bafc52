#pragma once

// Calendars and events written through libecal into the private
// evolution-data-server of the test's own D-Bus session, the way another
// calendar program would write them.

#include "state/DataSource.h"
#include "todoist/TodoistService.h"

#include <QByteArray>
#include <QCoroTask>
#include <QHttpServer>
#include <QStringList>
#include <QTest>
#include <QUrl>
#include <optional>

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

namespace daybrook::test {

// Ends the test program when a call into the calendar store failed: nothing
// after it could be trusted.
inline void checkGLib(gboolean ok, GError *error, const char *what) {
    if (!ok)
        qFatal("%s: %s", what, error ? error->message : "failed");
}

// Commits an account (calendar false) or a local calendar. A calendar keeps the
// colour the store gives it unless `color` is set; nullptr takes it away.
inline void commitSource(ESourceRegistry *registry, const char *uid, const char *name, const char *parent,
                         bool calendar, const char *color = "") {
    GError *error = nullptr;
    ESource *source = e_source_new_with_uid(uid, nullptr, &error);
    checkGLib(source != nullptr, error, "new source");
    e_source_set_display_name(source, name);
    e_source_set_parent(source, parent);
    if (calendar) {
        auto *extension = e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR);
        e_source_backend_set_backend_name(E_SOURCE_BACKEND(extension), "local");
        if (!color || *color)
            e_source_selectable_set_color(E_SOURCE_SELECTABLE(extension), color);
    }
    checkGLib(e_source_registry_commit_source_sync(registry, source, nullptr, &error), error, "commit");
    g_object_unref(source);
}

// The TZID under which the calendar knows Europe/Berlin.
inline QByteArray berlinZoneId() {
    return QByteArray(i_cal_timezone_get_tzid(i_cal_timezone_get_builtin_timezone("Europe/Berlin")));
}

// Connects to a committed calendar (waiting for the registry to list it) and
// teaches it the Europe/Berlin zone. Returns a reference the caller releases.
inline ECalClient *connectCalendar(ESourceRegistry *registry, const char *uid) {
    GError *error = nullptr;
    ESource *source = nullptr;
    (void)QTest::qWaitFor([&] { return (source = e_source_registry_ref_source(registry, uid)) != nullptr; },
                          10000);
    checkGLib(source != nullptr, nullptr, uid);
    EClient *client =
        e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, guint32(-1), nullptr, &error);
    checkGLib(client != nullptr, error, "connect");
    g_object_unref(source);
    checkGLib(e_cal_client_add_timezone_sync(E_CAL_CLIENT(client),
                                             i_cal_timezone_get_builtin_timezone("Europe/Berlin"), nullptr,
                                             &error),
              error, "add zone");
    return E_CAL_CLIENT(client);
}

// An event in Berlin time; times are "yyyyMMddTHHmmss", or "yyyyMMdd" for a
// date. `extra` holds whole content lines ("RRULE:...\r\n").
inline QByteArray vevent(const char *uid, const char *start, const char *end, const char *summary,
                         const QByteArray &extra = {}) {
    const QByteArray zone = qstrlen(start) == 8 ? ";VALUE=DATE:" : ";TZID=" + berlinZoneId() + ":";
    return "BEGIN:VEVENT\r\nUID:" + QByteArray(uid) + "\r\nDTSTAMP:20260301T000000Z\r\nDTSTART" + zone +
           start + "\r\nDTEND" + zone + end + "\r\n" +
           (summary ? "SUMMARY:" + QByteArray(summary) + "\r\n" : "") + extra + "END:VEVENT\r\n";
}

// Creates the event, or with `modify` changes the one it names.
inline void writeEvent(ECalClient *client, const QByteArray &ics,
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
inline std::unique_ptr<DataSource> offlineDataSource(std::unique_ptr<CalendarService> calendar) {
    TodoistConfig offline;
    offline.apiBaseUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
    return std::make_unique<DataSource>(std::move(calendar), std::make_unique<TodoistService>(offline));
}

// The labels of entries, in order.
inline QStringList labels(const TimeEntryList &entries) {
    QStringList result;
    for (const TimeEntry &entry : entries)
        result << entry.label();
    return result;
}

// A calendar published on the web: `body` at /feed.ics and an HTML page at
// /page.html (anything else is a 404), on 127.0.0.1. Remembers who asked.
struct FeedServer {
    QHttpServer server;
    quint16 port = 0;
    QByteArray body;
    QStringList userAgents;

    FeedServer() {
        server.route("/feed.ics", [this](const QHttpServerRequest &request) {
            userAgents << QString::fromUtf8(request.value("User-Agent"));
            return QHttpServerResponse("text/calendar", body);
        });
        server.route("/page.html",
                     [] { return QHttpServerResponse("text/html", "<html><body>Hi</body></html>"); });
        port = server.listen(QHostAddress::LocalHost);
    }
    QString url(const char *path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(path));
    }
};

} // namespace daybrook::test
