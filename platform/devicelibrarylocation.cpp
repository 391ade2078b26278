#include "devicelibrarylocation.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QPair>

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString shownFolder(const QString &path)
{
    return QDir::toNativeSeparators(path + QLatin1Char('/'));
}

DeviceLibraryLocation refused(const QString &why)
{
    return { why, QString() };
}

} // namespace

// The same rules on every platform; only where a site lives and how the file
// system is asked differ.
DeviceLibraryLocation DeviceLibraryLocation::choose(
    const QString &programFolder, const QString &libraryName)
{
    const Site site = DeviceLibraryLocation::site(programFolder, libraryName);
    if (!site.refusal.isEmpty())
        return refused(site.refusal);
    const QString packaged = QDir(programFolder).absoluteFilePath(libraryName);
    if (site.library.isEmpty())
        return { QString(), packaged }; // a platform without sites
    const bool hasLibrary = hasTrace(site.library);
    const bool hasFirmware = hasTrace(site.firmware);
    if (!hasLibrary && !hasFirmware) {
        // A library under another name, or anything else in the site's own
        // folders, is a site that is not whole; an empty folder is none.
        for (const QString &folder : site.folders) {
            const QStringList entries = QDir(folder).entryList(
                QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
            if (!entries.isEmpty()) {
                return refused(QStringLiteral("The maker's library %1 is missing, but %2 holds %3.")
                                   .arg(shown(site.library), shownFolder(folder), entries.first()));
            }
        }
        return { QString(), packaged };
    }

    // What this user cannot reach is named with the system's reason, before
    // it could be taken for missing.
    QString why;
    if (hasLibrary && !(why = cannotRead(site.library)).isEmpty()) {
        return refused(QStringLiteral("Cannot read the maker's library %1: %2.")
                           .arg(shown(site.library), why));
    }
    if (hasFirmware && !(why = cannotEnter(site.firmware)).isEmpty()) {
        return refused(QStringLiteral("Cannot enter the maker's firmware folder %1: %2.")
                           .arg(shownFolder(site.firmware), why));
    }
    if (!hasFirmware) {
        return refused(QStringLiteral("The maker's library %1 is installed, but its firmware "
                                      "folder %2 is missing.")
                           .arg(shown(site.library), shownFolder(site.firmware)));
    }
    if (!hasLibrary) {
        return refused(QStringLiteral("The maker's firmware folder %1 is installed, but its "
                                      "library %2 is missing.")
                           .arg(shownFolder(site.firmware), shown(site.library)));
    }
    const QString checksumList = QDir(site.firmware).filePath(QStringLiteral("SHA256SUMS"));
    const QList<QPair<QString, QString>> guarded { { QStringLiteral("library"), site.library },
        { QStringLiteral("firmware folder"), site.firmware },
        { QStringLiteral("checksum list"), checksumList } };
    for (const auto &[what, path] : guarded) {
        if (path == checksumList && presence(path) == Presence::Absent)
            continue;
        QString where;
        const QString mode = othersCanChange(path, where);
        if (mode.isEmpty())
            continue;
        const QString named = path == site.firmware ? shownFolder(path) : shown(path);
        if (QDir::cleanPath(where) == QDir::cleanPath(path)) {
            return refused(
                QStringLiteral("The maker's %1 %2 can be changed by users other than its "
                               "owner (mode %3): only its owner and root may write it.")
                    .arg(what, named, mode));
        }
        return refused(QStringLiteral("The maker's %1 %2 lies in %3, which users other than its "
                                      "owner can change (mode %4): only its owner and root may "
                                      "write there.")
                           .arg(what, named, shownFolder(where), mode));
    }
    if (!(why = cannotWorkIn(site.home)).isEmpty()) {
        return refused(QStringLiteral("Cannot work in the site's folder %1: %2.")
                           .arg(shownFolder(site.home), why));
    }
    return { QString(), site.library };
}

// Anything at the name counts, also what cannot be looked at and a link to
// nothing; where nothing is there, a folder on the way that is a link to
// nothing counts too.
bool DeviceLibraryLocation::hasTrace(const QString &path)
{
    QString name = QDir::cleanPath(path);
    for (;;) {
        const Presence found = presence(name);
        if (found != Presence::Absent)
            return name == QDir::cleanPath(path) || found != Presence::Present;
        const QString parent = QFileInfo(name).path();
        if (parent == name)
            return false;
        name = parent;
    }
}
