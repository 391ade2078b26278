#include "blockedcloserequests.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

uint32_t internAtom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie
        = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return 0;
    const uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

} // namespace

BlockedCloseRequests::BlockedCloseRequests(QWidget *window)
    : QObject(window)
    , window(window)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return; // not on X11 (the offscreen platform may offer the interface without one)
    protocolsAtom = internAtom(connection, "WM_PROTOCOLS");
    deleteWindowAtom = internAtom(connection, "WM_DELETE_WINDOW");
    if (protocolsAtom && deleteWindowAtom)
        qGuiApp->installNativeEventFilter(this);
}

BlockedCloseRequests::~BlockedCloseRequests()
{
    qGuiApp->removeNativeEventFilter(this);
}

// Only looks: the toolkit handles every event as it would without this.
bool BlockedCloseRequests::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto *client = static_cast<const xcb_client_message_event_t *>(message);
    if (client->format == 32 && client->type == protocolsAtom
        && client->data.data32[0] == deleteWindowAtom && client->window == window->internalWinId())
        emit closeRequested();
    return false;
}
