#include "devicelibrarylocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// A platform without files of its own has no site: the library beside the
// program is always the one. The file system is asked through Qt, whose
// answers name no reason.
DeviceLibraryLocation::Site DeviceLibraryLocation::site(const QString &, const QString &)
{
    return {};
}

DeviceLibraryLocation::Presence DeviceLibraryLocation::presence(const QString &path)
{
    const QFileInfo file(path);
    if (file.isSymLink())
        return file.exists() ? Presence::Present : Presence::DanglingLink;
    return file.exists() ? Presence::Present : Presence::Absent;
}

QString DeviceLibraryLocation::cannotRead(const QString &file)
{
    QFile library(file);
    return library.open(QIODevice::ReadOnly) ? QString() : library.errorString();
}

QString DeviceLibraryLocation::cannotEnter(const QString &folder)
{
    return QFileInfo(folder).isReadable() && QFileInfo(folder).isExecutable()
        ? QString()
        : QStringLiteral("it cannot be entered");
}

QString DeviceLibraryLocation::cannotWorkIn(const QString &folder)
{
    return QDir::setCurrent(folder) ? QString() : QStringLiteral("it cannot be entered");
}

QString DeviceLibraryLocation::othersCanChange(const QString &, QString &)
{
    return QString();
}
