#include "platform/X11Panel.h"

#include <QGuiApplication>
#include <QWidget>
#include <vector>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace daybrook::x11 {

namespace {
xcb_connection_t *connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name) {
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t result = reply->atom;
    free(reply);
    return result;
}

int screenNumber() {
    // ":0.1" names screen 1; Qt opens the display's default screen.
    const QByteArray display = qgetenv("DISPLAY");
    const int dot = display.lastIndexOf('.');
    const int colon = display.lastIndexOf(':');
    if (dot > colon && colon >= 0)
        return display.mid(dot + 1).toInt();
    return 0;
}
} // namespace

bool isAvailable() {
    return connection() != nullptr;
}

void preparePanelWindow(QWidget *window) {
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    const auto id = xcb_window_t(window->winId());
    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1,
                        &allDesktops);
    const xcb_atom_t states[] = {atom(c, "_NET_WM_STATE_ABOVE"), atom(c, "_NET_WM_STATE_STICKY"),
                                 atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 4, states);
    xcb_flush(c);
}

void setInputRegion(QWidget *window, const QRegion &region) {
    xcb_connection_t *c = connection();
    if (!c || !window || !window->windowHandle())
        return;
    // The region is in logical pixels, the shape in the window's own.
    const qreal dpr = window->devicePixelRatioF();
    std::vector<xcb_rectangle_t> rects;
    for (const QRect &logical : region) {
        const QRect r = dpr == 1 ? logical
                                 : QRectF(logical.x() * dpr, logical.y() * dpr, logical.width() * dpr,
                                          logical.height() * dpr)
                                       .toAlignedRect();
        rects.push_back({int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
    }
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         xcb_window_t(window->winId()), 0, 0, uint32_t(rects.size()), rects.data());
    xcb_flush(c);
}

bool isReparentOrMap(const void *xcbEvent) {
    const auto *event = static_cast<const xcb_generic_event_t *>(xcbEvent);
    const uint8_t type = event->response_type & 0x7f;
    return type == XCB_REPARENT_NOTIFY || type == XCB_MAP_NOTIFY;
}

bool compositorActive() {
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    static const xcb_atom_t selection =
        atom(c, QByteArray("_NET_WM_CM_S" + QByteArray::number(screenNumber())).constData());
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    if (!reply)
        return false;
    const bool owned = reply->owner != XCB_NONE;
    free(reply);
    return owned;
}

} // namespace daybrook::x11
