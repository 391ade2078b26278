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
                .arg(prefix),
            {} };
    }
    const QDir root(prefix);
    return { root.filePath(QStringLiteral("lib/qd740n-updater/") + libraryName),
        root.filePath(QStringLiteral("share/qd740n-updater/firmware")),
        root.filePath(QStringLiteral("share/qd740n-updater")), QString(),
        { root.filePath(QStringLiteral("lib/qd740n-updater")),
            root.filePath(QStringLiteral("share/qd740n-updater")) } };
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

// Write rights for the group or for others let users other than the owner
// change a file; in a folder they let them replace what it holds, unless the
// folder is root's and sticky (/tmp), where each may replace only their own.
// The folders on the way to the file are looked at as named and, where links
// lead elsewhere, as resolved.
QString DeviceLibraryLocation::othersCanChange(const QString &path, QString &where)
{
    const auto modeText = [](mode_t mode) {
        return QString::number(mode & 07777, 8).rightJustified(4, QLatin1Char('0'));
    };
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0
        && (status.st_mode & (S_IWGRP | S_IWOTH))) {
        where = path;
        return modeText(status.st_mode);
    }
    QStringList folders;
    for (QString name : { QDir::cleanPath(path), QFileInfo(path).canonicalFilePath() }) {
        while (!name.isEmpty()) {
            const QString parent = QFileInfo(name).path();
            if (parent == name)
                break;
            folders << parent;
            name = parent;
        }
    }
    for (const QString &folder : std::as_const(folders)) {
        if (::stat(QFile::encodeName(folder).constData(), &status) != 0)
            continue;
        const bool rootsSticky = (status.st_mode & S_ISVTX) && status.st_uid == 0;
        if ((status.st_mode & (S_IWGRP | S_IWOTH)) && !rootsSticky) {
            where = folder;
            return modeText(status.st_mode);
        }
    }
    return QString();
}
