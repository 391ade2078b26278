#include "simimage.h"

#include "regularfile.h"

#include <QtEndian>
#include <zlib.h>

#include <limits>

qint64 SimImage::maxPayload(Region region)
{
    return region == Fpga ? 8 * 1024 * 1024 : 512 * 1024;
}

// A deterministic payload, so that two builds write byte-identical images.
QByteArray SimImage::payloadFor(Region region, int version, qint64 size)
{
    if (size < 0)
        size = region == Fpga ? 256 * 1024 : 32 * 1024;
    QByteArray payload(size, Qt::Uninitialized);
    quint32 x = 0x9e3779b9u ^ (quint32(region) << 16) ^ quint32(version);
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        payload[i] = char(x & 0xff);
    }
    return payload;
}

quint32 SimImage::crc32(const QByteArray &data)
{
    return quint32(::crc32(::crc32(0, nullptr, 0),
        reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}

QByteArray SimImage::build(Region region, int version, const QByteArray &payload)
{
    QByteArray image(headerSize, '\0');
    uchar *h = reinterpret_cast<uchar *>(image.data());
    qToLittleEndian<quint32>(magic, h);
    qToLittleEndian<quint32>(quint32(region), h + 4);
    qToLittleEndian<qint32>(version, h + 8);
    qToLittleEndian<quint32>(quint32(payload.size()), h + 12);
    qToLittleEndian<quint32>(crc32(payload), h + 16);
    return image + payload;
}

SimImage::Check SimImage::check(const QByteArray &image, Region expected)
{
    Check result;
    auto fail = [&result](Problem problem, const QString &text) {
        result.problem = problem;
        result.text = text;
        return result;
    };
    if (image.size() < headerSize)
        return fail(Truncated, QStringLiteral("shorter than its header"));
    const uchar *h = reinterpret_cast<const uchar *>(image.constData());
    if (qFromLittleEndian<quint32>(h) != magic)
        return fail(BadMagic, QStringLiteral("not an image of this device"));
    const quint32 region = qFromLittleEndian<quint32>(h + 4);
    if (region != quint32(expected))
        return fail(
            WrongRegion, QStringLiteral("image for region %1, not %2").arg(region).arg(expected));
    const quint32 length = qFromLittleEndian<quint32>(h + 12);
    if (length > maxPayload(expected))
        return fail(Oversized, QStringLiteral("payload larger than the region"));
    const qint64 actual = image.size() - headerSize;
    if (actual < qint64(length))
        return fail(Truncated, QStringLiteral("payload shorter than its header says"));
    if (actual > qint64(length))
        return fail(Oversized, QStringLiteral("payload longer than its header says"));
    if (crc32(image.mid(headerSize)) != qFromLittleEndian<quint32>(h + 16))
        return fail(Corrupt, QStringLiteral("payload checksum mismatch"));
    result.version = qFromLittleEndian<qint32>(h + 8);
    return result;
}

// Read through one descriptor: a named pipe or a device is no image, and
// never more is read than a valid image can hold.
SimImage::Check SimImage::checkFile(const QString &path, Region expected)
{
    Check result;
    RegularFile file(path);
    const qint64 limit = headerSize + maxPayload(expected);
    QByteArray image;
    if (!file.open(std::numeric_limits<qint64>::max(), QStringLiteral("any size"))) {
        result.problem = file.missing() ? Missing : Unreadable;
        result.text = file.problem();
        return result;
    }
    if (file.size() > limit) {
        result.problem = Oversized;
        result.text = QStringLiteral("file larger than the region");
        return result;
    }
    if (!file.readAll(image)) {
        result.problem = Unreadable;
        result.text = file.problem();
        return result;
    }
    return check(image, expected);
}

QString SimImage::fileName(Region region, int version)
{
    switch (region) {
    case Boot:
        return QStringLiteral("qd740n_boot_%1.img").arg(version);
    case Run:
        return QStringLiteral("qd740n_run_%1.img").arg(version);
    case Fpga:
        break;
    }
    return QStringLiteral("qd740n_fpga_%1.rbf").arg(version);
}
