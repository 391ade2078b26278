#include "regularfile.h"

#include "systemmessage.h"

#include <QDir>

#include <windows.h>

// Opened for reading with a share mode that, where writers are held off, lets
// others read only: while the handle is held, nobody can write, replace or
// delete the file. A pipe, a console or a device is not a disk file and is
// refused.
bool RegularFile::openNative()
{
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    const DWORD share = writers == Writers::HeldOff
        ? FILE_SHARE_READ
        : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        why = QStringLiteral("It cannot be opened: %1.").arg(systemMessage(error));
        return false;
    }
    handle = reinterpret_cast<qintptr>(file);
    return true;
}

RegularFile::Kind RegularFile::kindNative() const
{
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file, &information))
        return Kind::Other;
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Kind::Folder;
    return GetFileType(file) == FILE_TYPE_DISK ? Kind::Regular : Kind::Other;
}

qint64 RegularFile::sizeNative() const
{
    LARGE_INTEGER size = {};
    return GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &size) ? qint64(size.QuadPart) : -1;
}

qint64 RegularFile::readNative(char *data, qint64 length)
{
    DWORD got = 0;
    const DWORD wanted = DWORD(qMin<qint64>(length, 1 << 30));
    if (!ReadFile(reinterpret_cast<HANDLE>(handle), data, wanted, &got, nullptr)) {
        why = QStringLiteral("It cannot be read: %1.").arg(systemMessage(GetLastError()));
        return -1;
    }
    return qint64(got);
}

void RegularFile::closeNative()
{
    if (handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
    handle = -1;
}
