#pragma once

#include <QRegion>

class QWidget;

namespace daybrook::x11 {

// True when the application talks to an X server (xcb platform).
bool isAvailable();

// Puts a top-level window on every workspace, above normal windows, out of the
// taskbar and pager. Call after winId() and before show().
void preparePanelWindow(QWidget *window);

// Limits where the window takes the pointer (the XShape input region); the
// rest of the window lets hover and clicks through to what lies below.
void setInputRegion(QWidget *window, const QRegion &region);

// Whether an xcb event is the reparenting or mapping of a window.
bool isReparentOrMap(const void *xcbEvent);

// Whether a compositing manager runs on the application's screen (someone
// owns the _NET_WM_CM_Sn selection).
bool compositorActive();

} // namespace daybrook::x11
