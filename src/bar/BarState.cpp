#include "bar/BarState.h"

#include "core/Clock.h"
#include "core/Logging.h"
#include "state/AppState.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <vector>

namespace daybrook {

namespace {
constexpr qint64 msPerHour = 3600 * 1000;
constexpr qint64 closeStartsMSecs = 300 * 1000;

QString hoveredText(const std::optional<HoveredElement> &element) {
    if (!element)
        return QStringLiteral("nil");
    if (const auto *tick = element->asTick())
        return QStringLiteral("tick(hour: %1)").arg(tick->hour);
    const auto *entry = element->asEntry();
    return QStringLiteral("entry(id: %1, x: %2)").arg(entry->id).arg(entry->x);
}
} // namespace

BarState::BarState(QObject *parent) : QObject(parent), m_currentTime(Clock::now()) {
    // Connected first, so every other receiver already sees the new revision.
    connect(this, &BarState::contentChanged, this, [this] { ++m_contentRevision; });
}

BarState::~BarState() = default;

AppState *BarState::appState() const {
    return m_appState.data();
}

void BarState::setAppState(AppState *appState) {
    m_appState = appState;
    m_geoValid = false;
    connectAppState();
    Q_EMIT appStateChanged();
    Q_EMIT contentChanged();
}

void BarState::connectAppState() {
    for (const auto &connection : std::as_const(m_appConnections))
        disconnect(connection);
    m_appConnections.clear();
    AppState *state = m_appState.data();
    if (!state)
        return;
    const auto rangeChanged = [this] {
        m_geoValid = false;
        Q_EMIT contentChanged();
    };
    const auto changed = [this] { Q_EMIT contentChanged(); };
    m_appConnections << connect(state, &AppState::dayStartHourChanged, this, rangeChanged)
                     << connect(state, &AppState::dayEndHourChanged, this, rangeChanged)
                     << connect(state, &AppState::isDarkModeChanged, this, changed)
                     << connect(state, &QObject::destroyed, this, rangeChanged);
    if (DataSource *source = state->dataSource())
        m_appConnections << connect(source, &DataSource::timeEntriesChanged, this, changed);
    if (SunService *sun = state->sunService()) {
        m_appConnections << connect(sun, &SunService::isEnabledChanged, this, changed)
                         << connect(sun, &SunService::sunriseChanged, this, changed)
                         << connect(sun, &SunService::sunsetChanged, this, changed)
                         << connect(sun, &SunService::polarDayChanged, this, changed);
    }
}

void BarState::setFrame(const QRectF &frame) {
    m_frame = frame;
    Q_EMIT frameChanged();
}

void BarState::setIsExpanded(bool value) {
    m_isExpanded = value;
    Q_EMIT isExpandedChanged();
}

void BarState::setIsLeaving(bool value) {
    m_isLeaving = value;
    Q_EMIT isLeavingChanged();
}

void BarState::setCurrentTime(const QDateTime &time) {
    m_currentTime = time;
    m_geoValid = false;
    Q_EMIT currentTimeChanged();
}

void BarState::setBarContentHovered(bool value) {
    m_barContentHovered = value;
    Q_EMIT barContentHoveredChanged();
}

void BarState::setClockHandHovered(bool value) {
    m_clockHandHovered = value;
    Q_EMIT clockHandHoveredChanged();
}

void BarState::setHoveredElement(const std::optional<HoveredElement> &element) {
    m_hoveredElement = element;
    Q_EMIT hoveredElementChanged();
}

void BarState::setPreviewData(std::optional<BarPreviewData> data) {
    m_preview = std::move(data);
    Q_EMIT contentChanged();
}

const TimeEntryList &BarState::entries() const {
    static const TimeEntryList empty;
    if (m_preview)
        return m_preview->entries;
    if (m_appState && m_appState->dataSource())
        return m_appState->dataSource()->timeEntries();
    return empty;
}

// ---- day range and geometry -------------------------------------------------

namespace {
constexpr qint64 msPerDay = 24 * msPerHour;
constexpr qint64 bufferMSecs = qint64(BarState::bufferHours * msPerHour);

// The local clock's offset from UTC at an instant, in ms.
qint64 localOffsetMSecs(qint64 msecs) {
    return qint64(QDateTime::fromMSecsSinceEpoch(msecs, Qt::LocalTime).offsetFromUtc()) * 1000;
}

struct WallInstant {
    qint64 msecs = 0;
    bool exists = true; // false: the clocks skip this reading
};

// The first instant at which the local clock reads `wall` (a reading in ms, as
// if it were UTC). A reading the clocks skip gets the instant they jump past
// it. Only the offsets a day either side are tried: zones change offset at most
// once in such a span.
WallInstant wallInstant(qint64 wall) {
    const qint64 before = localOffsetMSecs(wall - msPerDay);
    const qint64 after = localOffsetMSecs(wall + msPerDay);
    std::optional<qint64> first;
    for (const qint64 offset : {before, after}) {
        const qint64 candidate = wall - offset;
        if (localOffsetMSecs(candidate) == offset && (!first || candidate < *first))
            first = candidate;
    }
    if (first)
        return {*first, true};
    return {wall - before, false};
}

// The local clock's reading h:00 of a day, in ms as if it were UTC.
qint64 wallReading(const QDate &day, int hour) {
    return QDateTime(day, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch() + qint64(hour) * msPerHour;
}
} // namespace

int BarState::dayStartHour() const {
    if (!m_appState)
        return 7;
    // A start after the end (the settings allow it) is read as the range
    // between the two hours, so the bar keeps a positive length.
    return std::clamp(std::min(m_appState->dayStartHour(), m_appState->dayEndHour()), 0, 24);
}

int BarState::dayEndHour() const {
    if (!m_appState)
        return 21;
    return std::clamp(std::max(m_appState->dayStartHour(), m_appState->dayEndHour()), 0, 24);
}

void BarState::updateGeometryCache() const {
    // Every position comes from the real instants of the local clock's hours,
    // so that on a day of 23 or 25 hours the hand at 12:00 sits on the 12:00
    // tick, a skipped hour has no tick and a repeated one is ticked once.
    m_currentMSecs = m_currentTime.toMSecsSinceEpoch();
    const QDate day = m_currentTime.toLocalTime().date();
    m_geoDayStart = wallInstant(wallReading(day, 0)).msecs;
    const int first = dayStartHour(), last = dayEndHour();
    m_geoTicks.clear();
    qint64 rangeStart = 0, rangeEnd = 0;
    for (int hour = first; hour <= last; ++hour) {
        const WallInstant instant = wallInstant(wallReading(day, hour));
        if (hour == first)
            rangeStart = instant.msecs;
        if (hour == last)
            rangeEnd = instant.msecs;
        if (instant.exists && (m_geoTicks.isEmpty() || instant.msecs > m_geoTicks.constLast().msecs))
            m_geoTicks.append({hour, instant.msecs});
    }
    m_geoRangeStart = rangeStart - bufferMSecs;
    m_geoRangeEnd = std::max(rangeEnd, rangeStart) + bufferMSecs;
    m_geoRangeMSecs = double(m_geoRangeEnd - m_geoRangeStart);
    m_geoValid = true;
}

qint64 BarState::dayStartMSecs() const {
    if (!m_geoValid)
        updateGeometryCache();
    return m_geoDayStart;
}

qint64 BarState::rangeStartMSecs() const {
    if (!m_geoValid)
        updateGeometryCache();
    return m_geoRangeStart;
}

qint64 BarState::rangeEndMSecs() const {
    if (!m_geoValid)
        updateGeometryCache();
    return m_geoRangeEnd;
}

const QList<HourTick> &BarState::hourTicks() const {
    if (!m_geoValid)
        updateGeometryCache();
    return m_geoTicks;
}

double BarState::hourWidth() const {
    if (!m_geoValid)
        updateGeometryCache();
    return m_frame.width() * double(msPerHour) / m_geoRangeMSecs;
}

double BarState::xPositionMSecs(qint64 msecs) const {
    if (!m_geoValid)
        updateGeometryCache();
    double fraction = double(msecs - m_geoRangeStart) / m_geoRangeMSecs;
    if (fraction < 0)
        fraction = 0;
    else if (fraction >= 1)
        fraction = 1;
    return fraction * m_frame.width();
}

double BarState::hourX(int hour) const {
    if (!m_geoValid)
        updateGeometryCache();
    for (const HourTick &tick : std::as_const(m_geoTicks)) {
        if (tick.hour == hour)
            return xPositionMSecs(tick.msecs);
    }
    // Outside the range (or skipped): the clamp puts any hour of another day
    // at an edge, so two days either side are enough.
    const QDate day = QDateTime::fromMSecsSinceEpoch(m_geoDayStart, Qt::LocalTime).date();
    return xPositionMSecs(wallInstant(wallReading(day, std::clamp(hour, -48, 72))).msecs);
}

QDateTime BarState::date(double x) const {
    if (!m_geoValid)
        updateGeometryCache();
    const double width = m_frame.width();
    const double f = width > 0 ? x / width : 0;
    return QDateTime::fromMSecsSinceEpoch(m_geoRangeStart + qint64(std::llround(f * m_geoRangeMSecs)),
                                          Qt::UTC);
}

bool BarState::sunEnabled() const {
    if (m_preview)
        return m_preview->sunEnabled;
    return m_appState && m_appState->sunService() && m_appState->sunService()->isEnabled();
}

std::optional<QDateTime> BarState::sunrise() const {
    if (m_preview)
        return m_preview->sunrise;
    if (m_appState && m_appState->sunService())
        return m_appState->sunService()->sunrise();
    return std::nullopt;
}

std::optional<QDateTime> BarState::sunset() const {
    if (m_preview)
        return m_preview->sunset;
    if (m_appState && m_appState->sunService())
        return m_appState->sunService()->sunset();
    return std::nullopt;
}

std::optional<double> BarState::sunriseX() const {
    if (!m_preview && !m_appState)
        return std::nullopt;
    if (const auto time = sunrise())
        return xPosition(*time);
    return std::nullopt;
}

std::optional<double> BarState::sunsetX() const {
    if (!m_preview && !m_appState)
        return std::nullopt;
    if (const auto time = sunset())
        return xPosition(*time);
    return std::nullopt;
}

double BarState::nightMorningX() const {
    if (const auto x = sunriseX())
        return *x;
    const PolarDay polar = m_preview                                ? m_preview->polarDay
                           : m_appState && m_appState->sunService() ? m_appState->sunService()->polarDay()
                                                                    : PolarDay::None;
    if (polar == PolarDay::PolarNight)
        return m_frame.width();
    // Up at midnight already: it sets today (or not at all) without rising.
    if (polar == PolarDay::MidnightSun || sunset())
        return 0;
    return hourX(5);
}

double BarState::nightEveningX() const {
    if (const auto x = sunsetX())
        return *x;
    // Risen and not setting again today, or not risen at all.
    const bool polar = m_preview ? m_preview->polarDay != PolarDay::None
                                 : m_appState && m_appState->sunService() &&
                                       m_appState->sunService()->polarDay() != PolarDay::None;
    if (polar || sunrise())
        return m_frame.width();
    return hourX(23);
}

bool BarState::showSunGradients() const {
    if (!m_preview && !m_appState)
        return false;
    const bool enabled = sunEnabled();
    const auto rise = sunrise();
    const auto set = sunset();
    const bool result = enabled && rise && set;
    qCDebug(lcBar).noquote() << "☀️ showSunGradients:" << result << "(enabled:" << enabled
                             << ", sunrise:" << (rise ? rise->toString(Qt::ISODate) : QStringLiteral("nil"))
                             << ", sunset:" << (set ? set->toString(Qt::ISODate) : QStringLiteral("nil"))
                             << ")";
    return result;
}

qint64 BarState::endMSecs(const TimeEntry &entry) const {
    if (const auto &end = entry.endTime())
        return end->toMSecsSinceEpoch();
    return m_currentTime.toMSecsSinceEpoch();
}

EntryFrame BarState::entryFrame(const TimeEntry &entry) const {
    const double x = xPositionMSecs(entry.startTime().toMSecsSinceEpoch());
    const auto &end = entry.endTime();
    double width = xPositionMSecs(end ? end->toMSecsSinceEpoch() : m_currentMSecs) - x;
    if (width <= 2.0)
        width = 2.0;
    qCDebug(lcBar).noquote() << "📍 entryFrame:" << forLog(entry.label()) << "| id:" << entry.id() << "| time:"
                             << formatTime(entry.startTime()) + QLatin1Char('-') +
                                    (end ? formatTime(*end) : QStringLiteral("now"))
                             << "| x:" << x << ", width:" << width << "| barWidth:" << m_frame.width();
    return {x, width};
}

EntryTimeStatus BarState::status(const TimeEntry &entry) const {
    const qint64 now = m_currentTime.toMSecsSinceEpoch();
    if (const auto &end = entry.endTime(); end && end->toMSecsSinceEpoch() < now)
        return EntryTimeStatus::Past;
    if (entry.startTime().toMSecsSinceEpoch() > now)
        return EntryTimeStatus::Future;
    return EntryTimeStatus::Current;
}

// ---- row layout -------------------------------------------------------------

EntryLayout BarState::layout(const TimeEntry &entry) {
    ensureLayout();
    return {m_cachedEntryLayouts.value(entry.id(), 0), m_cachedGroupTotalRows.value(entry.id(), 1)};
}

void BarState::ensureLayout() {
    const TimeEntryList &list = entries();
    size_t hash = size_t(list.size());
    for (const TimeEntry &entry : list)
        hash = qHash(entry.id(), hash * 31 + 7);
    if (m_layoutValid && hash == m_lastLayoutEntriesHash)
        return;
    computeLayout();
    m_lastLayoutEntriesHash = hash;
    m_layoutValid = true;
}

bool BarState::entriesOverlap(const TimeEntry &a, const TimeEntry &b) const {
    return a.startTime().toMSecsSinceEpoch() < endMSecs(b) && b.startTime().toMSecsSinceEpoch() < endMSecs(a);
}

bool BarState::layoutOrder(const TimeEntry &a, const TimeEntry &b) const {
    const qint64 startA = a.startTime().toMSecsSinceEpoch();
    const qint64 startB = b.startTime().toMSecsSinceEpoch();
    const qint64 d = startA - startB;
    if (d <= closeStartsMSecs && d >= -closeStartsMSecs)
        return endMSecs(b) - startB < endMSecs(a) - startA;
    return startA < startB;
}

namespace {
struct LayoutItem {
    int index;    // position in the entry list
    qint64 start; // ms since the epoch
    qint64 end;   // end, or now for an open entry
};

// layoutOrder on precomputed times.
inline bool goesBefore(const LayoutItem &a, const LayoutItem &b) {
    const qint64 d = a.start - b.start;
    if (d <= closeStartsMSecs && d >= -closeStartsMSecs)
        return b.end - b.start < a.end - a.start;
    return a.start < b.start;
}

// The order predicate is not transitive for chains of close starts, which
// std::sort and friends do not allow: sort with algorithms that stay within
// bounds whatever the predicate answers.
void insertionSort(std::vector<LayoutItem> &items) {
    for (size_t i = 1; i < items.size(); ++i) {
        LayoutItem item = items[i];
        size_t j = i;
        while (j > 0 && goesBefore(item, items[j - 1])) {
            items[j] = items[j - 1];
            --j;
        }
        items[j] = item;
    }
}

void mergeSort(std::vector<LayoutItem> &items) {
    std::vector<LayoutItem> buffer(items.size());
    const size_t n = items.size();
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t left = 0; left < n; left += 2 * width) {
            const size_t mid = std::min(left + width, n);
            const size_t right = std::min(left + 2 * width, n);
            size_t i = left, j = mid, k = left;
            while (i < mid && j < right)
                buffer[k++] = goesBefore(items[j], items[i]) ? items[j++] : items[i++];
            while (i < mid)
                buffer[k++] = items[i++];
            while (j < right)
                buffer[k++] = items[j++];
        }
        items.swap(buffer);
    }
}
} // namespace

void BarState::computeLayout() {
    ++m_layoutComputations;
    const TimeEntryList &list = entries();
    const qsizetype n = list.size();
    QHash<QString, int> layouts;
    QHash<QString, int> groupRows;
    int totalRows = 1;

    if (n > 0) {
        const qint64 now = m_currentTime.toMSecsSinceEpoch();
        std::vector<LayoutItem> items(static_cast<size_t>(n));
        // Entries are keyed by id: a repeated id shares the first entry's node.
        QHash<QString, int> firstIndex;
        firstIndex.reserve(n);
        std::vector<int> canonical(static_cast<size_t>(n));
        for (qsizetype i = 0; i < n; ++i) {
            const TimeEntry &entry = list[i];
            const auto &end = entry.endTime();
            items[size_t(i)] = {int(i), entry.startTime().toMSecsSinceEpoch(),
                                end ? end->toMSecsSinceEpoch() : now};
            auto found = firstIndex.constFind(entry.id());
            if (found == firstIndex.constEnd())
                found = firstIndex.insert(entry.id(), int(i));
            canonical[size_t(i)] = found.value();
        }

        // Adjacency of the overlap relation. A sweep in start order visits only
        // pairs whose intervals can meet instead of all n^2 pairs.
        std::vector<int> byStart(static_cast<size_t>(n));
        for (qsizetype i = 0; i < n; ++i)
            byStart[size_t(i)] = int(i);
        std::stable_sort(byStart.begin(), byStart.end(),
                         [&](int a, int b) { return items[size_t(a)].start < items[size_t(b)].start; });
        // Stored compactly (one array of neighbours plus offsets per node):
        // a crowded day has hundreds of thousands of overlapping pairs.
        const auto forEachOverlap = [&](auto &&visit) {
            for (size_t p = 0; p < byStart.size(); ++p) {
                const LayoutItem &a = items[size_t(byStart[p])];
                for (size_t q = p + 1; q < byStart.size(); ++q) {
                    const LayoutItem &b = items[size_t(byStart[q])];
                    if (b.start >= a.end)
                        break;
                    if (a.start < b.end)
                        visit(canonical[size_t(a.index)], canonical[size_t(b.index)]);
                }
            }
        };
        std::vector<int> offsets(static_cast<size_t>(n) + 1, 0);
        forEachOverlap([&](int a, int b) {
            ++offsets[size_t(a) + 1];
            ++offsets[size_t(b) + 1];
        });
        for (size_t i = 1; i < offsets.size(); ++i)
            offsets[i] += offsets[i - 1];
        std::vector<int> neighbours(size_t(offsets.back()));
        std::vector<int> fill(offsets.begin(), offsets.end() - 1);
        forEachOverlap([&](int a, int b) {
            neighbours[size_t(fill[size_t(a)]++)] = b;
            neighbours[size_t(fill[size_t(b)]++)] = a;
        });

        // Connected components by breadth-first search, in list order.
        std::vector<char> visited(size_t(n), 0);
        std::vector<char> queued(size_t(n), 0);
        std::vector<int> queue;
        queue.reserve(static_cast<size_t>(n));
        std::vector<LayoutItem> group;
        std::vector<qint64> rowEnds;
        for (qsizetype i = 0; i < n; ++i) {
            if (canonical[size_t(i)] != int(i) || visited[size_t(i)])
                continue;
            group.clear();
            queue.clear();
            queue.push_back(int(i));
            for (size_t head = 0; head < queue.size(); ++head) {
                const int id = queue[head];
                if (visited[size_t(id)])
                    continue;
                visited[size_t(id)] = 1;
                group.push_back(items[size_t(id)]);
                // An id already waiting in the queue would be skipped when
                // reached again, so it is queued once: same order, less work.
                for (int k = offsets[size_t(id)]; k < offsets[size_t(id) + 1]; ++k) {
                    const int next = neighbours[size_t(k)];
                    if (!visited[size_t(next)] && !queued[size_t(next)]) {
                        queued[size_t(next)] = 1;
                        queue.push_back(next);
                    }
                }
            }

            if (group.size() < 64)
                insertionSort(group);
            else
                mergeSort(group);

            rowEnds.clear();
            for (const LayoutItem &item : group) {
                size_t row = 0;
                while (row < rowEnds.size() && item.start < rowEnds[row])
                    ++row;
                if (row == rowEnds.size())
                    rowEnds.push_back(item.end);
                else
                    rowEnds[row] = item.end;
                layouts.insert(list[item.index].id(), int(row));
            }
            const int rows = std::max<int>(1, int(rowEnds.size()));
            for (const LayoutItem &item : group)
                groupRows.insert(list[item.index].id(), rows);
            totalRows = std::max(totalRows, rows);
        }
    }

    m_cachedEntryLayouts = std::move(layouts);
    m_cachedGroupTotalRows = std::move(groupRows);
    m_cachedTotalRows = totalRows;
    Q_EMIT layoutChanged();

    if (lcLayout().isDebugEnabled()) {
        const QString rule(60, QChar(0x2500));
        qCDebug(lcLayout).noquote() << "\n📊 Entry Layout\n" + rule;
        for (const TimeEntry &entry : list) {
            const auto &end = entry.endTime();
            qCDebug(lcLayout).noquote()
                << QStringLiteral("Row %1/%2: [%3-%4] %5")
                       .arg(m_cachedEntryLayouts.value(entry.id(), 0))
                       .arg(m_cachedGroupTotalRows.value(entry.id(), 1))
                       .arg(formatTime(entry.startTime()), end ? formatTime(*end) : QStringLiteral("now"),
                            entry.label().isEmpty() ? QStringLiteral("(no label)") : forLog(entry.label()));
        }
        qCDebug(lcLayout).noquote() << rule;
    }
}

// ---- hover and tooltips -----------------------------------------------------

void BarState::updateHover(const HoveredElement &element, bool hovering) {
    if (const auto *entry = element.asEntry())
        qCDebug(lcHover).noquote() << "[hover:update] hovering:" << hovering << ", entry id:" << entry->id
                                   << ", x:" << entry->x;
    else
        qCDebug(lcHover).noquote() << "[hover:update] hovering:" << hovering
                                   << ", element:" << hoveredText(element);
    if (hovering) {
        setHoveredElement(element);
        return;
    }
    if (!m_hoveredElement)
        return;
    // Only a "left" for what is hovered now clears it: the late "left" of the
    // previous element must not erase the next one.
    bool same = false;
    if (const auto *tick = element.asTick(); tick && m_hoveredElement->asTick())
        same = m_hoveredElement->asTick()->hour == tick->hour;
    else if (const auto *entry = element.asEntry(); entry && m_hoveredElement->asEntry())
        same = m_hoveredElement->asEntry()->id == entry->id;
    if (same)
        setHoveredElement(std::nullopt);
}

const TimeEntry *BarState::findEntry(const QString &id) const {
    for (const TimeEntry &entry : entries()) {
        if (entry.id() == id)
            return &entry;
    }
    return nullptr;
}

bool BarState::isHoveringEntry() const {
    if (!m_isExpanded || !m_hoveredElement)
        return false;
    const auto *entry = m_hoveredElement->asEntry();
    return entry && findEntry(entry->id);
}

std::optional<BarState::TimeText> BarState::timeText() const {
    if (!isHoveringEntry())
        return std::nullopt;
    const auto *hovered = m_hoveredElement->asEntry();
    const TimeEntry *entry = findEntry(hovered->id);
    if (!entry)
        return std::nullopt;
    const auto &end = entry->endTime();
    TimeText text;
    text.timeRange = formatTime(entry->startTime()) + QStringLiteral(" \u2013 ") +
                     (end ? formatTime(*end) : QStringLiteral("now"));
    text.cursorTime = formatTime(date(hovered->x));
    qCDebug(lcHover).noquote() << "[hover:timeText] x:" << hovered->x << ", cursorTime:" << text.cursorTime;
    return text;
}

std::optional<TooltipContent> BarState::activeTooltip() const {
    qCDebug(lcHover).noquote() << "[hover:activeTooltip] accessed, hoveredElement:"
                               << hoveredText(m_hoveredElement);
    if (m_clockHandHovered)
        return TooltipContent{TooltipContent::ClockHand{formatTime(m_currentTime), xPosition(m_currentTime)}};
    if (!m_hoveredElement)
        return std::nullopt;
    if (const auto *tick = m_hoveredElement->asTick()) {
        return TooltipContent{
            TooltipContent::Tick{QString::asprintf("%02d:00", tick->hour), hourX(tick->hour)}};
    }
    const auto *hovered = m_hoveredElement->asEntry();
    if (!isHoveringEntry())
        return std::nullopt;
    const TimeEntry *entry = findEntry(hovered->id);
    const auto text = timeText();
    if (!entry || !text)
        return std::nullopt;
    qCDebug(lcHover).noquote() << "[hover:activeTooltip] returning entry with x:" << hovered->x
                               << ", range:" << text->timeRange << ", cursor:" << text->cursorTime;
    return TooltipContent{TooltipContent::Entry{*entry, text->timeRange, text->cursorTime, hovered->x}};
}

QString BarState::formatTime(const QDateTime &time) {
    return QLocale::c().toString(time.toLocalTime(), QStringLiteral("HH:mm"));
}

QString BarState::formatTimeMSecs(qint64 msecs) {
    return formatTime(QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC));
}

} // namespace daybrook
