#pragma once

// Calendars and events written through libecal into the private
// evolution-data-server of the test's own D-Bus session, the way another
// calendar program would write them.

#include <QByteArray>
#include <QHttpServer>
#include <QStringList>
#include <QUrl>
#include <optional>

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

namespace daybrook::test {

// Ends the test program when a call into the calendar store failed: nothing
// after it could be trusted.
void checkGLib(gboolean ok, GError *error, const char *what);

// Commits a source to the registry: an account (calendar false) or a local
// calendar. A calendar keeps the colour the store gives it unless `color` is
// set; nullptr takes the colour away. Returns a reference the caller releases.
ESource *commitSource(ESourceRegistry *registry, const char *uid, const char *name, const char *parent,
                      bool calendar, std::optional<const char *> color = std::nullopt);

// Connects to a committed calendar (waiting for the registry to list it) and
// teaches it the Europe/Berlin zone. Returns a reference the caller releases.
ECalClient *connectCalendar(ESourceRegistry *registry, const char *uid);

// The TZID under which the calendar knows Europe/Berlin.
QByteArray berlinZoneId();

// An event in Berlin time; times are "yyyyMMddTHHmmss", or "yyyyMMdd" for a
// date. `summaryLine` and `extra` are whole content lines ("SUMMARY:...\r\n").
QByteArray vevent(const char *uid, const char *start, const char *end, const QByteArray &summaryLine,
                  const char *extra = "");

// Creates the event, or with `modify` changes the one it names.
void writeEvent(ECalClient *client, const QByteArray &ics,
                std::optional<ECalObjModType> modify = std::nullopt);

// A calendar published on the web: `body` at /feed.ics, a 404 at /missing.ics
// and an HTML page at /page.html, on 127.0.0.1. Remembers who asked.
struct FeedServer {
    QHttpServer server;
    quint16 port = 0;
    QByteArray body;
    QStringList userAgents;

    FeedServer();
    QUrl url(const char *path) const;
};

} // namespace daybrook::test
