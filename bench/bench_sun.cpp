#include "sun/Places.h"
#include "sun/SunCalculator.h"

#include <QDate>
#include <QTimeZone>
#include <benchmark/benchmark.h>

using namespace daybrook;

namespace {

// One civil day's sunrise and sunset from the day's bounds: what the service
// does for every position it receives.
void BM_SunEventsOfOneDay(benchmark::State &state) {
    const double latitude = static_cast<double>(state.range(0));
    const QTimeZone zone("Europe/Berlin");
    const QDate date(2026, 6, 21);
    const double start = date.startOfDay(zone).toMSecsSinceEpoch() / 1000.0;
    const double end = date.addDays(1).startOfDay(zone).toMSecsSinceEpoch() / 1000.0;
    for (auto _ : state) {
        sun::SunEvents events = sun::sunEventsBetween(start, end, latitude, 13.405);
        benchmark::DoNotOptimize(events);
    }
}
BENCHMARK(BM_SunEventsOfOneDay)->Arg(52)->Arg(66)->Arg(78);

// The same including the local day's bounds from the process's time zone.
void BM_SunEventsOfLocalDate(benchmark::State &state) {
    const QDate date(2026, 3, 29);
    for (auto _ : state) {
        sun::SunEvents events = sun::sunEventsOnDate(date, 52.52, 13.405);
        benchmark::DoNotOptimize(events);
    }
}
BENCHMARK(BM_SunEventsOfLocalDate);

const QString zoneInfo = QString::fromLatin1(sun::defaultZoneInfoRoot);

// The time zone fallback, read on a worker thread: a zone in zone1970.tab, one
// that is a symbolic link, one found only after scanning tzdata.zi (no city).
void BM_ReferenceCity(benchmark::State &state) {
    const QString zones[] = {QStringLiteral("Europe/Berlin"), QStringLiteral("Asia/Calcutta"),
                             QStringLiteral("Etc/GMT+3")};
    const QString &zone = zones[state.range(0)];
    for (auto _ : state)
        benchmark::DoNotOptimize(sun::referenceCity(zone, zoneInfo));
}
BENCHMARK(BM_ReferenceCity)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// The place picker's list, read on a worker thread when it opens.
void BM_TzdataPlaces(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(sun::tzdataPlaces(zoneInfo));
}
BENCHMARK(BM_TzdataPlaces)->Unit(benchmark::kMicrosecond);

// One keystroke in the place picker: searched on the UI thread, so it must
// stay far below a frame.
void BM_SearchPlaces(benchmark::State &state) {
    const QList<sun::Place> places = sun::tzdataPlaces(zoneInfo);
    const QString query = state.range(0) ? QStringLiteral("s") : QStringLiteral("sao pau");
    for (auto _ : state)
        benchmark::DoNotOptimize(sun::searchPlaces(places, query, 200));
}
BENCHMARK(BM_SearchPlaces)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
