#include "bar/FloatingBarPanel.h"

#include "bar/BarGeometry.h"
#include "bar/BarTooltipWindow.h"
#include "core/Clock.h"
#include "core/Logging.h"
#include "platform/ScreenCaptureProtection.h"
#include "platform/X11Panel.h"
#include "state/AppState.h"

#include <QCursor>
#include <QEasingCurve>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <vector>

namespace daybrook {

namespace {
constexpr int clockIntervalMs = 1000;
constexpr int breathingHalfPeriodMs = 1200;
// The breathing hand grows by about 2 px in 1.2 s. Redrawn (antialiased)
// whenever its size has changed by half a pixel, it still looks smooth; the
// program wakes only for those frames, about 3.5 a second, the idle bar's
// main work: each wake costs more than the small repaint it does.
constexpr double breathingStepsPerPixel = 2;
constexpr int compositorPollMs = 2000;
// Room around the tooltip's rounded rectangle for its shadow.
constexpr int tooltipShadowMargin = 4;

QEasingCurve easeInOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

QEasingCurve easeOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}
struct BreathingFrame {
    int atMs; // from the start of a breath
    double scale;
};

// The moments of one breath (in and out) at which the hand's drawn size
// changes by a step, with the scale from then on; computed once.
const std::vector<BreathingFrame> &breathingFrames() {
    static const std::vector<BreathingFrame> frames = [] {
        std::vector<BreathingFrame> result;
        const QEasingCurve curve = easeInOut();
        long last = -1;
        for (int t = 0; t < 2 * breathingHalfPeriodMs; ++t) {
            const int p = t < breathingHalfPeriodMs ? t : 2 * breathingHalfPeriodMs - t;
            const double scale = 1.0 + (barLayout::breathingScale - 1.0) *
                                           curve.valueForProgress(double(p) / breathingHalfPeriodMs);
            const long step = std::lround(barLayout::collapsedHandSize * scale * breathingStepsPerPixel);
            if (step != last)
                result.push_back({t, scale});
            last = step;
        }
        return result;
    }();
    return frames;
}
} // namespace

FloatingBarPanel::FloatingBarPanel(AppState *appState, QScreen *screen)
    // A plain window, not Qt::Tool: Qt gives tool windows a WM_TRANSIENT_FOR,
    // which ties them to one desktop.
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                           Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      m_appState(appState) {
    m_barState = new BarState(this);
    m_barState->setAppState(appState);

    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setWindowTitle(QStringLiteral("Daybrook"));
    setFocusPolicy(Qt::NoFocus);

    m_hoverTimer = new QTimer(this);
    m_hoverTimer->setSingleShot(true);
    m_hoverTimer->setInterval(expandDelayMs);
    connect(m_hoverTimer, &QTimer::timeout, this, &FloatingBarPanel::expand);
    m_collapseTimer = new QTimer(this);
    m_collapseTimer->setSingleShot(true);
    m_collapseTimer->setInterval(collapseDelayMs);
    connect(m_collapseTimer, &QTimer::timeout, this, &FloatingBarPanel::collapse);

    m_heightAnimation = makeAnimation(200, true);
    connect(m_heightAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_visuals.barHeight = value.toDouble();
        applyShapes();
        repaintPanel();
        updateTooltipWindow();
    });
    // The window shrinks back to the collapsed band only once the collapse
    // has been drawn, so that the animation is never cut.
    connect(m_heightAnimation, &QVariantAnimation::finished, this, [this] {
        if (!m_barState->isExpanded())
            setBand(collapsedBandHalf);
    });
    m_expansionAnimation = makeAnimation(250, true);
    connect(m_expansionAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_visuals.expansion = value.toDouble();
        applyShapes();
        repaintPanel();
    });
    m_handHoverAnimation = makeAnimation(150, true);
    connect(m_handHoverAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const QRectF before = BarRenderer::handRect(*m_barState, m_visuals);
        m_visuals.handHover = value.toDouble();
        repaintHand(before);
        applyShapes();
    });
    m_tickAnimation = makeAnimation(150, true);
    connect(m_tickAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const double t = value.toDouble();
        m_visuals.tickHover = t;
        m_visuals.fadingTickHover = m_fadingTickStart * (1 - t);
        repaintFrameRect(QRect(0, 0, width(), 48));
    });
    m_entryAnimation = makeAnimation(150, true);
    connect(m_entryAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const double t = value.toDouble();
        m_visuals.entryHover = t;
        m_visuals.fadingEntryHover = m_fadingEntryStart * (1 - t);
        repaintFrameRect(QRect(0, 0, width(), 48));
    });
    m_tooltipAnimation = makeAnimation(150, false);
    connect(m_tooltipAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_visuals.tooltipPresence = value.toDouble();
        updateTooltipWindow();
    });
    connect(m_tooltipAnimation, &QVariantAnimation::finished, this, [this] {
        if (m_visuals.tooltipPresence <= 0 && !m_targetTooltip) {
            m_visuals.tooltip.reset();
            updateTooltipWindow();
        }
    });

    m_pointerTimer = new QTimer(this);
    m_pointerTimer->setInterval(pointerCheckMs);
    connect(m_pointerTimer, &QTimer::timeout, this, &FloatingBarPanel::checkPointer);

    m_breathingTimer = new QTimer(this);
    m_breathingTimer->setSingleShot(true);
    m_breathingTimer->setTimerType(Qt::PreciseTimer);
    connect(m_breathingTimer, &QTimer::timeout, this, &FloatingBarPanel::breathe);

    // The clock: the bar's notion of now advances once a second.
    m_timeTimer = new QTimer(this);
    m_timeTimer->setInterval(clockIntervalMs);
    connect(m_timeTimer, &QTimer::timeout, this, [this] { m_barState->setCurrentTime(Clock::now()); });
    m_timeTimer->start();

    connect(m_barState, &BarState::barContentHoveredChanged, this, &FloatingBarPanel::scheduleHoverUpdate);
    connect(m_barState, &BarState::clockHandHoveredChanged, this, &FloatingBarPanel::scheduleHoverUpdate);
    connect(m_barState, &BarState::clockHandHoveredChanged, this, &FloatingBarPanel::onHandHoverChanged);
    connect(m_barState, &BarState::isExpandedChanged, this, &FloatingBarPanel::onExpandedChanged);
    connect(m_barState, &BarState::isLeavingChanged, this, &FloatingBarPanel::onLeavingChanged);
    connect(m_barState, &BarState::hoveredElementChanged, this, &FloatingBarPanel::onHoveredElementChanged);
    connect(m_barState, &BarState::currentTimeChanged, this, &FloatingBarPanel::onTimeAdvanced);
    connect(m_barState, &BarState::contentChanged, this, &FloatingBarPanel::onContentChanged);
    connect(m_barState, &BarState::frameChanged, this, &FloatingBarPanel::onContentChanged);

    if (appState) {
        connect(appState, &AppState::preventScreenRecordingChanged, this,
                &FloatingBarPanel::scheduleProtectionUpdate);
        // The pins: the menu's "always expanded" and an open settings window.
        connect(appState, &AppState::alwaysExpandedChanged, this, [this] {
            if (m_appState)
                m_appState->alwaysExpanded() ? expand() : collapse();
        });
        connect(appState, &AppState::isSettingsOpenChanged, this, [this] {
            if (m_appState)
                m_appState->isSettingsOpen() ? expand() : collapse();
        });
    }

    // The native window exists before it is shown, so that the window manager
    // sees the workspace and stacking hints at its first map.
    winId();
    x11::prepareWindow(this, x11::WindowRole::Panel);
    if (x11::isAvailable()) {
        m_rootWatcher = new x11::RootWatcher(this);
        m_rootWatcher->setOwnWindows({quintptr(winId())});
        connect(m_rootWatcher, &x11::RootWatcher::stackingChanged, this, &FloatingBarPanel::raiseAboveOthers);
        // Queued: Qt reads the new work area from the same event, after us. A
        // panel that appears after the bar is raised above: raise again.
        connect(
            m_rootWatcher, &x11::RootWatcher::workAreaChanged, this,
            [this] {
                placeOnCurrentScreen();
                raiseAboveOthers();
            },
            Qt::QueuedConnection);
    }

    setCurrentScreen(screen);
    applyProtection();
    onContentChanged();
    if (x11::isAvailable()) {
        m_compositorTimer = new QTimer(this);
        m_compositorTimer->setInterval(compositorPollMs);
        connect(m_compositorTimer, &QTimer::timeout, this, &FloatingBarPanel::checkCompositor);
        m_compositorTimer->start();
        m_visuals.opaque = !x11::compositorActive();
    }

    if (appState && appState->alwaysExpanded())
        expand();
}

FloatingBarPanel::~FloatingBarPanel() {
    // A window of its own: no parent, so that it is no transient of the bar.
    delete m_tooltipWindow;
}

AppState *FloatingBarPanel::appState() const {
    return m_appState.data();
}

QVariantAnimation *FloatingBarPanel::makeAnimation(int durationMs, bool inOut) {
    auto *animation = new QVariantAnimation(this);
    animation->setDuration(durationMs);
    animation->setEasingCurve(inOut ? easeInOut() : easeOut());
    return animation;
}

void FloatingBarPanel::animate(QVariantAnimation *animation, double from, double to) {
    animation->stop();
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->start();
}

void FloatingBarPanel::setCurrentScreen(QScreen *screen) {
    for (const auto &connection : std::as_const(m_screenConnections))
        disconnect(connection);
    m_screenConnections.clear();
    m_currentScreen = screen;
    if (!screen)
        return;
    if (QWindow *window = windowHandle(); window && window->screen() != screen)
        window->setScreen(screen);
    placeOnCurrentScreen();
    // A desktop panel that appears after the bar (the bar starting at login
    // before the desktop's own panel), or a change of resolution, moves the
    // bar with it.
    m_screenConnections << connect(screen, &QScreen::availableGeometryChanged, this,
                                   &FloatingBarPanel::placeOnCurrentScreen)
                        << connect(screen, &QScreen::geometryChanged, this,
                                   &FloatingBarPanel::placeOnCurrentScreen);
}

void FloatingBarPanel::placeOnCurrentScreen() {
    if (!m_currentScreen)
        return;
    QRect available = m_currentScreen->availableGeometry();
    // Without a published work area (i3) the docks' struts tell where the top
    // panel ends.
    if (const auto top = x11::topPanelBottomWithoutWorkArea(m_currentScreen->geometry()))
        available.setTop(*top);
    const QRect frame = barFrame(m_currentScreen->geometry(), available);
    if (frame == m_frame)
        return;
    m_frame = frame;
    setGeometry(m_frame.x(), m_frame.y() + m_bandTop, m_frame.width(),
                2 * (int(barLayout::centerY) - m_bandTop));
    m_barState->setFrame(QRectF(m_frame));
    applyShapes(true);
    updateTooltipWindow();
}

void FloatingBarPanel::setBand(int half) {
    const int top = int(barLayout::centerY) - half;
    if (top == m_bandTop && height() == 2 * half)
        return;
    m_bandTop = top;
    setGeometry(m_frame.x(), m_frame.y() + top, m_frame.width(), 2 * half);
    applyShapes(true);
    // Drawn at once: the window has moved, its old picture would be offset.
    repaint();
}

void FloatingBarPanel::repaintFrameRect(const QRect &frameRect) {
    update(frameRect.translated(0, -m_bandTop));
}

BarVisuals FloatingBarPanel::windowVisuals() const {
    BarVisuals v = m_visuals;
    v.tooltip.reset();
    // Without a compositor a partly covered pixel at the bar's edge cannot
    // blend and shows dark: keep the animated bar on whole pixels (even
    // heights around the centre line on a whole pixel).
    if (v.opaque)
        v.barHeight = 2 * std::round(v.barHeight / 2);
    return v;
}

// ---- expansion --------------------------------------------------------------

void FloatingBarPanel::expand() {
    if (m_isExpanded)
        return;
    if (m_appState)
        m_appState->refreshIfNeeded();
    m_isExpanded = true;
    // The window grows before the expansion is drawn.
    setBand(expandedBandHalf);
    m_barState->setIsExpanded(true);
    m_pointerTimer->start();
    Q_EMIT expandedChanged();
}

void FloatingBarPanel::collapse() {
    if (m_isExpanded && m_appState && (m_appState->alwaysExpanded() || m_appState->isSettingsOpen()))
        return;
    if (!m_isExpanded)
        return;
    m_isExpanded = false;
    m_pointerTimer->stop();
    m_barState->setIsExpanded(false);
    m_barState->setIsLeaving(false);
    Q_EMIT expandedChanged();
}

void FloatingBarPanel::setAlwaysExpanded(bool pinned) {
    if (m_appState)
        m_appState->setAlwaysExpanded(pinned);
    pinned ? expand() : collapse();
}

// The hover flags are written by the pointer handling; the reaction runs on
// the next turn of the event loop, once, however many flags changed.
void FloatingBarPanel::scheduleHoverUpdate() {
    if (m_hoverUpdatePending)
        return;
    m_hoverUpdatePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_hoverUpdatePending = false;
            updateHoverState();
        },
        Qt::QueuedConnection);
}

void FloatingBarPanel::updateHoverState() {
    if (!m_barState->barContentHovered() && !m_barState->clockHandHovered()) {
        m_hoverTimer->stop();
        m_collapseTimer->stop();
        m_barState->setIsLeaving(m_isExpanded);
        m_collapseTimer->start();
        return;
    }
    m_collapseTimer->stop();
    m_barState->setIsLeaving(false);
    if (m_isExpanded)
        return;
    m_hoverTimer->start();
}

void FloatingBarPanel::scheduleProtectionUpdate() {
    if (m_protectionPending)
        return;
    m_protectionPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_protectionPending = false;
            applyProtection();
        },
        Qt::QueuedConnection);
}

void FloatingBarPanel::applyProtection() {
    m_captureProtected = !m_appState || m_appState->preventScreenRecording();
    applyScreenCaptureProtection(this, m_captureProtected);
}

// ---- pointer ----------------------------------------------------------------

// Only motion counts as the pointer arriving: a window mapped or moved under a
// resting pointer gets a crossing too, and XWayland reports crossings at the
// last X position even when the real pointer is over a native window, which
// would expand the bar for good after Hide and Show.
void FloatingBarPanel::mouseMoveEvent(QMouseEvent *event) {
    handlePointer(event->position() + QPointF(0, m_bandTop));
}

void FloatingBarPanel::checkPointer() {
    if (!isVisible() || rect().contains(mapFromGlobal(QCursor::pos())))
        return;
    handlePointerLeft();
}

void FloatingBarPanel::leaveEvent(QEvent *) {
    handlePointerLeft();
}

void FloatingBarPanel::handlePointer(const QPointF &position) {
    if (!m_appState)
        return;
    const BarHit hit = m_renderer.hitTest(*m_barState, m_visuals, position);
    // Flags are written when they change, as enter and leave events would.
    if (hit.onHand != m_barState->clockHandHovered())
        m_barState->setClockHandHovered(hit.onHand);
    if (hit.onBar != m_barState->barContentHovered())
        m_barState->setBarContentHovered(hit.onBar);

    // The element entered is reported before the one left, as hover areas do.
    if (hit.tickHour != m_pointerTick) {
        const auto previous = m_pointerTick;
        m_pointerTick = hit.tickHour;
        if (hit.tickHour)
            m_barState->updateHover(HoveredElement::tick(*hit.tickHour), true);
        if (previous)
            m_barState->updateHover(HoveredElement::tick(*previous), false);
    }
    const auto previousEntry = m_pointerEntry;
    m_pointerEntry = hit.entryId;
    if (hit.entryId) {
        qCDebug(lcHover).noquote() << "📍 onContinuousHover:" << position.x();
        m_barState->updateHover(HoveredElement::entry(*hit.entryId, position.x()), true);
    }
    if (previousEntry && previousEntry != hit.entryId)
        m_barState->updateHover(HoveredElement::entry(*previousEntry, 0), false);
}

void FloatingBarPanel::handlePointerLeft() {
    if (m_barState->clockHandHovered())
        m_barState->setClockHandHovered(false);
    if (m_barState->barContentHovered())
        m_barState->setBarContentHovered(false);
    if (const auto tick = std::exchange(m_pointerTick, std::nullopt))
        m_barState->updateHover(HoveredElement::tick(*tick), false);
    if (const auto entry = std::exchange(m_pointerEntry, std::nullopt))
        m_barState->updateHover(HoveredElement::entry(*entry, 0), false);
}

// ---- reactions to the model -------------------------------------------------

void FloatingBarPanel::onExpandedChanged() {
    const bool expanded = m_barState->isExpanded();
    m_heightAnimation->setDuration(200);
    m_heightAnimation->setEasingCurve(easeInOut());
    animate(m_heightAnimation, m_visuals.barHeight, targetBarHeight(*m_barState));
    animate(m_expansionAnimation, m_visuals.expansion, expanded ? 1 : 0);
    updateBreathing();
    refreshTooltip();
}

void FloatingBarPanel::onLeavingChanged() {
    const double target = targetBarHeight(*m_barState);
    if (m_heightAnimation->state() == QAbstractAnimation::Running &&
        m_heightAnimation->endValue().toDouble() == target)
        return;
    if (m_visuals.barHeight == target)
        return;
    m_heightAnimation->setDuration(150);
    m_heightAnimation->setEasingCurve(easeOut());
    animate(m_heightAnimation, m_visuals.barHeight, target);
}

void FloatingBarPanel::onHandHoverChanged() {
    animate(m_handHoverAnimation, m_visuals.handHover, m_barState->clockHandHovered() ? 1 : 0);
    refreshTooltip();
}

void FloatingBarPanel::onHoveredElementChanged() {
    const auto &hovered = m_barState->hoveredElement();
    const int tick = hovered && hovered->asTick() ? hovered->asTick()->hour : -1;
    if (tick != m_visuals.hoveredTick) {
        m_visuals.fadingTick = m_visuals.hoveredTick;
        m_fadingTickStart = m_visuals.tickHover;
        m_visuals.fadingTickHover = m_fadingTickStart;
        m_visuals.hoveredTick = tick;
        m_visuals.tickHover = 0;
        animate(m_tickAnimation, 0, 1);
    }
    const QString entry = hovered && hovered->asEntry() ? hovered->asEntry()->id : QString();
    if (entry != m_visuals.hoveredEntryId || entry.isNull() != m_visuals.hoveredEntryId.isNull()) {
        m_visuals.fadingEntryId = m_visuals.hoveredEntryId;
        m_fadingEntryStart = m_visuals.entryHover;
        m_visuals.fadingEntryHover = m_fadingEntryStart;
        m_visuals.hoveredEntryId = entry;
        m_visuals.entryHover = 0;
        animate(m_entryAnimation, 0, 1);
    }
    refreshTooltip();
}

void FloatingBarPanel::refreshTooltip() {
    const std::optional<TooltipContent> next = m_barState->activeTooltip();
    if (next == m_targetTooltip)
        return;
    const bool wasShown = m_targetTooltip.has_value();
    m_targetTooltip = next;
    if (next) {
        m_visuals.tooltip = next;
        if (!wasShown)
            animate(m_tooltipAnimation, m_visuals.tooltipPresence < 1 ? m_visuals.tooltipPresence : 0, 1);
    } else {
        // Keep drawing the last content while it fades out.
        animate(m_tooltipAnimation, m_visuals.tooltipPresence, 0);
    }
    updateTooltipWindow();
}

void FloatingBarPanel::onTimeAdvanced() {
    refreshTooltip();
    const double x = BarRenderer::handX(*m_barState);
    const int quarter = int(std::floor(x * 4));
    const QString minute = BarState::formatTime(m_barState->currentTime());
    const qint64 now = m_barState->currentTime().toMSecsSinceEpoch();
    const bool statusChanged = m_nextStatusChange > 0 && now >= m_nextStatusChange;
    if (quarter == m_paintedHandQuarter && minute == m_paintedMinute && !statusChanged)
        return;
    m_paintedHandQuarter = quarter;
    m_paintedMinute = minute;
    if (statusChanged)
        onContentChanged();
    repaintFrameRect(QRect(0, 0, width(), 48));
    applyShapes();
}

void FloatingBarPanel::onContentChanged() {
    // The next instant at which an entry turns current or past.
    const qint64 now = m_barState->currentTime().toMSecsSinceEpoch();
    qint64 next = 0;
    for (const TimeEntry &entry : m_barState->entries()) {
        const qint64 start = entry.startTime().toMSecsSinceEpoch();
        if (start > now && (next == 0 || start < next))
            next = start;
        if (const auto &end = entry.endTime()) {
            const qint64 past = end->toMSecsSinceEpoch() + 1;
            if (past > now && (next == 0 || past < next))
                next = past;
        }
    }
    m_nextStatusChange = next;
    refreshTooltip();
    applyShapes();
    update();
}

// ---- the breathing hand -----------------------------------------------------

void FloatingBarPanel::updateBreathing() {
    const bool run = isVisible() && !m_barState->isExpanded();
    if (run == m_breathingClock.isValid())
        return;
    const QRectF before = BarRenderer::handRect(*m_barState, m_visuals);
    m_visuals.breathing = 1.0;
    if (run) {
        m_breathingClock.start();
        m_breathingTimer->start(0);
    } else {
        m_breathingClock.invalidate();
        m_breathingTimer->stop();
    }
    repaintHand(before);
}

void FloatingBarPanel::breathe() {
    const std::vector<BreathingFrame> &frames = breathingFrames();
    const int phase = int(m_breathingClock.elapsed() % (2 * breathingHalfPeriodMs));
    const auto next = std::upper_bound(frames.begin(), frames.end(), phase,
                                       [](int t, const BreathingFrame &frame) { return t < frame.atMs; });
    m_breathingTimer->start((next == frames.end() ? 2 * breathingHalfPeriodMs : next->atMs) - phase);
    const double scale = std::prev(next)->scale;
    if (scale == m_visuals.breathing)
        return;
    const QRectF before = BarRenderer::handRect(*m_barState, m_visuals);
    m_visuals.breathing = scale;
    repaintHand(before);
    if (m_visuals.opaque)
        applyShapes();
}

void FloatingBarPanel::repaintHand(const QRectF &before) {
    const QRectF after = BarRenderer::handRect(*m_barState, m_visuals);
    repaintFrameRect(before.united(after).adjusted(-2, -2, 2, 2).toAlignedRect());
}

void FloatingBarPanel::repaintPanel() {
    update();
}

void FloatingBarPanel::settleAnimations() {
    for (QVariantAnimation *animation : {m_heightAnimation, m_expansionAnimation, m_handHoverAnimation,
                                         m_tickAnimation, m_entryAnimation, m_tooltipAnimation})
        animation->stop();
    const bool opaque = m_visuals.opaque;
    m_visuals = BarVisuals::settled(*m_barState);
    m_visuals.opaque = opaque;
    m_targetTooltip = m_visuals.tooltip;
    if (!m_barState->isExpanded())
        setBand(collapsedBandHalf);
    applyShapes();
    update();
    updateTooltipWindow();
}

// ---- window system ----------------------------------------------------------

void FloatingBarPanel::checkCompositor() {
    const bool opaque = !x11::compositorActive();
    if (opaque == m_visuals.opaque)
        return;
    qCDebug(lcBar) << (opaque ? "no compositor: clipping the bar" : "compositor found: translucent bar");
    m_visuals.opaque = opaque;
    if (!opaque) {
        clearMask();
        m_appliedMask = QRegion();
    }
    m_renderer.invalidate();
    applyShapes(true);
    update();
}

QRegion FloatingBarPanel::inputRegion() const {
    return BarRenderer::inputRegion(*m_barState, windowVisuals()).translated(0, -m_bandTop);
}

void FloatingBarPanel::applyShapes(bool force) {
    if (!x11::isAvailable())
        return;
    const QRegion input = inputRegion();
    if (force || input != m_appliedInput) {
        m_appliedInput = input;
        x11::setInputRegion(this, input);
    }
    if (m_visuals.opaque) {
        const QRegion mask = m_renderer.visibleRegion(*m_barState, windowVisuals()).translated(0, -m_bandTop);
        if (force || mask != m_appliedMask) {
            m_appliedMask = mask;
            setMask(mask);
        }
    }
}

void FloatingBarPanel::updateTooltipWindow() {
    const QRectF tip = m_visuals.tooltip ? m_renderer.tooltipRect(*m_barState, m_visuals, this) : QRectF();
    if (tip.isEmpty() || !isVisible()) {
        if (m_tooltipWindow)
            m_tooltipWindow->hide();
        return;
    }
    if (!m_tooltipWindow) {
        m_tooltipWindow = new BarTooltipWindow([this](QPainter &painter) {
            painter.translate(-m_tooltipWindow->pos() + m_frame.topLeft());
            m_renderer.paintTooltip(painter, *m_barState, m_visuals);
        });
        if (m_rootWatcher)
            m_rootWatcher->setOwnWindows({quintptr(winId()), quintptr(m_tooltipWindow->winId())});
    }
    // The shadow falls 2 px down and blurs by about 4 px.
    const QRect local = tip.toAlignedRect().adjusted(-tooltipShadowMargin, -tooltipShadowMargin,
                                                     tooltipShadowMargin, tooltipShadowMargin + 2);
    const QRect global = local.translated(m_frame.topLeft());
    QRegion mask;
    if (m_visuals.opaque) {
        BarVisuals solid = m_visuals;
        solid.tooltipPresence = 1;
        mask = m_renderer.visibleRegion(*m_barState, solid) & QRegion(local);
        mask.translate(-local.topLeft());
    }
    m_tooltipWindow->present(global, mask);
}

QWidget *FloatingBarPanel::tooltipWindow() const {
    return m_tooltipWindow;
}

void FloatingBarPanel::raiseAboveOthers() {
    // Restacking comes in bursts: raise once, after the burst.
    if (m_raisePending)
        return;
    m_raisePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_raisePending = false;
            x11::raiseIfCovered(this, m_tooltipWindow ? QSet<quintptr>{quintptr(m_tooltipWindow->winId())}
                                                      : QSet<quintptr>{});
            if (m_tooltipWindow && m_tooltipWindow->isVisible())
                x11::raiseIfCovered(m_tooltipWindow);
        },
        Qt::QueuedConnection);
}

void FloatingBarPanel::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    applyShapes(true);
    updateBreathing();
    // Whatever was mapped while the bar was hidden may cover it now.
    raiseAboveOthers();
}

void FloatingBarPanel::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    updateBreathing();
    updateTooltipWindow();
}

bool FloatingBarPanel::event(QEvent *event) {
    if (event->type() == QEvent::WinIdChange) {
        x11::prepareWindow(this, x11::WindowRole::Panel);
        QTimer::singleShot(0, this, [this] { applyShapes(true); });
    }
    return QWidget::event(event);
}

QImage FloatingBarPanel::picture() {
    QImage image(m_frame.width(), windowHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    m_renderer.paint(painter, *m_barState, m_visuals);
    return image.convertToFormat(QImage::Format_ARGB32);
}

void FloatingBarPanel::paintEvent(QPaintEvent *event) {
    if (!m_appState)
        return;
    QPainter painter(this);
    painter.translate(0, -m_bandTop);
    m_renderer.paint(painter, *m_barState, windowVisuals(), event->rect().translated(0, m_bandTop));
}

} // namespace daybrook
