#include "regularfile.h"

// The rules every platform shares: what is refused, and the words for it.
RegularFile::RegularFile(const QString &path, Writers writers)
    : path(path)
    , writers(writers)
{ }

RegularFile::~RegularFile()
{
    closeNative();
}

bool RegularFile::open(qint64 maxSize, const QString &maxSizeText)
{
    if (!openNative())
        return false;
    switch (kindNative()) {
    case Kind::Regular:
        break;
    case Kind::Folder:
        why = QStringLiteral("It is a folder, not a file.");
        return false;
    case Kind::Other:
        why = QStringLiteral("It is not a regular file.");
        return false;
    }
    fileSize = sizeNative();
    if (fileSize < 0) {
        why = QStringLiteral("It changed while it was read.");
        return false;
    }
    if (fileSize > maxSize) {
        why = QStringLiteral("It is larger than %1.").arg(maxSizeText);
        return false;
    }
    return true;
}

qint64 RegularFile::read(char *data, qint64 length)
{
    if (!why.isEmpty() || handle == -1)
        return -1;
    const qint64 wanted = qMin(length, fileSize - done);
    if (wanted <= 0) {
        // All that was there at the open is read: the file must still be
        // that long, neither cut nor grown.
        if (sizeNative() != fileSize) {
            why = QStringLiteral("It changed while it was read.");
            return -1;
        }
        return 0;
    }
    const qint64 got = readNative(data, wanted);
    if (got < 0)
        return -1;
    if (got == 0) {
        why = QStringLiteral("It changed while it was read.");
        return -1;
    }
    done += got;
    return got;
}

bool RegularFile::readAll(QByteArray &bytes)
{
    bytes.resize(fileSize - done);
    qint64 at = 0;
    for (;;) {
        const qint64 got = read(bytes.data() + at, bytes.size() - at);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        at += got;
    }
}
