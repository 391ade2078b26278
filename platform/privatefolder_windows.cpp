#include "privatefolder.h"

#include "systemmessage.h"

#include <QDir>

#include <windows.h>

// The user's own temporary folder, which other users cannot enter. The copies
// in it are also held open against writers while a flow works.
QString PrivateFolder::candidate()
{
    return QDir(QDir::tempPath()).filePath(QStringLiteral("qd740n-updater"));
}

QString PrivateFolder::refusal(const QString &folder)
{
    const std::wstring name = QDir::toNativeSeparators(folder).toStdWString();
    if (!CreateDirectoryW(name.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return systemMessage(GetLastError());
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return systemMessage(GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return QStringLiteral("it is not a folder");
    return QString();
}
