#!/usr/bin/python3
"""Writes tests/unit/data/sun-reference.tsv: sunrise and sunset of the local
civil day at a set of places, computed independently of the program.

Positions come from PyEphem (Debian package python3-ephem), whose Sun follows
the VSOP87 planetary theory with nutation and aberration. The events are found
by brute force: the Sun's apparent topocentric altitude (no atmosphere) is
sampled every 20 seconds over the whole local day and every sign change of
(altitude + 50 arcminutes) is bisected to a hundredth of a second. The first
upward crossing is the sunrise, the last downward crossing the sunset.

The day is [first instant of the local date, first instant of the next local
date), taken from the system time-zone database through zoneinfo, so days on
which the clocks change are 23 or 25 hours long (23.5 or 24.5 at Lord Howe).

Run it with the system Python: /usr/bin/python3 tools/generate-sun-reference.py
It is only used to make the table; the program never depends on it.
"""

import datetime as dt
import math
import os
import sys
from zoneinfo import ZoneInfo

import ephem

HORIZON = math.radians(-50.0 / 60.0)
UTC = dt.timezone.utc

PLACES = [
    # name, latitude, longitude, time zone
    ("Quito", -0.1807, -78.4678, "America/Guayaquil"),
    ("Singapore", 1.3521, 103.8198, "Asia/Singapore"),
    ("Honolulu", 21.3069, -157.8583, "Pacific/Honolulu"),
    ("Kolkata", 22.5726, 88.3639, "Asia/Kolkata"),
    ("Lord Howe Island", -31.5553, 159.0821, "Australia/Lord_Howe"),
    ("Sydney", -33.8688, 151.2093, "Australia/Sydney"),
    ("Cape Town", -33.9249, 18.4241, "Africa/Johannesburg"),
    ("Santiago", -33.4489, -70.6693, "America/Santiago"),
    ("Tokyo", 35.6762, 139.6503, "Asia/Tokyo"),
    ("New York", 40.7128, -74.0060, "America/New_York"),
    ("Berlin", 52.5200, 13.4050, "Europe/Berlin"),
    ("Ushuaia", -54.8019, -68.3030, "America/Argentina/Ushuaia"),
    ("Oslo", 59.9139, 10.7522, "Europe/Oslo"),
    ("Anchorage", 61.2181, -149.9003, "America/Anchorage"),
    ("Reykjavik", 64.1466, -21.9426, "Atlantic/Reykjavik"),
    ("Fairbanks", 64.8378, -147.7164, "America/Anchorage"),
    ("Rovaniemi", 66.5039, 25.7294, "Europe/Helsinki"),
    ("Tromso", 69.6492, 18.9553, "Europe/Oslo"),
    ("Utqiagvik", 71.2906, -156.7886, "America/Anchorage"),
    ("Longyearbyen", 78.2232, 15.6267, "Arctic/Longyearbyen"),
    ("McMurdo", -77.8463, 166.6682, "Antarctica/McMurdo"),
    # Berlin's clocks far west of Berlin put a sunset in the hour that the
    # spring change removes and in the hour that the autumn change repeats.
    ("Equator 72W on Berlin clocks", 0.0, -72.0, "Europe/Berlin"),
]

# Solstices, equinoxes and the days on which clocks change somewhere in the list.
COMMON_DATES = [
    ("march equinox", dt.date(2026, 3, 20)),
    ("june solstice", dt.date(2026, 6, 21)),
    ("september equinox", dt.date(2026, 9, 23)),
    ("december solstice", dt.date(2026, 12, 21)),
]
DST_DATES = {
    "Europe/Berlin": [dt.date(2026, 3, 29), dt.date(2026, 10, 25)],
    "Europe/Oslo": [dt.date(2026, 3, 29), dt.date(2026, 10, 25)],
    "Europe/Helsinki": [dt.date(2026, 3, 29), dt.date(2026, 10, 25)],
    "Arctic/Longyearbyen": [dt.date(2026, 3, 29), dt.date(2026, 10, 25)],
    "America/New_York": [dt.date(2026, 3, 8), dt.date(2026, 11, 1)],
    "America/Anchorage": [dt.date(2026, 3, 8), dt.date(2026, 11, 1)],
    "Australia/Sydney": [dt.date(2026, 4, 5), dt.date(2026, 10, 4)],
    "Australia/Lord_Howe": [dt.date(2026, 4, 5), dt.date(2026, 10, 4)],
    "Antarctica/McMurdo": [dt.date(2026, 4, 5), dt.date(2026, 9, 27)],
    "America/Santiago": [dt.date(2026, 4, 5), dt.date(2026, 9, 6)],
}
EXTRA_DATES = {
    "Equator 72W on Berlin clocks": [dt.date(2026, 3, 28), dt.date(2026, 10, 26)],
}
POLAR = {"Rovaniemi", "Tromso", "Utqiagvik", "Longyearbyen", "McMurdo"}


def local_date(instant, zone):
    return instant.astimezone(zone).date()


def start_of_day(date, zone):
    """First instant whose local date is `date` (midnight may not exist)."""
    lo = dt.datetime(date.year, date.month, date.day, tzinfo=UTC) - dt.timedelta(hours=30)
    hi = lo + dt.timedelta(hours=60)
    while (hi - lo) > dt.timedelta(seconds=1):
        mid = lo + (hi - lo) / 2
        if local_date(mid, zone) >= date:
            hi = mid
        else:
            lo = mid
    # Zone offsets are whole minutes: the day starts on a minute boundary.
    minute = hi.replace(second=0, microsecond=0)
    return minute if local_date(minute, zone) >= date else minute + dt.timedelta(minutes=1)


class Sky:
    def __init__(self, latitude, longitude):
        self.observer = ephem.Observer()
        self.observer.lat = ephem.degrees(str(latitude))
        self.observer.lon = ephem.degrees(str(longitude))
        self.observer.elevation = 0
        self.observer.pressure = 0  # no refraction: it is in the 50' horizon
        self.sun = ephem.Sun()

    def f(self, instant):
        self.observer.date = ephem.Date(instant.replace(tzinfo=None))
        self.sun.compute(self.observer)
        return float(self.sun.alt) - HORIZON


def crossings(sky, start, end, step_seconds):
    """All (instant, rising) where the altitude crosses the horizon in [start, end)."""
    found = []
    step = dt.timedelta(seconds=step_seconds)
    t0 = start
    f0 = sky.f(t0)
    while t0 < end:
        t1 = min(t0 + step, end)
        f1 = sky.f(t1)
        if (f0 < 0) != (f1 < 0):
            lo, hi, flo = t0, t1, f0
            while (hi - lo) > dt.timedelta(milliseconds=10):
                mid = lo + (hi - lo) / 2
                fm = sky.f(mid)
                if (fm < 0) == (flo < 0):
                    lo, flo = mid, fm
                else:
                    hi = mid
            instant = lo + (hi - lo) / 2
            if instant < end:
                found.append((instant, f0 < 0))
        t0, f0 = t1, f1
    return found


def events(latitude, longitude, zone, date, step_seconds=20):
    start = start_of_day(date, zone)
    end = start_of_day(date + dt.timedelta(days=1), zone)
    found = crossings(Sky(latitude, longitude), start, end, step_seconds)
    rises = [t for t, rising in found if rising]
    sets = [t for t, rising in found if not rising]
    return (rises[0] if rises else None, sets[-1] if sets else None, len(rises), len(sets))


def polar_dates(latitude, longitude, zone):
    """Days around each change of presence of sunrise or sunset, and the first
    days holding two sunrises or two sunsets, over the year 2026."""
    picked = {}
    previous = None
    first_double = {}
    date = dt.date(2026, 1, 1)
    while date.year == 2026:
        rise, set_, nrise, nset = events(latitude, longitude, zone, date, step_seconds=300)
        state = (rise is not None, set_ is not None)
        if previous is not None and state != previous:
            picked[date - dt.timedelta(days=1)] = "before transition"
            picked[date] = "after transition"
        if nrise > 1 and "two sunrises" not in first_double:
            first_double["two sunrises"] = date
        if nset > 1 and "two sunsets" not in first_double:
            first_double["two sunsets"] = date
        previous = state
        date += dt.timedelta(days=1)
    for label, day in first_double.items():
        picked[day] = label
    return sorted(picked.items())


def iso(instant):
    if instant is None:
        return "-"
    return instant.astimezone(UTC).strftime("%Y-%m-%dT%H:%M:%S.") + "%02dZ" % (instant.microsecond // 10000)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_path = os.path.join(root, "tests", "unit", "data", "sun-reference.tsv")
    rows = []
    for name, lat, lon, tzname in PLACES:
        zone = ZoneInfo(tzname)
        dates = [(label, d) for label, d in COMMON_DATES]
        dates += [("clock change", d) for d in DST_DATES.get(tzname, [])]
        dates += [("next to a clock change", d) for d in EXTRA_DATES.get(name, [])]
        if name in POLAR:
            dates += [(label, d) for d, label in polar_dates(lat, lon, zone)]
        seen = set()
        for label, date in sorted(dates, key=lambda item: item[1]):
            if date in seen:
                continue
            seen.add(date)
            rise, set_, nrise, nset = events(lat, lon, zone, date)
            rows.append((name, lat, lon, tzname, date.isoformat(), label, iso(rise), iso(set_), nrise, nset))
        print(name, file=sys.stderr)
    with open(out_path, "w") as out:
        out.write("# Generated by tools/generate-sun-reference.py with PyEphem %s; do not edit.\n" % ephem.__version__)
        out.write("# place\tlatitude\tlongitude\ttime zone\tlocal date\tkind\tsunrise (UTC)\tsunset (UTC)\trisings\tsettings\n")
        for row in rows:
            out.write("\t".join(str(v) for v in row) + "\n")
    print("%d rows written to %s" % (len(rows), out_path), file=sys.stderr)


if __name__ == "__main__":
    main()
