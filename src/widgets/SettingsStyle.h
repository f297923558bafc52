#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>

namespace daybrook::style {

// Glyphs of our own (resources/icons/settings), drawn monochrome and tinted here.
enum class Symbol {
    Gear,
    Link,
    CheckCircle,
    CheckCircleFilled,
    Calendar,
    InfoCircle,
    Sunrise,
    ArrowClockwise,
    ChevronRight,
    SquareChecked,
    SquareMixed,
    SquareEmpty,
};

QString symbolResource(Symbol symbol);
// The glyph tinted in one colour, `size` logical pixels square, for the given device pixel ratio.
QPixmap symbolPixmap(Symbol symbol, const QColor &color, int size, qreal devicePixelRatio = 1.0);
QIcon symbolIcon(Symbol symbol, const QColor &color, int size);

// Fonts derived from the desktop's font, so that they follow its size and family.
QFont bodyFont();
QFont headlineFont();
QFont subheadlineFont();
QFont captionFont();
QFont titleFont();
QFont smallFont(); // tab titles

bool isDark(const QPalette &palette);
QColor accentColor(const QPalette &palette);
QColor primaryColor(const QPalette &palette);
QColor secondaryColor(const QPalette &palette);
QColor tertiaryColor(const QPalette &palette);
QColor greenColor(const QPalette &palette);
QColor redColor(const QPalette &palette);
QColor orangeColor(const QPalette &palette);
// Background of a group of form rows, set off from the window.
QColor cardColor(const QPalette &palette);
QColor separatorColor(const QPalette &palette);

// The program's icon: the installed application icon, else the tray glyph.
QIcon applicationIcon();
QIcon trayIcon();

} // namespace daybrook::style
