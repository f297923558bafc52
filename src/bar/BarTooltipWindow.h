#pragma once

#include <QWidget>
#include <functional>

namespace daybrook {

// The bar's tooltip in a small window of its own under the bar, so that the
// bar's window covers only the bar: never focused, ignored by the window
// manager, and without a transient-for link that would tie it to a desktop.
class BarTooltipWindow : public QWidget {
    Q_OBJECT
public:
    using Painter = std::function<void(QPainter &)>;
    explicit BarTooltipWindow(Painter painter);

    // Shows the window at `geometry` (global), clipped to `mask` when no
    // compositor can blend its corners (an empty mask clips nothing).
    void present(const QRect &geometry, const QRegion &mask);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Painter m_painter;
    QRegion m_mask;
};

} // namespace daybrook
