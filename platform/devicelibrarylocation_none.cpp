#include "devicelibrarylocation.h"

#include <QCoreApplication>

// A platform without files of its own: the library beside the program.
DeviceLibraryLocation DeviceLibraryLocation::choose()
{
    return { QString(), { QCoreApplication::applicationDirPath() } };
}
