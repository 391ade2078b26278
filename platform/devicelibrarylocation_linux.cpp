#include "devicelibrarylocation.h"

#include <QCoreApplication>
#include <QDir>

// As the dynamic loader would look for it, but never in the system's own
// folders: in each folder of LD_LIBRARY_PATH (where the launcher names a
// site's library folder), then beside the program. An empty or relative
// entry, which the loader would take from the working folder, is passed
// over.
DeviceLibraryLocation DeviceLibraryLocation::choose()
{
    DeviceLibraryLocation location;
    const QStringList entries = qEnvironmentVariable("LD_LIBRARY_PATH").split(QLatin1Char(':'));
    for (const QString &entry : entries) {
        if (QDir::isAbsolutePath(entry))
            location.folders << entry;
    }
    location.folders << QCoreApplication::applicationDirPath();
    return location;
}
