#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

// Places known without asking anyone: the reference cities of the time zone
// database installed on the machine (zone1970.tab, zone.tab, iso3166.tab).
// Everything here reads files and may be called off the UI thread.
namespace daybrook::sun {

struct Place {
    QString name;    // "Berlin", or a position's own text for a typed-in one
    QString country; // "Germany"; empty when unknown
    QString zoneId;  // "Europe/Berlin"; empty for a typed-in position
    double latitude = 0;
    double longitude = 0;
    bool operator==(const Place &) const = default;
};

struct Coordinate {
    double latitude = 0;
    double longitude = 0;
};

inline constexpr auto defaultZoneInfoRoot = "/usr/share/zoneinfo";

// "+5230+01322" or "-0334-05801" or "+404251-0740023" (ISO 6709, as in the
// tz tables: degrees, minutes and optional seconds, sign first).
std::optional<Coordinate> parseIso6709(QStringView text);

// The system time zone's name as the tz database knows it: TZ when it names a
// zone file under `root`, else the target of `localtimePath` (a link into a
// zoneinfo folder), else Qt's idea of the system zone. Empty when none.
QString systemTimeZoneId(const QString &root,
                         const QString &localtimePath = QStringLiteral("/etc/localtime"));

// The reference city of a zone: its row in zone1970.tab or zone.tab, or the
// row of the zone it links to (a symbolic link under `root`, or an "L" line of
// tzdata.zi). Absent for zones without a city (UTC, Etc/GMT+3, ...) and when
// the tables cannot be read.
std::optional<Place> referenceCity(const QString &zoneId, const QString &root);

// Every city of zone.tab and zone1970.tab once, sorted by name.
QList<Place> tzdataPlaces(const QString &root);

// Places whose name, country or zone has a word starting with every word of
// `query` (ignoring case and accents); names that start with the query first.
QList<Place> searchPlaces(const QList<Place> &places, const QString &query, int limit = 50);

// "Berlin, Germany"; a typed-in position shows its coordinates.
QString displayName(const Place &place);
// "52.52° N, 13.41° E"
QString coordinateText(double latitude, double longitude);

} // namespace daybrook::sun
