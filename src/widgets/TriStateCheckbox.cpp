#include "widgets/TriStateCheckbox.h"

#include "widgets/SettingsStyle.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

namespace daybrook {

bool nextEnabledValue(ToggleState state) {
    return state != ToggleState::All;
}

TriStateCheckbox::TriStateCheckbox(ToggleState state, QWidget *parent)
    : QAbstractButton(parent), m_state(state) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractButton::clicked, this, [this] { Q_EMIT activated(nextEnabledValue(m_state)); });
}

void TriStateCheckbox::setState(ToggleState state) {
    m_state = state;
    update();
}

QSize TriStateCheckbox::sizeHint() const {
    const int side = QFontMetrics(font()).height() + 2;
    return {side, side};
}

void TriStateCheckbox::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    using style::Symbol;
    const Symbol symbol = m_state == ToggleState::All    ? Symbol::SquareChecked
                          : m_state == ToggleState::Some ? Symbol::SquareMixed
                                                         : Symbol::SquareEmpty;
    const QColor color =
        m_state == ToggleState::None ? style::secondaryColor(palette()) : style::accentColor(palette());
    const int side = qMin(width(), height());
    const QPixmap glyph = style::symbolPixmap(symbol, color, side, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - side) / 2.0, (height() - side) / 2.0), glyph);
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

} // namespace daybrook
