#include "privatefolder.h"

#include <QDir>
#include <QFileInfo>

// A platform without files of its own can say only that the folder is one.
QString PrivateFolder::candidate()
{
    return QDir(QDir::tempPath()).filePath(QStringLiteral("qd740n-updater"));
}

QString PrivateFolder::refusal(const QString &folder)
{
    QDir().mkpath(folder);
    const QFileInfo info(folder);
    return info.isDir() && !info.isSymLink() ? QString() : QStringLiteral("it is not a folder");
}
