#include "windowsystemchoice.h"

#include <QByteArray>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

// On a Wayland desktop the program runs through the desktop's X server
// (Xwayland) wherever there is one, as the toolkit would on X11 alone.
// Natively, the desktop shell protocol tells a program nothing when a window
// of its is minimised and lets it refuse neither that nor a close, the close
// the toolkit drops while the busy dialog blocks the main window reaches the
// program as no event it can see, and the window is placed by the desktop
// without its frame being known: a busy dialog minimised in the middle of a
// write would leave a window that looks idle, and a close would do nothing.
// Through X every one of those holds. Where the X server cannot be reached
// after all, the toolkit goes on to Wayland; where there is none (no
// DISPLAY), the program runs natively.
void WindowSystemChoice::choose()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb;wayland"));
}

// Qt 6.4's Wayland platform may deadlock as the application object takes its
// connection down: the main thread waits for the thread that reads the
// connection, which waits in wl_display_read_events for a read the main
// thread had prepared. The window has gone by then, and the process stayed,
// without a window, for good. Nothing is left to do once the event loop has
// returned (the device library was last called by a worker that has ended,
// the log lives in the window, and the single-copy guard goes with the
// process), so on Wayland the process ends here.
void WindowSystemChoice::leave(int status)
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    std::fflush(nullptr);
    std::_Exit(status);
}
