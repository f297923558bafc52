#include "support/EdsFixtures.h"

#include <QTest>
#include <cstring>

namespace daybrook::test {

void checkGLib(gboolean ok, GError *error, const char *what) {
    if (!ok)
        qFatal("%s: %s", what, error ? error->message : "failed");
}

ESource *commitSource(ESourceRegistry *registry, const char *uid, const char *name, const char *parent,
                      bool calendar, std::optional<const char *> color) {
    GError *error = nullptr;
    ESource *source = e_source_new_with_uid(uid, nullptr, &error);
    checkGLib(source != nullptr, error, "new source");
    e_source_set_display_name(source, name);
    if (parent)
        e_source_set_parent(source, parent);
    if (calendar) {
        auto *extension = e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR);
        e_source_backend_set_backend_name(E_SOURCE_BACKEND(extension), "local");
        if (color)
            e_source_selectable_set_color(E_SOURCE_SELECTABLE(extension), *color);
    }
    checkGLib(e_source_registry_commit_source_sync(registry, source, nullptr, &error), error,
              "commit source");
    return source;
}

ECalClient *connectCalendar(ESourceRegistry *registry, const char *uid) {
    GError *error = nullptr;
    ESource *source = nullptr;
    (void)QTest::qWaitFor([&] { return (source = e_source_registry_ref_source(registry, uid)) != nullptr; },
                          10000);
    checkGLib(source != nullptr, nullptr, uid);
    EClient *client =
        e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, guint32(-1), nullptr, &error);
    checkGLib(client != nullptr, error, "connect");
    g_object_unref(source);
    auto *calendar = E_CAL_CLIENT(client);
    checkGLib(e_cal_client_add_timezone_sync(calendar, i_cal_timezone_get_builtin_timezone("Europe/Berlin"),
                                             nullptr, &error),
              error, "add zone");
    return calendar;
}

QByteArray berlinZoneId() {
    return QByteArray(i_cal_timezone_get_tzid(i_cal_timezone_get_builtin_timezone("Europe/Berlin")));
}

QByteArray vevent(const char *uid, const char *start, const char *end, const QByteArray &summaryLine,
                  const char *extra) {
    const bool date = std::strlen(start) == 8;
    const QByteArray zone = date ? ";VALUE=DATE:" : ";TZID=" + berlinZoneId() + ":";
    return "BEGIN:VEVENT\r\nUID:" + QByteArray(uid) + "\r\nDTSTAMP:20260301T000000Z\r\nDTSTART" + zone +
           start + "\r\nDTEND" + zone + end + "\r\n" + summaryLine + extra + "END:VEVENT\r\n";
}

void writeEvent(ECalClient *client, const QByteArray &ics, std::optional<ECalObjModType> modify) {
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

FeedServer::FeedServer() {
    server.route("/feed.ics", [this](const QHttpServerRequest &request) {
        userAgents << QString::fromUtf8(request.value("User-Agent"));
        return QHttpServerResponse("text/calendar", body);
    });
    server.route("/page.html",
                 [] { return QHttpServerResponse("text/html", "<html><body>Hi</body></html>"); });
    port = server.listen(QHostAddress::LocalHost);
}

QUrl FeedServer::url(const char *path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(path)));
}

} // namespace daybrook::test
