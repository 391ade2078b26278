// The three device workers (probe, update, restore) run against the simulated
// QD740N: the lines each one says, its result, the calls the device saw and
// their order relative to the lines, and what the device keeps afterwards.
#include "checkversionthread.h"
#include "detectstate.h"
#include "devicelibrary.h"
#include "firmwarecopies.h"
#include "privatefolder.h"
#include "restorethread.h"
#include "simdevicefile.h"
#include "simimage.h"
#include "updateversionthread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLockFile>
#include <QSet>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>

#include <algorithm>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif
#include <utility>

namespace {

constexpr int kSerial = 512377;
constexpr unsigned long kDeadlineMs = 30000; // generous: every device call is instant here

const QString kBootImage = QStringLiteral("qd740n_boot_4.img");
const QString kRunImage = QStringLiteral("qd740n_run_5.img");
const QString kFpgaImage = QStringLiteral("qd740n_fpga_6.rbf");

// The steps of a run as the tables write them: a device call with the status
// it answered, or a line the worker said.
QString call(const QString &name, int status = 0)
{
    return QStringLiteral("%1 -> %2").arg(name).arg(status);
}

QString say(const QString &line)
{
    return QStringLiteral("say: ") + line;
}

QStringList linesOf(const QStringList &steps)
{
    QStringList lines;
    for (const QString &step : steps) {
        if (step.startsWith(QLatin1String("say: ")))
            lines << step.mid(5);
    }
    return lines;
}

// The test device: the default one with the test serial, changed by `fields`.
QJsonObject device(const QJsonObject &fields = {})
{
    QJsonObject result = SimDeviceFile::defaultDevice();
    result.insert("serial", kSerial);
    for (auto it = fields.begin(); it != fields.end(); ++it)
        result.insert(it.key(), it.value());
    return result;
}

QJsonObject failing(const QString &name, int status = 1)
{
    return QJsonObject { { name, status } };
}

// One line of the simulator's trace: name(arguments) -> status.
struct TraceCall
{
    QString name;
    QStringList args;
    int status = 0;
};

TraceCall parseCall(const QString &line)
{
    const int open = line.indexOf(QLatin1Char('('));
    const int arrow = line.lastIndexOf(QLatin1String(") -> "));
    TraceCall c;
    c.name = line.left(open);
    const QString args = line.mid(open + 1, arrow - open - 1);
    if (!args.isEmpty())
        c.args = args.split(QLatin1String(", "));
    c.status = line.mid(arrow + 5).toInt();
    return c;
}

bool isOpen(const QString &name)
{
    return name == QLatin1String("qdOpenDevice") || name == QLatin1String("qdBootOpenDevice")
        || name == QLatin1String("qdBootOpenDeviceBySerial")
        || name == QLatin1String("qdOpenBootstrapDevice");
}

bool isClose(const QString &name)
{
    return name == QLatin1String("qdCloseDevice") || name == QLatin1String("qdBootCloseDevice");
}

// What one worker run left behind: the lines as a queued receiver gets them,
// the calls the device saw, and both merged in the order they happened.
struct Run
{
    QStringList lines;
    QList<TraceCall> calls;
    QStringList steps;
};

template <typename Worker>
void runWorker(
    Worker &worker, void (Worker::*textSignal)(const QString &), const SimDeviceFile &sim, Run &run)
{
    // A direct connection runs on the worker thread while the worker waits,
    // so the trace length read there counts exactly the calls made before the line.
    const int base = int(sim.trace().size());
    QList<QPair<int, QString>> marks;
    const QMetaObject::Connection marking = QObject::connect(
        &worker, textSignal, &worker,
        [&](const QString &line) {
            marks.append({ int(sim.trace().size()) - base, line });
        },
        Qt::DirectConnection);
    QSignalSpy lineSpy(&worker, textSignal);
    QSignalSpy finishedSpy(&worker, &QThread::finished);

    worker.start();
    const bool ended = worker.wait(kDeadlineMs);
    QObject::disconnect(marking);
    QVERIFY2(ended, "the worker did not finish");
    QCOMPARE(finishedSpy.count(), 1);

    for (const QList<QVariant> &arguments : std::as_const(lineSpy))
        run.lines << arguments.at(0).toString();
    const QStringList trace = sim.trace().mid(base);
    int next = 0;
    for (int i = 0; i <= trace.size(); ++i) {
        while (next < marks.size() && marks.at(next).first == i)
            run.steps << say(marks.at(next++).second);
        if (i < trace.size()) {
            const TraceCall c = parseCall(trace.at(i));
            run.calls << c;
            run.steps << call(c.name, c.status);
        }
    }
}

int successfulOpens(const QList<TraceCall> &calls)
{
    return int(std::count_if(calls.begin(), calls.end(),
        [](const TraceCall &c) { return isOpen(c.name) && c.status == 0; }));
}

// Every handle call goes to the one handle the run opened, every close is
// accepted (the device refuses a handle it never gave out, or -1), and there
// are exactly `closes` of them.
void checkHandles(const QList<TraceCall> &calls, int closes)
{
    QSet<QString> handles;
    int closed = 0;
    for (const TraceCall &c : calls) {
        if (isOpen(c.name))
            continue;
        QVERIFY2(!c.args.isEmpty(), qPrintable(c.name));
        handles.insert(c.args.at(0));
        if (isClose(c.name)) {
            QCOMPARE(c.status, 0);
            ++closed;
        }
    }
    QVERIFY2(handles.size() <= 1, qPrintable(QStringList(handles.values()).join(u' ')));
    QVERIFY(!handles.contains(QStringLiteral("-1")));
    QCOMPARE(closed, closes);
}

// The library is handed the flow's private copy of an image, never the file
// in ./firmware/: an absolute path in a flow's folder of the private folder,
// ending in firmware/<the image's name>.
void checkCopy(QString quoted, const QString &image)
{
    QString why;
    const QString privateFolder = PrivateFolder::path(why);
    QVERIFY2(!privateFolder.isEmpty(), qPrintable(why));
    const QString path = QDir::fromNativeSeparators(
        quoted.mid(1, quoted.size() - 2).replace(QLatin1String("\\\\"), QLatin1String("\\")));
    QVERIFY2(path.startsWith(privateFolder + QStringLiteral("/flow-"))
            && path.endsWith(QStringLiteral("/firmware/") + image),
        qPrintable(path));
    QVERIFY(path != QDir::current().absoluteFilePath(QStringLiteral("firmware/") + image));
    QVERIFY2(!QFileInfo::exists(path), "the copy outlived its flow");
}

// The image paths and numbers the device received: copies of the target
// images, the serial where the boot sector is written and `runValue` with the
// run sector.
void checkArguments(const QList<TraceCall> &calls, int serial, int runValue)
{
    for (const TraceCall &c : calls) {
        if (c.name == QLatin1String("qdOpenBootstrapDevice"))
            checkCopy(c.args.value(0), kBootImage);
        else if (c.name == QLatin1String("qdBootOpenDeviceBySerial"))
            QCOMPARE(c.args, QStringList { QString::number(serial) });
        else if (c.name == QLatin1String("qdBootWriteBootSector"))
            checkCopy(c.args.value(1), kBootImage);
        else if (c.name == QLatin1String("qdBootWriteRunSector"))
            checkCopy(c.args.value(1), kRunImage);
        else if (c.name == QLatin1String("qdBootWriteFPGAProgram"))
            checkCopy(c.args.value(1), kFpgaImage);
        if (c.name == QLatin1String("qdBootWriteBootSector"))
            QCOMPARE(c.args.value(2), QString::number(serial));
        else if (c.name == QLatin1String("qdBootWriteRunSector"))
            QCOMPARE(c.args.value(2), QString::number(runValue));
    }
}

QString show(const QJsonValue &value)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact));
}

// The device file holds the given fields (a null region is an erased one).
void checkDevice(const SimDeviceFile &sim, const QJsonObject &expected)
{
    const QJsonObject actual = sim.read();
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        QVERIFY2(actual.value(it.key()) == it.value(),
            qPrintable(QStringLiteral("%1 is %2, expected %3")
                           .arg(it.key(), show(actual.value(it.key())), show(it.value()))));
    }
}

QJsonObject regions(const QJsonValue &boot, const QJsonValue &run, const QJsonValue &fpga)
{
    return QJsonObject { { "serial", kSerial }, { "boot", boot }, { "run", run },
        { "fpga", fpga } };
}

const QJsonValue erased; // null: the region holds no valid image

int statusField(const DeviceStatus &status, const QString &key)
{
    if (key == QLatin1String("serial"))
        return status.serial;
    if (key == QLatin1String("boot"))
        return status.bootVersion;
    if (key == QLatin1String("run"))
        return status.runVersion;
    return status.fpgaVersion;
}

const QString kChecksumList = QStringLiteral("SHA256SUMS");

// Spoils one file of the test's firmware/ folder: "missing", "empty", cut to
// 100 bytes ("truncated"), replaced by an image of version 3 ("version 3"),
// named otherwise in the checksum list ("unlisted"), a folder in its place
// ("unreadable"), a link to nothing ("dangling"), a named pipe ("pipe") or a
// link to /dev/zero ("endless"). The checksum list itself may also be
// rewritten as sha256sum -b on Windows writes it ("binary": upper-case
// digits, '*' before the names, CRLF), with a byte-order mark and CRLF ("bom,
// crlf"), as sha256sum --tag writes it ("tagged"), as a Windows shell's
// redirection writes it ("utf-16"), padded past 64 KiB with empty lines
// ("oversized") or as a text with no checksum line ("no line"). An empty name
// leaves the folder as it is.
bool spoil(const SimDeviceFile &sim, const QString &name, const QString &damage)
{
    if (name.isEmpty())
        return true;
    QFile file(sim.firmwarePath(name));
    if (damage == QLatin1String("missing"))
        return file.remove();
    if (damage == QLatin1String("unreadable"))
        return file.remove() && QDir().mkdir(file.fileName());
    if (damage == QLatin1String("dangling") || damage == QLatin1String("endless"))
        return file.remove()
            && QFile::link(damage == QLatin1String("dangling") ? QStringLiteral("nowhere")
                                                               : QStringLiteral("/dev/zero"),
                file.fileName());
#ifndef Q_OS_WIN
    if (damage == QLatin1String("pipe"))
        return file.remove() && ::mkfifo(QFile::encodeName(file.fileName()).constData(), 0600) == 0;
#endif
    if (damage == QLatin1String("empty") || damage == QLatin1String("truncated"))
        return file.resize(damage == QLatin1String("empty") ? 0 : 100);
    QByteArray bytes;
    if (damage == QLatin1String("version 3")) {
        const SimImage::Region region = name == kBootImage ? SimImage::Boot
            : name == kRunImage                            ? SimImage::Run
                                                           : SimImage::Fpga;
        bytes = SimImage::build(region, 3, SimImage::payloadFor(region, 3));
    } else {
        file.setFileName(sim.firmwarePath(kChecksumList));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        bytes = file.readAll();
        file.close();
        QList<QByteArray> lines = bytes.trimmed().split('\n');
        if (damage == QLatin1String("binary")) {
            for (QByteArray &line : lines)
                line = line.left(64).toUpper() + " *" + line.mid(66);
            bytes = lines.join("\r\n");
        } else if (damage == QLatin1String("bom, crlf")) {
            bytes = "\xEF\xBB\xBF" + lines.join("\r\n") + "\r\n";
        } else if (damage == QLatin1String("tagged")) {
            for (QByteArray &line : lines)
                line = "SHA256 (" + line.mid(66) + ") = " + line.left(64);
            bytes = lines.join('\n') + '\n';
        } else if (damage == QLatin1String("utf-16")) {
            bytes = QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom)(
                QString::fromLatin1(lines.join("\r\n") + "\r\n"));
        } else if (damage == QLatin1String("oversized")) {
            bytes += QByteArray(64 * 1024, '\n');
        } else if (damage == QLatin1String("no line")) {
            bytes = "The firmware images' checksums\n";
        } else
            bytes.replace(name.toLatin1(), name.toLatin1() + ".old");
    }
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

// The image lines name the files by their absolute paths, which are known
// only once the test runs in its own folder.
const QString kWorkingFolder = QStringLiteral("<working folder>");

// An image that cannot be used, and why; by default because it is missing.
QStringList cannotRead(const QString &image, QString why = {})
{
    if (why.isEmpty())
        why = SimDeviceFile::notThere();
    return { say(QStringLiteral("Cannot read firmware image %1/firmware/%2.")
                     .arg(kWorkingFolder, image)),
        say(why) };
}

QString mismatch(const QString &image)
{
    return say(QStringLiteral("Firmware image %1/firmware/%2 does not match its checksum.")
                   .arg(kWorkingFolder, image));
}

const QString kNoList = say(
    QStringLiteral("No checksum list %1/firmware/SHA256SUMS: the firmware images are not verified.")
        .arg(kWorkingFolder));
QString notListed(const QString &image)
{
    return say(QStringLiteral("Firmware image %1/firmware/%2 is not in the checksum list "
                              "%1/firmware/SHA256SUMS.")
                   .arg(kWorkingFolder, image));
}

// The list cannot be read, for the given reason.
QStringList unreadableList(const QString &reason)
{
    return { say(QStringLiteral("Cannot read checksum list %1/firmware/SHA256SUMS.")
                     .arg(kWorkingFolder)),
        say(reason) };
}

// The list is read, but says something about no image.
QString uselessList(const QString &problem)
{
    return say(
        QStringLiteral("Checksum list %1/firmware/SHA256SUMS %2.").arg(kWorkingFolder, problem));
}

QStringList inWorkingFolder(QStringList steps)
{
    return steps.replaceInStrings(kWorkingFolder, QDir::currentPath());
}

} // namespace

class TestWorkers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void probe_data();
    void probe();
    void update_data();
    void update();
    void restore_data();
    void restore();
    void probeRestoreProbe_data();
    void probeRestoreProbe();
    void swapAfterCopy_data();
    void swapAfterCopy();
    void restoreSerials_data();
    void restoreSerials();
    void leftoverCopies();
};

// The workers call the build's simulated device as the program calls its
// library: through the binding.
void TestWorkers::initTestCase()
{
    QVERIFY2(
        DeviceLibrary::bind(QStringLiteral(QD740N_LIBRARY)), qPrintable(DeviceLibrary::failure()));
}

void TestWorkers::probe_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QString>("file"); // spoilt in firmware/, if any
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("state");
    QTest::addColumn<QJsonObject>("fields"); // status fields the path leaves reliable

    const QString intact;

    const QJsonObject running = device({ { "boot", 3 }, { "run", 5 }, { "fpga", 7 } });
    const QJsonObject bootLoader = device({ { "bootLoader", true } });
    const QJsonObject bare = device({ { "boot", erased } });
    const QStringList toBootLoader = { call("qdOpenDevice", 2), say("Failed to open QD740N."),
        say("Looking for QD740N boot device...") };
    const QStringList toBootstrap = toBootLoader
        + QStringList { call("qdBootOpenDevice", 2), say("Failed to open QD740N boot device."),
              say("Looking to bootstrap QD740N.") };

    QTest::newRow("running") << running << intact << intact
                             << QStringList { call("qdOpenDevice"), call("qdGetFirmwareVersion"),
                                    call("qdGetDeviceInfo"), call("qdCloseDevice") }
                             << int(Running)
                             << QJsonObject { { "serial", kSerial }, { "boot", 3 }, { "run", 5 },
                                    { "fpga", 7 } };
    QTest::newRow("running, version query fails")
        << device({ { "fail", failing("qdGetFirmwareVersion") } }) << intact << intact
        << QStringList { call("qdOpenDevice"), call("qdGetFirmwareVersion", 1),
               call("qdCloseDevice"), say("Failed to retrieve firmware versions.") }
        << int(NotDetected) << QJsonObject {};
    QJsonObject serialFails = running;
    serialFails.insert("fail", failing("qdGetDeviceInfo", -7));
    QTest::newRow("running, serial query fails")
        << serialFails << intact << intact
        << QStringList { call("qdOpenDevice"), call("qdGetFirmwareVersion"),
               call("qdGetDeviceInfo", -7), call("qdCloseDevice"),
               say("Failed to retrieve serial number.") }
        << int(NotDetected) << QJsonObject { { "boot", 3 }, { "run", 5 }, { "fpga", 7 } };
    QTest::newRow("boot loader") << bootLoader << intact << intact
                                 << toBootLoader
            + QStringList { call("qdBootOpenDevice"), call("qdBootGetDeviceSerial"),
                  call("qdBootCloseDevice") }
                                 << int(BootLoader) << QJsonObject { { "serial", kSerial } };
    QJsonObject bootLoaderSerialFails = bootLoader;
    bootLoaderSerialFails.insert("fail", failing("qdBootGetDeviceSerial"));
    QTest::newRow("boot loader, serial query fails") << bootLoaderSerialFails << intact << intact
                                                     << toBootLoader
            + QStringList { call("qdBootOpenDevice"), call("qdBootGetDeviceSerial", 1),
                  call("qdBootCloseDevice"), say("Failed to retrieve serial number.") }
                                                     << int(NotDetected) << QJsonObject {};
    QTest::newRow("boot region erased, bootstrapped") << bare << intact << intact
                                                      << toBootstrap
            + QStringList { call("qdOpenBootstrapDevice"), call("qdBootGetSerialFromFlash"),
                  call("qdBootCloseDevice") } << int(Bootstrapped)
                                                      << QJsonObject { { "serial", kSerial } };
    QJsonObject flashSerialFails = bare;
    flashSerialFails.insert("fail", failing("qdBootGetSerialFromFlash", 3));
    QTest::newRow("bootstrapped, flash serial fails") << flashSerialFails << intact << intact
                                                      << toBootstrap
            + QStringList { call("qdOpenBootstrapDevice"), call("qdBootGetSerialFromFlash", 3),
                  call("qdBootCloseDevice") } << int(NotDetected)
                                                      << QJsonObject {};
    QTest::newRow("no device") << device({ { "attached", false } }) << intact << intact
                               << toBootstrap + QStringList { call("qdOpenBootstrapDevice", 2) }
                               << int(NotDetected) << QJsonObject {};
    // The boot image is checked before the bootstrap runs it: a bad one is
    // named, and the device is not called.
    QTest::newRow("boot image missing from firmware/")
        << bare << kBootImage << "missing" << toBootstrap + cannotRead(kBootImage)
        << int(NotDetected) << QJsonObject {};
    QTest::newRow("boot image truncated")
        << bare << kBootImage << "truncated" << toBootstrap + QStringList { mismatch(kBootImage) }
        << int(NotDetected) << QJsonObject {};
    QTest::newRow("no checksum list, bootstrapped")
        << bare << kChecksumList << "missing"
        << toBootstrap
            + QStringList { kNoList, call("qdOpenBootstrapDevice"),
                  call("qdBootGetSerialFromFlash"), call("qdBootCloseDevice") }
        << int(Bootstrapped) << QJsonObject { { "serial", kSerial } };
}

void TestWorkers::probe()
{
    QFETCH(QJsonObject, device);
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QFETCH(QStringList, steps);
    QFETCH(int, state);
    QFETCH(QJsonObject, fields);

    SimDeviceFile sim(device);
    QVERIFY(spoil(sim, file, damage));
    steps = inWorkingFolder(steps);
    CheckVersionThread worker;
    Run run;
    runWorker(worker, &CheckVersionThread::updateText, sim, run);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(run.steps, steps);
    QCOMPARE(run.lines, linesOf(steps));
    QCOMPARE(worker.status.state, state);
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        QVERIFY2(statusField(worker.status, it.key()) == it.value().toInt(),
            qPrintable(QStringLiteral("%1 is %2")
                           .arg(it.key())
                           .arg(statusField(worker.status, it.key()))));
    }
    checkHandles(run.calls, successfulOpens(run.calls));
    checkArguments(run.calls, kSerial, kSerial);
    // A probe writes nothing to the device.
    checkDevice(sim,
        QJsonObject { { "serial", device.value("serial") }, { "boot", device.value("boot") },
            { "run", device.value("run") }, { "fpga", device.value("fpga") } });
}

void TestWorkers::update_data()
{
    QTest::addColumn<QList<int>>("version"); // on the device and in the probe's status
    QTest::addColumn<QJsonObject>("fail");
    QTest::addColumn<QString>("file"); // spoilt in firmware/, if any
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("serial"); // in the probe's status
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<QJsonObject>("after");

    const QString skipBoot = say("Skipping boot Fx3, already current version.");
    const QString skipRun = say("Skipping run Fx3, already current version.");
    const QString skipFpga = say("Skipping FPGA, already current version.");
    const QStringList bootWritten = { say("Updating boot Fx3, estimated 10 seconds."),
        call("qdBootClearBootSector"), call("qdBootWriteBootSector") };
    const QStringList runWritten = { say("Updating run Fx3, estimated 10 seconds."),
        call("qdBootClearRunSector"), call("qdBootWriteRunSector") };
    const QStringList fpgaWritten = { say("Updating FPGA, estimated 6 minutes."),
        call("qdBootClearFPGAProgram"), call("qdBootWriteFPGAProgram") };
    const QStringList opened = { call("qdBootOpenDeviceBySerial") };
    const QJsonObject none;
    const QJsonObject target = regions(4, 5, 6);

    QTest::newRow("4.5.6: all current, nothing written")
        << QList<int> { 4, 5, 6 } << none << QString() << QString() << kSerial
        << opened + QStringList { skipBoot, skipRun, skipFpga } << true << target;
    QTest::newRow("4.2.6: run sector only")
        << QList<int> { 4, 2, 6 } << none << QString() << QString() << kSerial
        << opened + QStringList { skipBoot } + runWritten + QStringList { skipFpga } << true
        << target;
    QTest::newRow("5.5.6: newer boot sector rewritten with image 4")
        << QList<int> { 5, 5, 6 } << none << QString() << QString() << kSerial
        << opened + bootWritten + QStringList { skipRun, skipFpga } << true << target;
    QTest::newRow("4.5.3: FPGA only")
        << QList<int> { 4, 5, 3 } << none << QString() << QString() << kSerial
        << opened + QStringList { skipBoot, skipRun } + fpgaWritten << true << target;
    QTest::newRow("3.3.3: all three rewritten")
        << QList<int> { 3, 3, 3 } << none << QString() << QString() << kSerial
        << opened + bootWritten + runWritten + fpgaWritten << true << target;
    QTest::newRow("serial not on the device")
        << QList<int> { 3, 3, 3 } << none << QString() << QString() << kSerial + 1
        << QStringList { call("qdBootOpenDeviceBySerial", 2), say("Cannot Find Device") } << false
        << regions(3, 3, 3);

    // Each examined call failing on a device that needs all three components:
    // the steps up to it, then the failure line, and no call after it.
    const QStringList all = opened + bootWritten + runWritten + fpgaWritten;
    auto failAt = [&](const char *tag, const QString &name, int status, const QString &line,
                      const QJsonObject &after) {
        const int at = int(all.indexOf(call(name)));
        QTest::newRow(tag) << QList<int> { 3, 3, 3 } << failing(name, status) << QString()
                           << QString() << kSerial
                           << all.mid(0, at) + QStringList { call(name, status), say(line) }
                           << false << after;
    };
    failAt("open by serial fails", "qdBootOpenDeviceBySerial", 2, "Cannot Find Device",
        regions(3, 3, 3));
    failAt("boot clear fails", "qdBootClearBootSector", 1, "Failed Clearing", regions(3, 3, 3));
    failAt("boot write fails", "qdBootWriteBootSector", 4, "Failed Writing", regions(erased, 3, 3));
    failAt("run clear fails", "qdBootClearRunSector", 1, "Failed Clearing", regions(4, 3, 3));
    failAt("run write fails", "qdBootWriteRunSector", -1, "Failed Writing", regions(4, erased, 3));
    failAt("FPGA clear fails", "qdBootClearFPGAProgram", 3, "Failed Clearing", regions(4, 5, 3));
    failAt(
        "FPGA write fails", "qdBootWriteFPGAProgram", 1, "Failed Writing", regions(4, 5, erased));

    // An image the update would write is unreadable, or not the one the
    // checksum list gives: it says so before any device call. Images of
    // components it skips are not looked at. Without a list it goes on.
    auto imageRow = [&](const char *tag, const QList<int> &version, const QString &file,
                        const QString &damage, const QStringList &steps) {
        const bool stops = !steps.contains(opened.first());
        QTest::newRow(tag) << version << none << file << damage << kSerial << steps << !stops
                           << (stops ? regions(version.at(0), version.at(1), version.at(2))
                                     : target);
    };
    imageRow(
        "3.3.3, boot image missing", { 3, 3, 3 }, kBootImage, "missing", cannotRead(kBootImage));
    imageRow("4.2.6, run image empty", { 4, 2, 6 }, kRunImage, "empty",
        cannotRead(kRunImage, "It is empty."));
    imageRow(
        "3.3.3, FPGA image missing", { 3, 3, 3 }, kFpgaImage, "missing", cannotRead(kFpgaImage));
    imageRow("4.4.5, FPGA image empty", { 4, 4, 5 }, kFpgaImage, "empty",
        cannotRead(kFpgaImage, "It is empty."));
    imageRow("4.2.6, boot image missing but not written", { 4, 2, 6 }, kBootImage, "missing",
        opened + QStringList { skipBoot } + runWritten + QStringList { skipFpga });
    imageRow("4.5.3, run image empty but not written", { 4, 5, 3 }, kRunImage, "empty",
        opened + QStringList { skipBoot, skipRun } + fpgaWritten);
    imageRow(
        "4.4.6, run image truncated", { 4, 4, 6 }, kRunImage, "truncated", { mismatch(kRunImage) });
    imageRow("4.4.6, run image of version 3", { 4, 4, 6 }, kRunImage, "version 3",
        { mismatch(kRunImage) });
    imageRow("3.3.3, FPGA image not in the list", { 3, 3, 3 }, kFpgaImage, "unlisted",
        { notListed(kFpgaImage) });
    imageRow("4.4.6, checksum list a folder", { 4, 4, 6 }, kChecksumList, "unreadable",
        unreadableList("It is a folder, not a file."));
    imageRow("4.4.6, checksum list over 64 KiB", { 4, 4, 6 }, kChecksumList, "oversized",
        unreadableList("It is larger than 64 KiB."));
#ifndef Q_OS_WIN
    // On Windows QFile::link makes a shortcut, a file of its own, not a link,
    // and there are no named pipes among the files.
    imageRow("4.4.6, checksum list a link to nothing", { 4, 4, 6 }, kChecksumList, "dangling",
        unreadableList("It is a link to nothing."));
    imageRow("4.4.6, checksum list a named pipe", { 4, 4, 6 }, kChecksumList, "pipe",
        unreadableList("It is not a regular file."));
    imageRow("4.4.6, checksum list a link to /dev/zero", { 4, 4, 6 }, kChecksumList, "endless",
        unreadableList("It is not a regular file."));
#endif
    imageRow("4.4.6, checksum list in UTF-16", { 4, 4, 6 }, kChecksumList, "utf-16",
        { uselessList("is in UTF-16, not in UTF-8 as sha256sum writes it") });
    imageRow("4.4.6, checksum list without a checksum line", { 4, 4, 6 }, kChecksumList, "no line",
        { uselessList("has no line in the format sha256sum writes") });
    const QStringList runOnly
        = opened + QStringList { skipBoot } + runWritten + QStringList { skipFpga };
    imageRow("4.4.6, checksum list as sha256sum -b writes it on Windows", { 4, 4, 6 },
        kChecksumList, "binary", runOnly);
    imageRow("4.4.6, checksum list with a byte-order mark and CRLF", { 4, 4, 6 }, kChecksumList,
        "bom, crlf", runOnly);
    imageRow("4.4.6, checksum list as sha256sum --tag writes it", { 4, 4, 6 }, kChecksumList,
        "tagged", runOnly);
    imageRow("4.4.6, no checksum list", { 4, 4, 6 }, kChecksumList, "missing",
        QStringList { kNoList } + opened + QStringList { skipBoot } + runWritten
            + QStringList { skipFpga });
}

void TestWorkers::update()
{
    QFETCH(QList<int>, version);
    QFETCH(QJsonObject, fail);
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QFETCH(int, serial);
    QFETCH(QStringList, steps);
    QFETCH(bool, succeeded);
    QFETCH(QJsonObject, after);

    SimDeviceFile sim(device({ { "boot", version.at(0) }, { "run", version.at(1) },
        { "fpga", version.at(2) }, { "fail", fail } }));
    QVERIFY(spoil(sim, file, damage));
    steps = inWorkingFolder(steps);
    UpdateVersionThread worker;
    worker.status = DeviceStatus { Running, serial, version.at(0), version.at(1), version.at(2) };
    QSignalSpy replaceSpy(&worker, &UpdateVersionThread::replaceLastLine);
    Run run;
    runWorker(worker, &UpdateVersionThread::addLine, sim, run);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(run.steps, steps);
    QCOMPARE(run.lines, linesOf(steps));
    QCOMPARE(worker.succeeded, succeeded);
    QCOMPARE(replaceSpy.count(), 0);
    checkHandles(run.calls, 0); // the boot-loader handle is left open on every path
    checkArguments(run.calls, serial, -1);
    checkDevice(sim, after);
}

void TestWorkers::restore_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QString>("file"); // spoilt in firmware/, if any
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("state"); // in the probe's status
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<QJsonObject>("after");

    const QStringList restored = {
        say("Updating boot Fx3, estimated 10 seconds."),
        call("qdBootClearBootSector"),
        call("qdBootWriteBootSector"),
        say("Updating run Fx3 device, estimated 10 seconds."),
        call("qdBootClearRunSector"),
        call("qdBootWriteRunSector"),
        say("Updating FPGA, estimated 6 minutes."),
        call("qdBootClearFPGAProgram"),
        call("qdBootWriteFPGAProgram"),
    };
    const QStringList closed = { call("qdBootCloseDevice") };
    const QJsonObject inBootLoader
        = device({ { "boot", 3 }, { "run", 3 }, { "fpga", 3 }, { "bootLoader", true } });
    const QJsonObject bare = device({ { "boot", erased }, { "run", 3 }, { "fpga", 3 } });
    QJsonObject target = regions(4, 5, 6);
    target.insert("bootLoader", false); // the closed device restarts into its firmware
    const QStringList notOpened = { call("qdBootOpenDevice", 2) };
    // A unit in its boot loader: its serial, then the one its flash holds.
    const QStringList identified = { call("qdBootOpenDevice"), call("qdBootGetDeviceSerial") };
    const QStringList opened = identified + QStringList { call("qdBootGetSerialFromFlash") };
    const QStringList bootstrapped = notOpened
        + QStringList { call("qdOpenBootstrapDevice"), call("qdBootGetSerialFromFlash") };
    const QString intact;
    QJsonObject unplugged = regions(4, 4, 6);
    unplugged.insert("attached", false);

    QTest::newRow("boot loader, opened directly")
        << inBootLoader << intact << intact << int(BootLoader) << opened + restored + closed << true
        << target;
    QTest::newRow("boot region erased, bootstrapped")
        << bare << intact << intact << int(Bootstrapped) << bootstrapped + restored + closed << true
        << target;
    QTest::newRow("no device") << device({ { "attached", false } }) << intact << intact
                               << int(Bootstrapped)
                               << notOpened
            + QStringList { call("qdOpenBootstrapDevice", 2), say("Failed to open device.") }
                               << false << unplugged;

    // Every image is checked before the device is opened: nothing is called.
    QTest::newRow("boot region erased, boot image missing")
        << bare << kBootImage << "missing" << int(Bootstrapped) << cannotRead(kBootImage) << false
        << regions(erased, 3, 3);
    QTest::newRow("boot loader, run image empty")
        << inBootLoader << kRunImage << "empty" << int(BootLoader)
        << cannotRead(kRunImage, "It is empty.") << false << regions(3, 3, 3);
    QTest::newRow("boot loader, FPGA image missing")
        << inBootLoader << kFpgaImage << "missing" << int(BootLoader) << cannotRead(kFpgaImage)
        << false << regions(3, 3, 3);
    QTest::newRow("boot loader, run image truncated")
        << inBootLoader << kRunImage << "truncated" << int(BootLoader)
        << QStringList { mismatch(kRunImage) } << false << regions(3, 3, 3);
    QTest::newRow("boot region erased, boot image of version 3")
        << bare << kBootImage << "version 3" << int(Bootstrapped)
        << QStringList { mismatch(kBootImage) } << false << regions(erased, 3, 3);
    QTest::newRow("boot loader, FPGA image not in the list")
        << inBootLoader << kFpgaImage << "unlisted" << int(BootLoader)
        << QStringList { notListed(kFpgaImage) } << false << regions(3, 3, 3);
    QTest::newRow("boot loader, no checksum list")
        << inBootLoader << kChecksumList << "missing" << int(BootLoader)
        << QStringList { kNoList } + opened + restored + closed << true << target;

    // The device opened must be the one the check found: its serial is read
    // and compared before anything is cleared or written.
    QJsonObject serialFails = inBootLoader;
    serialFails.insert("fail", failing("qdBootGetDeviceSerial"));
    QTest::newRow("boot loader, serial query fails")
        << serialFails << intact << intact << int(BootLoader)
        << QStringList { call("qdBootOpenDevice"), call("qdBootGetDeviceSerial", 1),
               say("Failed to retrieve serial number.") }
        << false << regions(3, 3, 3);
    QJsonObject flashSerialFails = bare;
    flashSerialFails.insert("fail", failing("qdBootGetSerialFromFlash", 3));
    QTest::newRow("bootstrapped, flash serial query fails")
        << flashSerialFails << intact << intact << int(Bootstrapped)
        << notOpened
            + QStringList { call("qdOpenBootstrapDevice"), call("qdBootGetSerialFromFlash", 3),
                  say("Failed to retrieve serial number.") }
        << false << regions(erased, 3, 3);
    QJsonObject swapped = inBootLoader;
    swapped.insert("serial", kSerial + 7);
    QJsonObject swappedAfter = regions(3, 3, 3);
    swappedAfter.insert("serial", kSerial + 7);
    QTest::newRow("boot loader, another unit swapped in")
        << swapped << intact << intact << int(BootLoader)
        << identified
            + QStringList { say(
                QStringLiteral("Found serial %1, expected %2.").arg(kSerial + 7).arg(kSerial)) }
        << false << swappedAfter;
    QJsonObject bareSwapped = bare;
    bareSwapped.insert("serial", kSerial - 1);
    QJsonObject bareSwappedAfter = regions(erased, 3, 3);
    bareSwappedAfter.insert("serial", kSerial - 1);
    QTest::newRow("bootstrapped, another unit swapped in")
        << bareSwapped << intact << intact << int(Bootstrapped)
        << bootstrapped
            + QStringList { say(
                QStringLiteral("Found serial %1, expected %2.").arg(kSerial - 1).arg(kSerial)) }
        << false << bareSwappedAfter;

    auto failAt
        = [&](const char *tag, const QString &name, const QString &line, const QJsonObject &after) {
              QJsonObject failingDevice = inBootLoader;
              failingDevice.insert("fail", failing(name));
              const int at = int(restored.indexOf(call(name)));
              QTest::newRow(tag) << failingDevice << intact << intact << int(BootLoader)
                                 << opened + restored.mid(0, at)
                      + QStringList { call(name, 1), say(line) }
                                 << false << after;
          };
    failAt("boot clear fails", "qdBootClearBootSector", "Failed clearing boot Fx3 device.",
        regions(3, 3, 3));
    failAt("boot write fails", "qdBootWriteBootSector", "Failed writing boot Fx3.",
        regions(erased, 3, 3));
    failAt("run clear fails", "qdBootClearRunSector", "Failed clearing run Fx3 device.",
        regions(4, 3, 3));
    failAt("run write fails", "qdBootWriteRunSector", "Failed writing run Fx3.",
        regions(4, erased, 3));
    failAt("FPGA clear fails", "qdBootClearFPGAProgram", "Failed clearing FPGA.", regions(4, 5, 3));
    failAt("FPGA write fails", "qdBootWriteFPGAProgram", "Failed writing FPGA.",
        regions(4, 5, erased));
}

void TestWorkers::restore()
{
    QFETCH(QJsonObject, device);
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QFETCH(int, state);
    QFETCH(QStringList, steps);
    QFETCH(bool, succeeded);
    QFETCH(QJsonObject, after);

    SimDeviceFile sim(device);
    QVERIFY(spoil(sim, file, damage));
    steps = inWorkingFolder(steps);
    RestoreThread worker;
    // The versions are not the device's: the restore must not look at them.
    worker.status = DeviceStatus { state, kSerial, 4, 5, 6 };
    Run run;
    runWorker(worker, &RestoreThread::addLine, sim, run);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(run.steps, steps);
    QCOMPARE(run.lines, linesOf(steps));
    QCOMPARE(worker.succeeded, succeeded);
    checkHandles(run.calls, succeeded ? 1 : 0); // closed after full success only
    checkArguments(run.calls, kSerial, kSerial);
    checkDevice(sim, after);
}

// The probe's status carried into the restore, as the console does it: the
// restored device keeps its serial and is found running the target set.
void TestWorkers::probeRestoreProbe_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<int>("found");

    QTest::newRow("boot loader") << device({ { "bootLoader", true }, { "run", erased } })
                                 << int(BootLoader);
    QTest::newRow("boot region erased")
        << device({ { "boot", erased }, { "fpga", erased } }) << int(Bootstrapped);
}

void TestWorkers::probeRestoreProbe()
{
    QFETCH(QJsonObject, device);
    QFETCH(int, found);

    SimDeviceFile sim(device);
    Run run;
    CheckVersionThread before;
    runWorker(before, &CheckVersionThread::updateText, sim, run);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(before.status.state, found);
    QCOMPARE(before.status.serial, kSerial);

    RestoreThread restore;
    restore.status = before.status;
    runWorker(restore, &RestoreThread::addLine, sim, run);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(restore.succeeded);

    CheckVersionThread after;
    const qsizetype linesBefore = run.lines.size();
    runWorker(after, &CheckVersionThread::updateText, sim, run);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(run.lines.size(), linesBefore); // a running device is found without a line
    QCOMPARE(after.status.state, int(Running));
    QCOMPARE(after.status.serial, kSerial);
    QCOMPARE(
        QList<int>({ after.status.bootVersion, after.status.runVersion, after.status.fpgaVersion }),
        QList<int>({ 4, 5, 6 }));
}

// Images replaced in ./firmware once the flow has taken its copies (here at
// the worker's first line, before its first write) do not reach the device:
// it is written with the bytes that were checked.
void TestWorkers::swapAfterCopy_data()
{
    QTest::addColumn<bool>("update");

    QTest::newRow("update of 3.3.3") << true;
    QTest::newRow("restore in the boot loader") << false;
}

template <typename Worker> void runSwapping(Worker &worker, const SimDeviceFile &sim, Run &run)
{
    int swapped = 0;
    QObject::connect(
        &worker, &Worker::addLine, &worker,
        [&](const QString &) {
            for (const SimImage::Region region :
                { SimImage::Boot, SimImage::Run, SimImage::Fpga }) {
                QFile image(sim.firmwarePath(SimImage::fileName(region, 4 + int(region))));
                const QByteArray other
                    = SimImage::build(region, 3, SimImage::payloadFor(region, 3));
                if (swapped < 3 && image.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    && image.write(other) == other.size())
                    ++swapped;
            }
        },
        Qt::DirectConnection);
    runWorker(worker, &Worker::addLine, sim, run);
    QCOMPARE(swapped, 3);
}

void TestWorkers::swapAfterCopy()
{
    QFETCH(bool, update);

    SimDeviceFile sim(
        device({ { "boot", 3 }, { "run", 3 }, { "fpga", 3 }, { "bootLoader", !update } }));
    Run run;
    bool succeeded = false;
    if (update) {
        UpdateVersionThread worker;
        worker.status = DeviceStatus { Running, kSerial, 3, 3, 3 };
        runSwapping(worker, sim, run);
        succeeded = worker.succeeded;
    } else {
        RestoreThread worker;
        worker.status = DeviceStatus { BootLoader, kSerial, 0, 0, 0 };
        runSwapping(worker, sim, run);
        succeeded = worker.succeeded;
    }
    if (QTest::currentTestFailed())
        return;
    QVERIFY(succeeded);
    checkDevice(sim, regions(4, 5, 6));
}

// The restore reads the serial the way the check found the unit, and never
// writes a boot loader's serial over another one the flash holds.
void TestWorkers::restoreSerials_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QJsonObject>("change"); // made between the check and the restore
    QTest::addColumn<int>("found"); // the check's serial
    QTest::addColumn<QStringList>("lines"); // the restore's; empty: it restored
    QTest::addColumn<int>("serialAfter");

    const int flash = 740400;
    QTest::newRow("bootstrapped, stays in its boot loader")
        << device({ { "boot", erased }, { "serial", flash }, { "bootLoaderSerial", 1 } })
        << QJsonObject {} << flash << QStringList {} << flash;
    QTest::newRow("boot loader and flash differ")
        << device({ { "bootLoader", true }, { "serial", flash }, { "bootLoaderSerial", 1 } })
        << QJsonObject {} << 1
        << QStringList { "The QD740N's flash holds serial 740400, but its boot loader reports 1: "
                         "nothing was written.",
               "Cycle the power on the QD740N, restart the firmware updater and press Check "
               "Versions; if the serials still differ, contact Marquell." }
        << flash;
    QTest::newRow("another unit swapped in")
        << device({ { "bootLoader", true } }) << QJsonObject { { "serial", kSerial + 1 } }
        << kSerial
        << QStringList { QStringLiteral("Found serial %1, expected %2.")
                             .arg(kSerial + 1)
                             .arg(kSerial) }
        << kSerial + 1;
}

void TestWorkers::restoreSerials()
{
    QFETCH(QJsonObject, device);
    QFETCH(QJsonObject, change);
    QFETCH(int, found);
    QFETCH(QStringList, lines);
    QFETCH(int, serialAfter);

    SimDeviceFile sim(device);
    Run check;
    CheckVersionThread probe;
    runWorker(probe, &CheckVersionThread::updateText, sim, check);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(probe.status.serial, found);
    sim.update(change);

    RestoreThread restore;
    restore.status = probe.status;
    Run run;
    runWorker(restore, &RestoreThread::addLine, sim, run);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(restore.succeeded, lines.isEmpty());
    if (!lines.isEmpty()) {
        QCOMPARE(run.lines, lines);
        for (const TraceCall &c : std::as_const(run.calls))
            QVERIFY2(!c.name.contains(QLatin1String("Clear"))
                    && !c.name.contains(QLatin1String("Write")),
                qPrintable(c.name));
    }
    QCOMPARE(sim.read().value("serial").toInt(), serialAfter);
}

// At start the copies of a process that has gone are removed: those without
// a lock, and those whose lock names a process that is not running; copies
// another process holds stay.
void TestWorkers::leftoverCopies()
{
    QString why;
    const QDir folder(PrivateFolder::path(why));
    QVERIFY2(folder.exists(), qPrintable(why));
    const QString tag = QStringLiteral("flow-test%1-").arg(QCoreApplication::applicationPid());
    for (const char *name : { "unlocked", "crashed", "held" })
        QVERIFY(folder.mkpath(tag + QLatin1String(name) + QStringLiteral("/firmware")));
    QFile crashed(folder.filePath(tag + QStringLiteral("crashed.lock")));
    QVERIFY(crashed.open(QIODevice::WriteOnly));
    crashed.write("4194000\ntst_workers\n\n"); // no such process
    crashed.close();
    QLockFile held(folder.filePath(tag + QStringLiteral("held.lock")));
    QVERIFY(held.tryLock(0));

    FirmwareCopies::removeLeftovers();
    QVERIFY(!folder.exists(tag + QStringLiteral("unlocked")));
    QVERIFY(!folder.exists(tag + QStringLiteral("crashed")));
    QVERIFY(!folder.exists(tag + QStringLiteral("crashed.lock")));
    QVERIFY(folder.exists(tag + QStringLiteral("held/firmware")));
    QVERIFY(QDir(folder.filePath(tag + QStringLiteral("held"))).removeRecursively());
}

QTEST_GUILESS_MAIN(TestWorkers)

#include "tst_workers.moc"
