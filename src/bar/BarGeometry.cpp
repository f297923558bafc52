#include "bar/BarGeometry.h"

#include <cmath>

namespace daybrook {

QRect barFrame(const QRect &screenGeometry, const QRect &availableGeometry) {
    const double top = availableGeometry.top() + collapsedBarHeight * 0.5 - barCenterY;
    return QRect(screenGeometry.x(), int(std::lround(top)), screenGeometry.width(), panelHeight);
}

} // namespace daybrook
