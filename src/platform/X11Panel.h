#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QRegion>
#include <QSet>
#include <optional>

class QWidget;

namespace daybrook::x11 {

// True when the application talks to an X server (xcb platform).
bool isAvailable();

enum class WindowRole { Panel, Tooltip };

// Gives a top-level window that the window manager does not manage
// (override-redirect) the type compositors expect of it, so that they neither
// decorate nor shadow it, and keeps it out of taskbars and pagers. Call after
// winId() and before show().
void prepareWindow(QWidget *window, WindowRole role);

// Limits where the window takes the pointer (the XShape input region); the
// rest of the window lets hover and clicks through to what lies below.
void setInputRegion(QWidget *window, const QRegion &region);

// Whether a compositing manager runs on the application's screen (someone
// owns the _NET_WM_CM_Sn selection).
bool compositorActive();

// Where the top panels end on the screen `screenRect` (global coordinates)
// when the window manager publishes no _NET_WORKAREA (i3): the lowest edge of
// the top struts of dock windows over that screen, or the screen's top. No
// value when a work area is published (Qt's available geometry then holds).
std::optional<int> topPanelBottomWithoutWorkArea(const QRect &screenRect);

// Puts a window on top of its siblings unless it already is; `ignored` are
// windows that may stay above it (its own tooltip).
void raiseIfCovered(QWidget *window, const QSet<quintptr> &ignored = {});

// Reports changes of the root window that move or cover the bar: windows
// restacked or mapped (_NET_CLIENT_LIST_STACKING, SubstructureNotify), and the
// work area or the top panels changing (_NET_WORKAREA, docks mapped).
class RootWatcher : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit RootWatcher(QObject *parent = nullptr);
    ~RootWatcher() override;

    // Events about these windows (ours) are not reported.
    void setOwnWindows(const QSet<quintptr> &windows) { m_own = windows; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

Q_SIGNALS:
    void stackingChanged();
    void workAreaChanged();

private:
    QSet<quintptr> m_own;
    quint32 m_root = 0;
    quint32 m_workAreaAtom = 0;
    quint32 m_stackingAtom = 0;
};

} // namespace daybrook::x11
