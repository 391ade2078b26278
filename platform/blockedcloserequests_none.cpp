#include "blockedcloserequests.h"

#include <QWidget>

// A platform without a watcher of its own reports nothing.
BlockedCloseRequests::BlockedCloseRequests(QWidget *window)
    : QObject(window)
    , window(window)
{ }

BlockedCloseRequests::~BlockedCloseRequests() = default;

bool BlockedCloseRequests::nativeEventFilter(const QByteArray &, void *, qintptr *)
{
    return false;
}
