#pragma once

#include "core/TimeEntry.h"
#include "sun/SunService.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <optional>
#include <variant>

namespace daybrook {

class AppState;

// What the pointer rests on inside the bar.
struct HoveredElement {
    struct Tick {
        int hour = 0;
        bool operator==(const Tick &) const = default;
    };
    struct Entry {
        QString id;
        double x = 0; // pointer x on the bar at the last hover event
        bool operator==(const Entry &) const = default;
    };
    std::variant<Tick, Entry> value;

    static HoveredElement tick(int hour) { return {Tick{hour}}; }
    static HoveredElement entry(const QString &id, double x) { return {Entry{id, x}}; }
    const Tick *asTick() const { return std::get_if<Tick>(&value); }
    const Entry *asEntry() const { return std::get_if<Entry>(&value); }
    bool operator==(const HoveredElement &) const = default;
};

// What the tooltip under the bar shows.
struct TooltipContent {
    struct ClockHand {
        QString text;
        double x = 0;
        bool operator==(const ClockHand &) const = default;
    };
    struct Tick {
        QString text;
        double x = 0;
        bool operator==(const Tick &) const = default;
    };
    struct Entry {
        TimeEntry entry;
        QString timeRange;
        QString cursorTime;
        double x = 0;
        // Entries are the same when their ids are.
        bool operator==(const Entry &o) const {
            return entry.id() == o.entry.id() && timeRange == o.timeRange && cursorTime == o.cursorTime &&
                   x == o.x;
        }
    };
    std::variant<ClockHand, Tick, Entry> value;

    double x() const {
        return std::visit([](const auto &v) { return v.x; }, value);
    }
    bool operator==(const TooltipContent &) const = default;
};

enum class EntryTimeStatus { Past, Current, Future };

struct EntryFrame {
    double x = 0;
    double width = 0;
};

struct EntryLayout {
    int row = 0;
    int totalRows = 1;
};

// A whole hour of the day range as the local clock shows it.
struct HourTick {
    int hour = 0;
    qint64 msecs = 0; // its first instant, ms since the epoch
};

// A fixed day shown instead of the live services' data: the image export tool
// draws its sample day with it, and tests use it to set up days precisely.
struct BarPreviewData {
    TimeEntryList entries;
    bool sunEnabled = false;
    std::optional<QDateTime> sunrise;
    std::optional<QDateTime> sunset;
    PolarDay polarDay = PolarDay::None;
    // Light or dark; unset follows the application state.
    std::optional<bool> isDarkMode;
};

// The bar's model: time <-> x mapping, the row layout of today's entries and the
// hover record. Lives as long as the panel; holds the application state weakly.
class BarState : public QObject {
    Q_OBJECT
public:
    // The margin before the first and after the last hour, in hours.
    static constexpr double bufferHours = 0.25;

    explicit BarState(QObject *parent = nullptr);
    ~BarState() override;

    AppState *appState() const;
    void setAppState(AppState *appState);
    const QRectF &frame() const { return m_frame; }
    void setFrame(const QRectF &frame);
    bool isExpanded() const { return m_isExpanded; }
    void setIsExpanded(bool value);
    bool isLeaving() const { return m_isLeaving; }
    void setIsLeaving(bool value);
    const QDateTime &currentTime() const { return m_currentTime; }
    void setCurrentTime(const QDateTime &time);
    bool barContentHovered() const { return m_barContentHovered; }
    void setBarContentHovered(bool value);
    bool clockHandHovered() const { return m_clockHandHovered; }
    void setClockHandHovered(bool value);
    const std::optional<HoveredElement> &hoveredElement() const { return m_hoveredElement; }
    void setHoveredElement(const std::optional<HoveredElement> &element);

    void setPreviewData(std::optional<BarPreviewData> data);
    bool hasPreviewData() const { return m_preview.has_value(); }
    std::optional<bool> previewDarkMode() const { return m_preview ? m_preview->isDarkMode : std::nullopt; }

    // Layout cache (read-only views for diagnostics and tests).
    const QHash<QString, int> &cachedEntryLayouts() const { return m_cachedEntryLayouts; }
    const QHash<QString, int> &cachedGroupTotalRows() const { return m_cachedGroupTotalRows; }
    int cachedTotalRows() const { return m_cachedTotalRows; }
    size_t lastLayoutEntriesHash() const { return m_lastLayoutEntriesHash; }
    // How many times the layout has been computed (the cache's behaviour is observable).
    int layoutComputationCount() const { return m_layoutComputations; }
    // Counts contentChanged: views that cache what they draw compare it.
    quint64 contentRevision() const { return m_contentRevision; }

    const TimeEntryList &entries() const;

    // The configured hours, clamped to the day (0 to 24) and put in order, so
    // that the bar keeps a positive length whatever the settings hold.
    int dayStartHour() const;
    int dayEndHour() const;
    // The first instant of the local day that holds currentTime (on a day whose
    // midnight repeats, the earlier one), in ms since the epoch.
    qint64 dayStartMSecs() const;
    // The bar's span: a quarter of an hour before the first instant of the start
    // hour to a quarter of an hour after the end hour.
    qint64 rangeStartMSecs() const;
    qint64 rangeEndMSecs() const;
    // The ticks: every hour of the range that the local clock shows today, in
    // order. At most 25, whatever the settings hold.
    const QList<HourTick> &hourTicks() const;
    // Width of one real hour on the bar.
    double hourWidth() const;

    double xPosition(const QDateTime &time) const { return xPositionMSecs(time.toMSecsSinceEpoch()); }
    double xPositionMSecs(qint64 msecs) const;
    // x of the first instant of a wall-clock hour of today (of the instant the
    // clocks jump to when they skip it), clamped to the bar.
    double hourX(int hour) const;
    QDateTime date(double x) const;
    std::optional<double> sunriseX() const;
    std::optional<double> sunsetX() const;
    // Where the morning's night ends and the evening's begins: at sunrise and
    // sunset; at an edge on a day the Sun does not rise or set; 05:00 and
    // 23:00 while no sun times are known.
    double nightMorningX() const;
    double nightEveningX() const;
    bool showSunGradients() const;
    bool sunEnabled() const;
    std::optional<QDateTime> sunrise() const;
    std::optional<QDateTime> sunset() const;

    EntryFrame entryFrame(const TimeEntry &entry) const;
    EntryTimeStatus status(const TimeEntry &entry) const;
    EntryLayout layout(const TimeEntry &entry);

    void ensureLayout();
    void computeLayout();
    bool entriesOverlap(const TimeEntry &a, const TimeEntry &b) const;
    bool layoutOrder(const TimeEntry &a, const TimeEntry &b) const;

    void updateHover(const HoveredElement &element, bool hovering);
    bool isHoveringEntry() const;
    struct TimeText {
        QString timeRange;
        QString cursorTime;
    };
    std::optional<TimeText> timeText() const;
    std::optional<TooltipContent> activeTooltip() const;

    // "HH:mm" in the local zone.
    static QString formatTime(const QDateTime &time);
    static QString formatTimeMSecs(qint64 msecs);

Q_SIGNALS:
    void appStateChanged();
    void frameChanged();
    void isExpandedChanged();
    void isLeavingChanged();
    void currentTimeChanged();
    void barContentHoveredChanged();
    void clockHandHoveredChanged();
    void hoveredElementChanged();
    void layoutChanged();
    // Anything the bar's picture depends on that lives outside this object:
    // the entries, the day range, the sun times, the theme.
    void contentChanged();

private:
    const TimeEntry *findEntry(const QString &id) const;
    qint64 endMSecs(const TimeEntry &entry) const;
    void updateGeometryCache() const;
    void connectAppState();

    QPointer<AppState> m_appState;
    QRectF m_frame;
    bool m_isExpanded = false;
    bool m_isLeaving = false;
    QDateTime m_currentTime;
    bool m_barContentHovered = false;
    bool m_clockHandHovered = false;
    std::optional<HoveredElement> m_hoveredElement;

    QHash<QString, int> m_cachedEntryLayouts;
    QHash<QString, int> m_cachedGroupTotalRows;
    int m_cachedTotalRows = 1;
    size_t m_lastLayoutEntriesHash = 0;
    bool m_layoutValid = false;
    int m_layoutComputations = 0;
    quint64 m_contentRevision = 0;

    std::optional<BarPreviewData> m_preview;
    QList<QMetaObject::Connection> m_appConnections;

    // Geometry hot path: cached so that xPosition is plain arithmetic. Refreshed
    // when currentTime or the day range changes.
    mutable qint64 m_currentMSecs = 0;
    mutable qint64 m_geoDayStart = 0;   // first instant of today
    mutable qint64 m_geoRangeStart = 0; // start hour's first instant - 15 min
    mutable qint64 m_geoRangeEnd = 0;   // end hour's first instant + 15 min
    mutable double m_geoRangeMSecs = 1;
    mutable QList<HourTick> m_geoTicks;
    mutable bool m_geoValid = false;
};

} // namespace daybrook
