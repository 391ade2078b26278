// Which device library the program works on, decided once at start, before
// any window: the packaged one beside the program, or a site's. A site keeps
// the maker's library and images where no install, reinstall, upgrade or
// uninstall touches them (the platform file says where). Any trace of a site
// means that site, whole, or no start at all: half a site, one this user
// cannot read, or a site folder holding anything, would otherwise have the
// program work on the simulated device and report success while the real one
// stays untouched. A site that users other than its owner and root can change
// is refused too: anyone could plant another library or other images there. The packaged library
// is used only where there is no trace of a site, and the library is always
// one file named in full, never one the system would look for elsewhere.
#pragma once

#include <QString>
#include <QStringList>

class DeviceLibraryLocation
{
public:
    // The decision for the program in `programFolder`, whose device library
    // is named `libraryName`. With a site, the working folder becomes the
    // site's, where the library reads firmware/.
    static DeviceLibraryLocation choose(const QString &programFolder, const QString &libraryName);

    // Why the program must not start, in a sentence for a box; empty when it
    // may.
    QString refusal;
    // The full path of the one file to load as the device library.
    QString library;

private:
    // Where the platform keeps a site: its library, its firmware folder and
    // the folder the program works in; or why no site can be looked for.
    struct Site
    {
        QString library;
        QString firmware;
        QString home;
        QString refusal;
        // The site's own folders: anything in them is a trace of a site.
        QStringList folders;
    };
    static Site site(const QString &programFolder, const QString &libraryName);

    // What the file system says of a name, a link at its end not followed.
    enum class Presence { Absent, Present, DanglingLink, Hidden };
    static Presence presence(const QString &path);
    static bool hasTrace(const QString &path);

    // Why this user cannot read the file, cannot enter and list the folder,
    // or cannot work in it, in the system's words; empty when they can.
    static QString cannotRead(const QString &file);
    static QString cannotEnter(const QString &folder);
    static QString cannotWorkIn(const QString &folder);

    // The mode of the file, or of the first folder on its way, that users
    // other than its owner and root can change, with `where` set to that file
    // or folder; empty when there is none.
    static QString othersCanChange(const QString &path, QString &where);
};
