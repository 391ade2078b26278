#include "regularfile.h"

#include <QFile>
#include <QFileInfo>

// A platform without files of its own asks Qt, which cannot open without
// waiting: what is not a regular file is refused before it is opened.
bool RegularFile::openNative()
{
    const QFileInfo info(path);
    if (!info.exists()) {
        absent = !info.isSymLink();
        why = absent ? QStringLiteral("It cannot be opened: it does not exist.")
                     : QStringLiteral("It is a link to nothing.");
        return false;
    }
    if (info.isDir() || !info.isFile())
        return true; // refused by kindNative()
    auto *file = new QFile(path);
    if (!file->open(QIODevice::ReadOnly)) {
        why = QStringLiteral("It cannot be opened: %1.").arg(file->errorString());
        delete file;
        return false;
    }
    handle = reinterpret_cast<qintptr>(file);
    return true;
}

RegularFile::Kind RegularFile::kindNative() const
{
    if (handle == -1)
        return QFileInfo(path).isDir() ? Kind::Folder : Kind::Other;
    return Kind::Regular;
}

qint64 RegularFile::sizeNative() const
{
    return handle == -1 ? -1 : reinterpret_cast<QFile *>(handle)->size();
}

qint64 RegularFile::readNative(char *data, qint64 length)
{
    auto *file = reinterpret_cast<QFile *>(handle);
    const qint64 got = file->read(data, length);
    if (got < 0)
        why = QStringLiteral("It cannot be read: %1.").arg(file->errorString());
    return got;
}

void RegularFile::closeNative()
{
    if (handle != -1)
        delete reinterpret_cast<QFile *>(handle);
    handle = -1;
}
