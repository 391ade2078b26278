// Keeps the workstation from suspending or shutting down while it lives: a
// logind inhibitor lock ("sleep:shutdown", mode "block") taken on
// construction and released on destruction. Where there is no system bus or
// no logind, or the lock is refused, it does nothing.
#pragma once

#include <QDBusUnixFileDescriptor>
#include <QString>

class SleepInhibitor
{
public:
    explicit SleepInhibitor(const QString &why);

private:
    // logind keeps the lock while this descriptor is open; its destruction
    // closes it.
    QDBusUnixFileDescriptor lock;
};
