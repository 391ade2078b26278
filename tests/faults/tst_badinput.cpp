// What the operator can get wrong around the program: no firmware folder, an
// image missing, empty, cut short, corrupted, swapped for another
// component's image or for another version, no checksum list beside the
// images or a named pipe in its place, an image replaced after the check by
// another version, a named pipe or a link to a device, and a working directory with spaces and
// non-ASCII letters in its path. The console names the image or the call that failed, the firmware
// folder is never written to, and once the images are put back the device can be brought to 4.5.6.
#include "bringback.h"
#include "consoledriver.h"
#include "consolelines.h"
#include "qd_api.h"
#include "simdevicefile.h"
#include "simimage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

const int kSerial = 740321;

QJsonObject deviceFor(const QString &kind)
{
    // Without a run sector the device has nothing to run and waits in its boot loader.
    if (kind == QLatin1String("boot loader"))
        return SimDeviceFile::device(3, -1, 5, { { "serial", kSerial } });
    if (kind == QLatin1String("bare"))
        return SimDeviceFile::device(-1, 4, 5, { { "serial", kSerial } });
    if (kind == QLatin1String("boot current"))
        return SimDeviceFile::device(4, 4, 5, { { "serial", kSerial } });
    return SimDeviceFile::device(3, 4, 5, { { "serial", kSerial } }); // "running"
}

const SimImage::Region kRegions[3] = { SimImage::Boot, SimImage::Run, SimImage::Fpga };
const int kTargets[3] = { 4, 5, 6 };
const char *const kComponents[3] = { "boot", "run", "fpga" };
const char *const kWrites[3]
    = { "qdBootWriteBootSector", "qdBootWriteRunSector", "qdBootWriteFPGAProgram" };

QString imagePath(int component)
{
    return QStringLiteral("firmware/")
        + SimImage::fileName(kRegions[component], kTargets[component]);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

// A damage done between the check and the flow that follows it.
const QString kAfterCheck = QStringLiteral("after the check, ");

// Spoils one image in ./firmware the way an operator's copy might, or a
// program or user that replaces it while the updater runs ("pipe": a named
// pipe; "device link": a link to /dev/zero); "..., no list" also takes the
// checksum list away.
bool spoil(const QString &damage, int component)
{
    if (damage == QLatin1String("no firmware folder"))
        return QDir(QStringLiteral("firmware")).removeRecursively();
#ifndef Q_OS_WIN
    // A named pipe with no writer blocks whoever opens it for reading.
    if (damage == QLatin1String("list a pipe"))
        return QFile::remove(QStringLiteral("firmware/SHA256SUMS"))
            && ::mkfifo("firmware/SHA256SUMS", 0600) == 0;
    if (damage.startsWith(kAfterCheck))
        return spoil(damage.mid(kAfterCheck.size()), component);
    if (damage == QLatin1String("pipe") || damage == QLatin1String("device link"))
        return QFile::remove(imagePath(component))
            && (damage == QLatin1String("pipe")
                    ? ::mkfifo(QFile::encodeName(imagePath(component)).constData(), 0600) == 0
                    : QFile::link(QStringLiteral("/dev/zero"), imagePath(component)));
#endif
    if (damage.endsWith(QLatin1String(", no list")))
        return QFile::remove(QStringLiteral("firmware/SHA256SUMS"))
            && spoil(damage.section(QLatin1Char(','), 0, 0), component);
    const QString path = imagePath(component);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    file.close();
    if (damage == QLatin1String("missing"))
        return QFile::remove(path);
    if (damage == QLatin1String("empty"))
        return writeFile(path, QByteArray());
    if (damage == QLatin1String("truncated"))
        return writeFile(path, bytes.left(bytes.size() / 2));
    if (damage == QLatin1String("corrupt")) {
        bytes[SimImage::headerSize + bytes.size() / 3] ^= 0x5a;
        return writeFile(path, bytes);
    }
    if (damage == QLatin1String("version 3")) {
        const SimImage::Region region = kRegions[component];
        return writeFile(path, SimImage::build(region, 3, SimImage::payloadFor(region, 3)));
    }
    // swapped: another component's image under this component's name
    const SimImage::Region other = kRegions[(component + 1) % 3];
    return writeFile(path,
        SimImage::build(
            other, kTargets[component], SimImage::payloadFor(other, kTargets[component])));
}

// The worker lines up to the write that stops on the spoilt image.
QStringList failedWriteLines(const QString &flow, int component)
{
    const bool update = flow == QLatin1String("update");
    const QStringList &stages = update ? ConsoleLines::updateStages : ConsoleLines::restoreStages;
    const QStringList updateFailed { "Failed Writing", "Failed Writing", "Failed Writing" };
    const QStringList restoreFailed { "Failed writing boot Fx3.", "Failed writing run Fx3.",
        "Failed writing FPGA." };
    return stages.mid(0, component + 1) << (update ? updateFailed : restoreFailed).at(component);
}

// The lines name an image by its absolute path, known only once the test
// runs in its own folder.
const QString kWorkingFolder = QStringLiteral("<working folder>");

// A damaged image is found before the worker opens the device: a missing or
// empty one, or one that is no file, cannot be read, any other does not match
// its checksum.
QStringList imageLines(const QString &damage, int component)
{
    const QString path = kWorkingFolder + QLatin1Char('/') + imagePath(component);
    const QString cannotRead = QStringLiteral("Cannot read firmware image %1.").arg(path);
    if (damage == QLatin1String("missing") || damage == QLatin1String("no firmware folder"))
        return { cannotRead,
            SimDeviceFile::notThere(damage == QLatin1String("no firmware folder")) };
    if (damage == QLatin1String("empty"))
        return { cannotRead, QStringLiteral("It is empty.") };
    if (damage.endsWith(QLatin1String("pipe")) || damage.endsWith(QLatin1String("device link")))
        return { cannotRead, QStringLiteral("It is not a regular file.") };
    return { QStringLiteral("Firmware image %1 does not match its checksum.").arg(path) };
}

const QString kNoList = QStringLiteral(
    "No checksum list %1/firmware/SHA256SUMS: the firmware images are not verified.")
                            .arg(kWorkingFolder);

// Every file in ./firmware with its bytes; empty when the folder is missing.
// A link is left out: one to a device would be read for ever.
QMap<QString, QByteArray> firmwareSnapshot()
{
    QMap<QString, QByteArray> files;
    const QDir folder(QStringLiteral("firmware"));
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        QFile file(folder.filePath(name));
        files.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("?"));
    }
    return files;
}

// Puts the three intact target images into ./firmware again.
bool putBackFirmware()
{
    if (!QDir().mkpath(QStringLiteral("firmware")))
        return false;
    const QDir source(QStringLiteral(QD740N_FIRMWARE_DIR));
    const QStringList names = source.entryList(QDir::Files);
    for (const QString &name : names) {
        const QString target = QStringLiteral("firmware/") + name;
        QFile::remove(target);
        if (!QFile::copy(source.filePath(name), target))
            return false;
    }
    return names.size() == 4; // the three images and their checksum list
}

// The call column's value for a flow that stops before any device call.
const QString kNoCall = QStringLiteral("none");

} // namespace

class tst_BadInput : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void operatorInput_data();
    void operatorInput();
};

void tst_BadInput::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_BadInput::operatorInput_data()
{
    QTest::addColumn<QString>("kind"); // the device's condition
    QTest::addColumn<QString>("workDir"); // below the test's own directory; empty: that directory
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("component");
    QTest::addColumn<QString>("flow"); // the flow that ends the run
    QTest::addColumn<QStringList>("lines"); // the worker's lines in that flow
    QTest::addColumn<QString>("call"); // the failing call; empty: nothing fails; kNoCall: no call

    // With the checksum list beside the images, a damaged image stops every
    // flow before the device is touched; the probe names a bad boot image
    // instead of bootstrapping from it.
    const QStringList damages { "missing", "empty", "truncated", "corrupt", "swapped",
        "version 3" };
    for (const QString &damage : damages) {
        for (int component = 0; component < 3; ++component) {
            const QString what = QStringLiteral("%1 image %2").arg(kComponents[component], damage);
            const QStringList lines = imageLines(damage, component);
            QTest::newRow(qPrintable(QStringLiteral("running device, ") + what))
                << "running" << QString() << damage << component << "update" << lines << kNoCall;
            QTest::newRow(qPrintable(QStringLiteral("boot-loader device, ") + what))
                << "boot loader" << QString() << damage << component << "restore" << lines
                << kNoCall;
            QTest::newRow(qPrintable(QStringLiteral("bare device, ") + what))
                << "bare" << QString() << damage << component
                << (component == 0 ? "check" : "restore")
                << (component == 0 ? ConsoleLines::noDeviceProbe + lines : lines) << kNoCall;
        }
    }

    // An image replaced between the check and the flow, by another version
    // or by what is no file, is found when the flow takes its copies.
    QStringList swaps { "version 3" };
#ifndef Q_OS_WIN
    swaps << "pipe"
          << "device link";
#endif
    for (const QString &swap : std::as_const(swaps)) {
        for (int component = 0; component < 3; ++component) {
            const QString damage = kAfterCheck + swap;
            const QString what = QStringLiteral("%1 image %2").arg(kComponents[component], damage);
            QTest::newRow(qPrintable(QStringLiteral("running device, ") + what))
                << "running" << QString() << damage << component << "update"
                << imageLines(swap, component) << kNoCall;
            QTest::newRow(qPrintable(QStringLiteral("bare device, ") + what))
                << "bare" << QString() << damage << component << "restore"
                << imageLines(swap, component) << kNoCall;
        }
    }

    // Every path is missing; the boot image is the first one the worker checks.
    QTest::newRow("running device, no firmware folder")
        << "running" << QString() << "no firmware folder" << 0 << "update"
        << imageLines("no firmware folder", 0) << kNoCall;
    QTest::newRow("boot-loader device, no firmware folder")
        << "boot loader" << QString() << "no firmware folder" << 0 << "restore"
        << imageLines("no firmware folder", 0) << kNoCall;
    QTest::newRow("bare device, no firmware folder")
        << "bare" << QString() << "no firmware folder" << 0 << "check"
        << ConsoleLines::noDeviceProbe + imageLines("no firmware folder", 0) << kNoCall;

    // Without the list the images are not verified, as the flows say: a
    // damaged one reaches the device library, which refuses it only once it
    // has erased the region.
    QTest::newRow("running device, run image truncated, no list")
        << "running" << QString() << "truncated, no list" << 1 << "update"
        << QStringList { kNoList } + failedWriteLines("update", 1) << kWrites[1];
    QTest::newRow("bare device, boot image corrupt, no list")
        << "bare" << QString() << "corrupt, no list" << 0 << "check"
        << ConsoleLines::noDeviceProbe + QStringList { kNoList } << "qdOpenBootstrapDevice";

#ifndef Q_OS_WIN
    // The list is looked at before it is read: the flow returns.
    QTest::newRow("running device, checksum list a named pipe")
        << "running" << QString() << "list a pipe" << 0 << "update"
        << QStringList { QStringLiteral("Cannot read checksum list %1/firmware/SHA256SUMS.")
                             .arg(kWorkingFolder),
               "It is not a regular file." }
        << kNoCall;
#endif

    // A boot sector already at its target is skipped, so its image is never asked for.
    QTest::newRow("boot sector current, boot image missing")
        << "boot current" << QString() << "missing" << 0 << "update"
        << QStringList { "Skipping boot Fx3, already current version.",
               ConsoleLines::updateStages.at(1), ConsoleLines::updateStages.at(2) }
        << QString();

    const QString odd = QStringLiteral("Prüfstand Ω 1");
    QTest::newRow("odd working directory, running device")
        << "running" << odd << QString() << 0 << "update" << ConsoleLines::updateStages
        << QString();
    QTest::newRow("odd working directory, bare device")
        << "bare" << odd << QString() << 0 << "restore" << ConsoleLines::restoreStages << QString();
    QTest::newRow("odd working directory, fpga image corrupt")
        << "running" << odd << "corrupt" << 2 << "update" << imageLines("corrupt", 2) << kNoCall;
}

void tst_BadInput::operatorInput()
{
    QFETCH(QString, kind);
    QFETCH(QString, workDir);
    QFETCH(QString, damage);
    QFETCH(int, component);
    QFETCH(QString, flow);
    QFETCH(QStringList, lines);
    QFETCH(QString, call);

    SimDeviceFile sim(deviceFor(kind));
    if (!workDir.isEmpty()) {
        QVERIFY(QDir(sim.dir()).mkpath(workDir));
        QVERIFY(QDir::setCurrent(QDir(sim.dir()).filePath(workDir)));
        QVERIFY(putBackFirmware());
    }
    const bool afterCheck = damage.startsWith(kAfterCheck);
    if (!damage.isEmpty() && !afterCheck)
        QVERIFY(spoil(damage, component));
    lines.replaceInStrings(kWorkingFolder, QDir::currentPath());
    QMap<QString, QByteArray> firmwareBefore = firmwareSnapshot();

    const bool check = flow == QLatin1String("check");
    qsizetype probeCalls = 0;
    QJsonObject probed;
    {
        ConsoleDriver console;
        QVERIFY(console.exposed);
        int before = console.lines().size();
        QVERIFY(console.press(console.checkButton()));
        probeCalls = sim.trace().size();
        probed = sim.read();
        if (afterCheck) {
            QVERIFY(spoil(damage, component));
            firmwareBefore = firmwareSnapshot();
        }
        if (!check) {
            QCOMPARE(console.offered(), flow);
            before = console.lines().size();
            QVERIFY(console.pressOffered());
        }
        const QStringList conclusion = check ? ConsoleLines::notDetected
            : call.isEmpty()                 ? ConsoleLines::success
                                             : ConsoleLines::failure;
        QCOMPARE(console.lines().mid(before), ConsoleLines::heading(flow) + lines + conclusion);
    }

    // The program hands the library its private copies of the images, never
    // the images in ./firmware, and never writes to those.
    QCOMPARE(firmwareSnapshot(), firmwareBefore);
    const QStringList trace = sim.trace();
    QVERIFY(!trace.isEmpty());
    for (const QString &line : trace) {
        if (line.contains(QLatin1String("qd740n_")))
            QVERIFY2(line.contains(QLatin1String("flow-"))
                    && !line.contains(QLatin1String("\"./firmware/")),
                qPrintable(line));
    }
    if (call == kNoCall) {
        // Stopped before the device was opened, or the probe before its
        // bootstrap: no call, nothing changed.
        QCOMPARE(trace.size(), probeCalls);
        QCOMPARE(sim.read(), probed);
        if (check)
            QVERIFY(!sim.traceNames().contains(QStringLiteral("qdOpenBootstrapDevice")));
    } else if (!call.isEmpty()) {
        // The spoilt image stops the call that reads it, and nothing follows.
        QVERIFY2(trace.last().startsWith(call + QLatin1Char('(')), qPrintable(trace.last()));
        QVERIFY2(trace.last().endsWith(QStringLiteral(" -> %1").arg(int(qdInitBadImage))),
            qPrintable(trace.last()));
    } else {
        QCOMPARE(sim.firmware(), QStringLiteral("4.5.6"));
        QCOMPARE(sim.read().value("serial").toInt(), kSerial);
        return;
    }

    QVERIFY(putBackFirmware());
    bringBack(sim, kSerial);
}

QTEST_MAIN(tst_BadInput)
#include "tst_badinput.moc"
