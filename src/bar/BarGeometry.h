#pragma once

#include <QRect>

namespace daybrook {

inline constexpr int panelHeight = 150;  // the panel window's height
inline constexpr double barCenterY = 25; // the bar's centre line below the panel's top
inline constexpr double collapsedBarHeight = 6;

// The panel's frame on a screen with the given full geometry and available
// area (Qt's y axis points down): as wide as the screen, its top 22 px above the
// available area, so that the bar's centre line lies 3 px below that area's top
// and the collapsed bar hangs from the top panel's lower edge.
QRect barFrame(const QRect &screenGeometry, const QRect &availableGeometry);

} // namespace daybrook
