#include "targetfirmware.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPair>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

void formatPath(char *buffer, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, kPathBufferSize, format, args);
    va_end(args);
}

std::string bootImagePath()
{
    char buffer[kPathBufferSize] = {};
    formatPath(buffer, "./firmware/qd740n_boot_%d.img", kTargetBootVersion);
    return std::string(buffer);
}

std::string runImagePath()
{
    char buffer[kPathBufferSize] = {};
    formatPath(buffer, "./firmware/qd740n_run_%d.img", kTargetRunVersion);
    return std::string(buffer);
}

std::string fpgaImagePath()
{
    char buffer[kPathBufferSize] = {};
    formatPath(buffer, "./firmware/qd740n_fpga_%d.rbf", kTargetFpgaVersion);
    return std::string(buffer);
}

namespace {

using Checksums = QList<QPair<QString, QByteArray>>; // file name, lower-case hex

QString absolutePath(const std::string &path)
{
    return QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath();
}

// The first of the given image paths that is not a readable, non-empty file,
// or an empty string when all of them are. The files are looked at, not opened.
std::string firstUnreadableImage(const std::vector<std::string> &paths)
{
    for (const std::string &path : paths) {
        const QFileInfo image(QFile::decodeName(path.c_str()));
        if (!image.isFile() || !image.isReadable() || image.size() <= 0)
            return path;
    }
    return std::string();
}

// The entries of the checksum list, one per line as sha256sum writes them:
// 64 hex digits, a space, a space or a '*', the file name. A line of any other
// form names no image, so an image it was meant for does not match.
Checksums readChecksums(QFile &list)
{
    Checksums checksums;
    const QList<QByteArray> lines = list.readAll().split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() <= 66 || line.at(64) != ' ' || (line.at(65) != ' ' && line.at(65) != '*'))
            continue;
        const QByteArray checksum = line.left(64).toLower();
        const bool hex = std::all_of(checksum.begin(), checksum.end(),
            [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
        if (hex)
            checksums.append({ QString::fromUtf8(line.mid(66)), checksum });
    }
    return checksums;
}

// The file's SHA-256 in lower-case hex, read in chunks; empty when it cannot
// be read to its end.
QByteArray sha256Of(const std::string &path)
{
    QFile file(QFile::decodeName(path.c_str()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QByteArray();
    return hash.result().toHex();
}

// Every entry for the image gives this checksum, and there is at least one.
bool listed(const Checksums &checksums, const QString &name, const QByteArray &checksum)
{
    bool named = false;
    for (const auto &[listedName, listedChecksum] : checksums) {
        if (listedName != name)
            continue;
        if (listedChecksum != checksum)
            return false;
        named = true;
    }
    return named;
}

} // namespace

bool checkImages(const std::vector<std::string> &paths, QStringList &lines)
{
    if (paths.empty())
        return true;
    const std::string unreadable = firstUnreadableImage(paths);
    if (!unreadable.empty()) {
        lines << QStringLiteral("Cannot read firmware image %1.").arg(absolutePath(unreadable));
        return false;
    }

    // A list that is there in any form, a dangling link included, is not
    // taken for a missing one: it turns nothing off.
    const QFileInfo listInfo(QString::fromLatin1(kChecksumListPath));
    if (!listInfo.exists() && !listInfo.isSymLink()) {
        lines << QStringLiteral("No checksum list %1: the firmware images are not verified.")
                     .arg(absolutePath(kChecksumListPath));
        return true;
    }
    QFile list(listInfo.filePath());
    if (!list.open(QIODevice::ReadOnly)) {
        lines
            << QStringLiteral("Cannot read checksum list %1.").arg(absolutePath(kChecksumListPath));
        return false;
    }
    const Checksums checksums = readChecksums(list);

    for (const std::string &path : paths) {
        const QByteArray checksum = sha256Of(path);
        if (checksum.isEmpty()) {
            lines << QStringLiteral("Cannot read firmware image %1.").arg(absolutePath(path));
            return false;
        }
        const QString name = QFileInfo(QFile::decodeName(path.c_str())).fileName();
        if (!listed(checksums, name, checksum)) {
            lines << QStringLiteral("Firmware image %1 does not match its checksum.")
                         .arg(absolutePath(path));
            return false;
        }
    }
    return true;
}
