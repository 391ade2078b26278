#include "singlecopyguard.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A socket bound to a name in the abstract namespace: the name belongs to the
// machine (its network namespace), not to a user or a folder, and the kernel
// frees it when the socket's last descriptor closes, also when the process is
// killed. No file is left behind for anyone to clean up.
SingleCopyGuard::SingleCopyGuard(const QString &name)
{
    const QByteArray bytes = name.toUtf8();
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays NUL: that is what makes the name abstract.
    if (bytes.isEmpty() || size_t(bytes.size()) >= sizeof address.sun_path) {
        cause = QString::fromLocal8Bit(std::strerror(ENAMETOOLONG));
        return;
    }
    std::memcpy(address.sun_path + 1, bytes.constData(), size_t(bytes.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(bytes.size()));

    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        cause = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    if (::bind(socket, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
        const int error = errno;
        ::close(socket);
        if (error == EADDRINUSE) {
            result = HeldByAnotherCopy;
            return;
        }
        cause = QString::fromLocal8Bit(std::strerror(error));
        return;
    }
    handle = socket;
    result = Held;
}

SingleCopyGuard::~SingleCopyGuard()
{
    if (handle >= 0)
        ::close(int(handle));
}
