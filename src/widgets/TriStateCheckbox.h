#pragma once

#include "core/ToggleState.h"

#include <QAbstractButton>

namespace daybrook {

// The value handed over when a checkbox showing `state` is clicked: a full group
// is switched off, a mixed or empty one is switched on as a whole.
bool nextEnabledValue(ToggleState state);

// A checkbox with a mixed state. It keeps no state of its own beyond what its
// owner last set: a click only reports the wanted value through `activated`,
// and the owner recomputes and sets the state.
class TriStateCheckbox : public QAbstractButton {
    Q_OBJECT
public:
    explicit TriStateCheckbox(ToggleState state = ToggleState::All, QWidget *parent = nullptr);

    ToggleState state() const { return m_state; }
    void setState(ToggleState state);

    QSize sizeHint() const override;

Q_SIGNALS:
    void activated(bool enabled);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ToggleState m_state;
};

} // namespace daybrook
