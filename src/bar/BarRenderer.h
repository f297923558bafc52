#pragma once

#include "bar/BarState.h"
#include "bar/BarTheme.h"

#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QRegion>
#include <optional>

class QPainter;

namespace daybrook {

// Layout constants of the bar inside its panel (logical pixels).
namespace barLayout {
inline constexpr double centerY = 25;
inline constexpr double collapsedHeight = 6;
inline constexpr double leavingHeight = 24;
inline constexpr double expandedHeight = 32;
inline constexpr double tooltipGap = 2;
inline constexpr double tickHoverWidth = 16;
inline constexpr double handSizeStep = 2;
inline constexpr double collapsedHandSize = 14;
inline constexpr double handHoverGrowth = 1.2;
inline constexpr double handHoverDiameter = 20;
inline constexpr double breathingScale = 1.15;
} // namespace barLayout

// The bar height a state settles at.
double targetBarHeight(const BarState &state);

// The presentation values that animate between states. A default-constructed
// value is the settled collapsed bar.
struct BarVisuals {
    double barHeight = barLayout::collapsedHeight;
    double expansion = 0;   // hand shape: 0 dot, 1 pill
    double breathing = 1.0; // the collapsed hand's scale
    double handHover = 0;   // 0 plain, 1 hovered (colour and growth)
    int hoveredTick = -1;   // hour of the tick that is (becoming) hovered
    double tickHover = 0;   // its progress 0..1
    int fadingTick = -1;    // hour of the tick that is losing its hover
    double fadingTickHover = 0;
    QString hoveredEntryId; // likewise for entries
    double entryHover = 0;
    QString fadingEntryId;
    double fadingEntryHover = 0;
    std::optional<TooltipContent> tooltip;
    double tooltipPresence = 1; // 0 invisible ... 1 fully shown (scale 0.95 -> 1, fade)
    // No compositor: everything drawn opaque, the window is clipped to it.
    bool opaque = false;

    // The values a state settles at once every animation has finished.
    static BarVisuals settled(const BarState &state);
};

// What the pointer is on.
struct BarHit {
    bool onHand = false;
    bool onBar = false;
    std::optional<int> tickHour;
    std::optional<QString> entryId;
};

// Draws the bar, its clock hand and the tooltip of a BarState into a painter
// and answers where things are. Keeps the layers that rarely change (base,
// night, sun glows, stars) in a pixmap.
class BarRenderer {
public:
    BarRenderer();
    ~BarRenderer();

    // Paints everything that intersects `dirty` (the whole panel when empty).
    void paint(QPainter &painter, BarState &state, const BarVisuals &visuals, const QRect &dirty = QRect());

    static bool isDarkMode(const BarState &state);
    static QRectF barRect(double width, double barHeight);
    static double handX(const BarState &state);
    // The hand's drawn rectangle (including breathing and hover growth).
    static QRectF handRect(const BarState &state, const BarVisuals &visuals);
    static QRectF handHoverRect(const BarState &state);
    // The tooltip's panel rectangle (without its shadow); empty without tooltip.
    QRectF tooltipRect(const BarState &state, const BarVisuals &visuals,
                       const QPaintDevice *device = nullptr);

    // Paints only the tooltip, where tooltipRect() places it.
    void paintTooltip(QPainter &painter, const BarState &state, const BarVisuals &visuals);

    BarHit hitTest(BarState &state, const BarVisuals &visuals, const QPointF &point);

    // Where the panel takes the pointer: the bar and the clock hand.
    static QRegion inputRegion(const BarState &state, const BarVisuals &visuals);
    // What is drawn, for clipping the window when nothing can be translucent.
    QRegion visibleRegion(const BarState &state, const BarVisuals &visuals);

    // Drops the cached layers (theme, size or sky changed).
    void invalidate() {
        m_skyCache = QPixmap();
        m_entries = EntryLayer();
    }
    // How many times the entry blocks have been laid out (the cache is observable).
    int entryLayoutCount() const { return m_entryLayoutCount; }

    // Entry labels.
    static QString displayLabel(const QString &label, bool isExpanded, bool isSingleRow);
    static double labelFontSize(double rowHeight, double width, int characterCount);
    static int characterCount(const QString &text);

private:
    struct SkyKey {
        int width = 0;
        int height = 0;
        qreal dpr = 1;
        bool dark = false;
        bool opaque = false;
        double nightMorning = 0;
        double nightEvening = 0;
        std::optional<double> sunrise;
        std::optional<double> sunset;
        double hourWidth = 0;
        bool operator==(const SkyKey &) const = default;
    };
    // The entry blocks as laid out for one state of the bar, drawn once into a
    // pixmap: a repaint then costs the same with 5 or 5,000 entries. Hover
    // colours are drawn over it for the (at most two) entries that need them.
    struct EntryKey {
        quint64 content = 0;
        int layout = 0;
        double width = 0;
        double height = 0; // the settled bar height it is laid out for
        bool expanded = false;
        bool dark = false;
        qint64 rangeStart = 0;
        qint64 rangeEnd = 0;
        int openEnd = 0; // pixel where open entries end (they grow with time)
        bool operator==(const EntryKey &) const = default;
    };
    struct EntryItem {
        QRectF block; // from the bar's top, at the key's height
        double radius = 0;
        Color fill;
        Color hoveredFill;
        QColor labelColour;
        QString label;
        double fontSize = 0;
        QString id;
    };
    struct EntryLayer {
        EntryKey key;
        bool valid = false;
        qint64 validUntil = 0; // the next instant at which a status changes
        std::vector<EntryItem> items;
        QMultiHash<QString, int> byId;
        QPixmap pixmap;
    };
    EntryKey entryKey(BarState &state) const;
    const EntryLayer &entryLayer(BarState &state);
    void drawEntryItem(QPainter &p, const EntryItem &item, const QColor &fill, const QRectF &block);
    SkyKey skyKey(const BarState &state, const BarVisuals &visuals, qreal dpr) const;
    void renderSky(const SkyKey &key);
    void paintProgress(QPainter &p, const BarState &state, const BarTheme &theme, const QRectF &bar);
    void paintTicks(QPainter &p, const BarState &state, const BarVisuals &v, const BarTheme &theme,
                    const QRectF &bar, const QRectF &dirty);
    void paintEntries(QPainter &p, BarState &state, const BarVisuals &v, const QRectF &bar,
                      const QRectF &dirty);
    void paintHand(QPainter &p, const BarState &state, const BarVisuals &v, const BarTheme &theme);
    void paintTooltip(QPainter &p, const BarState &state, const BarVisuals &v, const BarTheme &theme);
    QSizeF tooltipSize(const TooltipContent &tooltip, const QPaintDevice *device);
    const QPixmap &labelPixmap(const QString &text, double pixelSize, double maxWidth, const QColor &colour,
                               const QPaintDevice *device, int weight = QFont::Medium);
    // A text's advance, remembered: shaping emoji loads their colour bitmaps.
    double textWidth(const QString &text, const QFont &font);

    SkyKey m_skyKeyValue;
    QPixmap m_skyCache;
    QHash<QString, QPixmap> m_labelCache;
    QHash<QString, double> m_widthCache;
    EntryLayer m_entries;
    int m_entryLayoutCount = 0;
};

// A font of the desktop's family at a size in logical pixels.
QFont barFont(double pixelSize, int weight, const QPaintDevice *device);

} // namespace daybrook
