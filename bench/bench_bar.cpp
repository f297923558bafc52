// The bar's hot paths: the row layout, the time <-> x mapping, and a whole
// frame painted into an image.
#include "bar/BarRenderer.h"
#include "bar/BarState.h"
#include "core/Clock.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>
#include <cstring>
#include <optional>

using namespace daybrook;

namespace {
QDateTime todayAt(double hours) {
    const QDateTime start = QDate::currentDate().startOfDay();
    return start.addMSecs(qint64(hours * 3600 * 1000)).toUTC();
}

// A plausible day: entries between 07:00 and 21:00, 15 to 120 minutes long,
// with overlaps, a few open ones and emoji labels.
TimeEntryList sampleEntries(int count, quint32 seed) {
    static const char *labels[] = {"Standup",    "☕ Coffee", "Design review", "🏃 Run", "1:1",
                                   "Planning 📋", "Lunch 🍜",  "Focus time",    "Email", "🎸"};
    static const char *colours[] = {"#4285F4", "#8E24AA", "#F4511E", "#33B679", "#E67C73", "#039BE5"};
    QRandomGenerator random(seed);
    TimeEntryList entries;
    for (int i = 0; i < count; ++i) {
        const double start = 7 + random.bounded(14.0);
        std::optional<QDateTime> end = todayAt(start + (15 + random.bounded(105)) / 60.0);
        if (i % 17 == 5)
            end.reset();
        entries.append(CalendarEntry{QStringLiteral("event-%1").arg(i), todayAt(start), end,
                                     QString::fromUtf8(labels[i % 10]),
                                     hexColor(QString::fromLatin1(colours[i % 6])), QStringLiteral("Work")});
    }
    return entries;
}

BarPreviewData day(int count, bool dark) {
    BarPreviewData data;
    data.entries = sampleEntries(count, 7);
    data.isDarkMode = dark;
    data.sunEnabled = true;
    data.sunrise = todayAt(7.6);
    data.sunset = todayAt(17.2);
    return data;
}

// The bar every benchmark measures: 1920 px wide at 13:00, with `data` shown.
void setUp(BarState &state, const std::optional<BarPreviewData> &data = {}, bool expanded = false) {
    state.setCurrentTime(todayAt(13));
    state.setFrame(QRectF(0, 0, 1920, 150));
    if (data)
        state.setPreviewData(*data);
    if (expanded)
        state.setIsExpanded(true);
}

QImage frameImage() {
    return QImage(1920, 150, QImage::Format_ARGB32_Premultiplied);
}

void layout(benchmark::State &bench, int count) {
    BarState state;
    setUp(state, day(count, false));
    for (auto _ : bench) {
        state.computeLayout();
        benchmark::DoNotOptimize(state.cachedTotalRows());
    }
}
} // namespace

static void BM_Layout2000(benchmark::State &bench) {
    layout(bench, 2000);
}
BENCHMARK(BM_Layout2000)->Unit(benchmark::kMillisecond);

static void BM_Layout50(benchmark::State &bench) {
    layout(bench, 50);
}
BENCHMARK(BM_Layout50)->Unit(benchmark::kMicrosecond);

static void BM_XPosition(benchmark::State &bench) {
    BarState state;
    setUp(state);
    const QDateTime t = todayAt(15.5);
    for (auto _ : bench)
        benchmark::DoNotOptimize(state.xPosition(t));
}
BENCHMARK(BM_XPosition);

static void BM_EntryFrame(benchmark::State &bench) {
    BarState state;
    setUp(state);
    const TimeEntryList entries = sampleEntries(50, 3);
    qsizetype i = 0;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(state.entryFrame(entries[i]));
        i = (i + 1) % entries.size();
    }
}
BENCHMARK(BM_EntryFrame);

// A full frame of a 1920-px bar, 50 entries, dark mode with stars, expanded,
// with an entry tooltip: what a repaint of the whole panel costs.
static void BM_FullFrameDarkExpanded(benchmark::State &bench) {
    BarState state;
    setUp(state, day(50, true), true);
    const TimeEntry &hovered = state.entries().at(10);
    const EntryFrame frame = state.entryFrame(hovered);
    state.updateHover(HoveredElement::entry(hovered.id(), frame.x + frame.width / 2), true);
    const BarVisuals visuals = BarVisuals::settled(state);
    if (!visuals.tooltip) {
        bench.SkipWithError("no tooltip");
        return;
    }
    BarRenderer renderer;
    QImage image = frameImage();
    for (auto _ : bench) {
        // A plain clear: QImage::fill hands large images to a thread pool,
        // which is not what is measured here.
        std::memset(image.bits(), 0, size_t(image.sizeInBytes()));
        QPainter painter(&image);
        renderer.paint(painter, state, visuals);
    }
}
BENCHMARK(BM_FullFrameDarkExpanded)->Unit(benchmark::kMicrosecond);

// The breathing hand: what one of its repaints costs.
static void BM_HandRepaint(benchmark::State &bench) {
    BarState state;
    setUp(state, day(50, true));
    BarVisuals visuals = BarVisuals::settled(state);
    BarRenderer renderer;
    QImage image = frameImage();
    const QRect dirty = BarRenderer::handHoverRect(state).toAlignedRect().adjusted(-2, -2, 2, 2);
    double scale = 1.0;
    for (auto _ : bench) {
        visuals.breathing = scale;
        scale = scale >= 1.15 ? 1.0 : scale + 0.01;
        QPainter painter(&image);
        painter.setClipRect(dirty);
        renderer.paint(painter, state, visuals, dirty);
    }
}
BENCHMARK(BM_HandRepaint)->Unit(benchmark::kMicrosecond);

// A whole repaint with 5,000 entries today while the pointer moves over an
// expanded bar: the tooltip follows it, the hovered entry changes now and then.
static void BM_Repaint5000Hovering(benchmark::State &bench) {
    BarState state;
    setUp(state, day(5000, true), true);
    BarRenderer renderer;
    QImage image = frameImage();
    const TimeEntryList &entries = state.entries();
    {
        // The entry layer is laid out once per change of the entries; what is
        // measured here is every repaint after that (BM_EntryLayer5000 covers
        // the change itself).
        QPainter painter(&image);
        renderer.paint(painter, state, BarVisuals::settled(state));
    }
    qsizetype i = 0;
    for (auto _ : bench) {
        const TimeEntry &hovered = entries.at(i / 8 % entries.size());
        const EntryFrame frame = state.entryFrame(hovered);
        state.updateHover(HoveredElement::entry(hovered.id(), frame.x + (i % 8) * frame.width / 8), true);
        ++i;
        const BarVisuals visuals = BarVisuals::settled(state);
        std::memset(image.bits(), 0, size_t(image.sizeInBytes()));
        QPainter painter(&image);
        renderer.paint(painter, state, visuals);
    }
}
BENCHMARK(BM_Repaint5000Hovering)->Unit(benchmark::kMicrosecond);

// What a change of the entries (or width, theme, bar state) costs once with
// 5,000 entries: the blocks are laid out and drawn into the cached layer.
static void BM_EntryLayer5000(benchmark::State &bench) {
    BarState state;
    setUp(state, day(5000, true), true);
    BarRenderer renderer;
    QImage image = frameImage();
    const BarVisuals visuals = BarVisuals::settled(state);
    for (auto _ : bench) {
        renderer.invalidate();
        QPainter painter(&image);
        renderer.paint(painter, state, visuals);
    }
}
BENCHMARK(BM_EntryLayer5000)->Unit(benchmark::kMillisecond);
