#include "libraryfile.h"

#include "systemmessage.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

#include <vector>

namespace {

// The volume and file index of a file, which tell two names of one file
// apart from two files.
bool fileIdentity(const std::wstring &path, BY_HANDLE_FILE_INFORMATION &identity)
{
    const HANDLE file
        = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &identity);
    CloseHandle(file);
    return known;
}

bool sameFile(const std::wstring &one, const std::wstring &other)
{
    BY_HANDLE_FILE_INFORMATION first = {};
    BY_HANDLE_FILE_INFORMATION second = {};
    return fileIdentity(one, first) && fileIdentity(other, second)
        && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber
        && first.nFileIndexHigh == second.nFileIndexHigh
        && first.nFileIndexLow == second.nFileIndexLow;
}

std::wstring moduleFileName(HMODULE module)
{
    std::vector<wchar_t> name(32768);
    const DWORD length = GetModuleFileNameW(module, name.data(), DWORD(name.size()));
    return std::wstring(name.data(), length);
}

} // namespace

// LoadLibraryExW with a full path loads that file. The library's own
// dependencies come from its own folder first (a site's DLLs beside the
// maker's), then from the program's folder and the system's; never from the
// working folder or PATH. So do the DLLs it loads by bare name once it runs:
// the process's default search is set to the program's folder, the system's
// and the library's own folder before it is loaded. No box of Windows' own
// comes up for a file it cannot load: the caller names it.
bool LibraryFile::load(const QString &path)
{
    const std::wstring file = QDir::toNativeSeparators(path).toStdWString();
    const std::wstring folder
        = QDir::toNativeSeparators(QFileInfo(path).absolutePath()).toStdWString();
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)
        || !AddDllDirectory(folder.c_str())) {
        why = QStringLiteral("the folders its DLLs come from cannot be set: %1")
                  .arg(systemMessage(GetLastError()));
        return false;
    }
    DWORD errorMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &errorMode);
    const HMODULE module = LoadLibraryExW(
        file.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    const DWORD error = GetLastError();
    SetThreadErrorMode(errorMode, nullptr);
    if (!module) {
        // Windows' words may name the file as "%1" ("%1 is not a valid Win32
        // application").
        why = systemMessage(error).replace(QLatin1String("%1"), QDir::toNativeSeparators(path));
        return false;
    }
    // A module of the same name loaded before is handed back in its place.
    const std::wstring loaded = moduleFileName(module);
    if (!sameFile(file, loaded)) {
        why = QStringLiteral("the system mapped %1 in its place")
                  .arg(QString::fromStdWString(loaded));
        return false;
    }
    handle = module;
    mapped = QString::fromStdWString(loaded);
    return true;
}

QFunctionPointer LibraryFile::resolve(const char *name) const
{
    return handle
        ? reinterpret_cast<QFunctionPointer>(GetProcAddress(static_cast<HMODULE>(handle), name))
        : nullptr;
}
