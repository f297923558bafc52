#include "core/Color.h"

#include <algorithm>
#include <cmath>

namespace daybrook {

QColor Color::toQColor() const {
    return QColor::fromRgbF(float(std::clamp(red, 0.0, 1.0)), float(std::clamp(green, 0.0, 1.0)),
                            float(std::clamp(blue, 0.0, 1.0)), float(std::clamp(alpha, 0.0, 1.0)));
}

Color hexColor(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && !text[begin].isLetterOrNumber())
        ++begin;
    while (end > begin && !text[end - 1].isLetterOrNumber())
        --end;
    const QStringView digits = text.mid(begin, end - begin);

    // Read a hexadecimal number from the start, stopping at the first non-digit.
    QStringView rest = digits;
    if (rest.size() >= 2 && rest[0] == QLatin1Char('0') &&
        (rest[1] == QLatin1Char('x') || rest[1] == QLatin1Char('X')))
        rest = rest.mid(2);
    quint64 value = 0;
    for (const QChar c : rest) {
        int digit;
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digit = c.unicode() - '0';
        else if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            digit = c.unicode() - 'a' + 10;
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
            digit = c.unicode() - 'A' + 10;
        else
            break;
        value = (value << 4) | quint64(digit);
    }

    if (digits.size() != 6)
        return Color::rgb(1, 1, 1);
    const auto channel = [value](int shift) { return double((value >> shift) & 0xFF) / 255.0; };
    return Color::rgb(channel(16), channel(8), channel(0));
}

Color standardBlue() {
    return Color::rgb(0.0, 122.0 / 255.0, 1.0);
}

std::optional<Hsb> hsbComponents(const Color &color) {
    if (!color.valid)
        return std::nullopt;
    const double r = color.red, g = color.green, b = color.blue;
    const double max = std::max({r, g, b});
    const double min = std::min({r, g, b});
    const double delta = max - min;
    Hsb hsb;
    hsb.brightness = max;
    hsb.saturation = max > 0 ? delta / max : 0;
    hsb.alpha = color.alpha;
    if (delta > 0) {
        double h;
        if (max == r)
            h = std::fmod((g - b) / delta, 6.0);
        else if (max == g)
            h = (b - r) / delta + 2.0;
        else
            h = (r - g) / delta + 4.0;
        h /= 6.0;
        if (h < 0)
            h += 1.0;
        hsb.hue = h;
    }
    return hsb;
}

Color fromHsb(const Hsb &hsb) {
    const double s = std::clamp(hsb.saturation, 0.0, 1.0);
    const double v = std::clamp(hsb.brightness, 0.0, 1.0);
    double h = hsb.hue - std::floor(hsb.hue);
    h *= 6.0;
    const int sector = int(h) % 6;
    const double f = h - std::floor(h);
    const double p = v * (1 - s);
    const double q = v * (1 - s * f);
    const double t = v * (1 - s * (1 - f));
    switch (sector) {
    case 0:
        return Color::rgb(v, t, p, hsb.alpha);
    case 1:
        return Color::rgb(q, v, p, hsb.alpha);
    case 2:
        return Color::rgb(p, v, t, hsb.alpha);
    case 3:
        return Color::rgb(p, q, v, hsb.alpha);
    case 4:
        return Color::rgb(t, p, v, hsb.alpha);
    default:
        return Color::rgb(v, p, q, hsb.alpha);
    }
}

} // namespace daybrook
