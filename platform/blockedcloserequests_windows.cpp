#include "blockedcloserequests.h"

#include <QGuiApplication>
#include <QWidget>

#include <windows.h>

// On Windows the operator cannot click the close button of a window that a
// modal dialog blocks (Windows disables that window), but a program can still
// ask it to close: taskkill and others post WM_CLOSE to it. That request is
// what the toolkit drops, and what this reports.
BlockedCloseRequests::BlockedCloseRequests(QWidget *window)
    : QObject(window)
    , window(window)
{
    if (QGuiApplication::platformName() == QLatin1String("windows"))
        qGuiApp->installNativeEventFilter(this);
}

BlockedCloseRequests::~BlockedCloseRequests()
{
    qGuiApp->removeNativeEventFilter(this);
}

// Only looks: the toolkit handles every message as it would without this.
bool BlockedCloseRequests::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "windows_generic_MSG")
        return false;
    const auto *msg = static_cast<const MSG *>(message);
    if (msg->message == WM_CLOSE && window->internalWinId()
        && msg->hwnd == reinterpret_cast<HWND>(window->internalWinId()))
        emit closeRequested();
    return false;
}
