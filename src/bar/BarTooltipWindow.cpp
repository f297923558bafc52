#include "bar/BarTooltipWindow.h"

#include "platform/X11Panel.h"

#include <QPainter>

namespace daybrook {

BarTooltipWindow::BarTooltipWindow(Painter painter)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                           Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::WindowTransparentForInput),
      m_painter(std::move(painter)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Daybrook tooltip"));
    winId();
    x11::prepareWindow(this, x11::WindowRole::Tooltip);
}

void BarTooltipWindow::present(const QRect &geometry, const QRegion &mask) {
    if (geometry != this->geometry())
        setGeometry(geometry);
    if (mask != m_mask) {
        m_mask = mask;
        mask.isEmpty() ? clearMask() : setMask(mask);
    }
    if (!isVisible())
        show();
    update();
}

void BarTooltipWindow::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    m_painter(painter);
}

} // namespace daybrook
