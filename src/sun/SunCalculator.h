#pragma once

#include <QDate>
#include <QDateTime>
#include <QTimeZone>
#include <optional>

// Sunrise and sunset computed on the machine from the Sun's apparent position.
//
// An event is the moment the centre of the Sun passes altitude -0.833 degrees:
// the upper limb on a sea-level horizon under standard refraction. The Sun's
// position (equation of time and declination from Julian centuries, with
// nutation and aberration) is evaluated at every candidate instant, so each
// event is found at its own declination; that is what keeps days close to the
// polar circles right, where the Sun barely crosses the horizon.
namespace daybrook::sun {

// Altitude of the Sun's centre at sunrise and sunset, degrees.
inline constexpr double standardAltitude = -0.833;

struct SunEvents {
    // First upward crossing in the interval, absent when there is none.
    std::optional<QDateTime> sunrise;
    // Last downward crossing in the interval, absent when there is none.
    std::optional<QDateTime> sunset;
};

// Latitude in [-90, 90] and longitude in [-180, 180], both finite.
bool isValidPosition(double latitude, double longitude);

// Geometric altitude of the Sun's centre, degrees (no refraction), at the
// given instant (seconds since 1970-01-01T00:00Z) seen from the given place
// (degrees, east positive).
double solarAltitude(double unixSeconds, double latitude, double longitude);

// Events in [start, end), both seconds since the epoch. Absent events also
// for an invalid position or an empty interval. Times are UTC.
SunEvents sunEventsBetween(double startUnixSeconds, double endUnixSeconds, double latitude, double longitude);
SunEvents sunEventsBetween(const QDateTime &start, const QDateTime &end, double latitude, double longitude);

// Events of a civil day: from the first instant of `date` to the first instant
// of the next date, so days on which the clocks change are 23 or 25 hours long.
// The first form uses the process's local time zone.
SunEvents sunEventsOnDate(QDate date, double latitude, double longitude);
SunEvents sunEventsOnDate(QDate date, const QTimeZone &zone, double latitude, double longitude);

} // namespace daybrook::sun
