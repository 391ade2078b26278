// The image file format of the simulated device: a 20-byte little-endian
// header (magic "QD74", region, version, payload length, CRC-32 of the
// payload) followed by the payload. The simulated library checks every image
// it is asked to write; the generator writes the target images.
#pragma once

#include <QByteArray>
#include <QString>

class SimImage
{
public:
    enum Region { Boot = 0, Run = 1, Fpga = 2 };

    enum Problem {
        NoProblem,
        Missing,
        Unreadable,
        Truncated,
        Oversized,
        BadMagic,
        WrongRegion,
        Corrupt
    };

    struct Check
    {
        Problem problem = NoProblem;
        int version = 0;
        QString text; // what is wrong, for the simulator's own messages
    };

    static constexpr quint32 magic = 0x34374451; // "QD74" in file order
    static constexpr int headerSize = 20;

    static qint64 maxPayload(Region region);
    static QByteArray payloadFor(Region region, int version, qint64 size = -1);
    static QByteArray build(Region region, int version, const QByteArray &payload);
    static quint32 crc32(const QByteArray &data);

    static Check check(const QByteArray &image, Region expected);
    static Check checkFile(const QString &path, Region expected);

    static QString fileName(Region region, int version);
};
