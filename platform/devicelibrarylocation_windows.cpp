#include "devicelibrarylocation.h"

#include "systemmessage.h"

#include <QDir>

#include <windows.h>

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

// A site keeps the maker's qd_api.dll in site\ inside the program's folder,
// and its images in site\firmware\; the program then works in site\. The
// folder is writable by administrators only, as the program's is.
DeviceLibraryLocation::Site DeviceLibraryLocation::site(
    const QString &programFolder, const QString &libraryName)
{
    const QDir site(QDir(programFolder).filePath(QStringLiteral("site")));
    return { site.filePath(libraryName), site.filePath(QStringLiteral("firmware")), site.path(),
        QString(), { site.path() } };
}

DeviceLibraryLocation::Presence DeviceLibraryLocation::presence(const QString &path)
{
    const std::wstring name = native(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Presence::Absent
                                                                              : Presence::Hidden;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Presence::Present;
    // A link or junction: opened through, it must lead somewhere.
    const HANDLE target
        = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE)
        return Presence::DanglingLink;
    CloseHandle(target);
    return Presence::Present;
}

QString DeviceLibraryLocation::cannotRead(const QString &file)
{
    const HANDLE handle
        = CreateFileW(native(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return systemMessage(GetLastError());
    CloseHandle(handle);
    return QString();
}

// Listing a folder needs the right to enter and to read it; every folder
// but a drive's root lists "." at least.
QString DeviceLibraryLocation::cannotEnter(const QString &folder)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(native(folder + QStringLiteral("/*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return systemMessage(GetLastError());
    FindClose(search);
    return QString();
}

QString DeviceLibraryLocation::cannotWorkIn(const QString &folder)
{
    return SetCurrentDirectoryW(native(folder).c_str()) ? QString() : systemMessage(GetLastError());
}

// The installation folder, site\ included, lets only administrators change
// it: the installer sets its rights.
QString DeviceLibraryLocation::othersCanChange(const QString &, QString &)
{
    return QString();
}
