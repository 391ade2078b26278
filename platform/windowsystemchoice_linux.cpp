#include "windowsystemchoice.h"

#include <QByteArray>

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
