// Writes the firmware images of the simulated device: by default the three
// target images into the given folder; with --region, --version and --size,
// one image of any region, version and payload size (for tests).
#include "simimage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>

#include <cstdio>

static bool writeImage(const QString &path, SimImage::Region region, int version, qint64 size)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(SimImage::build(region, version, SimImage::payloadFor(region, version, size)))
            < 0
        || !file.commit()) {
        std::fprintf(
            stderr, "qd740n-imagegen: %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Writes firmware images for the simulated QD740N.");
    parser.addHelpOption();
    parser.addPositionalArgument("target",
        "Folder for the three target images, or the file "
        "for one image when --region is given.");
    parser.addOption({ "region", "boot, run or fpga: write one image.", "region" });
    parser.addOption({ "version", "Version of the one image.", "version", "1" });
    parser.addOption({ "size", "Payload size of the one image in bytes.", "bytes", "-1" });
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    const QString target = parser.positionalArguments().constFirst();

    if (parser.isSet("region")) {
        const QString name = parser.value("region");
        const SimImage::Region region = name == "boot" ? SimImage::Boot
            : name == "run"                            ? SimImage::Run
                                                       : SimImage::Fpga;
        if (name != "boot" && name != "run" && name != "fpga")
            parser.showHelp(2);
        return writeImage(target, region, parser.value("version").toInt(),
                   parser.value("size").toLongLong())
            ? 0
            : 1;
    }

    if (!QDir().mkpath(target)) {
        std::fprintf(stderr, "qd740n-imagegen: cannot create %s\n", qPrintable(target));
        return 1;
    }
    const QDir dir(target);
    const bool ok
        = writeImage(dir.filePath(SimImage::fileName(SimImage::Boot, 4)), SimImage::Boot, 4, -1)
        && writeImage(dir.filePath(SimImage::fileName(SimImage::Run, 5)), SimImage::Run, 5, -1)
        && writeImage(dir.filePath(SimImage::fileName(SimImage::Fpga, 6)), SimImage::Fpga, 6, -1);
    return ok ? 0 : 1;
}
