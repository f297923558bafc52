#include "widgets/SettingsStyle.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

// Resources compiled into a static library are only linked in when something
// refers to them.
static void initSettingsResources() {
    Q_INIT_RESOURCE(settings);
    Q_INIT_RESOURCE(app);
}

namespace daybrook::style {

static void ensureResources() {
    static const bool done = [] {
        initSettingsResources();
        return true;
    }();
    Q_UNUSED(done);
}

QString symbolResource(Symbol symbol) {
    ensureResources();
    switch (symbol) {
    case Symbol::Gear:
        return QStringLiteral(":/icons/settings/gear.svg");
    case Symbol::Link:
        return QStringLiteral(":/icons/settings/link.svg");
    case Symbol::CheckCircle:
        return QStringLiteral(":/icons/settings/check-circle.svg");
    case Symbol::CheckCircleFilled:
        return QStringLiteral(":/icons/settings/check-circle-filled.svg");
    case Symbol::Calendar:
        return QStringLiteral(":/icons/settings/calendar.svg");
    case Symbol::InfoCircle:
        return QStringLiteral(":/icons/settings/info-circle.svg");
    case Symbol::Sunrise:
        return QStringLiteral(":/icons/settings/sunrise.svg");
    case Symbol::ArrowClockwise:
        return QStringLiteral(":/icons/settings/arrow-clockwise.svg");
    case Symbol::ChevronRight:
        return QStringLiteral(":/icons/settings/chevron-right.svg");
    case Symbol::SquareChecked:
        return QStringLiteral(":/icons/settings/square-checked.svg");
    case Symbol::SquareMixed:
        return QStringLiteral(":/icons/settings/square-mixed.svg");
    case Symbol::SquareEmpty:
        return QStringLiteral(":/icons/settings/square-empty.svg");
    }
    return {};
}

QPixmap symbolPixmap(Symbol symbol, const QColor &color, int size, qreal devicePixelRatio) {
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QString key =
        QStringLiteral("%1|%2|%3|%4").arg(int(symbol)).arg(color.name(QColor::HexArgb)).arg(size).arg(dpr);
    static QHash<QString, QPixmap> cache;
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return *it;

    const int pixels = qMax(1, qRound(size * dpr));
    QImage glyph(pixels, pixels, QImage::Format_ARGB32);
    glyph.fill(Qt::transparent);
    {
        QSvgRenderer renderer(symbolResource(symbol));
        QPainter painter(&glyph);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    }
    // The glyphs are black; the white parts of the filled ones are cut-outs. So
    // the coverage of the tint is the glyph's opacity times its darkness.
    QImage image(pixels, pixels, QImage::Format_ARGB32);
    const QRgb tint = color.rgb();
    for (int y = 0; y < pixels; ++y) {
        const QRgb *source = reinterpret_cast<const QRgb *>(glyph.constScanLine(y));
        QRgb *target = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < pixels; ++x) {
            const int coverage = qAlpha(source[x]) * (255 - qGreen(source[x])) / 255;
            target[x] = qRgba(qRed(tint), qGreen(tint), qBlue(tint), coverage * color.alpha() / 255);
        }
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(dpr);
    if (cache.size() > 512)
        cache.clear();
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon symbolIcon(Symbol symbol, const QColor &color, int size) {
    QIcon icon;
    icon.addPixmap(symbolPixmap(symbol, color, size, 1.0));
    icon.addPixmap(symbolPixmap(symbol, color, size, 2.0));
    return icon;
}

QFont bodyFont() {
    return QApplication::font();
}

static QFont scaled(qreal factor, QFont::Weight weight) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(qMax(7.0, font.pointSizeF() * factor));
    else if (font.pixelSize() > 0)
        font.setPixelSize(qMax(9, qRound(font.pixelSize() * factor)));
    font.setWeight(weight);
    return font;
}

QFont headlineFont() {
    return scaled(1.0, QFont::DemiBold);
}
QFont subheadlineFont() {
    return scaled(0.92, QFont::Normal);
}
QFont captionFont() {
    return scaled(0.85, QFont::Normal);
}
QFont titleFont() {
    return scaled(2.0, QFont::Bold);
}
QFont smallFont() {
    return scaled(0.85, QFont::Normal);
}

bool isDark(const QPalette &palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor accentColor(const QPalette &palette) {
    return palette.color(QPalette::Highlight);
}

QColor primaryColor(const QPalette &palette) {
    return palette.color(QPalette::Text);
}

QColor secondaryColor(const QPalette &palette) {
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.62);
    return color;
}

QColor tertiaryColor(const QPalette &palette) {
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.40);
    return color;
}

QColor greenColor(const QPalette &palette) {
    return isDark(palette) ? QColor(0x32, 0xd7, 0x4b) : QColor(0x1f, 0x9d, 0x3a);
}

QColor redColor(const QPalette &palette) {
    return isDark(palette) ? QColor(0xff, 0x5a, 0x4f) : QColor(0xd1, 0x2f, 0x24);
}

QColor orangeColor(const QPalette &palette) {
    return isDark(palette) ? QColor(0xff, 0xa5, 0x1f) : QColor(0xe8, 0x8a, 0x00);
}

QColor cardColor(const QPalette &palette) {
    const QColor window = palette.color(QPalette::Window);
    return isDark(palette) ? window.lighter(125) : palette.color(QPalette::Base);
}

QColor separatorColor(const QPalette &palette) {
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.12);
    return color;
}

QIcon applicationIcon() {
    // The installed icon comes from the application's own resources when they
    // are built in; the tray glyph stands in otherwise.
    if (QFile::exists(QStringLiteral(":/icons/daybrook.svg")))
        return QIcon(QStringLiteral(":/icons/daybrook.svg"));
    QIcon themed = QIcon::fromTheme(QStringLiteral("daybrook"));
    if (!themed.isNull())
        return themed;
    return trayIcon();
}

QIcon trayIcon() {
    ensureResources();
    return QIcon(QStringLiteral(":/icons/tray/daybrook-tray.svg"));
}

} // namespace daybrook::style
