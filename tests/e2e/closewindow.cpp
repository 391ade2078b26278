// Asks a top-level X window to close, as a window manager's close button
// does: a WM_DELETE_WINDOW client message. The end-to-end tests run without
// a window manager, and xdotool can only destroy a window, not ask it.
//
// Usage: qd740n-e2e-closewindow WINDOW_ID   (decimal or 0x-prefixed hex)

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s WINDOW_ID\n", argv[0]);
        return 2;
    }
    char *end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (!end || *end != '\0' || window == 0) {
        std::fprintf(stderr, "%s: not a window id: %s\n", argv[0], argv[1]);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "%s: cannot open display %s\n", argv[0], XDisplayName(nullptr));
        return 1;
    }

    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    // XCloseDisplay waits until the server has handled the message.
    XCloseDisplay(display);
    if (!sent) {
        std::fprintf(stderr, "%s: the message could not be sent to window %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
