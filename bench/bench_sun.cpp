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

} // namespace
