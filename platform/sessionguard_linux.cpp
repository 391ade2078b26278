#include "sessionguard.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QGuiApplication>
#include <QWidget>

namespace {

// What logind holds off: sleep and shutdown, and what it would otherwise do
// on the lid switch and the suspend and hibernate keys, which a plain sleep
// lock does not cover.
const QString logindWhat
    = QStringLiteral("sleep:shutdown:handle-lid-switch:handle-suspend-key:handle-hibernate-key");
// What is asked for again where logind refuses the above: polkit may refuse
// the handle-* locks (on a remote session, say) and still grant these.
const QString logindFallbackWhat = QStringLiteral("sleep:shutdown");
const QString logindWho = QStringLiteral("QD740N firmware updater");

// The desktop portal's flags: logout, and suspend.
constexpr uint portalLogout = 1;
constexpr uint portalSuspend = 4;
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");

// Runs `answered` on the GUI thread once the call has been answered (or has
// failed, or timed out); nothing waits for it meanwhile.
template <typename Answered> void whenAnswered(const QDBusPendingCall &call, Answered answered)
{
    auto *watcher = new QDBusPendingCallWatcher(call, QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [answered](QDBusPendingCallWatcher *finished) {
            answered(*finished);
            finished->deleteLater();
        });
}

// The portal holds its inhibition until the request it answered with is
// closed.
void closePortalRequest(const QString &request)
{
    QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(portalService, request,
        QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
}

// The window the portal's request is made for, as the portal names it.
QString portalParent(QWidget *window)
{
    if (window && QGuiApplication::platformName() == QLatin1String("xcb"))
        return QStringLiteral("x11:%1").arg(window->winId(), 0, 16);
    return QString();
}

} // namespace

struct SessionGuard::Requests
{
    ~Requests()
    {
        if (!portalRequest.isEmpty())
            closePortalRequest(portalRequest);
    }

    // logind keeps its lock while this descriptor is open.
    QDBusUnixFileDescriptor logindLock;
    QString portalRequest;
};

SessionGuard::SessionGuard(const QString &why, QWidget *window)
    : requests(std::make_shared<Requests>())
{
    // Answers that come after the guard is gone find nothing to hold and let
    // go of what they bring.
    const std::weak_ptr<Requests> held = requests;

    // logind, on the system bus: sleep, shutdown, the lid and the keys, or,
    // where that is refused while the guard is still held, sleep and shutdown.
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()
        && (system.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        const auto inhibit = [system, why, held](const QString &what, const auto &whenRefused) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
            call << what << logindWho << why << QStringLiteral("block");
            whenAnswered(
                system.asyncCall(call), [held, whenRefused](const QDBusPendingCall &answer) {
                    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = answer;
                    const std::shared_ptr<Requests> requests = held.lock();
                    if (requests && reply.isValid())
                        requests->logindLock = reply.value();
                    else if (requests && reply.isError())
                        whenRefused();
                });
        };
        inhibit(logindWhat, [inhibit] { inhibit(logindFallbackWhat, [] {}); });
    }

    // The desktop, through its portal on the session bus: logout (which
    // logind's shutdown lock does not cover) and suspend.
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(portalService,
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
        call << portalParent(window) << uint(portalLogout | portalSuspend)
             << QVariantMap { { QStringLiteral("reason"), why } };
        whenAnswered(session.asyncCall(call), [held](const QDBusPendingCall &answer) {
            const QDBusPendingReply<QDBusObjectPath> reply = answer;
            if (!reply.isValid())
                return;
            if (const std::shared_ptr<Requests> requests = held.lock())
                requests->portalRequest = reply.value().path();
            else
                closePortalRequest(reply.value().path());
        });
    }
}

SessionGuard::~SessionGuard() = default;

// logind holds off the lid and the sleep keys too.
QString SessionGuard::unheldWarning()
{
    return QString();
}
