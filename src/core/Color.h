#pragma once

#include <QColor>
#include <QString>
#include <optional>

namespace daybrook {

// An sRGB colour with double-precision components in 0...1. QColor keeps only
// 16 bits per channel, which is too coarse for chained HSB adjustments; painting
// converts at the last moment with toQColor().
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
    // False for a colour that has no sRGB form (adjustments then leave it as is).
    bool valid = true;

    static Color rgb(double r, double g, double b, double a = 1) { return {r, g, b, a, true}; }
    static Color white(double level, double a = 1) { return {level, level, level, a, true}; }
    static Color clear() { return {0, 0, 0, 0, true}; }
    static Color invalid() { return {0, 0, 0, 0, false}; }

    Color withAlpha(double a) const {
        Color c = *this;
        c.alpha = a;
        return c;
    }
    QColor toQColor() const;
    bool operator==(const Color &) const = default;
};

// "#RRGGBB" (with or without the hash, surrounded by any non-alphanumerics) to
// an opaque colour; a text that is not six characters gives white.
Color hexColor(QStringView text);

// The toolkit's standard blue, used where an entry has no colour of its own.
Color standardBlue();

struct Hsb {
    double hue = 0;
    double saturation = 0;
    double brightness = 0;
    double alpha = 1;
};

// HSB (= HSV) components of a colour in sRGB; nothing for an invalid colour.
std::optional<Hsb> hsbComponents(const Color &color);
Color fromHsb(const Hsb &hsb);

} // namespace daybrook
