// Tests of the simulated QD740N behind the qd_api functions: which opens
// succeed in each condition of the device, the images its writes accept,
// what its device file keeps between runs, injected failures and unplugging,
// the call trace, and how it copes with bad device files.
#include "qd_api.h"
#include "simdevicefile.h"
#include "simimage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <functional>
#include <vector>

#include <unistd.h>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

const char *const bootImage = "./firmware/qd740n_boot_4.img";
const char *const runImage = "./firmware/qd740n_run_5.img";
const char *const fpgaImage = "./firmware/qd740n_fpga_6.rbf";
constexpr int defaultSerial = 740001;
const QJsonValue erased; // null: an erased region

// The test device (attached, serial 740001, firmware 4.4.6, instant) with some fields changed.
QJsonObject device(const QJsonObject &changes = {})
{
    QJsonObject result = SimDeviceFile::defaultDevice();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        result.insert(it.key(), it.value());
    return result;
}

// The device file in use now; newRun() switches to another one.
QString devicePath()
{
    return qEnvironmentVariable("QD740N_SIM_DEVICE");
}

QByteArray deviceBytes()
{
    QFile file(devicePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject deviceFile()
{
    return QJsonDocument::fromJson(deviceBytes()).object();
}

void writeDeviceFile(const QByteArray &bytes)
{
    QFile file(devicePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

void updateDeviceFile(const QJsonObject &changes)
{
    QJsonObject object = deviceFile();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        object.insert(it.key(), it.value());
    writeDeviceFile(QJsonDocument(object).toJson());
}

// Imitates a new run of the program on the same device: the simulator is
// pointed at a copy of the device file and so forgets its handles and any
// boot loader it entered.
void newRun()
{
    static int runs = 0;
    const QString copy = QDir::current().filePath(QStringLiteral("run%1.json").arg(++runs));
    QFile::copy(devicePath(), copy);
    qputenv("QD740N_SIM_DEVICE", QFile::encodeName(copy));
}

// The regions of a device file as "boot,run,fpga", "null" for an erased one.
QString regions(const QJsonObject &object)
{
    QStringList parts;
    for (const char *field : { "boot", "run", "fpga" }) {
        const QJsonValue value = object.value(QLatin1String(field));
        parts << (value.isNull()   ? "null"
                : value.isDouble() ? QString::number(value.toInt())
                                   : "?");
    }
    return parts.join(',');
}

QString withRegion(const QString &all, int region, const QString &value)
{
    QStringList parts = all.split(',');
    parts[region] = value;
    return parts.join(',');
}

// Version and serial as the normal calls read them, or "fails".
QString firmwareOf(int handle)
{
    int boot = 0, run = 0, fpga = 0, type = 0, serial = 0;
    if (qdGetFirmwareVersion(handle, &boot, &run, &fpga) != 0
        || qdGetDeviceInfo(handle, &type, &serial) != 0)
        return "fails";
    return QString("%1.%2.%3 #%4").arg(boot).arg(run).arg(fpga).arg(serial);
}

enum class Takes { Nothing, NormalHandle, BootHandle };

// One library function with fixed arguments; the opens fill the handle in,
// the other calls use it.
struct Call
{
    QString name;
    Takes takes;
    int region; // the region the call clears or writes, or -1
    QJsonObject device; // changes to the test device that let the call succeed
    std::function<int(int &)> run;
};

// Where the calls of the table put what they read; nothing looks at it.
int outA, outB, outC;
double progress;

const std::vector<Call> &calls()
{
    using T = Takes;
    const QJsonObject running;
    const QJsonObject held { { "bootLoader", true } };
    const QJsonObject bare { { "boot", erased } };
    // clang-format off
    static const std::vector<Call> table = {
        { "qdOpenDevice", T::Nothing, -1, running, [](int &h) { return qdOpenDevice(&h); } },
        { "qdBootOpenDevice", T::Nothing, -1, held, [](int &h) { return int(qdBootOpenDevice(&h)); } },
        { "qdBootOpenDeviceBySerial", T::Nothing, -1, running,
          [](int &h) { return int(qdBootOpenDeviceBySerial(&h, defaultSerial)); } },
        { "qdOpenBootstrapDevice", T::Nothing, -1, bare,
          [](int &h) { return int(qdOpenBootstrapDevice(&h, bootImage)); } },
        { "qdGetFirmwareVersion", T::NormalHandle, -1, running,
          [](int &h) { return qdGetFirmwareVersion(h, &outA, &outB, &outC); } },
        { "qdGetDeviceInfo", T::NormalHandle, -1, running,
          [](int &h) { return qdGetDeviceInfo(h, &outA, &outB); } },
        { "qdCloseDevice", T::NormalHandle, -1, running, [](int &h) { return qdCloseDevice(h); } },
        { "qdBootGetDeviceSerial", T::BootHandle, -1, held,
          [](int &h) { return int(qdBootGetDeviceSerial(h, &outA)); } },
        { "qdBootGetSerialFromFlash", T::BootHandle, -1, held,
          [](int &h) { return int(qdBootGetSerialFromFlash(h, &outA)); } },
        { "qdBootClearBootSector", T::BootHandle, SimImage::Boot, held,
          [](int &h) { return int(qdBootClearBootSector(h)); } },
        { "qdBootWriteBootSector", T::BootHandle, SimImage::Boot, held,
          [](int &h) { return int(qdBootWriteBootSector(h, bootImage, defaultSerial)); } },
        { "qdBootClearRunSector", T::BootHandle, SimImage::Run, held,
          [](int &h) { return int(qdBootClearRunSector(h)); } },
        { "qdBootWriteRunSector", T::BootHandle, SimImage::Run, held,
          [](int &h) { return int(qdBootWriteRunSector(h, runImage, -1)); } },
        { "qdBootClearFPGAProgram", T::BootHandle, SimImage::Fpga, held,
          [](int &h) { return int(qdBootClearFPGAProgram(h, progress)); } },
        { "qdBootWriteFPGAProgram", T::BootHandle, SimImage::Fpga, held,
          [](int &h) { return int(qdBootWriteFPGAProgram(h, fpgaImage, progress)); } },
        { "qdBootCloseDevice", T::BootHandle, -1, held, [](int &h) { return int(qdBootCloseDevice(h)); } },
    };
    // clang-format on
    return table;
}

const Call &call(const QString &name)
{
    for (const Call &c : calls())
        if (c.name == name)
            return c;
    qFatal("no call %s in the table", qPrintable(name));
}

const Call &openFor(Takes takes)
{
    return call(takes == Takes::NormalHandle ? "qdOpenDevice" : "qdBootOpenDevice");
}

bool generate(const QString &path, SimImage::Region region, int version, qint64 size = -1)
{
    const char *names[] = { "boot", "run", "fpga" };
    return QProcess::execute(QStringLiteral(QD740N_IMAGEGEN),
               { "--region", names[region], "--version", QString::number(version), "--size",
                   QString::number(size), path })
        == 0;
}

const QStringList imageKinds = { "valid", "missing", "null path", "empty", "short header",
    "short payload", "longer than its header", "too large for the region", "other region",
    "corrupt", "not an image" };

// Writes an image of the given kind for a region into the working folder and
// returns its path; "valid" ones are of version 7.
QByteArray makeImage(const QString &kind, SimImage::Region region)
{
    const QString path = "./" + QString(kind).replace(' ', '-') + ".img";
    const auto other = SimImage::Region((region + 1) % 3);
    const QByteArray valid = SimImage::build(region, 7, SimImage::payloadFor(region, 7));
    QByteArray bytes;
    if (kind == "null path")
        return {};
    if (kind == "missing")
        return "./firmware/missing.img";
    if (kind == "valid" || kind == "too large for the region") {
        const qint64 size = kind == "valid" ? -1 : SimImage::maxPayload(region) + 1;
        return generate(path, region, 7, size) ? QFile::encodeName(path) : "generator failed";
    }
    if (kind == "short header")
        bytes = valid.left(SimImage::headerSize - 1);
    else if (kind == "short payload")
        bytes = valid.chopped(1);
    else if (kind == "longer than its header")
        bytes = valid + '\0';
    else if (kind == "other region")
        bytes = SimImage::build(other, 7, SimImage::payloadFor(other, 7));
    else if (kind == "corrupt")
        (bytes = valid)[SimImage::headerSize + 100] ^= 0x01;
    else if (kind == "not an image")
        bytes = QByteArray(4096, 'x');
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return QFile::encodeName(path);
}

// Collects what is written to standard error while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        file.open();
        std::fflush(stderr);
        saved = ::dup(STDERR_FILENO);
        ::dup2(file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }

    QStringList lines()
    {
        restore();
        file.seek(0);
        return QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        saved = -1;
    }

    QTemporaryFile file;
    int saved = -1;
};

// Leaves in `handle` a handle of the situation that calls taking `takes`
// cannot use; the device keeps its firmware 4.4.6.
void staleHandle(const QString &situation, Takes takes, int &handle)
{
    const bool boot = takes == Takes::BootHandle;
    const auto openBoot = [&] { return int(qdBootOpenDeviceBySerial(&handle, defaultSerial)); };
    int other = -1;
    if (situation == "zero" || situation == "negative" || situation == "never issued") {
        handle = situation == "zero" ? 0 : situation == "negative" ? -1 : 987654;
    } else if (situation == "closed") {
        QCOMPARE(boot ? openBoot() : qdOpenDevice(&handle), 0);
        QCOMPARE(boot ? int(qdBootCloseDevice(handle)) : qdCloseDevice(handle), 0);
    } else if (situation == "other kind") {
        QCOMPARE(boot ? qdOpenDevice(&handle) : openBoot(), 0);
    } else if (situation == "previous run") {
        QCOMPARE(boot ? openBoot() : qdOpenDevice(&handle), 0);
        newRun();
        QCOMPARE(qdOpenDevice(&other), 0);
    }
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void conditions_data()
    {
        QTest::addColumn<QJsonObject>("changes");
        QTest::addColumn<QString>("opens"); // the opens that succeed, in table order
        const QString boot = "qdBootOpenDevice qdBootOpenDeviceBySerial";

        QTest::newRow("running") << QJsonObject {} << "qdOpenDevice qdBootOpenDeviceBySerial";
        QTest::newRow("detached") << QJsonObject { { "attached", false } } << "";
        QTest::newRow("held in boot loader") << QJsonObject { { "bootLoader", true } } << boot;
        QTest::newRow("run erased") << QJsonObject { { "run", erased } } << boot;
        QTest::newRow("fpga erased") << QJsonObject { { "fpga", erased } } << boot;
        QTest::newRow("boot erased")
            << QJsonObject { { "boot", erased } } << "qdOpenBootstrapDevice";
        QTest::newRow("all erased") << QJsonObject { { "boot", erased }, { "run", erased },
            { "fpga", erased } } << "qdOpenBootstrapDevice";
        QTest::newRow("boot erased, held") << QJsonObject { { "boot", erased },
            { "bootLoader", true } } << "qdOpenBootstrapDevice";
        QTest::newRow("detached, held")
            << QJsonObject { { "attached", false }, { "bootLoader", true } } << "";
        QTest::newRow("running, other serial")
            << QJsonObject { { "serial", 123456 } } << "qdOpenDevice";
        QTest::newRow("held, other serial")
            << QJsonObject { { "serial", 123456 }, { "bootLoader", true } } << "qdBootOpenDevice";
    }

    void conditions()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(QString, opens);

        const int serial = device(changes).value("serial").toInt();
        QStringList opened;
        for (const Call &open : calls()) {
            if (open.takes != Takes::Nothing)
                continue;
            SimDeviceFile sim(device(changes)); // each open on a device nothing has touched
            int handle = -1, read = 0;
            if (open.run(handle) != 0)
                continue;
            opened << open.name;
            // The handle is of the kind the open promises.
            if (open.name == "qdOpenDevice")
                QCOMPARE(qdGetDeviceInfo(handle, &outA, &read), 0);
            else
                QCOMPARE(int(qdBootGetDeviceSerial(handle, &read)), 0);
            QCOMPARE(read, serial);
        }
        QCOMPARE(opened.join(' '), opens);
    }

    void enterBootLoaderBySerial()
    {
        SimDeviceFile sim;
        int normal = -1, boot = -1, second = -1, other = -1;
        QCOMPARE(qdOpenDevice(&normal), 0);
        QCOMPARE(int(qdBootOpenDeviceBySerial(&boot, defaultSerial)), 0);
        QCOMPARE(firmwareOf(normal), "fails"); // the restart ended the normal handle
        QVERIFY(qdOpenDevice(&other) != 0);
        QCOMPARE(int(qdBootOpenDevice(&second)), 0);
        QVERIFY(second != boot);
        QVERIFY(!deviceFile().value("bootLoader").toBool()); // not lasting state

        // Detached and plugged in again, it runs its firmware; the boot handles are gone.
        updateDeviceFile({ { "attached", false } });
        QVERIFY(qdBootOpenDevice(&other) != 0);
        updateDeviceFile({ { "attached", true } });
        QCOMPARE(qdOpenDevice(&other), 0);
        QVERIFY(qdBootGetDeviceSerial(boot, &outA) != 0);
    }

    // Only a close after a successful write restarts a device with complete
    // firmware; a close after queries alone leaves it in its boot loader.
    void restartOnClose_data()
    {
        QTest::addColumn<QJsonObject>("changes");
        QTest::addColumn<QString>("open");
        QTest::addColumn<QStringList>("through"); // calls made through the handle before the close
        QTest::addColumn<bool>("runsAfter");
        QTest::addColumn<bool>("heldAfter"); // bootLoader in the file after the close
        QTest::addColumn<bool>("runsNextRun");

        const QJsonObject held { { "bootLoader", true } };
        const QString open = "qdBootOpenDevice", bySerial = "qdBootOpenDeviceBySerial";
        const QStringList runRewritten { "qdBootClearRunSector", "qdBootWriteRunSector" };
        QTest::newRow("held, only queried")
            << held << open << QStringList { "qdBootGetDeviceSerial" } << false << true << false;
        QTest::newRow("entered by serial, only queried")
            << QJsonObject {} << bySerial << QStringList { "qdBootGetDeviceSerial" } << false
            << false << true;
        QTest::newRow("held, run rewritten")
            << held << open << runRewritten << true << false << true;
        QTest::newRow("entered by serial, run rewritten")
            << QJsonObject {} << bySerial << runRewritten << true << false << true;
        QTest::newRow("held, run cleared")
            << held << open << QStringList { "qdBootClearRunSector" } << false << true << false;
        QTest::newRow("entered by serial, fpga cleared")
            << QJsonObject {} << bySerial << QStringList { "qdBootClearFPGAProgram" } << false
            << false << false;
    }

    void restartOnClose()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(QString, open);
        QFETCH(QStringList, through);
        QFETCH(bool, runsAfter);
        QFETCH(bool, heldAfter);
        QFETCH(bool, runsNextRun);

        SimDeviceFile sim(device(changes));
        int boot = -1, other = -1;
        QCOMPARE(call(open).run(boot), 0);
        for (const QString &name : through)
            QCOMPARE(call(name).run(boot), 0);
        QCOMPARE(int(qdBootCloseDevice(boot)), 0);

        QCOMPARE(qdOpenDevice(&other) == 0, runsAfter);
        QCOMPARE(qdBootOpenDevice(&other) == 0, !runsAfter);
        QCOMPARE(deviceFile().value("bootLoader").toBool(), heldAfter);
        newRun();
        QCOMPARE(qdOpenDevice(&other) == 0, runsNextRun);
    }

    void bootstrapToRunning()
    {
        SimDeviceFile sim(device({ { "boot", erased }, { "run", erased }, { "fpga", erased } }));
        int boot = -1, other = -1;
        QCOMPARE(int(qdOpenBootstrapDevice(&boot, bootImage)), 0);
        // No boot region yet, but the boot loader runs from RAM until the
        // device restarts, and is found there.
        QCOMPARE(int(qdBootOpenDevice(&other)), 0);

        QCOMPARE(int(qdBootWriteBootSector(boot, bootImage, 740555)), 0);
        QCOMPARE(int(qdBootWriteRunSector(boot, runImage, -1)), 0);
        QCOMPARE(int(qdBootWriteFPGAProgram(boot, fpgaImage, progress)), 0);
        QCOMPARE(regions(deviceFile()), "4,5,6");
        // Fully written but not closed: still in the boot loader it was bootstrapped into.
        QVERIFY(qdOpenDevice(&other) != 0);
        QCOMPARE(int(qdBootOpenDevice(&other)), 0);

        QCOMPARE(int(qdBootCloseDevice(boot)), 0);
        QCOMPARE(qdOpenDevice(&other), 0);
        QCOMPARE(firmwareOf(other), "4.5.6 #740555");
    }

    void images_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        for (const char *name : { "qdOpenBootstrapDevice", "qdBootWriteBootSector",
                 "qdBootWriteRunSector", "qdBootWriteFPGAProgram" })
            for (const QString &kind : imageKinds)
                QTest::addRow("%s, %s", name, qPrintable(kind)) << QString(name) << kind;
    }

    // Only a complete image of the right region passes; a write that fails
    // leaves its region erased and the others as they were.
    void images()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);

        const Call &c = call(name);
        const bool bootstrap = c.takes == Takes::Nothing;
        const auto region = bootstrap ? SimImage::Boot : SimImage::Region(c.region);
        SimDeviceFile sim(device(c.device));
        int handle = -1;
        if (!bootstrap)
            QCOMPARE(openFor(c.takes).run(handle), 0);
        const QByteArray path = makeImage(kind, region);
        QCOMPARE(QFile::exists(QFile::decodeName(path)), kind != "missing" && kind != "null path");
        const char *argument = path.isNull() ? nullptr : path.constData();
        const QString before = regions(deviceFile());

        int status = 0;
        if (bootstrap)
            status = qdOpenBootstrapDevice(&handle, argument);
        else if (region == SimImage::Boot)
            status = qdBootWriteBootSector(handle, argument, 740123);
        else if (region == SimImage::Run)
            status = qdBootWriteRunSector(handle, argument, -1);
        else
            status = qdBootWriteFPGAProgram(handle, argument, progress);
        QCOMPARE(status == 0, kind == "valid");

        if (bootstrap) {
            QCOMPARE(regions(deviceFile()), before); // bootstrapping writes nothing
            return;
        }
        QCOMPARE(regions(deviceFile()), withRegion(before, region, status == 0 ? "7" : "null"));
        if (status == 0 && region == SimImage::Boot) {
            int serial = 0, fromFlash = 0;
            QCOMPARE(deviceFile().value("serial").toInt(), 740123);
            QCOMPARE(int(qdBootGetDeviceSerial(handle, &serial)), 0);
            QCOMPARE(int(qdBootGetSerialFromFlash(handle, &fromFlash)), 0);
            QCOMPARE(serial, 740123);
            QCOMPARE(fromFlash, 740123);
        }
    }

    void persistence()
    {
        const QJsonObject extra { { "list", QJsonArray { 1, 2, 3 } }, { "name", "bench 2" } };
        SimDeviceFile sim(device({ { "note", "kept" }, { "extra", extra } }));
        int boot = -1, normal = -1, other = -1;
        QCOMPARE(int(qdBootOpenDeviceBySerial(&boot, defaultSerial)), 0);
        QCOMPARE(int(qdBootClearRunSector(boot)), 0);
        QCOMPARE(regions(deviceFile()), "4,null,6"); // written at once, not at the close
        QVERIFY(generate("run7.img", SimImage::Run, 7));
        QCOMPARE(int(qdBootWriteRunSector(boot, "./run7.img", -1)), 0);
        QCOMPARE(int(qdBootWriteBootSector(boot, bootImage, 740321)), 0);

        const QJsonObject written = deviceFile();
        QCOMPARE(regions(written), "4,7,6");
        QCOMPARE(written.value("serial").toInt(), 740321);
        QCOMPARE(written.value("note").toString(), "kept");
        QVERIFY(written.value("extra") == extra);

        // The program stops without closing; its next run finds the device
        // running what was written.
        newRun();
        QCOMPARE(qdOpenDevice(&normal), 0);
        QCOMPARE(firmwareOf(normal), "4.7.6 #740321");

        // An edit of the file between two opens is seen by the next open.
        updateDeviceFile({ { "serial", 740999 }, { "fpga", erased } });
        QVERIFY(qdOpenDevice(&other) != 0);
        QVERIFY(qdBootOpenDeviceBySerial(&other, 740321) != 0);
        QCOMPARE(int(qdBootOpenDeviceBySerial(&other, 740999)), 0);

        // Fields added to the file while a handle is open survive the next save.
        updateDeviceFile({ { "late", "edit" } });
        QCOMPARE(int(qdBootClearRunSector(other)), 0);
        QCOMPARE(deviceFile().value("late").toString(), "edit");
        QCOMPARE(regions(deviceFile()), "4,null,null");
    }

    void injectedFailure_data()
    {
        QTest::addColumn<QString>("name");
        for (const Call &c : calls())
            QTest::newRow(qPrintable(c.name)) << c.name;
    }

    void injectedFailure()
    {
        QFETCH(QString, name);
        const Call &c = call(name);
        QJsonObject changes = c.device;
        changes.insert("fail", QJsonObject { { name, 9 } });
        SimDeviceFile sim(device(changes));
        int handle = -1;
        if (c.takes != Takes::Nothing)
            QCOMPARE(openFor(c.takes).run(handle), 0); // other calls are not affected

        for (int attempt = 0; attempt < 2; ++attempt) {
            int h = handle;
            QCOMPARE(c.run(h), 9);
            QVERIFY(sim.trace().constLast().startsWith(name + '('));
            QVERIFY(sim.trace().constLast().endsWith(" -> 9"));
        }
        if (name.contains("Write"))
            QCOMPARE(regions(deviceFile()), withRegion("4,4,6", c.region, "null"));
    }

    void unplug_data()
    {
        QTest::addColumn<QString>("name");
        for (const Call &c : calls())
            QTest::newRow(qPrintable(c.name)) << c.name;
    }

    void unplug()
    {
        QFETCH(QString, name);
        const Call &c = call(name);
        const bool isOpen = c.takes == Takes::Nothing;
        QJsonObject changes = c.device;
        if (!isOpen)
            changes.insert("unplugDuring", name); // read by the open that gives the handle
        SimDeviceFile sim(device(changes));

        // A handle from before: by the same open, or the one the call works on.
        int earlier = -1;
        QCOMPARE((isOpen ? c : openFor(c.takes)).run(earlier), 0);
        if (isOpen)
            updateDeviceFile({ { "unplugDuring", name } });
        int handle = earlier;
        QVERIFY(c.run(handle) != 0);

        const QJsonObject after = deviceFile();
        QCOMPARE(after.value("attached").toBool(true), false);
        QVERIFY(!after.contains("unplugDuring"));
        const QString before = regions(device(c.device));
        QCOMPARE(regions(after), c.region < 0 ? before : withRegion(before, c.region, "null"));
        for (const Call &open : calls())
            if (open.takes == Takes::Nothing)
                QVERIFY2(open.run(handle) != 0, qPrintable(open.name));

        // Plugged in again, the device does not unplug a second time, and
        // the handle from before stays dead.
        updateDeviceFile({ { "attached", true } });
        int fresh = -1;
        if (!isOpen) {
            const bool bootErased = c.region == SimImage::Boot;
            QCOMPARE((bootErased ? call("qdOpenBootstrapDevice") : openFor(c.takes)).run(fresh), 0);
        }
        QCOMPARE(c.run(fresh), 0);
        if (name == "qdOpenDevice" || c.takes == Takes::NormalHandle)
            QCOMPARE(firmwareOf(earlier), "fails");
        else
            QVERIFY(qdBootGetDeviceSerial(earlier, &outA) != 0);
    }

    void badHandles_data()
    {
        QTest::addColumn<QString>("situation");
        for (const char *situation :
            { "zero", "negative", "never issued", "closed", "other kind", "previous run" })
            QTest::newRow(situation) << QString(situation);
    }

    // Every call on a handle it cannot use fails and changes nothing.
    void badHandles()
    {
        QFETCH(QString, situation);
        for (const Takes takes : { Takes::NormalHandle, Takes::BootHandle }) {
            SimDeviceFile sim;
            int handle = -1;
            staleHandle(situation, takes, handle);
            QVERIFY(!QTest::currentTestFailed());
            for (const Call &c : calls()) {
                int h = handle;
                if (c.takes == takes)
                    QVERIFY2(c.run(h) != 0, qPrintable(c.name));
            }
            QCOMPARE(regions(deviceFile()), "4,4,6");
            QCOMPARE(deviceFile().value("serial").toInt(), defaultSerial);
        }
    }

    void traceFormat()
    {
        SimDeviceFile sim(device({ { "fail", QJsonObject { { "qdBootOpenDevice", 7 } } } }));
        int normal = -1, boot = -1, other = -1;
        qdGetAPIVersion();
        qdOpenDevice(&normal);
        qdGetFirmwareVersion(normal, &outA, &outB, &outC);
        qdGetDeviceInfo(normal, &outA, &outB);
        qdCloseDevice(normal);
        qdBootOpenDevice(&other);
        qdBootOpenDeviceBySerial(&boot, defaultSerial);
        qdBootGetDeviceSerial(boot, &outA);
        qdBootGetSerialFromFlash(boot, &outA);
        qdBootClearBootSector(boot);
        qdBootWriteBootSector(boot, bootImage, 740002);
        qdBootClearRunSector(boot);
        qdBootWriteRunSector(boot, runImage, -1);
        qdBootClearFPGAProgram(boot, progress);
        qdBootWriteFPGAProgram(boot, fpgaImage, progress);
        qdBootCloseDevice(boot);

        const QString n = QString::number(normal), h = QString::number(boot);
        const QStringList expected = {
            "qdGetAPIVersion() -> \"1.0.0 (SIMULATED QD740N, no real device is touched)\"",
            "qdOpenDevice() -> 0",
            "qdGetFirmwareVersion(" + n + ") -> 0",
            "qdGetDeviceInfo(" + n + ") -> 0",
            "qdCloseDevice(" + n + ") -> 0",
            "qdBootOpenDevice() -> 7",
            "qdBootOpenDeviceBySerial(740001) -> 0",
            "qdBootGetDeviceSerial(" + h + ") -> 0",
            "qdBootGetSerialFromFlash(" + h + ") -> 0",
            "qdBootClearBootSector(" + h + ") -> 0",
            "qdBootWriteBootSector(" + h + ", \"./firmware/qd740n_boot_4.img\", 740002) -> 0",
            "qdBootClearRunSector(" + h + ") -> 0",
            "qdBootWriteRunSector(" + h + ", \"./firmware/qd740n_run_5.img\", -1) -> 0",
            "qdBootClearFPGAProgram(" + h + ") -> 0",
            "qdBootWriteFPGAProgram(" + h + ", \"./firmware/qd740n_fpga_6.rbf\") -> 0",
            "qdBootCloseDevice(" + h + ") -> 0",
        };
        QCOMPARE(sim.trace(), expected);
    }

    void apiVersion_data()
    {
        QTest::addColumn<QJsonValue>("field");
        QTest::addColumn<QByteArray>("expected"); // null: a null pointer

        const QByteArray fallback = "1.0.0 (SIMULATED QD740N, no real device is touched)";
        QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << fallback;
        QTest::newRow("text") << QJsonValue("2.3.4-beta") << QByteArray("2.3.4-beta");
        QTest::newRow("null") << QJsonValue() << QByteArray();
        QTest::newRow("not a text") << QJsonValue(12) << fallback;
    }

    void apiVersion()
    {
        QFETCH(QJsonValue, field);
        QFETCH(QByteArray, expected);

        SimDeviceFile sim(device({ { "apiVersion", field } })); // undefined: no such field
        const char *text = qdGetAPIVersion();
        QCOMPARE(text == nullptr, expected.isNull());
        if (text)
            QCOMPARE(QByteArray(text), expected);
        const QString shown = expected.isNull() ? "null" : '"' + QString(expected) + '"';
        QCOMPARE(sim.trace().constLast(), "qdGetAPIVersion() -> " + shown);
    }

    // The library owns the text it returns: a later call with another
    // version must not change or free an earlier one.
    void apiVersionTextStaysValid()
    {
        SimDeviceFile sim(device({ { "apiVersion", "2.0.0" } }));
        const char *first = qdGetAPIVersion();
        updateDeviceFile({ { "apiVersion", "3.1.4 with a longer text than before" } });
        const char *second = qdGetAPIVersion();
        QVERIFY(first && second);
        QCOMPARE(QByteArray(second), "3.1.4 with a longer text than before");
        QCOMPARE(QByteArray(first), "2.0.0");
    }

    // The FPGA calls report their progress through the reference; it ends at 1.
    void fpgaProgress()
    {
        SimDeviceFile sim(device({ { "bootLoader", true }, { "timeScale", 0.0005 } }));
        int boot = -1;
        double cleared = -1.0, written = -1.0;
        QCOMPARE(int(qdBootOpenDevice(&boot)), 0);
        QCOMPARE(int(qdBootClearFPGAProgram(boot, cleared)), 0);
        QCOMPARE(int(qdBootWriteFPGAProgram(boot, fpgaImage, written)), 0);
        QCOMPARE(cleared, 1.0);
        QCOMPARE(written, 1.0);
    }

    // With no device file named there is no device, and the version text
    // says why.
    void noDeviceFile()
    {
        const QByteArray previousDevice = qgetenv("QD740N_SIM_DEVICE");
        const QByteArray previousTrace = qgetenv("QD740N_SIM_TRACE");
        const auto restore = qScopeGuard([&] {
            qputenv("QD740N_SIM_DEVICE", previousDevice);
            qputenv("QD740N_SIM_TRACE", previousTrace);
        });
        qputenv("QD740N_SIM_DEVICE", "");
        qputenv("QD740N_SIM_TRACE", "");

        QCOMPARE(QByteArray(qdGetAPIVersion()),
            "1.0.0 (SIMULATED QD740N, no real device is touched; no device attached: "
            "QD740N_SIM_DEVICE names no device file)");
        int handle = -1;
        for (const Call &open : calls())
            if (open.takes == Takes::Nothing)
                QVERIFY2(open.run(handle) != 0, qPrintable(open.name));
    }

    void malformedDeviceFile_data()
    {
        QTest::addColumn<QString>("kind"); // "file", "missing", "directory", "pipe" or "device"
        QTest::addColumn<QByteArray>("content");

        QTest::newRow("missing") << "missing" << QByteArray();
        QTest::newRow("directory") << "directory" << QByteArray();
        QTest::newRow("empty") << "file" << QByteArray();
        QTest::newRow("invalid JSON") << "file" << QByteArray("{\"attached\": true,");
        QTest::newRow("array") << "file" << QByteArray("[{\"attached\": true}]");
        QTest::newRow("binary") << "file" << QByteArray("\x89PNG\r\n\x1a\n\0\0\xff", 11);
#ifndef Q_OS_WIN
        // Neither waited on nor read without end.
        QTest::newRow("named pipe") << "pipe" << QByteArray();
        QTest::newRow("link to /dev/zero") << "device" << QByteArray();
#endif
    }

    void malformedDeviceFile()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);

        SimDeviceFile sim;
        const QString path = devicePath();
        QFile::remove(path);
        if (kind == "directory")
            QVERIFY(QDir().mkdir(path));
#ifndef Q_OS_WIN
        else if (kind == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "device")
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
#endif
        else if (kind == "file")
            writeDeviceFile(content);

        StderrCapture capture;
        int handle = -1;
        const int status = qdOpenDevice(&handle);
        const QStringList lines = capture.lines();
        QVERIFY(status != 0);
        QCOMPARE(lines.size(), 1);
        const int at = lines.first().indexOf(path);
        QVERIFY2(at >= 0, qPrintable(lines.first()));
        const QString problem = lines.first().mid(at + path.size());
        QVERIFY2(problem.contains(QRegularExpression("[A-Za-z]{3}")), qPrintable(lines.first()));

        StderrCapture quiet;
        for (const Call &open : calls())
            if (open.takes == Takes::Nothing)
                QVERIFY2(open.run(handle) != 0, qPrintable(open.name));
        QCOMPARE(QFileInfo(path).isDir(), kind == "directory");
        QCOMPARE(QFileInfo::exists(path), kind != "missing");
        if (kind == "file")
            QCOMPARE(deviceBytes(), content);
    }

    // A file that turns bad while the device is in use reads as an unplugged
    // device: its handles die, and nothing is written into the file.
    void deviceFileBrokenWhileOpen()
    {
        SimDeviceFile sim(device({ { "bootLoader", true } }));
        int boot = -1, other = -1;
        QCOMPARE(int(qdBootOpenDevice(&boot)), 0);
        const QByteArray broken = "{ \"bootLoader\": tru";
        writeDeviceFile(broken);

        StderrCapture capture;
        QVERIFY(qdBootOpenDevice(&other) != 0);
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(qdBootClearRunSector(boot) != 0);
        QVERIFY(qdBootCloseDevice(boot) != 0); // a close would otherwise write bootLoader false
        QCOMPARE(deviceBytes(), broken);
    }

    // A file that turns bad after the last open is seen at the next save:
    // the change stays in memory and the file is left as it is.
    void deviceFileBrokenBeforeSave_data()
    {
        QTest::addColumn<QByteArray>("broken");

        QTest::newRow("invalid JSON") << QByteArray("{ \"bootLoader\": tru");
        QTest::newRow("array") << QByteArray("[{\"bootLoader\": true}]");
    }

    void deviceFileBrokenBeforeSave()
    {
        QFETCH(QByteArray, broken);

        SimDeviceFile sim(device({ { "bootLoader", true } }));
        int boot = -1;
        QCOMPARE(int(qdBootOpenDevice(&boot)), 0);
        writeDeviceFile(broken);

        StderrCapture capture;
        QCOMPARE(int(qdBootClearRunSector(boot)), 0); // saves without reading the file first
        const QStringList lines = capture.lines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(devicePath()), qPrintable(lines.first()));
        QCOMPARE(deviceBytes(), broken);
    }

    void oddFieldValues_data()
    {
        QTest::addColumn<QJsonObject>("content");
        QTest::addColumn<bool>("opens");

        // A field of no use falls back to its default: the device opens
        // with firmware 4.4.6 and serial 740001.
        const QJsonObject failAsText { { "qdOpenDevice", "x" } };
        QTest::newRow("empty object") << QJsonObject {} << true;
        QTest::newRow("attached as text") << device({ { "attached", "no" } }) << true;
        QTest::newRow("serial too large") << device({ { "serial", 1e300 } }) << true;
        QTest::newRow("serial with a fraction") << device({ { "serial", 12.5 } }) << true;
        QTest::newRow("version as list") << device({ { "run", QJsonArray { 5 } } }) << true;
        QTest::newRow("version too large") << device({ { "boot", -1e15 } }) << true;
        QTest::newRow("timeScale negative") << device({ { "timeScale", -1 } }) << true;
        QTest::newRow("timeScale too large") << device({ { "timeScale", 1e308 } }) << true;
        QTest::newRow("fail status zero")
            << device({ { "fail", QJsonObject { { "qdOpenDevice", 0 } } } }) << true;
        QTest::newRow("fail status as text") << device({ { "fail", failAsText } }) << false;
        QTest::newRow("unplugDuring no such call")
            << device({ { "unplugDuring", "qdNoSuchCall" } }) << true;
    }

    void oddFieldValues()
    {
        QFETCH(QJsonObject, content);
        QFETCH(bool, opens);

        SimDeviceFile sim(content);
        StderrCapture quiet; // unusable fields are reported there
        int handle = -1;
        QCOMPARE(qdOpenDevice(&handle) == 0, opens);
        QVERIFY(qdGetAPIVersion() != nullptr);
        if (opens)
            QCOMPARE(firmwareOf(handle), "4.4.6 #740001");
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
