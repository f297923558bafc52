#include "sun/SunCalculator.h"

#include <cmath>
#include <numbers>

namespace daybrook::sun {

namespace {

constexpr double degree = std::numbers::pi / 180.0;
constexpr double secondsPerDay = 86400.0;
constexpr double unixEpochJulianDay = 2440587.5;
constexpr double j2000JulianDay = 2451545.0;
// Terrestrial minus universal time. It moves by about a second a year; an
// error of a minute in it shifts the Sun by a fraction of an arc second, far
// below what matters here, so a fixed value serves for decades.
constexpr double deltaTSeconds = 69.0;
// How fast the Sun's hour angle grows: one turn per solar day, radians a second.
constexpr double hourAngleRate = 2.0 * std::numbers::pi / secondsPerDay;
// Between two transits the altitude moves one way only, except within a
// degree or so of the poles; probing at least this often there catches every
// crossing that is not closer than this to the next one.
constexpr double maximumProbeStep = 4.0 * 3600.0;
// Events are wanted to the second; the search stops well below that.
constexpr double timeTolerance = 0.01;

double signedDegrees(double angle) {
    angle = std::fmod(angle, 360.0);
    if (angle >= 180.0)
        angle -= 360.0;
    else if (angle < -180.0)
        angle += 360.0;
    return angle;
}

struct Place {
    double sinLatitude;
    double cosLatitude;
    double longitude;
    double sinEventAltitude;
};

struct SunSample {
    double sinAltitude;
    double hourAngle; // degrees, -180..180, zero at the upper transit
    double cosDeclination;
};

// The Sun's apparent position: mean elements and the equation of the centre
// from Julian centuries since J2000 (about 0.01 degrees), corrected for
// nutation and aberration; apparent sidereal time for the hour angle.
SunSample sampleSun(double unixSeconds, const Place &place) {
    const double daysUt = unixSeconds / secondsPerDay + (unixEpochJulianDay - j2000JulianDay);
    const double t = (daysUt + deltaTSeconds / secondsPerDay) / 36525.0;

    const double meanLongitude = 280.46646 + t * (36000.76983 + 0.0003032 * t);
    const double meanAnomaly = (357.52911 + t * (35999.05029 - 0.0001537 * t)) * degree;
    const double centre = std::sin(meanAnomaly) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                          std::sin(2.0 * meanAnomaly) * (0.019993 - 0.000101 * t) +
                          std::sin(3.0 * meanAnomaly) * 0.000289;
    const double node = (125.04452 - 1934.136261 * t) * degree;
    const double nutationInLongitude = -0.00478 * std::sin(node);
    const double aberration = -0.00569;
    const double apparentLongitude = (meanLongitude + centre + aberration + nutationInLongitude) * degree;

    const double meanObliquity =
        23.0 + (26.0 + (21.448 - t * (46.815 + t * (0.00059 - t * 0.001813))) / 60.0) / 60.0;
    const double obliquity = (meanObliquity + 0.00256 * std::cos(node)) * degree;

    const double sinLongitude = std::sin(apparentLongitude);
    const double cosLongitude = std::cos(apparentLongitude);
    const double sinDeclination = std::sin(obliquity) * sinLongitude;
    const double cosDeclination = std::sqrt(1.0 - sinDeclination * sinDeclination);
    const double rightAscension = std::atan2(std::cos(obliquity) * sinLongitude, cosLongitude) / degree;

    const double meanSiderealTime =
        280.46061837 + 360.98564736629 * daysUt + t * t * (0.000387933 - t / 38710000.0);
    const double siderealTime = meanSiderealTime + nutationInLongitude * std::cos(obliquity);
    const double hourAngle = signedDegrees(siderealTime + place.longitude - rightAscension);

    return {place.sinLatitude * sinDeclination +
                place.cosLatitude * cosDeclination * std::cos(hourAngle * degree),
            hourAngle, cosDeclination};
}

// The instant near `guess` at which the hour angle equals `target` (0 for the
// upper transit, 180 for the lower one).
double transitNear(double guess, double target, const Place &place, int iterations) {
    for (int i = 0; i < iterations; ++i) {
        const double hourAngle = sampleSun(guess, place).hourAngle;
        guess -= signedDegrees(hourAngle - target) / 360.0 * secondsPerDay;
    }
    return guess;
}

// The crossing in [lo, hi], where the altitude is on different sides of the
// event altitude at the two ends: Newton steps, kept inside the bracket.
double crossingBetween(double lo, double fLo, double hi, double fHi, const Place &place) {
    double t = lo + (hi - lo) * fLo / (fLo - fHi);
    for (int i = 0; i < 60; ++i) {
        const SunSample sun = sampleSun(t, place);
        const double f = sun.sinAltitude - place.sinEventAltitude;
        if ((f < 0) == (fLo < 0)) {
            lo = t;
            fLo = f;
        } else {
            hi = t;
        }
        if (hi - lo < timeTolerance)
            return 0.5 * (lo + hi);
        const double slope =
            -place.cosLatitude * sun.cosDeclination * std::sin(sun.hourAngle * degree) * hourAngleRate;
        double next = slope != 0.0 ? t - f / slope : lo - 1.0;
        if (!(next > lo && next < hi))
            next = 0.5 * (lo + hi);
        if (std::abs(next - t) < timeTolerance)
            return next;
        t = next;
    }
    return t;
}

QDateTime utcInstant(double unixSeconds) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(unixSeconds * 1000.0)), Qt::UTC);
}

} // namespace

bool isValidPosition(double latitude, double longitude) {
    return std::isfinite(latitude) && std::isfinite(longitude) && latitude >= -90.0 && latitude <= 90.0 &&
           longitude >= -180.0 && longitude <= 180.0;
}

double solarAltitude(double unixSeconds, double latitude, double longitude) {
    const Place place{std::sin(latitude * degree), std::cos(latitude * degree), longitude, 0.0};
    return std::asin(sampleSun(unixSeconds, place).sinAltitude) / degree;
}

SunEvents sunEventsBetween(double start, double end, double latitude, double longitude) {
    SunEvents events;
    if (!isValidPosition(latitude, longitude) || !std::isfinite(start) || !std::isfinite(end) ||
        !(end > start))
        return events;
    const Place place{std::sin(latitude * degree), std::cos(latitude * degree), longitude,
                      std::sin(standardAltitude * degree)};

    // Probe the altitude at every transit inside the interval (where it turns)
    // and often enough in between, and look for a side change between probes.
    double previous = start;
    double fPrevious = sampleSun(start, place).sinAltitude - place.sinEventAltitude;
    std::optional<double> firstRise;
    std::optional<double> lastSet;
    auto probeTo = [&](double t) {
        const double f = sampleSun(t, place).sinAltitude - place.sinEventAltitude;
        const bool wasUp = fPrevious >= 0;
        const bool isUp = f >= 0;
        if (wasUp != isUp) {
            const double crossing = crossingBetween(previous, fPrevious, t, f, place);
            if (crossing >= start && crossing < end) {
                if (isUp && !firstRise)
                    firstRise = crossing;
                if (!isUp)
                    lastSet = crossing;
            }
        }
        previous = t;
        fPrevious = f;
    };
    auto probeSegmentTo = [&](double segmentEnd) {
        const double segmentStart = previous;
        const int pieces =
            std::max(1, static_cast<int>(std::ceil((segmentEnd - segmentStart) / maximumProbeStep)));
        for (int i = 1; i < pieces; ++i)
            probeTo(segmentStart + (segmentEnd - segmentStart) * i / pieces);
        probeTo(segmentEnd);
    };

    // The upper transit within half a day of the start, then alternately the
    // lower and upper transits every half day.
    double transit = transitNear(start, 0.0, place, 3);
    double target = 0.0;
    if (transit <= start) {
        target = 180.0;
        transit = transitNear(transit + secondsPerDay / 2.0, target, place, 2);
    }
    while (transit < end) {
        if (transit > start)
            probeSegmentTo(transit);
        target = target == 0.0 ? 180.0 : 0.0;
        transit = transitNear(transit + secondsPerDay / 2.0, target, place, 2);
    }
    probeSegmentTo(end);

    if (firstRise)
        events.sunrise = utcInstant(*firstRise);
    if (lastSet)
        events.sunset = utcInstant(*lastSet);
    return events;
}

SunEvents sunEventsBetween(const QDateTime &start, const QDateTime &end, double latitude, double longitude) {
    if (!start.isValid() || !end.isValid())
        return {};
    return sunEventsBetween(start.toMSecsSinceEpoch() / 1000.0, end.toMSecsSinceEpoch() / 1000.0, latitude,
                            longitude);
}

SunEvents sunEventsOnDate(QDate date, double latitude, double longitude) {
    if (!date.isValid())
        return {};
    return sunEventsBetween(date.startOfDay(), date.addDays(1).startOfDay(), latitude, longitude);
}

SunEvents sunEventsOnDate(QDate date, const QTimeZone &zone, double latitude, double longitude) {
    if (!date.isValid() || !zone.isValid())
        return {};
    return sunEventsBetween(date.startOfDay(zone), date.addDays(1).startOfDay(zone), latitude, longitude);
}

} // namespace daybrook::sun
