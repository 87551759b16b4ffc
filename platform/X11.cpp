#include "platform/X11.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>

namespace {
xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

xcb_connection_t* XConnection() {
    if (QGuiApplication::platformName() != u"xcb") return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}
}  // namespace

void SetEmptyWindowName(QWidget* window) {
    xcb_connection_t* connection = XConnection();
    if (!connection || !window->windowHandle()) return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                        Atom(connection, "_NET_WM_NAME"), Atom(connection, "UTF8_STRING"), 8, 0,
                        nullptr);
    xcb_flush(connection);
}

void QueueUnmap(QWidget* window) {
    xcb_connection_t* connection = XConnection();
    if (!connection || !window->windowHandle()) return;
    xcb_unmap_window(connection, xcb_window_t(window->winId()));
}

// A request with a reply is carried out after every request before it, so its
// reply means the drawing has reached the screen.
void WaitForDisplay() {
    xcb_connection_t* connection = XConnection();
    if (!connection) return;
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}
