#pragma once

#include "bar/BarState.h"
#include "core/Color.h"

#include <QLinearGradient>
#include <QList>

namespace daybrook {

struct GradientStop {
    Color color;
    double location = 0;
    bool operator==(const GradientStop &) const = default;
};

// A horizontal gradient as its stops, left (0) to right (1).
struct Gradient {
    QList<GradientStop> stops;

    // The gradient laid over [left, right] on the x axis.
    QLinearGradient toLinearGradient(double left, double right) const;
    bool operator==(const Gradient &) const = default;
};

// Every colour of the bar, in its light or dark variant.
class BarTheme {
public:
    explicit BarTheme(bool isDarkMode = false) : m_isDarkMode(isDarkMode) {}

    bool isDarkMode() const { return m_isDarkMode; }

    Gradient progressGradient() const;
    Color clockHandColor(bool isHovered) const;
    Color tickColor(bool isHovered) const;
    Color entryColor(const Color &base, EntryTimeStatus status, bool isHovered) const;
    Gradient sunriseGradient() const;
    Gradient sunsetGradient() const;

    // The label on an entry block: the entry's colour, darkened.
    static Color entryLabelColor(const Color &base);

    // Fixed colours of the bar's surfaces.
    Color baseMaterial() const;            // the translucent base under everything
    static Color darkTint();               // over the base in dark mode
    Color opaqueBase() const;              // the base where nothing can show through
    Color nightColor() const;              // night regions (clear in dark mode)
    Color tooltipBackground() const;       // tooltip panels
    Color opaqueTooltipBackground() const; // the same without a compositor
    static Color tooltipShadow();
    Color primaryText() const;
    Color secondaryText() const;

private:
    bool m_isDarkMode = false;
};

// Colour adjustments in HSB; a colour without an sRGB form passes unchanged.
Color adjustSaturationBrightness(const Color &color, double saturationFactor, double saturationAdd,
                                 double brightnessFactor, double brightnessAdd);

} // namespace daybrook
