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

// The checksum list is a few lines long. Anything larger, or anything but a
// regular file (a pipe would block the read for good, a device such as
// /dev/zero never end it), is not read.
constexpr qint64 maxChecksumListSize = qint64(64) * 1024;

// Reads the checksum list into `bytes`. Returns why it cannot, in a line of
// its own, or an empty string when it could. The list is looked at before it
// is opened, and at most one byte more than a list may hold is read after, so
// a list swapped or grown in between cannot make the read unbounded.
QString readChecksumList(const QFileInfo &info, QByteArray &bytes)
{
    if (info.isDir())
        return QStringLiteral("It is a folder, not a file.");
    if (!info.exists())
        return QStringLiteral("It is a link to nothing.");
    if (!info.isFile())
        return QStringLiteral("It is not a regular file.");
    const QString tooLarge = QStringLiteral("It is larger than 64 KiB.");
    if (info.size() > maxChecksumListSize)
        return tooLarge;
    QFile list(info.filePath());
    if (!list.open(QIODevice::ReadOnly))
        return QStringLiteral("It cannot be opened: %1.").arg(list.errorString());
    bytes = list.read(maxChecksumListSize + 1);
    if (list.error() != QFileDevice::NoError)
        return QStringLiteral("It cannot be read: %1.").arg(list.errorString());
    if (bytes.size() > maxChecksumListSize)
        return tooLarge;
    return QString();
}

bool isHex(const QByteArray &digits)
{
    return std::all_of(digits.begin(), digits.end(),
        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// One line as sha256sum writes it: 64 hex digits, a space, a space or a '*'
// (binary mode), the file name.
bool readPlainLine(const QByteArray &line, Checksums &checksums)
{
    if (line.size() <= 66 || line.at(64) != ' ' || (line.at(65) != ' ' && line.at(65) != '*'))
        return false;
    const QByteArray checksum = line.left(64);
    if (!isHex(checksum))
        return false;
    checksums.append({ QString::fromUtf8(line.mid(66)), checksum.toLower() });
    return true;
}

// One line as sha256sum --tag writes it: "SHA256 (<file name>) = <64 hex digits>".
bool readTaggedLine(const QByteArray &line, Checksums &checksums)
{
    const QByteArray prefix = "SHA256 (";
    const QByteArray separator = ") = ";
    const qsizetype nameEnd = line.size() - 64 - separator.size();
    if (!line.startsWith(prefix) || nameEnd <= prefix.size()
        || line.mid(nameEnd, separator.size()) != separator)
        return false;
    const QByteArray checksum = line.right(64);
    if (!isHex(checksum))
        return false;
    checksums.append({ QString::fromUtf8(line.mid(prefix.size(), nameEnd - prefix.size())),
        checksum.toLower() });
    return true;
}

// The entries of the checksum list, one per line in either format sha256sum
// writes, in UTF-8 (a byte-order mark before the first line is passed over)
// with LF or CRLF line ends. A line of any other form names no image.
Checksums readChecksums(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    Checksums checksums;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!readPlainLine(line, checksums))
            readTaggedLine(line, checksums);
    }
    return checksums;
}

// A Windows shell's redirection writes UTF-16, which starts with its
// byte-order mark.
bool isUtf16(const QByteArray &bytes)
{
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
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

bool named(const Checksums &checksums, const QString &name)
{
    return std::any_of(checksums.begin(), checksums.end(),
        [&name](const auto &entry) { return entry.first == name; });
}

// Every entry for the image gives this checksum.
bool matches(const Checksums &checksums, const QString &name, const QByteArray &checksum)
{
    return std::all_of(checksums.begin(), checksums.end(),
        [&](const auto &entry) { return entry.first != name || entry.second == checksum; });
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
    const QString listPath = absolutePath(kChecksumListPath);
    QByteArray listBytes;
    const QString listProblem = readChecksumList(listInfo, listBytes);
    if (!listProblem.isEmpty()) {
        lines << QStringLiteral("Cannot read checksum list %1.").arg(listPath) << listProblem;
        return false;
    }
    if (isUtf16(listBytes)) {
        lines << QStringLiteral(
            "Checksum list %1 is in UTF-16, not in UTF-8 as sha256sum writes it.")
                     .arg(listPath);
        return false;
    }
    const Checksums checksums = readChecksums(listBytes);
    if (checksums.isEmpty()) {
        lines << QStringLiteral("Checksum list %1 has no line in the format sha256sum writes.")
                     .arg(listPath);
        return false;
    }

    for (const std::string &path : paths) {
        const QString name = QFileInfo(QFile::decodeName(path.c_str())).fileName();
        if (!named(checksums, name)) {
            lines << QStringLiteral("Firmware image %1 is not in the checksum list %2.")
                         .arg(absolutePath(path), listPath);
            return false;
        }
        const QByteArray checksum = sha256Of(path);
        if (checksum.isEmpty()) {
            lines << QStringLiteral("Cannot read firmware image %1.").arg(absolutePath(path));
            return false;
        }
        if (!matches(checksums, name, checksum)) {
            lines << QStringLiteral("Firmware image %1 does not match its checksum.")
                         .arg(absolutePath(path));
            return false;
        }
    }
    return true;
}
