#include "devicelibrarylocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

// qd_api.dll is loaded from one folder only, by its full path: site\ inside
// the program's folder when a site is there, else the program's own folder.
// The site's folder is writable by administrators only, as the program's is.
// A site works in site\, where the library reads firmware\ by relative path;
// the Start-menu shortcut starts the program in its own folder.
DeviceLibraryLocation DeviceLibraryLocation::choose()
{
    const QDir own(QCoreApplication::applicationDirPath());
    const QString site = own.filePath(QStringLiteral("site"));
    const QString library = QDir(site).filePath(QStringLiteral("qd_api.dll"));
    const QString firmware = QDir(site).filePath(QStringLiteral("firmware"));
    const bool hasLibrary = QFileInfo::exists(library);
    const bool hasFirmware = QFileInfo::exists(firmware);
    // Half a site would have the program work on the simulated device and
    // report success while the real one stays untouched.
    if (hasLibrary && !hasFirmware) {
        return { QStringLiteral("The maker's library %1 is installed, but its firmware folder "
                                "%2\\ is missing.")
                     .arg(QDir::toNativeSeparators(library), QDir::toNativeSeparators(firmware)),
            {} };
    }
    if (hasFirmware && !hasLibrary) {
        return { QStringLiteral("The maker's firmware folder %1\\ is installed, but its library "
                                "%2 is missing.")
                     .arg(QDir::toNativeSeparators(firmware), QDir::toNativeSeparators(library)),
            {} };
    }
    if (!hasLibrary)
        return { QString(), { own.path() } };
    if (!QDir::setCurrent(site)) {
        return { QStringLiteral("Cannot work in the site's folder %1.")
                     .arg(QDir::toNativeSeparators(site)),
            {} };
    }
    return { QString(), { site } };
}
