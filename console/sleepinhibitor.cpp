#include "sleepinhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>

SleepInhibitor::SleepInhibitor(const QString &why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()
        || !(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:shutdown") << QStringLiteral("QD740N firmware updater") << why
         << QStringLiteral("block");
    // The device waits for this call; a logind that does not answer within a
    // second is treated as none.
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, 1000);
    if (reply.isValid())
        lock = reply.value();
}
