// A seeded random campaign of operator roads through the real window. Each
// road starts from a random device (running at random versions, held in its
// boot loader with random regions erased, bare, or with its run region
// erased), injects at most one random fault (a failing status, an unplug, or
// a call that does not return until the device is unplugged once it is late,
// on a random library function, before the check or before the flow it
// offers), plays the operator (Check, a random answer to the downgrade
// question, the offered button), then takes the fault away, plugs the device
// back in and repairs it with at most two ordinary starts of the program.
// Some roads also replace one image with another version between the check
// and the flow, and some units' boot loaders report another serial than the
// one in their flash.
// After every road:
//  - a success verdict means the device holds 4.5.6 with its own serial;
//  - the serial never changes;
//  - a running device at 4.5.6 is never cleared or written;
//  - no failure verdict where the device ended at 4.5.6 and no injected fault
//    was reached;
//  - the device library gets the device's serial where a serial belongs, and
//    -1 as the update's run-sector value;
//  - no image other than the target's reaches the device (the replacement
//    is of a version no device holds);
//  - a unit found in its boot loader whose boot loader reports another serial
//    is never written (its flash serial is readable);
//  - the repair brings the device to 4.5.6 with its own serial, but for such
//    a unit.
// QD740N_CAMPAIGN_SEED sets the seed, QD740N_CAMPAIGN_ROADS the number of
// roads and QD740N_CAMPAIGN_FIRST the first road's number; each road draws
// from the seed and its number alone, so a failing road, printed with both,
// is replayed on its own.
#include "consoledriver.h"
#include "consolelines.h"
#include "flowcontrol.h"
#include "simdevicefile.h"
#include "simimage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMap>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>

namespace {

constexpr quint32 kDefaultSeed = 740456;
// The version of a replaced image: no device of the campaign holds it.
constexpr int kSwapVersion = 9;
constexpr int kDefaultRoads = 500;
constexpr int kRoadsPerRow = 50;

const QStringList kFunctions { "qdOpenDevice", "qdGetFirmwareVersion", "qdGetDeviceInfo",
    "qdCloseDevice", "qdBootOpenDevice", "qdBootOpenDeviceBySerial", "qdOpenBootstrapDevice",
    "qdBootGetDeviceSerial", "qdBootGetSerialFromFlash", "qdBootCloseDevice",
    "qdBootClearBootSector", "qdBootWriteBootSector", "qdBootClearRunSector",
    "qdBootWriteRunSector", "qdBootClearFPGAProgram", "qdBootWriteFPGAProgram" };
const QString kLateAdvice = QStringLiteral("If it stays silent, unplug it, restart the updater "
                                           "and press Check Versions: Restore can then rewrite "
                                           "its firmware.");
const QStringList kFlashCalls { "qdBootClearBootSector", "qdBootWriteBootSector",
    "qdBootClearRunSector", "qdBootWriteRunSector", "qdBootClearFPGAProgram",
    "qdBootWriteFPGAProgram" };

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A region's version near its target (older, equal or newer), or erased.
QJsonValue region(QRandomGenerator &random, int target, bool mayBeErased)
{
    if (mayBeErased && random.bounded(2) == 0)
        return QJsonValue(QJsonValue::Null);
    return target - 1 + int(random.bounded(3));
}

// One start of the program: what the operator saw, and what the device heard.
struct Start
{
    QString offered; // "", "update" or "restore"
    QString verdict; // "success", "failure", or "" where no update or restore ran
    bool runningAtTarget = false; // the device ran 4.5.6 when the program started
    QStringList log;
    QStringList trace;
    QStringList flowTrace; // the update's or the restore's calls
};

// What the serial arguments of a flow's calls must be.
QStringList argumentProblems(const Start &start, int serial)
{
    QStringList problems;
    const QString own = QString::number(serial);
    for (const QString &line : start.flowTrace) {
        if (line.endsWith(QLatin1String(" stalls")))
            continue; // said as the call starts; its end follows
        const QString name = line.section(QLatin1Char('('), 0, 0);
        const QString last = line.section(QLatin1String(") -> "), 0, 0).section(", ", -1);
        const bool runInUpdate = name == QLatin1String("qdBootWriteRunSector")
            && start.offered == QLatin1String("update");
        const bool takesSerial = name == QLatin1String("qdBootOpenDeviceBySerial")
            || name == QLatin1String("qdBootWriteBootSector")
            || name == QLatin1String("qdBootWriteRunSector");
        if (runInUpdate ? last != QLatin1String("-1") : takesSerial && last.section('(', -1) != own)
            problems << QStringLiteral("the library was handed a wrong value: %1").arg(line);
    }
    return problems;
}

class Road
{
public:
    Road(quint32 seed, int number)
        : seed(seed)
        , number(number)
        , random(std::array<quint32, 2> { seed, quint32(number) }.data(), 2)
    { }

    // Plays the road; returns what went wrong, with the road described.
    QStringList run();
    // How the operator's road ended: "check", "update: success", ..., and
    // "(fault reached)" after it where the injected fault was reached.
    QString outcome() const { return roadOutcome; }

private:
    QJsonObject randomDevice();
    QJsonObject withBootLoaderSerial(QJsonObject unit);
    void randomFault();
    bool replaceImage(bool back);
    Start startProgram(QMessageBox::StandardButton answer, const std::function<void()> &beforeFlow);
    void checkStart(const Start &start);
    QString description() const;

    const quint32 seed;
    const int number;
    QRandomGenerator random;
    std::optional<SimDeviceFile> sim;
    int serial = 0;
    QString kind;
    QJsonObject device;
    bool bootLoaderDiffers = false; // its boot loader reports another serial
    QString swappedImage; // replaced with version kSwapVersion before the flow
    QJsonObject fault;
    bool faultBeforeCheck = true;
    QMessageBox::StandardButton answer = QMessageBox::No;
    QList<Start> starts;
    QStringList problems;
    QString roadOutcome;
};

QJsonObject Road::randomDevice()
{
    serial = 700000 + int(random.bounded(100000));
    // Running devices twice as often as each other kind: the update's
    // roads, with and without the downgrade question, are the most varied.
    switch (random.bounded(5)) {
    case 0:
    case 1:
        kind = QStringLiteral("running");
        return SimDeviceFile::device(-1, -1, -1,
            { { "serial", serial }, { "boot", region(random, 4, false) },
                { "run", region(random, 5, false) }, { "fpga", region(random, 6, false) } });
    case 2:
        kind = QStringLiteral("held in its boot loader");
        return withBootLoaderSerial(SimDeviceFile::device(-1, -1, -1,
            { { "serial", serial }, { "bootLoader", true }, { "boot", region(random, 4, true) },
                { "run", region(random, 5, true) }, { "fpga", region(random, 6, true) } }));
    case 3:
        kind = QStringLiteral("bare");
        return withBootLoaderSerial(SimDeviceFile::device(-1, -1, -1,
            { { "serial", serial }, { "run", region(random, 5, true) },
                { "fpga", region(random, 6, true) } }));
    default:
        kind = QStringLiteral("run region erased");
        return SimDeviceFile::device(-1, -1, -1,
            { { "serial", serial }, { "boot", region(random, 4, false) },
                { "fpga", region(random, 6, true) } });
    }
}

// A third of the units whose boot loader is reached get one that reports
// another serial than their flash.
QJsonObject Road::withBootLoaderSerial(QJsonObject unit)
{
    bootLoaderDiffers = random.bounded(3) == 0;
    if (bootLoaderDiffers)
        unit.insert("bootLoaderSerial", serial + 1 + int(random.bounded(1000)));
    return unit;
}

// At most one fault: a failing status, an unplug, or a call the device does
// not answer, on any library call. A flash whose serial cannot be read leaves
// only the boot loader's: on a unit whose boot loader reports another, that
// call is left alone here.
void Road::randomFault()
{
    const int draw = int(random.bounded(6));
    const QString function = kFunctions.at(int(random.bounded(int(kFunctions.size()))));
    static const int statuses[] = { 1, 2, 3, 7, -1 };
    if (draw < 2)
        fault = { { "fail", QJsonObject { { function, statuses[random.bounded(5)] } } } };
    else if (draw < 4)
        fault = { { "unplugDuring", function } };
    else if (draw == 4)
        fault = { { "stall", function } };
    if (bootLoaderDiffers && function == QLatin1String("qdBootGetSerialFromFlash"))
        fault = {};
    faultBeforeCheck = random.bounded(2) == 0;
    answer = random.bounded(2) == 0 ? QMessageBox::Yes : QMessageBox::No;
    static const char *const images[]
        = { "qd740n_boot_4.img", "qd740n_run_5.img", "qd740n_fpga_6.rbf" };
    const int swap = int(random.bounded(8));
    if (swap < 3)
        swappedImage = QLatin1String(images[swap]);
}

// Replaces one image in firmware/ with one of another version, as a copy
// tool or another user might while the program runs; or puts it back.
bool Road::replaceImage(bool back)
{
    const QString path = sim->firmwarePath(swappedImage);
    const SimImage::Region region = swappedImage.contains(QLatin1String("boot")) ? SimImage::Boot
        : swappedImage.contains(QLatin1String("run"))                            ? SimImage::Run
                                                                                 : SimImage::Fpga;
    const QByteArray bytes = back
        ? QByteArray()
        : SimImage::build(region, kSwapVersion, SimImage::payloadFor(region, kSwapVersion));
    QFile::remove(path);
    if (back)
        return QFile::copy(QDir(QStringLiteral(QD740N_FIRMWARE_DIR)).filePath(swappedImage), path);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

Start Road::startProgram(
    QMessageBox::StandardButton answer, const std::function<void()> &beforeFlow)
{
    Start start;
    const QJsonObject now = sim->read();
    start.runningAtTarget = now.value("attached").toBool(true) && !now.value("bootLoader").toBool()
        && SimDeviceFile::firmwareOf(now) == QLatin1String("4.5.6");
    const qsizetype traceBefore = sim->trace().size();
    {
        ConsoleDriver console;
        if (!console.exposed)
            problems << QStringLiteral("the window was not exposed");
        // A call the device does not answer is ended as the operator is told
        // to, once it is late: the device is unplugged.
        QTimer operatorAtLateCall;
        QObject::connect(&operatorAtLateCall, &QTimer::timeout, [&] {
            if (console.lines().contains(kLateAdvice)
                && sim->trace().value(sim->trace().size() - 1).endsWith(QLatin1String(" stalls"))) {
                operatorAtLateCall.stop();
                sim->update({ { "attached", false } });
            }
        });
        operatorAtLateCall.start(10);
        console.box.setAnswer(answer);
        if (!console.press(console.checkButton()))
            problems << QStringLiteral("the check did not end");
        start.offered = console.offered();
        if (!start.offered.isEmpty()) {
            beforeFlow();
            const qsizetype flowBefore = sim->trace().size();
            if (!console.pressOffered())
                problems << QStringLiteral("the %1 did not end").arg(start.offered);
            start.flowTrace = sim->trace().mid(flowBefore);
        }
        start.log = console.lines();
    }
    start.trace = sim->trace().mid(traceBefore);
    const auto endsWith = [&start](const QStringList &lines) {
        return start.log.mid(start.log.size() - lines.size()) == lines;
    };
    if (endsWith(ConsoleLines::success))
        start.verdict = QStringLiteral("success");
    else if (endsWith(ConsoleLines::failure))
        start.verdict = QStringLiteral("failure");
    if (!QTest::qWaitFor([] { return QApplication::topLevelWidgets().isEmpty(); }))
        problems << QStringLiteral("a window outlived the program");
    starts << start;
    checkStart(start);
    return start;
}

// What holds for every start of the program.
void Road::checkStart(const Start &start)
{
    const QJsonObject now = sim->read();
    if (now.value("serial").toInt() != serial)
        problems << QStringLiteral("the serial changed to %1").arg(now.value("serial").toInt());
    if (start.verdict == QLatin1String("success") && sim->firmware() != QLatin1String("4.5.6"))
        problems << QStringLiteral("success reported with the device at %1").arg(sim->firmware());
    if (start.runningAtTarget) {
        for (const QString &line : start.trace) {
            if (kFlashCalls.contains(line.section(QLatin1Char('('), 0, 0)))
                problems << QStringLiteral("a device running 4.5.6 got %1").arg(line);
        }
    }
    problems << argumentProblems(start, serial);
    // Found through a boot loader that reports another serial than the
    // flash, the unit is not written.
    const QStringList check = start.trace.mid(0, start.trace.size() - start.flowTrace.size());
    const bool throughBootLoader
        = std::none_of(check.begin(), check.end(), [](const QString &line) {
              return line.startsWith(QLatin1String("qdOpenBootstrapDevice("));
          });
    if (bootLoaderDiffers && throughBootLoader) {
        for (const QString &line : start.flowTrace) {
            if (kFlashCalls.contains(line.section(QLatin1Char('('), 0, 0)))
                problems << QStringLiteral("a unit with two serials got %1").arg(line);
        }
    }
}

QStringList Road::run()
{
    device = randomDevice();
    randomFault();
    sim.emplace(device);
    const auto injectFault = [this] {
        sim->update(fault);
        if (!swappedImage.isEmpty() && !replaceImage(false))
            problems << QStringLiteral("%1 could not be replaced").arg(swappedImage);
    };

    // The operator's road, the fault injected before the check or before the
    // flow the check offers.
    if (faultBeforeCheck)
        sim->update(fault);
    const Start road = startProgram(answer, injectFault);
    const QString faulty = fault.contains("fail") ? fault.value("fail").toObject().keys().value(0)
        : fault.contains("stall")                 ? fault.value("stall").toString()
                                                  : fault.value("unplugDuring").toString();
    const bool swapNoticed = std::any_of(road.log.begin(), road.log.end(), [](const QString &line) {
        return line.endsWith(QLatin1String("does not match its checksum."));
    });
    const bool faultReached = swapNoticed
        || (!faulty.isEmpty()
            && std::any_of(road.trace.begin(), road.trace.end(), [&faulty](const QString &line) {
                   return line.startsWith(faulty + QLatin1Char('('));
               }));
    roadOutcome = (road.offered.isEmpty() ? QStringLiteral("check") : road.offered)
        + (road.verdict.isEmpty() ? QString() : QStringLiteral(": ") + road.verdict)
        + (faultReached ? QStringLiteral(" (fault reached)") : QString());
    if (road.verdict == QLatin1String("failure") && sim->firmware() == QLatin1String("4.5.6")
        && !faultReached)
        problems << QStringLiteral(
            "failure reported with the device at 4.5.6 and no fault reached");

    for (const char *field : { "boot", "run", "fpga" }) {
        if (sim->read().value(field).toInt() == kSwapVersion)
            problems
                << QStringLiteral("the replaced image reached the device's %1 region").arg(field);
    }
    // The repair: the device replugged without its fault, the images put
    // back, the program started again, at most twice.
    if (!swappedImage.isEmpty() && !replaceImage(true))
        problems << QStringLiteral("%1 could not be put back").arg(swappedImage);
    for (int attempt = 0; attempt < 2; ++attempt) {
        sim->startNewRun();
        QJsonObject replugged = sim->read();
        replugged.insert("attached", true);
        replugged.remove("fail");
        replugged.remove("unplugDuring");
        replugged.remove("stall");
        sim->write(replugged);
        const Start repair = startProgram(QMessageBox::Yes, [] {});
        if (repair.verdict == QLatin1String("success")
            || repair.log.endsWith(QLatin1String("Firmware does not require update.")))
            break;
    }
    // A unit with two serials is repaired only where its boot region, and so
    // its boot loader, is not there, and the check bootstraps it.
    if (sim->firmware() != QLatin1String("4.5.6") && !bootLoaderDiffers)
        problems << QStringLiteral("the repair left the device at %1").arg(sim->firmware());
    if (problems.isEmpty())
        return {};
    return problems << description();
}

QString Road::description() const
{
    QStringList lines { QStringLiteral("seed %1, road %2: replay with QD740N_CAMPAIGN_SEED=%1 "
                                       "QD740N_CAMPAIGN_FIRST=%2 QD740N_CAMPAIGN_ROADS=1")
                            .arg(seed)
                            .arg(number),
        QStringLiteral("device (%1): %2").arg(kind, compact(device)),
        QStringLiteral("fault: %1, injected %2")
            .arg(fault.isEmpty() ? QStringLiteral("none") : compact(fault),
                faultBeforeCheck ? QStringLiteral("before the check")
                                 : QStringLiteral("before the offered flow")),
        QStringLiteral("answer to a downgrade question: %1")
            .arg(answer == QMessageBox::Yes ? "Yes" : "No"),
        QStringLiteral("image replaced before the flow: %1")
            .arg(swappedImage.isEmpty() ? QStringLiteral("none") : swappedImage) };
    for (int i = 0; i < starts.size(); ++i) {
        const Start &start = starts.at(i);
        lines << QStringLiteral("-- %1: offered \"%2\", verdict \"%3\"; log:")
                     .arg(i == 0 ? QStringLiteral("the road") : QStringLiteral("repair %1").arg(i),
                         start.offered, start.verdict)
              << start.log.mid(ConsoleLines::banner().size()) << QStringLiteral("   trace:")
              << start.trace;
    }
    lines << QStringLiteral("-- the device now: %1").arg(compact(sim->read()));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

// The offscreen platform says this of every box and dialog shown; hundreds
// of roads would bury any other warning under it.
QtMessageHandler defaultHandler = nullptr;

void dropSizeHintWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!text.contains(QLatin1String("does not support propagateSizeHints")))
        defaultHandler(type, context, text);
}

class tst_Campaign : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roads_data();
    void roads();
};

void tst_Campaign::initTestCase()
{
    defaultHandler = qInstallMessageHandler(dropSizeHintWarnings);
    // The simulator writes its device file through to the disk at every
    // change. Where the machine has a file system in memory the roads keep
    // their devices there, so that other work on the disk does not hold
    // hundreds of them up.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    // A stalled call is late within a fraction of a second. The devices'
    // calls are instant: none other comes near it.
    FlowControl::setMinute(std::chrono::milliseconds(50));
}

// The roads in rows of a few dozen: each row is a test function's run of its
// own, well within the time Qt Test gives one, on a slow machine too.
void tst_Campaign::roads_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    const int first = environmentNumber("QD740N_CAMPAIGN_FIRST", 0);
    const int count = environmentNumber("QD740N_CAMPAIGN_ROADS", kDefaultRoads);
    for (int from = first; from < first + count; from += kRoadsPerRow) {
        const int rowCount = qMin(kRoadsPerRow, first + count - from);
        QTest::addRow("roads %d to %d", from, from + rowCount - 1) << from << rowCount;
    }
}

void tst_Campaign::roads()
{
    QFETCH(int, first);
    QFETCH(int, count);
    const quint32 seed = quint32(environmentNumber("QD740N_CAMPAIGN_SEED", int(kDefaultSeed)));
    qInfo("seed %u, roads %d to %d", seed, first, first + count - 1);
    QMap<QString, int> outcomes;
    for (int number = first; number < first + count; ++number) {
        Road road(seed, number);
        const QStringList problems = road.run();
        if (!problems.isEmpty())
            QFAIL(qPrintable(problems.join(QLatin1Char('\n'))));
        ++outcomes[road.outcome()];
    }
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        qInfo("%4d roads: %s", it.value(), qPrintable(it.key()));
}

QTEST_MAIN(tst_Campaign)
#include "tst_campaign.moc"
