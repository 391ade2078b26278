#include "firmwarecopies.h"

#include "privatefolder.h"
#include "regularfile.h"
#include "targetfirmware.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPair>

#include <algorithm>
#include <cctype>

namespace {

using Checksums = QList<QPair<QString, QByteArray>>; // file name, lower-case hex

// A sane bound far above any image of the device: its FPGA images are a few
// MiB. Anything larger is no image of it, and is not copied.
constexpr qint64 maxImageSize = qint64(256) * 1024 * 1024;
const char maxImageSizeText[] = "256 MiB";

// The checksum list is a few lines long.
constexpr qint64 maxChecksumListSize = qint64(64) * 1024;
const char maxChecksumListSizeText[] = "64 KiB";

// Read and written in pieces of this size, so a large image never sits whole
// in memory.
constexpr qint64 chunkSize = qint64(1) * 1024 * 1024;

QString absolutePath(const std::string &path)
{
    return QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath();
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

FirmwareCopies::FirmwareCopies() = default;

// The copies are let go first (on Windows they are held open), then removed
// with their folder, and only then is the folder's lock released.
FirmwareCopies::~FirmwareCopies()
{
    held.clear();
    folder.reset();
    lock.reset();
}

bool FirmwareCopies::take(const std::vector<std::string> &images, QStringList &lines)
{
    if (images.empty())
        return true;

    // Each image is opened once, here, and read only through that descriptor.
    std::vector<std::unique_ptr<RegularFile>> files;
    for (const std::string &image : images) {
        auto file = std::make_unique<RegularFile>(QFile::decodeName(image.c_str()));
        QString why;
        if (!file->open(maxImageSize, QLatin1String(maxImageSizeText)))
            why = file->problem();
        else if (file->size() == 0)
            why = QStringLiteral("It is empty.");
        if (!why.isEmpty()) {
            lines << QStringLiteral("Cannot read firmware image %1.").arg(absolutePath(image))
                  << why;
            return false;
        }
        files.push_back(std::move(file));
    }

    // A list that is there in any form, a dangling link included, is not
    // taken for a missing one: it turns nothing off.
    const QString listPath = absolutePath(kChecksumListPath);
    RegularFile list(QString::fromLatin1(kChecksumListPath));
    QByteArray listBytes;
    const bool listRead = list.open(maxChecksumListSize, QLatin1String(maxChecksumListSizeText))
        && list.readAll(listBytes);
    const bool verified = listRead || !list.missing();
    if (!verified) {
        lines << QStringLiteral("No checksum list %1: the firmware images are not verified.")
                     .arg(listPath);
    } else if (!listRead) {
        lines << QStringLiteral("Cannot read checksum list %1.").arg(listPath) << list.problem();
        return false;
    }
    if (verified && isUtf16(listBytes)) {
        lines << QStringLiteral(
            "Checksum list %1 is in UTF-16, not in UTF-8 as sha256sum writes it.")
                     .arg(listPath);
        return false;
    }
    const Checksums checksums = readChecksums(listBytes);
    if (verified && checksums.isEmpty()) {
        lines << QStringLiteral("Checksum list %1 has no line in the format sha256sum writes.")
                     .arg(listPath);
        return false;
    }

    if (!makeFolder(lines))
        return false;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::string &image = images[i];
        const QString shown = absolutePath(image);
        const QString name = QFileInfo(QFile::decodeName(image.c_str())).fileName();
        if (verified && !named(checksums, name)) {
            lines << QStringLiteral("Firmware image %1 is not in the checksum list %2.")
                         .arg(shown, listPath);
            return false;
        }
        const QString copyPath = QDir(folder->path()).filePath(QStringLiteral("firmware/") + name);
        QByteArray checksum;
        if (!copy(*files[i], copyPath, checksum, lines, shown))
            return false;
        if (verified && !matches(checksums, name, checksum)) {
            lines << QStringLiteral("Firmware image %1 does not match its checksum.").arg(shown);
            return false;
        }

        // The path as the library takes it: in the system's 8-bit encoding,
        // within the 256 bytes of the buffer it is built in.
        const QByteArray encoded = QFile::encodeName(QDir::toNativeSeparators(copyPath));
        char buffer[kPathBufferSize] = {};
        formatPath(buffer, "%s", encoded.constData());
        const QString privateFolder = QDir::toNativeSeparators(folder->path());
        if (QFile::decodeName(encoded) != QDir::toNativeSeparators(copyPath)) {
            lines << QStringLiteral("Cannot hand firmware image %1 to the device library: the "
                                    "name of its copy in %2 cannot be written in the system's "
                                    "8-bit encoding.")
                         .arg(shown, privateFolder);
            return false;
        }
        if (encoded != QByteArray(buffer)) {
            lines << QStringLiteral("Cannot hand firmware image %1 to the device library: the "
                                    "path of its copy in %2 is longer than %3 bytes.")
                         .arg(shown, privateFolder)
                         .arg(kPathBufferSize - 1);
            return false;
        }
        // Held open until the flow is done: on Windows nobody can change
        // or delete the copy meanwhile.
        auto holder = std::make_unique<RegularFile>(copyPath);
        if (!holder->open(maxImageSize, QLatin1String(maxImageSizeText))) {
            lines << QStringLiteral("Cannot read the copy of firmware image %1.").arg(shown)
                  << holder->problem();
            return false;
        }
        held.push_back(std::move(holder));
        copies[image] = std::string(buffer);
    }
    return true;
}

const char *FirmwareCopies::path(const std::string &image) const
{
    const auto it = copies.find(image);
    return it == copies.end() ? "" : it->second.c_str();
}

// A folder of the flow's own in the private folder, and beside it the lock
// that tells every other process the folder is in use. A process that
// removes leftovers may take the folder between its creation and its lock:
// such a folder is given up for a new one.
bool FirmwareCopies::makeFolder(QStringList &lines)
{
    if (folder)
        return true;
    QString why;
    const QString privateFolder = PrivateFolder::path(why);
    if (privateFolder.isEmpty()) {
        lines << why;
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto made = std::make_unique<QTemporaryDir>(
            QDir(privateFolder).filePath(QStringLiteral("flow-XXXXXX")));
        if (!made->isValid()) {
            lines << QStringLiteral("Cannot keep private copies of the firmware images in %1: "
                                    "%2.")
                         .arg(QDir::toNativeSeparators(privateFolder), made->errorString());
            return false;
        }
        auto taken = std::make_unique<QLockFile>(made->path() + QStringLiteral(".lock"));
        taken->setStaleLockTime(0);
        if (taken->tryLock(0) && QDir(made->path()).mkdir(QStringLiteral("firmware"))) {
            folder = std::move(made);
            lock = std::move(taken);
            return true;
        }
    }
    lines << QStringLiteral("Cannot keep private copies of the firmware images in %1: its "
                            "folders are taken away while they are made.")
                 .arg(QDir::toNativeSeparators(privateFolder));
    return false;
}

// Copies what the descriptor reads, hashing the very bytes that are written.
bool FirmwareCopies::copy(RegularFile &image, const QString &copyPath, QByteArray &checksum,
    QStringList &lines, const QString &shownImage)
{
    QFile out(copyPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        lines << QStringLiteral("Cannot copy firmware image %1 to %2: %3.")
                     .arg(shownImage, QDir::toNativeSeparators(copyPath), out.errorString());
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk(int(qMin(chunkSize, qMax<qint64>(image.size(), 1))), Qt::Uninitialized);
    for (;;) {
        const qint64 got = image.read(chunk.data(), chunk.size());
        if (got < 0) {
            lines << QStringLiteral("Cannot read firmware image %1.").arg(shownImage)
                  << image.problem();
            return false;
        }
        if (got == 0)
            break;
        hash.addData(QByteArrayView(chunk.constData(), got));
        if (out.write(chunk.constData(), got) != got) {
            lines << QStringLiteral("Cannot copy firmware image %1 to %2: %3.")
                         .arg(shownImage, QDir::toNativeSeparators(copyPath), out.errorString());
            return false;
        }
    }
    if (!out.flush()) {
        lines << QStringLiteral("Cannot copy firmware image %1 to %2: %3.")
                     .arg(shownImage, QDir::toNativeSeparators(copyPath), out.errorString());
        return false;
    }
    out.close();
    out.setPermissions(QFileDevice::ReadOwner);
    checksum = hash.result().toHex();
    return true;
}

void FirmwareCopies::removeLeftovers()
{
    QString why;
    const QString privateFolder = PrivateFolder::path(why);
    if (privateFolder.isEmpty())
        return; // the first flow says why
    const QDir dir(privateFolder);
    const QStringList names = dir.entryList({ QStringLiteral("flow-*") },
        QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString &name : names) {
        if (name.endsWith(QLatin1String(".lock")))
            continue;
        QLockFile inUse(dir.filePath(name) + QStringLiteral(".lock"));
        inUse.setStaleLockTime(0);
        if (inUse.tryLock(0))
            QDir(dir.filePath(name)).removeRecursively();
    }
    // The lock of a folder that has gone is left over too.
    for (const QString &name : names) {
        if (!name.endsWith(QLatin1String(".lock")) || names.contains(name.chopped(5)))
            continue;
        QLockFile inUse(dir.filePath(name));
        inUse.setStaleLockTime(0);
        inUse.tryLock(0);
    }
}
