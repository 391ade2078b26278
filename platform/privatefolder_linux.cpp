#include "privatefolder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder of this user's that nobody else can enter or change.
bool isOwnPrivateFolder(const struct stat &status)
{
    return S_ISDIR(status.st_mode) && status.st_uid == ::geteuid()
        && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

} // namespace

// The session's runtime folder, which only this user can use and which goes
// with the session, where there is one; else a folder of this user's own in
// the temporary folder.
QString PrivateFolder::candidate()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    struct stat status = {};
    if (QDir::isAbsolutePath(runtime)
        && ::lstat(QFile::encodeName(runtime).constData(), &status) == 0
        && isOwnPrivateFolder(status))
        return QDir(runtime).filePath(QStringLiteral("qd740n-updater"));
    return QDir(QDir::tempPath()).filePath(QStringLiteral("qd740n-updater-%1").arg(::geteuid()));
}

// The folder is made for this user alone; one that was there already, made by
// anyone, must be that too. A link is not followed: whoever could plant it
// could point it anywhere.
QString PrivateFolder::refusal(const QString &folder)
{
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat status = {};
    if (::lstat(name.constData(), &status) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISDIR(status.st_mode))
        return QStringLiteral("it is not a folder");
    if (status.st_uid != ::geteuid())
        return QStringLiteral("it belongs to another user");
    if (!isOwnPrivateFolder(status)) {
        return QStringLiteral("other users can use it (mode %1)")
            .arg(QString::number(status.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0')));
    }
    return QString();
}
