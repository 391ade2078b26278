// Where the program looks for its device library, decided once at start,
// before any window. On Windows a site keeps the maker's library and images
// in site\ inside the program's folder, where no install, reinstall,
// upgrade or uninstall touches them: with a whole site there the program
// loads that library and works in that folder, and with half a site it does
// not start. Elsewhere the launcher makes that choice.
#pragma once

#include <QString>
#include <QStringList>

class DeviceLibraryLocation
{
public:
    // May change the working folder (to the site's). Needs the application
    // object, for the program's own folder.
    static DeviceLibraryLocation choose();

    // Why the program must not start, in a sentence for a box; empty when it
    // may.
    QString refusal;
    // The folders to look for the library in, in this order; never the
    // system's own.
    QStringList folders;
};
