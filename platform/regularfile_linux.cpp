#include "regularfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

// O_NONBLOCK makes the open of a named pipe return at once instead of waiting
// for a writer; the pipe is then refused as not a regular file. A file is
// read the same with or without it.
bool RegularFile::openNative()
{
    const QByteArray name = QFile::encodeName(path);
    const int descriptor = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        const int error = errno;
        struct stat link = {};
        if (error == ENOENT && ::lstat(name.constData(), &link) == 0) {
            why = QStringLiteral("It is a link to nothing.");
            return false;
        }
        absent = error == ENOENT;
        why = QStringLiteral("It cannot be opened: %1.").arg(systemWords(error));
        return false;
    }
    handle = descriptor;
    return true;
}

RegularFile::Kind RegularFile::kindNative() const
{
    struct stat status = {};
    if (::fstat(int(handle), &status) != 0)
        return Kind::Other;
    if (S_ISDIR(status.st_mode))
        return Kind::Folder;
    return S_ISREG(status.st_mode) ? Kind::Regular : Kind::Other;
}

qint64 RegularFile::sizeNative() const
{
    struct stat status = {};
    return ::fstat(int(handle), &status) == 0 ? qint64(status.st_size) : -1;
}

qint64 RegularFile::readNative(char *data, qint64 length)
{
    for (;;) {
        const ssize_t got = ::read(int(handle), data, size_t(length));
        if (got >= 0)
            return qint64(got);
        if (errno != EINTR) {
            why = QStringLiteral("It cannot be read: %1.").arg(systemWords(errno));
            return -1;
        }
    }
}

void RegularFile::closeNative()
{
    if (handle != -1)
        ::close(int(handle));
    handle = -1;
}
