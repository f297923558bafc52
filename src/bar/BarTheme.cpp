#include "bar/BarTheme.h"

#include <algorithm>

namespace daybrook {

namespace {
GradientStop stop(const char *hex, double opacity, double location) {
    return {hexColor(QString::fromLatin1(hex)).withAlpha(opacity), location};
}

GradientStop clearStop(double location) {
    return {Color::clear(), location};
}

// Saturation and brightness are first scaled, then raised, then capped at 1.
Color adjust(const Color &color, double saturationFactor, double saturationAdd, double brightnessFactor,
             double brightnessAdd) {
    const auto hsb = hsbComponents(color);
    if (!hsb)
        return color;
    Hsb result = *hsb;
    result.saturation = std::min(hsb->saturation * saturationFactor + saturationAdd, 1.0);
    result.brightness = std::min(hsb->brightness * brightnessFactor + brightnessAdd, 1.0);
    return fromHsb(result);
}
} // namespace

Color adjustSaturationBrightness(const Color &color, double saturationFactor, double saturationAdd,
                                 double brightnessFactor, double brightnessAdd) {
    return adjust(color, saturationFactor, saturationAdd, brightnessFactor, brightnessAdd);
}

QLinearGradient Gradient::toLinearGradient(double left, double right) const {
    QLinearGradient gradient(left, 0, right, 0);
    for (const GradientStop &s : stops)
        gradient.setColorAt(std::clamp(s.location, 0.0, 1.0), s.color.toQColor());
    return gradient;
}

Gradient BarTheme::progressGradient() const {
    if (m_isDarkMode)
        return {{stop("#3D3A8C", 1, 0), stop("#5B4E9E", 1, 0.5), stop("#2E2970", 1, 1)}};
    return {{stop("#F8F6FA", 1, 0), stop("#EDE8F2", 1, 0.5), stop("#E4DEE9", 1, 1)}};
}

Color BarTheme::clockHandColor(bool isHovered) const {
    const Color base = hexColor(m_isDarkMode ? u"#FF6B6B" : u"#E53935");
    if (!isHovered)
        return base;
    return adjust(adjust(base, 1, 0.2, 1, 0), 1, 0, 1, 0.2);
}

Color BarTheme::tickColor(bool isHovered) const {
    if (isHovered)
        return m_isDarkMode ? hexColor(u"#FFB896").withAlpha(0.8) : hexColor(u"#E05040").withAlpha(0.6);
    return m_isDarkMode ? Color::white(1, 0.3) : Color::white(0, 0.15);
}

Color BarTheme::entryColor(const Color &base, EntryTimeStatus status, bool isHovered) const {
    Color color = base;
    switch (status) {
    case EntryTimeStatus::Past:
        color = adjust(adjust(color, 0.5, 0, 1, 0), 0.7, 0, 1, 0.3);
        break;
    case EntryTimeStatus::Current: {
        const double k = m_isDarkMode ? 0.3 : 0.45;
        color = adjust(color, 1 - k, 0, 1, k);
        break;
    }
    case EntryTimeStatus::Future: {
        const double k = m_isDarkMode ? 0.4 : 0.5;
        color = adjust(color, 1 - k, 0, 1, k);
        break;
    }
    }
    if (isHovered)
        color = adjust(adjust(color, 1, 0.3, 1, 0), 1, 0, 1, 0.25);
    return color;
}

Gradient BarTheme::sunriseGradient() const {
    if (m_isDarkMode)
        return {{clearStop(0.0), stop("#9B59B6", 0.15, 0.2), stop("#9B59B6", 0.3, 0.4),
                 stop("#E67E22", 0.5, 0.6), stop("#E67E22", 0.65, 0.8), stop("#F4D03F", 0.8, 1.0)}};
    return {
        {clearStop(0.0), stop("#E8E0F0", 0.3, 0.3), stop("#D4C4E3", 0.5, 0.6), stop("#B8A4D6", 0.7, 1.0)}};
}

Gradient BarTheme::sunsetGradient() const {
    if (m_isDarkMode)
        return {{stop("#F39C12", 0.8, 0.0), stop("#E74C3C", 0.65, 0.2), stop("#E74C3C", 0.5, 0.4),
                 stop("#8E44AD", 0.3, 0.6), stop("#8E44AD", 0.15, 0.8), clearStop(1.0)}};
    return {
        {stop("#B8A4D6", 0.7, 0.0), stop("#D4C4E3", 0.5, 0.4), stop("#E8E0F0", 0.3, 0.7), clearStop(1.0)}};
}

Color BarTheme::entryLabelColor(const Color &base) {
    const auto hsb = hsbComponents(base);
    if (!hsb)
        return Color::white(0.2);
    Hsb darker = *hsb;
    darker.brightness = hsb->brightness * 0.4;
    return fromHsb(darker);
}

// Without blur, a thin translucent surface: light grey in a light desktop,
// dark grey in a dark one, showing what lies behind.
Color BarTheme::baseMaterial() const {
    return m_isDarkMode ? Color::rgb(0.17, 0.17, 0.19, 0.72) : Color::rgb(0.97, 0.97, 0.98, 0.72);
}

Color BarTheme::darkTint() {
    return hexColor(u"#0F0E47").withAlpha(0.85);
}

Color BarTheme::opaqueBase() const {
    if (!m_isDarkMode)
        return Color::rgb(0.94, 0.94, 0.95);
    // The dark tint over the dark material, flattened.
    const Color m = baseMaterial().withAlpha(1), t = darkTint();
    const auto mix = [&](double a, double b) { return b * t.alpha + a * (1 - t.alpha); };
    return Color::rgb(mix(m.red, t.red), mix(m.green, t.green), mix(m.blue, t.blue));
}

Color BarTheme::nightColor() const {
    return m_isDarkMode ? Color::clear() : hexColor(u"#E8E8E8");
}

Color BarTheme::tooltipBackground() const {
    return m_isDarkMode ? Color::rgb(0.20, 0.20, 0.22, 0.92) : Color::rgb(0.98, 0.98, 0.98, 0.92);
}

Color BarTheme::opaqueTooltipBackground() const {
    return tooltipBackground().withAlpha(1);
}

Color BarTheme::tooltipShadow() {
    return Color::white(0, 0.15);
}

Color BarTheme::primaryText() const {
    return m_isDarkMode ? Color::white(1, 0.92) : Color::white(0, 0.85);
}

Color BarTheme::secondaryText() const {
    return m_isDarkMode ? Color::white(1, 0.55) : Color::white(0, 0.5);
}

} // namespace daybrook
