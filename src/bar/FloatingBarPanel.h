#pragma once

#include "bar/BarRenderer.h"
#include "bar/BarState.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>
#include <memory>

namespace daybrook {

class AppState;
class BarTooltipWindow;
namespace x11 {
class RootWatcher;
}

// The window that carries the bar under the top panel of one screen: a
// frameless, never-focused, always-on-top window as wide as the screen that
// expands after the pointer rests on the bar and collapses after it leaves.
//
// The bar is laid out in a panel frame of `windowHeight` (barFrame), but the
// window covers only the band of that frame where something is drawn: the
// collapsed bar and its hand, or while expanded the expanded bar. Tooltips
// have their own window. Nothing transparent then takes the pointer, whatever
// the compositor does with input shapes. The window manager does not manage
// it (override-redirect): placed exactly, on every desktop, never focused,
// and raised again whenever other windows are restacked.
class FloatingBarPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int windowHeight = 150;
    static constexpr int expandDelayMs = 600;
    static constexpr int collapseDelayMs = 1100;
    // While expanded the pointer's position is checked this often: XWayland
    // reports no leave when the pointer moves onto a native Wayland window.
    static constexpr int pointerCheckMs = 250;
    // Half the window's height around the bar's centre line.
    static constexpr int collapsedBandHalf = 11;
    static constexpr int expandedBandHalf = 17;

    FloatingBarPanel(AppState *appState, QScreen *screen);
    ~FloatingBarPanel() override;

    QScreen *currentScreen() const { return m_currentScreen; }
    // Places the panel on the screen (barFrame) and records the frame in the bar state.
    void setCurrentScreen(QScreen *screen);

    bool isExpanded() const { return m_isExpanded; }
    void expand();
    void collapse();
    // Pins or unpins the bar: stores the setting, then expands or collapses.
    void setAlwaysExpanded(bool pinned);

    BarState *barState() const { return m_barState; }
    AppState *appState() const;

    // What the window shows right now (animated values included).
    const BarVisuals &visuals() const { return m_visuals; }
    // Jumps every running transition to its end (the breathing hand rests at 1).
    void settleAnimations();
    // True while the window is clipped to what it draws because no compositor
    // can blend its translucent pixels.
    bool isOpaqueMode() const { return m_visuals.opaque; }
    // The region that takes the pointer, in window coordinates.
    QRegion inputRegion() const;
    // The panel frame's top-left and where the window's top row lies in it.
    QRect panelFrame() const { return m_frame; }
    int bandTop() const { return m_bandTop; }
    // The whole panel frame as drawn right now, tooltip included (ARGB).
    QImage picture();
    // The tooltip's window, or null before the first tooltip.
    QWidget *tooltipWindow() const;
    // The recorded screen-capture choice: true while captures should exclude the bar.
    bool isCaptureProtected() const { return m_captureProtected; }

Q_SIGNALS:
    void expandedChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool event(QEvent *event) override;

private:
    void placeOnCurrentScreen();
    void setBand(int half);
    void repaintFrameRect(const QRect &frameRect);
    void checkPointer();
    void raiseAboveOthers();
    void updateTooltipWindow();
    BarVisuals windowVisuals() const;
    void scheduleHoverUpdate();
    void updateHoverState();
    void scheduleProtectionUpdate();
    void applyProtection();
    void handlePointer(const QPointF &position);
    void handlePointerLeft();

    void onExpandedChanged();
    void onLeavingChanged();
    void onHandHoverChanged();
    void onHoveredElementChanged();
    void onTimeAdvanced();
    void onContentChanged();
    void refreshTooltip();
    void updateBreathing();
    void breathe();
    void checkCompositor();
    void applyShapes(bool force = false);
    void repaintPanel();
    void repaintHand(const QRectF &before);

    QVariantAnimation *makeAnimation(int durationMs, bool easeInOut);
    void animate(QVariantAnimation *animation, double from, double to);

    QPointer<AppState> m_appState;
    QPointer<QScreen> m_currentScreen;
    QList<QMetaObject::Connection> m_screenConnections;
    bool m_isExpanded = false;
    QTimer *m_hoverTimer = nullptr;
    QTimer *m_collapseTimer = nullptr;
    BarState *m_barState = nullptr;
    QTimer *m_timeTimer = nullptr;

    bool m_hoverUpdatePending = false;
    bool m_protectionPending = false;
    bool m_captureProtected = true;

    BarRenderer m_renderer;
    BarVisuals m_visuals;
    std::optional<TooltipContent> m_targetTooltip;

    QVariantAnimation *m_heightAnimation = nullptr;
    QVariantAnimation *m_expansionAnimation = nullptr;
    QVariantAnimation *m_handHoverAnimation = nullptr;
    QVariantAnimation *m_tickAnimation = nullptr;
    QVariantAnimation *m_entryAnimation = nullptr;
    QVariantAnimation *m_tooltipAnimation = nullptr;
    double m_fadingTickStart = 0;
    double m_fadingEntryStart = 0;

    QTimer *m_breathingTimer = nullptr;
    QElapsedTimer m_breathingClock;
    QTimer *m_compositorTimer = nullptr;

    // What the pointer was on at the last event.
    std::optional<int> m_pointerTick;
    std::optional<QString> m_pointerEntry;

    // What was last drawn for the clock, to repaint only when it shows.
    int m_paintedHandQuarter = -1;
    QString m_paintedMinute;
    qint64 m_nextStatusChange = 0;

    QRegion m_appliedInput;
    QRegion m_appliedMask;

    QRect m_frame;
    int m_bandTop = int(barLayout::centerY) - collapsedBandHalf;
    QTimer *m_pointerTimer = nullptr;
    BarTooltipWindow *m_tooltipWindow = nullptr;
    x11::RootWatcher *m_rootWatcher = nullptr;
    bool m_raisePending = false;
};

} // namespace daybrook
