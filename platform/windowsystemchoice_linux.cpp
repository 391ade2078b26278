#include "windowsystemchoice.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The X server DISPLAY names answers.
bool xServerAnswers()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

// The Wayland compositor's socket is there, where the toolkit looks for it.
bool waylandSocketThere()
{
    const QString name = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    if (QDir::isAbsolutePath(name))
        return QFileInfo::exists(name);
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(QDir(runtime).filePath(name));
}

} // namespace

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
// DISPLAY), the program runs natively. Where neither answers, the toolkit
// would abort with a message of its own: the program says why first.
QString WindowSystemChoice::choose()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return QString();
    const bool x = xServerAnswers();
    if (x)
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb;wayland"));
    if (x || waylandSocketThere())
        return QString();
    return QStringLiteral("There is no display to show the window on: no X server answers at "
                          "DISPLAY \"%1\", and no Wayland compositor at WAYLAND_DISPLAY \"%2\".")
        .arg(qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"));
}

// Qt 6.4's Wayland platform may deadlock as the application object takes its
// connection down: the main thread waits for the thread that reads the
// connection, which waits in wl_display_read_events for a read the main
// thread had prepared. The window has gone by then, and the process stayed,
// without a window, for good. So on Wayland the process ends here, without
// taking the application object down, but as any program ends: the device
// library's own clean-up at exit runs, as it does on X11 when main returns.
void WindowSystemChoice::leave(int status)
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    std::fflush(nullptr);
    std::exit(status);
}
