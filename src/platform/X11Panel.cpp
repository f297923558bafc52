#include "platform/X11Panel.h"

#include <QGuiApplication>
#include <QRect>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <vector>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace daybrook::x11 {

namespace {
struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t *connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name) {
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
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

xcb_window_t rootWindow(xcb_connection_t *c) {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = screenNumber(); i > 0 && it.rem > 1; --i)
        xcb_screen_next(&it);
    return it.data ? it.data->root : XCB_NONE;
}

std::vector<xcb_window_t> children(xcb_connection_t *c, xcb_window_t parent) {
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr));
    if (!tree)
        return {};
    const xcb_window_t *first = xcb_query_tree_children(tree.get());
    return std::vector<xcb_window_t>(first, first + xcb_query_tree_children_length(tree.get()));
}
} // namespace

bool isAvailable() {
    return connection() != nullptr;
}

void prepareWindow(QWidget *window, WindowRole role) {
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t type =
        atom(c, role == WindowRole::Panel ? "_NET_WM_WINDOW_TYPE_DOCK" : "_NET_WM_WINDOW_TYPE_TOOLTIP");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1,
                        &type);
    // Read by pagers and compositors even for windows no window manager manages.
    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1,
                        &allDesktops);
    const xcb_atom_t states[] = {atom(c, "_NET_WM_STATE_ABOVE"), atom(c, "_NET_WM_STATE_STICKY"),
                                 atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 4, states);
    // A window that never asks for the keyboard: WM_HINTS input = false.
    const uint32_t hints[9] = {1 /* InputHint */, 0, 0, 0, 0, 0, 0, 0, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
    xcb_delete_property(c, id, XCB_ATOM_WM_TRANSIENT_FOR);
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

bool compositorActive() {
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    static const xcb_atom_t selection =
        atom(c, QByteArray("_NET_WM_CM_S" + QByteArray::number(screenNumber())).constData());
    Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    return reply && reply->owner != XCB_NONE;
}

std::optional<int> topPanelBottomWithoutWorkArea(const QRect &screenRect) {
    xcb_connection_t *c = connection();
    if (!c)
        return std::nullopt;
    const xcb_window_t root = rootWindow(c);
    Reply<xcb_get_property_reply_t> workArea(xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, atom(c, "_NET_WORKAREA"), XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (workArea && xcb_get_property_value_length(workArea.get()) >= 16)
        return std::nullopt;

    // Docks are top-level windows, or one level down where the window manager
    // reparents them into frames. Every request goes out before any reply is
    // read, so the walk costs three round trips however many windows there are.
    const std::vector<xcb_window_t> frames = children(c, root);
    std::vector<xcb_get_window_attributes_cookie_t> attributeCookies;
    std::vector<xcb_query_tree_cookie_t> treeCookies;
    for (xcb_window_t frame : frames) {
        attributeCookies.push_back(xcb_get_window_attributes(c, frame));
        treeCookies.push_back(xcb_query_tree(c, frame));
    }
    std::vector<xcb_window_t> candidates;
    for (size_t i = 0; i < frames.size(); ++i) {
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, attributeCookies[i], nullptr));
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, treeCookies[i], nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        candidates.push_back(frames[i]);
        if (tree) {
            const xcb_window_t *first = xcb_query_tree_children(tree.get());
            candidates.insert(candidates.end(), first, first + xcb_query_tree_children_length(tree.get()));
        }
    }
    const xcb_atom_t strutPartial = atom(c, "_NET_WM_STRUT_PARTIAL");
    std::vector<xcb_get_property_cookie_t> strutCookies;
    for (xcb_window_t window : candidates)
        strutCookies.push_back(xcb_get_property(c, 0, window, strutPartial, XCB_ATOM_CARDINAL, 0, 12));
    int bottom = screenRect.top();
    for (auto &cookie : strutCookies) {
        Reply<xcb_get_property_reply_t> strut(xcb_get_property_reply(c, cookie, nullptr));
        if (!strut || xcb_get_property_value_length(strut.get()) < 48)
            continue;
        const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(strut.get()));
        // left, right, top, bottom, then the start and end of each; top_start_x
        // and top_end_x are v[8] and v[9], in root coordinates.
        const int top = int(v[2]);
        const bool overScreen = int(v[8]) <= screenRect.right() && int(v[9]) >= screenRect.left();
        if (top > 0 && overScreen)
            bottom = std::max(bottom, std::min(top, screenRect.bottom()));
    }
    return bottom;
}

void raiseIfCovered(QWidget *window, const QSet<quintptr> &ignored) {
    xcb_connection_t *c = connection();
    if (!c || !window || !window->isVisible())
        return;
    const auto id = xcb_window_t(window->winId());
    const std::vector<xcb_window_t> stack = children(c, rootWindow(c));
    // Children come bottom to top: covered when anything but ours follows it.
    const auto own = std::find(stack.begin(), stack.end(), id);
    const bool covered = own == stack.end() || std::any_of(own + 1, stack.end(), [&](xcb_window_t w) {
                             return !ignored.contains(quintptr(w));
                         });
    if (!covered)
        return;
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, id, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(c);
}

RootWatcher::RootWatcher(QObject *parent) : QObject(parent) {
    xcb_connection_t *c = connection();
    if (!c)
        return;
    m_root = rootWindow(c);
    m_workAreaAtom = atom(c, "_NET_WORKAREA");
    m_stackingAtom = atom(c, "_NET_CLIENT_LIST_STACKING");
    // Add to what Qt already selects on the root window, never replace it.
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, m_root), nullptr));
    const uint32_t mask = (attributes ? attributes->your_event_mask : 0) |
                          XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    qGuiApp->installNativeEventFilter(this);
}

RootWatcher::~RootWatcher() {
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

bool RootWatcher::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) {
    if (m_root == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & 0x7f) {
    case XCB_CONFIGURE_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
        if (e->event == m_root && !m_own.contains(e->window))
            Q_EMIT stackingChanged();
        break;
    }
    case XCB_MAP_NOTIFY:
    case XCB_UNMAP_NOTIFY: {
        // Same layout for both: a window of the root's was (un)mapped; a dock
        // coming or going moves the top panels' edge.
        const auto *e = reinterpret_cast<const xcb_map_notify_event_t *>(event);
        if (e->event == m_root && !m_own.contains(e->window)) {
            Q_EMIT stackingChanged();
            Q_EMIT workAreaChanged();
        }
        break;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        if (e->window == m_root && e->atom == m_workAreaAtom)
            Q_EMIT workAreaChanged();
        else if (e->window == m_root && e->atom == m_stackingAtom)
            Q_EMIT stackingChanged();
        break;
    }
    default:
        break;
    }
    return false;
}

} // namespace daybrook::x11
