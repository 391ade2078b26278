#include "devicelibrarylocation.h"

#include <QDir>
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

// A site keeps the maker's library in lib/qd740n-updater/ and its images in
// share/qd740n-updater/firmware/ under /usr/local, where no package installs
// anything, or under the absolute folder QD740N_LOCAL_PREFIX names; the
// program then works in share/qd740n-updater/. A relative prefix would be
// looked for from wherever the program happened to be started.
DeviceLibraryLocation::Site DeviceLibraryLocation::site(const QString &, const QString &libraryName)
{
    QString prefix = qEnvironmentVariable("QD740N_LOCAL_PREFIX");
    if (prefix.isEmpty())
        prefix = QStringLiteral("/usr/local");
    if (!QDir::isAbsolutePath(prefix)) {
        return { QString(), QString(), QString(),
            QStringLiteral("QD740N_LOCAL_PREFIX must be an absolute folder, not \"%1\".")
                .arg(prefix) };
    }
    const QDir root(prefix);
    return { root.filePath(QStringLiteral("lib/qd740n-updater/") + libraryName),
        root.filePath(QStringLiteral("share/qd740n-updater/firmware")),
        root.filePath(QStringLiteral("share/qd740n-updater")), QString() };
}

DeviceLibraryLocation::Presence DeviceLibraryLocation::presence(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    if (::lstat(name.constData(), &status) != 0)
        return errno == ENOENT ? Presence::Absent : Presence::Hidden;
    if (S_ISLNK(status.st_mode) && ::stat(name.constData(), &status) != 0)
        return Presence::DanglingLink;
    return Presence::Present;
}

QString DeviceLibraryLocation::cannotRead(const QString &file)
{
    const int descriptor = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return systemWords(errno);
    ::close(descriptor);
    return QString();
}

// Opening "FOLDER/." needs the right to enter the folder, and reading it the
// right to list it.
QString DeviceLibraryLocation::cannotEnter(const QString &folder)
{
    const int descriptor = ::open(QFile::encodeName(folder + QStringLiteral("/.")).constData(),
        O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return systemWords(errno);
    ::close(descriptor);
    return QString();
}

QString DeviceLibraryLocation::cannotWorkIn(const QString &folder)
{
    return ::chdir(QFile::encodeName(folder).constData()) == 0 ? QString() : systemWords(errno);
}
