#include "bar/BarRenderer.h"

#include "bar/NightSky.h"
#include "state/AppState.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

namespace daybrook {

namespace {
double lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

Color mix(const Color &a, const Color &b, double t) {
    if (t <= 0)
        return a;
    if (t >= 1)
        return b;
    return Color::rgb(lerp(a.red, b.red, t), lerp(a.green, b.green, t), lerp(a.blue, b.blue, t),
                      lerp(a.alpha, b.alpha, t));
}

double hoverProgress(int hour, const BarVisuals &v) {
    if (hour == v.hoveredTick)
        return v.tickHover;
    if (hour == v.fadingTick)
        return v.fadingTickHover;
    return 0;
}

struct LabelInfo {
    QString emoji;                          // the emoji characters of the label, joined
    QList<std::pair<int, int>> emojiRanges; // start and length of each in the label
    int count = 0;                          // grapheme clusters of the whole label
    int emojiCount = 0;
};

// Splits a label into user-perceived characters (grapheme clusters) and keeps
// those that are emoji: one scalar with Emoji_Presentation, or a sequence of
// several scalars one of which is an Emoji (keycaps, flags, ZWJ sequences,
// text-default symbols followed by VS16).
LabelInfo analyseLabel(const QString &text) {
    LabelInfo info;
    if (text.isEmpty())
        return info;
    const auto *chars = reinterpret_cast<const UChar *>(text.utf16());
    const int32_t length = int32_t(text.size());
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator *it = ubrk_open(UBRK_CHARACTER, "", chars, length, &status);
    if (U_FAILURE(status) || !it) {
        info.count = int(text.size());
        return info;
    }
    int32_t start = ubrk_first(it);
    for (int32_t end = ubrk_next(it); end != UBRK_DONE; start = end, end = ubrk_next(it)) {
        ++info.count;
        int scalars = 0;
        bool presentation = false;
        bool emoji = false;
        for (int32_t i = start; i < end;) {
            UChar32 c;
            U16_NEXT(chars, i, end, c);
            ++scalars;
            presentation = presentation || u_hasBinaryProperty(c, UCHAR_EMOJI_PRESENTATION);
            emoji = emoji || u_hasBinaryProperty(c, UCHAR_EMOJI);
        }
        if (presentation || (scalars > 1 && emoji)) {
            info.emoji += QStringView(text).mid(start, end - start);
            info.emojiRanges.append({int(start), int(end - start)});
            ++info.emojiCount;
        }
    }
    ubrk_close(it);
    return info;
}

const LabelInfo &labelInfo(const QString &text) {
    static QHash<QString, LabelInfo> cache;
    auto found = cache.constFind(text);
    if (found != cache.constEnd())
        return *found;
    if (cache.size() > 2000)
        cache.clear();
    return *cache.insert(text, analyseLabel(text));
}

const QString emojiFamily = QStringLiteral("Noto Color Emoji");

// One line of text whose emoji are set in the colour emoji font. Font
// fallback alone is not enough: the text font may have its own monochrome
// glyph (DejaVu Sans has one for U+2615), which then wins.
void drawText(QPainter &p, const QPointF &baseline, const QString &text, const QFont &font) {
    const LabelInfo &info = labelInfo(text);
    if (info.emojiRanges.isEmpty()) {
        p.setFont(font);
        p.drawText(baseline, text);
        return;
    }
    QTextLayout layout(text, font, p.device());
    QList<QTextLayout::FormatRange> formats;
    for (const auto &[start, length] : info.emojiRanges) {
        QTextLayout::FormatRange range;
        range.start = start;
        range.length = length;
        range.format.setFontFamilies({emojiFamily, font.family()});
        formats.append(range);
    }
    layout.setFormats(formats);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e5);
    layout.endLayout();
    layout.draw(&p, QPointF(baseline.x(), baseline.y() - line.ascent()));
}

QPainterPath roundedRect(const QRectF &rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

struct ColourKey {
    Color colour;
    EntryTimeStatus status;
    bool operator==(const ColourKey &) const = default;
};

size_t qHash(const ColourKey &key, size_t seed = 0) {
    const Color &c = key.colour;
    return qHashMulti(seed, c.red, c.green, c.blue, c.alpha, c.valid, int(key.status));
}

constexpr double tooltipRadius = 6;
constexpr double tooltipMaxLineWidth = 350;
} // namespace

QFont barFont(double pixelSize, int weight, const QPaintDevice *device) {
    QFont font;
    const double dpi = device && device->logicalDpiY() > 0 ? device->logicalDpiY() : 96.0;
    font.setPointSizeF(std::max(0.5, pixelSize * 72.0 / dpi));
    font.setWeight(QFont::Weight(weight));
    return font;
}

double targetBarHeight(const BarState &state) {
    if (!state.isExpanded())
        return barLayout::collapsedHeight;
    return state.isLeaving() ? barLayout::leavingHeight : barLayout::expandedHeight;
}

BarVisuals BarVisuals::settled(const BarState &state) {
    BarVisuals v;
    v.barHeight = targetBarHeight(state);
    v.expansion = state.isExpanded() ? 1 : 0;
    v.handHover = state.clockHandHovered() ? 1 : 0;
    if (const auto &hovered = state.hoveredElement()) {
        if (const auto *tick = hovered->asTick()) {
            v.hoveredTick = tick->hour;
            v.tickHover = 1;
        } else if (const auto *entry = hovered->asEntry()) {
            v.hoveredEntryId = entry->id;
            v.entryHover = 1;
        }
    }
    v.tooltip = state.activeTooltip();
    v.tooltipPresence = 1;
    return v;
}

BarRenderer::BarRenderer() = default;
BarRenderer::~BarRenderer() = default;

bool BarRenderer::isDarkMode(const BarState &state) {
    if (state.hasPreviewData() && state.previewDarkMode())
        return *state.previewDarkMode();
    return state.appState() && state.appState()->isDarkMode();
}

QRectF BarRenderer::barRect(double width, double barHeight) {
    return QRectF(0, barLayout::centerY - barHeight / 2, width, barHeight);
}

double BarRenderer::handX(const BarState &state) {
    return state.xPosition(state.currentTime());
}

QRectF BarRenderer::handRect(const BarState &state, const BarVisuals &v) {
    const double collapsed = barLayout::collapsedHandSize * lerp(1, barLayout::handHoverGrowth, v.handHover);
    const double e = std::clamp(v.expansion, 0.0, 1.0);
    const double scale = lerp(v.breathing, 1.0, e);
    const double w = lerp(collapsed, barLayout::collapsedHeight - barLayout::handSizeStep, e) * scale;
    const double h = lerp(collapsed, barLayout::expandedHeight - barLayout::handSizeStep, e) * scale;
    return QRectF(handX(state) - w / 2, barLayout::centerY - h / 2, w, h);
}

QRectF BarRenderer::handHoverRect(const BarState &state) {
    const double d = barLayout::handHoverDiameter;
    return QRectF(handX(state) - d / 2, barLayout::centerY - d / 2, d, d);
}

QRegion BarRenderer::inputRegion(const BarState &state, const BarVisuals &v) {
    QRegion region(barRect(state.frame().width(), v.barHeight).toAlignedRect());
    region += handHoverRect(state).toAlignedRect();
    return region;
}

QRegion BarRenderer::visibleRegion(const BarState &state, const BarVisuals &v) {
    QRegion region(barRect(state.frame().width(), v.barHeight).toAlignedRect());
    region += QRegion(handRect(state, v).toAlignedRect(), QRegion::Ellipse);
    const QRectF tip = tooltipRect(state, v);
    if (!tip.isEmpty())
        region += QRegion(roundedRect(tip, tooltipRadius).toFillPolygon().toPolygon());
    return region;
}

// ---- labels -----------------------------------------------------------------

QString BarRenderer::displayLabel(const QString &label, bool isExpanded, bool isSingleRow) {
    if (isExpanded)
        return label;
    if (!isSingleRow)
        return QString();
    const LabelInfo &info = labelInfo(label);
    return info.emojiCount > 0 ? info.emoji : label;
}

int BarRenderer::characterCount(const QString &text) {
    return labelInfo(text).count;
}

double BarRenderer::labelFontSize(double rowHeight, double width, int characterCount) {
    const double h = rowHeight;
    double byHeight;
    if (h < 12)
        byHeight = std::max(h - 1, 6.0);
    else if (h < 28)
        byHeight = (h - 4) * 0.7;
    else
        byHeight = std::min((h - 6) * 0.6, 20.0);
    const int m = characterCount <= 0 ? 1 : std::min(characterCount, 6);
    const double byWidth = (width - 2) / (0.55 * m);
    return std::min(byHeight, byWidth);
}

double BarRenderer::textWidth(const QString &text, const QFont &font) {
    const QString key = QString::number(font.pointSizeF()) + QLatin1Char('|') +
                        QString::number(font.weight()) + QLatin1Char('|') + text;
    auto found = m_widthCache.constFind(key);
    if (found != m_widthCache.constEnd())
        return *found;
    if (m_widthCache.size() > 500)
        m_widthCache.clear();
    return *m_widthCache.insert(key, QFontMetricsF(font).horizontalAdvance(text));
}

const QPixmap &BarRenderer::labelPixmap(const QString &text, double pixelSize, double maxWidth,
                                        const QColor &colour, const QPaintDevice *device, int weight) {
    // Text is the most expensive thing on the bar (colour emoji are decoded
    // from PNG on every draw): each label is rasterised once.
    const qreal dpr = device ? device->devicePixelRatioF() : 1.0;
    // Sizes a quarter pixel apart look the same; sharing them shares the font
    // engines and their glyph caches (colour emoji are slow to load).
    pixelSize = std::round(pixelSize * 4) / 4;
    const QString key = QString::number(pixelSize, 'f', 2) + QLatin1Char('|') +
                        QString::number(int(maxWidth)) + QLatin1Char('|') +
                        QString::number(colour.rgba(), 16) + QLatin1Char('|') + QString::number(dpr) +
                        QLatin1Char('|') + QString::number(weight) + QLatin1Char('|') + text;
    auto found = m_labelCache.constFind(key);
    if (found != m_labelCache.constEnd())
        return *found;
    if (m_labelCache.size() > 500)
        m_labelCache.clear();
    const QFont font = barFont(pixelSize, weight, device);
    const QFontMetricsF metrics(font);
    const QString elided = metrics.elidedText(text, Qt::ElideRight, int(maxWidth));
    const QSizeF size(std::min(std::ceil(metrics.horizontalAdvance(elided)) + 1, std::ceil(maxWidth)),
                      std::ceil(metrics.height()));
    QPixmap pixmap;
    if (!elided.isEmpty() && size.width() > 0 && size.height() > 0) {
        pixmap = QPixmap((size * dpr).toSize());
        pixmap.setDevicePixelRatio(dpr);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setPen(colour);
        drawText(p, QPointF(0, metrics.ascent()), elided, font);
    }
    return *m_labelCache.insert(key, pixmap);
}

// ---- sky --------------------------------------------------------------------

BarRenderer::SkyKey BarRenderer::skyKey(const BarState &state, const BarVisuals &v, qreal dpr) const {
    SkyKey key;
    key.width = int(std::ceil(state.frame().width()));
    key.height = int(std::ceil(v.barHeight));
    key.dpr = dpr;
    key.dark = isDarkMode(state);
    key.opaque = v.opaque;
    key.nightMorning = state.nightMorningX();
    key.nightEvening = state.nightEveningX();
    if (state.showSunGradients()) {
        key.sunrise = state.sunriseX();
        key.sunset = state.sunsetX();
    }
    key.hourWidth = state.hourWidth();
    return key;
}

void BarRenderer::renderSky(const SkyKey &key) {
    m_skyKeyValue = key;
    if (key.width <= 0 || key.height <= 0) {
        m_skyCache = QPixmap();
        return;
    }
    QPixmap pixmap(QSize(int(std::ceil(key.width * key.dpr)), int(std::ceil(key.height * key.dpr))));
    pixmap.setDevicePixelRatio(key.dpr);
    pixmap.fill(Qt::transparent);
    const BarTheme theme(key.dark);
    const double w = key.width, h = key.height;
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    // Base surface.
    if (key.opaque) {
        p.fillRect(QRectF(0, 0, w, h), theme.opaqueBase().toQColor());
    } else {
        p.fillRect(QRectF(0, 0, w, h), theme.baseMaterial().toQColor());
        if (key.dark)
            p.fillRect(QRectF(0, 0, w, h), BarTheme::darkTint().toQColor());
    }

    // Night before sunrise and after sunset.
    QRegion night;
    if (key.nightMorning > 0)
        night += QRectF(0, 0, key.nightMorning, h).toAlignedRect();
    if (key.nightEvening < w)
        night += QRectF(key.nightEvening, 0, w - key.nightEvening, h).toAlignedRect();
    if (!key.dark) {
        if (key.nightMorning > 0)
            p.fillRect(QRectF(0, 0, key.nightMorning, h), theme.nightColor().toQColor());
        if (key.nightEvening < w)
            p.fillRect(QRectF(key.nightEvening, 0, w - key.nightEvening, h), theme.nightColor().toQColor());
    }

    // An hour of glow up to the sunrise and after the sunset.
    if (key.sunrise) {
        const QRectF r(*key.sunrise - key.hourWidth, 0, key.hourWidth, h);
        p.fillRect(r, theme.sunriseGradient().toLinearGradient(r.left(), r.right()));
    }
    if (key.sunset) {
        const QRectF r(*key.sunset, 0, key.hourWidth, h);
        p.fillRect(r, theme.sunsetGradient().toLinearGradient(r.left(), r.right()));
    }

    // Stars, added onto what lies below, only in the night.
    if (key.dark && !night.isEmpty()) {
        static const QList<Star> stars = makeStars(barStarCount, barStarSeed);
        p.setClipRegion(night);
        p.setCompositionMode(QPainter::CompositionMode_Plus);
        p.setPen(Qt::NoPen);
        for (const Star &star : stars) {
            const QPointF centre(star.x * w, star.y * h);
            const double glow = star.size * 4;
            QRadialGradient gradient(centre, glow);
            gradient.setColorAt(0, QColor::fromRgbF(1, 1, 1, float(star.brightness * 0.3)));
            gradient.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0));
            p.setBrush(gradient);
            p.drawEllipse(centre, glow, glow);
            p.setBrush(QColor::fromRgbF(1, 1, 1, float(star.brightness)));
            p.drawEllipse(centre, star.size, star.size);
        }
    }
    p.end();
    m_skyCache = pixmap;
}

// ---- layers -----------------------------------------------------------------

void BarRenderer::paintProgress(QPainter &p, const BarState &state, const BarTheme &theme,
                                const QRectF &bar) {
    const double x = handX(state);
    if (x <= 0)
        return;
    const QRectF r(bar.left(), bar.top(), x, bar.height());
    p.fillRect(r, theme.progressGradient().toLinearGradient(r.left(), r.right()));
}

void BarRenderer::paintTicks(QPainter &p, const BarState &state, const BarVisuals &v, const BarTheme &theme,
                             const QRectF &bar, const QRectF &dirty) {
    const double baseWidth = theme.isDarkMode() ? 1.5 : 1.0;
    const Color plain = theme.tickColor(false), hovered = theme.tickColor(true);
    for (const HourTick &tick : state.hourTicks()) {
        const double x = state.xPositionMSecs(tick.msecs);
        const double t = hoverProgress(tick.hour, v);
        const double w = lerp(baseWidth, 2.0, t);
        const QRectF line(x - w / 2, bar.top(), w, bar.height());
        if (!line.intersects(dirty))
            continue;
        p.fillRect(line, mix(plain, hovered, t).toQColor());
    }
}

BarRenderer::EntryKey BarRenderer::entryKey(BarState &state) const {
    state.ensureLayout();
    EntryKey key;
    key.content = state.contentRevision();
    key.layout = state.layoutComputationCount();
    key.width = state.frame().width();
    key.height = targetBarHeight(state);
    key.expanded = state.isExpanded();
    key.dark = isDarkMode(state);
    key.rangeStart = state.rangeStartMSecs();
    key.rangeEnd = state.rangeEndMSecs();
    // Only a layer that holds an open entry follows the clock pixel by pixel.
    if (m_entries.valid && m_entries.key.openEnd >= 0)
        key.openEnd = int(std::floor(handX(state)));
    else
        key.openEnd = m_entries.valid ? -1 : 0;
    return key;
}

const BarRenderer::EntryLayer &BarRenderer::entryLayer(BarState &state) {
    const EntryKey key = entryKey(state);
    const qint64 now = state.currentTime().toMSecsSinceEpoch();
    if (m_entries.valid && key == m_entries.key && now < m_entries.validUntil)
        return m_entries;

    ++m_entryLayoutCount;
    EntryLayer layer;
    layer.key = key;
    layer.key.openEnd = -1;
    layer.validUntil = std::numeric_limits<qint64>::max();
    const BarTheme theme(key.dark);
    const TimeEntryList &entries = state.entries();
    const QHash<QString, int> &rows = state.cachedEntryLayouts();
    const QHash<QString, int> &groupRows = state.cachedGroupTotalRows();
    const double available = key.height <= 1 ? 1 : key.height;
    // Entries share a handful of colours: adjust each colour once per status.
    QHash<ColourKey, std::pair<Color, Color>> fills;
    layer.items.reserve(size_t(entries.size()));
    for (const TimeEntry &entry : entries) {
        const qint64 start = entry.startTime().toMSecsSinceEpoch();
        const auto &end = entry.endTime();
        if (start > now)
            layer.validUntil = std::min(layer.validUntil, start);
        if (end && end->toMSecsSinceEpoch() >= now)
            layer.validUntil = std::min(layer.validUntil, end->toMSecsSinceEpoch() + 1);
        if (!end)
            layer.key.openEnd = int(std::floor(handX(state)));

        const EntryFrame frame = state.entryFrame(entry);
        const int row = rows.value(entry.id(), 0);
        const int totalRows = std::max(1, groupRows.value(entry.id(), 1));
        const double rowHeight = available / totalRows;
        EntryItem item;
        item.block = QRectF(frame.x, rowHeight * row, frame.width, rowHeight);
        item.radius = std::clamp(std::min(frame.width, rowHeight) * 0.15, 2.0, 8.0);
        const EntryTimeStatus status = state.status(entry);
        const Color &base = entry.color();
        const ColourKey colourKey{base, status};
        auto found = fills.constFind(colourKey);
        if (found == fills.constEnd())
            found = fills.insert(
                colourKey, {theme.entryColor(base, status, false), theme.entryColor(base, status, true)});
        item.fill = found->first;
        item.hoveredFill = found->second;
        item.id = entry.id();
        // A row thinner than this shows no legible text, only glyph crumbs:
        // a crowded hour of hundreds of entries costs no text layout at all.
        constexpr double minimumLabelRow = 3;
        if (rowHeight >= minimumLabelRow)
            item.label = displayLabel(entry.label(), key.expanded, totalRows == 1);
        if (!item.label.isEmpty()) {
            item.fontSize = labelFontSize(rowHeight, frame.width, characterCount(item.label));
            item.labelColour = BarTheme::entryLabelColor(base).toQColor();
        }
        layer.byId.insert(item.id, int(layer.items.size()));
        layer.items.push_back(std::move(item));
    }
    layer.valid = true;
    m_entries = std::move(layer);
    return m_entries;
}

void BarRenderer::drawEntryItem(QPainter &p, const EntryItem &item, const QColor &fill, const QRectF &block) {
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(block, item.radius, item.radius);
    const double textWidth = block.width() - 8;
    if (item.label.isEmpty() || item.fontSize <= 0 || textWidth < 1)
        return;
    const QPixmap &label = labelPixmap(item.label, item.fontSize, textWidth, item.labelColour, p.device());
    if (label.isNull())
        return;
    const QSizeF s = label.deviceIndependentSize();
    p.save();
    p.setClipRect(block, Qt::IntersectClip);
    p.drawPixmap(QPointF(block.left() + 4, std::round(block.center().y() - s.height() / 2)), label);
    p.restore();
}

void BarRenderer::paintEntries(QPainter &p, BarState &state, const BarVisuals &v, const QRectF &bar,
                               const QRectF &dirty) {
    if (state.entries().isEmpty() || bar.width() <= 0)
        return;
    EntryLayer &layer = const_cast<EntryLayer &>(entryLayer(state));
    const qreal dpr = p.device()->devicePixelRatioF();
    const QSize pixels(int(std::ceil(layer.key.width * dpr)),
                       int(std::ceil(std::max(1.0, layer.key.height) * dpr)));
    if (layer.pixmap.isNull() || layer.pixmap.size() != pixels || layer.pixmap.devicePixelRatio() != dpr) {
        QPixmap pixmap(pixels);
        pixmap.setDevicePixelRatio(dpr);
        pixmap.fill(Qt::transparent);
        QPainter lp(&pixmap);
        lp.setRenderHint(QPainter::Antialiasing);
        const QRectF area(0, 0, layer.key.width, std::max(1.0, layer.key.height));
        for (const EntryItem &item : layer.items) {
            // Blocks outside the bar (or too thin to reach a pixel row) cost nothing.
            if (item.block.intersects(area))
                drawEntryItem(lp, item, item.fill.toQColor(), item.block);
        }
        lp.end();
        layer.pixmap = pixmap;
    }
    // While the bar changes height the layer laid out for the height it is
    // heading to is stretched over it.
    const double scaleY = bar.height() / std::max(1.0, layer.key.height);
    p.drawPixmap(QRectF(bar.left(), bar.top(), layer.key.width, bar.height()), layer.pixmap,
                 QRectF(QPointF(0, 0), QSizeF(pixels)));

    const auto overlay = [&](const QString &id, double t) {
        if (id.isNull() || t <= 0)
            return;
        for (auto it = layer.byId.constFind(id); it != layer.byId.constEnd() && it.key() == id; ++it) {
            const EntryItem &item = layer.items[size_t(it.value())];
            const QRectF block(item.block.left(), bar.top() + item.block.top() * scaleY, item.block.width(),
                               item.block.height() * scaleY);
            if (!block.intersects(dirty))
                continue;
            drawEntryItem(p, item, mix(item.fill, item.hoveredFill, t).toQColor(), block);
        }
    };
    overlay(v.fadingEntryId, v.fadingEntryHover);
    overlay(v.hoveredEntryId, v.entryHover);
}

void BarRenderer::paintHand(QPainter &p, const BarState &state, const BarVisuals &v, const BarTheme &theme) {
    const QRectF r = handRect(state, v);
    const Color colour = mix(theme.clockHandColor(false), theme.clockHandColor(true), v.handHover);
    if (v.opaque && v.expansion < 0.5) {
        // The window is clipped to exactly this ellipse: fill all of it, so no
        // unblended edge pixel shows.
        p.save();
        p.setClipRegion(QRegion(r.toAlignedRect(), QRegion::Ellipse), Qt::IntersectClip);
        p.fillRect(r.toAlignedRect(), colour.toQColor());
        p.restore();
        return;
    }
    const double radius = r.width() / 2;
    p.setPen(Qt::NoPen);
    p.setBrush(colour.toQColor());
    p.drawRoundedRect(r, radius, radius);
}

QSizeF BarRenderer::tooltipSize(const TooltipContent &tooltip, const QPaintDevice *device) {
    if (const auto *entry = std::get_if<TooltipContent::Entry>(&tooltip.value)) {
        const QFontMetricsF bold(barFont(11, QFont::DemiBold, device));
        const QFontMetricsF regular(barFont(11, QFont::Normal, device));
        const QFontMetricsF small(barFont(10, QFont::Normal, device));
        double line1 = bold.horizontalAdvance(entry->timeRange);
        if (!entry->cursorTime.isEmpty())
            line1 += bold.horizontalAdvance(QStringLiteral(" (") + entry->cursorTime + QLatin1Char(')'));
        const double line2 = std::min(textWidth(entry->entry.label(), barFont(11, QFont::Normal, device)) + 1,
                                      tooltipMaxLineWidth);
        QString origin = entry->entry.sourceName();
        if (const auto &group = entry->entry.groupName())
            origin = *group + QStringLiteral(" \u00B7 ") + origin;
        const double line3 = std::min(small.horizontalAdvance(origin), tooltipMaxLineWidth);
        const double width = std::max({line1, line2, line3}) + 20;
        const double height = bold.height() + regular.height() + small.height() + 2 * 3 + 12;
        return {std::ceil(width), std::ceil(height)};
    }
    const QString text = std::holds_alternative<TooltipContent::ClockHand>(tooltip.value)
                             ? std::get<TooltipContent::ClockHand>(tooltip.value).text
                             : std::get<TooltipContent::Tick>(tooltip.value).text;
    const QFontMetricsF metrics(barFont(11, QFont::Medium, device));
    return {std::ceil(metrics.horizontalAdvance(text) + 16), std::ceil(metrics.height() + 8)};
}

QRectF BarRenderer::tooltipRect(const BarState &, const BarVisuals &v, const QPaintDevice *device) {
    if (!v.tooltip || v.tooltipPresence <= 0)
        return QRectF();
    const QSizeF size = tooltipSize(*v.tooltip, device);
    const double top = barLayout::tooltipGap + barLayout::centerY + v.barHeight / 2;
    return QRectF(v.tooltip->x() - size.width() / 2, top, size.width(), size.height());
}

void BarRenderer::paintTooltip(QPainter &p, const BarState &state, const BarVisuals &v) {
    p.setRenderHint(QPainter::Antialiasing);
    paintTooltip(p, state, v, BarTheme(isDarkMode(state)));
}

void BarRenderer::paintTooltip(QPainter &p, const BarState &state, const BarVisuals &v,
                               const BarTheme &theme) {
    const QRectF rect = tooltipRect(state, v, p.device());
    if (rect.isEmpty())
        return;
    p.save();
    // Without a compositor a half-transparent pixel shows darkened, not
    // blended: the tooltip then appears and goes without the fade.
    const double presence = v.opaque ? 1.0 : std::clamp(v.tooltipPresence, 0.0, 1.0);
    if (presence < 1) {
        const QPointF c = rect.center();
        const double s = 0.95 + 0.05 * presence;
        p.translate(c);
        p.scale(s, s);
        p.translate(-c);
        p.setOpacity(presence);
    }
    p.setPen(Qt::NoPen);
    if (!v.opaque) {
        // A soft shadow, 2 px down, about 4 px of blur.
        for (int i = 3; i >= 1; --i) {
            p.setBrush(QColor::fromRgbF(0, 0, 0, 0.15f / 3));
            p.drawRoundedRect(rect.translated(0, 2).adjusted(-i, -i, i, i), tooltipRadius + i,
                              tooltipRadius + i);
        }
    }
    p.setBrush((v.opaque ? theme.opaqueTooltipBackground() : theme.tooltipBackground()).toQColor());
    p.drawRoundedRect(rect, tooltipRadius, tooltipRadius);

    const QColor primary = theme.primaryText().toQColor();
    const QColor secondary = theme.secondaryText().toQColor();
    if (const auto *entry = std::get_if<TooltipContent::Entry>(&v.tooltip->value)) {
        const QFont boldFont = barFont(11, QFont::DemiBold, p.device());
        const QFont regularFont = barFont(11, QFont::Normal, p.device());
        const QFont smallFont = barFont(10, QFont::Normal, p.device());
        const QFontMetricsF bold(boldFont), regular(regularFont), small(smallFont);
        double y = rect.top() + 6;
        const double x = rect.left() + 10;
        p.setFont(boldFont);
        p.setPen(primary);
        p.drawText(QPointF(x, y + bold.ascent()), entry->timeRange);
        if (!entry->cursorTime.isEmpty()) {
            p.setPen(secondary);
            p.drawText(QPointF(x + bold.horizontalAdvance(entry->timeRange), y + bold.ascent()),
                       QStringLiteral(" (") + entry->cursorTime + QLatin1Char(')'));
        }
        y += bold.height() + 3;
        p.setFont(regularFont);
        QColor labelColour = primary;
        labelColour.setAlphaF(labelColour.alphaF() * 0.9f);
        p.setPen(labelColour);
        // Laid out once per label: the tooltip is repainted as the pointer moves.
        p.drawPixmap(QPointF(x, y), labelPixmap(entry->entry.label(), 11, tooltipMaxLineWidth, labelColour,
                                                p.device(), QFont::Normal));
        y += regular.height() + 3;
        QString origin = entry->entry.sourceName();
        if (const auto &group = entry->entry.groupName())
            origin = *group + QStringLiteral(" \u00B7 ") + origin;
        p.setFont(smallFont);
        p.setPen(secondary);
        p.drawText(QPointF(x, y + small.ascent()),
                   small.elidedText(origin, Qt::ElideRight, tooltipMaxLineWidth));
    } else {
        const QString text = std::holds_alternative<TooltipContent::ClockHand>(v.tooltip->value)
                                 ? std::get<TooltipContent::ClockHand>(v.tooltip->value).text
                                 : std::get<TooltipContent::Tick>(v.tooltip->value).text;
        const QFont font = barFont(11, QFont::Medium, p.device());
        p.setFont(font);
        p.setPen(primary);
        p.drawText(QPointF(rect.left() + 8, rect.top() + 4 + QFontMetricsF(font).ascent()), text);
    }
    p.restore();
}

// ---- the whole picture ------------------------------------------------------

void BarRenderer::paint(QPainter &p, BarState &state, const BarVisuals &v, const QRect &dirtyRect) {
    const double width = state.frame().width();
    const QRectF dirty = dirtyRect.isNull() ? QRectF(-1e6, -1e6, 2e6, 2e6) : QRectF(dirtyRect);
    const BarTheme theme(isDarkMode(state));
    const QRectF bar = barRect(width, v.barHeight);
    p.setRenderHint(QPainter::Antialiasing);

    if (bar.intersects(dirty) && width > 0) {
        const SkyKey key = skyKey(state, v, p.device()->devicePixelRatioF());
        if (m_skyCache.isNull() || !(key == m_skyKeyValue))
            renderSky(key);
        p.save();
        p.setClipRect(bar, Qt::IntersectClip);
        if (!m_skyCache.isNull())
            p.drawPixmap(QPointF(0, bar.top()), m_skyCache);
        paintProgress(p, state, theme, bar);
        paintTicks(p, state, v, theme, bar, dirty);
        paintEntries(p, state, v, bar, dirty);
        p.restore();
    }
    if (handRect(state, v).intersects(dirty))
        paintHand(p, state, v, theme);
    if (v.tooltip)
        paintTooltip(p, state, v, theme);
}

BarHit BarRenderer::hitTest(BarState &state, const BarVisuals &v, const QPointF &point) {
    BarHit hit;
    const double x = handX(state);
    const double dx = point.x() - x, dy = point.y() - barLayout::centerY;
    const double r = barLayout::handHoverDiameter / 2;
    if (dx * dx + dy * dy <= r * r) {
        hit.onHand = true;
        return hit;
    }
    const QRectF bar = barRect(state.frame().width(), v.barHeight);
    if (!bar.contains(point))
        return hit;
    hit.onBar = true;

    if (!state.entries().isEmpty()) {
        const EntryLayer &layer = entryLayer(state);
        const double scaleY = bar.height() / std::max(1.0, layer.key.height);
        for (auto item = layer.items.crbegin(); item != layer.items.crend(); ++item) {
            const QRectF block(item->block.left(), bar.top() + item->block.top() * scaleY,
                               item->block.width(), item->block.height() * scaleY);
            if (block.contains(point)) {
                hit.entryId = item->id;
                return hit;
            }
        }
    }
    const double tickHeight = state.isExpanded() ? bar.height() - bar.height() / 4 : bar.height();
    const QList<HourTick> &ticks = state.hourTicks();
    for (auto tick = ticks.crbegin(); tick != ticks.crend(); ++tick) {
        const double tx = state.xPositionMSecs(tick->msecs);
        if (QRectF(tx - barLayout::tickHoverWidth / 2, bar.top(), barLayout::tickHoverWidth, tickHeight)
                .contains(point)) {
            hit.tickHour = tick->hour;
            break;
        }
    }
    return hit;
}

} // namespace daybrook
