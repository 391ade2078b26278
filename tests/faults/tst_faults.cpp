// Every examined device call failing in turn, and every flash clear and write
// cut short by the device being unplugged, each driven through the real
// console. Whatever happened, the console says which stage failed, the
// device hears nothing more, and a replugged device is brought back to 4.5.6
// by a fresh start of the program.
#include "bringback.h"
#include "consoledriver.h"
#include "consolelines.h"
#include "qd_api.h"
#include "simdevicefile.h"

#include <QApplication>
#include <QTest>

namespace {

const int kSerial = 740123;
const char *const kRegions[3] = { "boot", "run", "fpga" };

// Run component older and FPGA newer than the target: the check asks before
// offering Update, and the update rewrites all three components.
QJsonObject downgradeDevice()
{
    return SimDeviceFile::device(3, 4, 7, { { "serial", kSerial } });
}

QJsonObject olderDevice()
{
    return SimDeviceFile::device(3, 4, 5, { { "serial", kSerial } });
}

// Without a run sector the device has nothing to run and waits in its boot
// loader. (One merely held there with complete firmware restarts into it when
// the probe closes the boot loader, so the restore would not find it.)
QJsonObject bootLoaderDevice()
{
    return SimDeviceFile::device(3, -1, 5, { { "serial", kSerial } });
}

// No boot sector: reachable only by bootstrapping it from the boot image.
QJsonObject bareDevice()
{
    return SimDeviceFile::device(-1, 4, 5, { { "serial", kSerial } });
}

struct Stage
{
    const char *clear;
    const char *write;
    const char *restoreClearFailed;
    const char *restoreWriteFailed;
};

const Stage kStages[3] = {
    { "qdBootClearBootSector", "qdBootWriteBootSector", "Failed clearing boot Fx3 device.",
        "Failed writing boot Fx3." },
    { "qdBootClearRunSector", "qdBootWriteRunSector", "Failed clearing run Fx3 device.",
        "Failed writing run Fx3." },
    { "qdBootClearFPGAProgram", "qdBootWriteFPGAProgram", "Failed clearing FPGA.",
        "Failed writing FPGA." },
};

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void faultMatrix_data();
    void faultMatrix();
};

void tst_Faults::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_Faults::faultMatrix_data()
{
    QTest::addColumn<QString>("flow");
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("unplug");
    QTest::addColumn<QStringList>("lines"); // the worker's lines
    QTest::addColumn<QStringList>("after"); // device calls still made after the failing one
    QTest::addColumn<int>("stage"); // region the failure hits; the ones after it stay as they were

    auto row = [](const QString &flow, const QJsonObject &dev, const QString &call, bool unplug,
                   const QStringList &lines, const QStringList &after, int stage) {
        const QString name = flow
            + (unplug ? QStringLiteral(": unplugged during ") : QStringLiteral(": failing "))
            + call;
        QTest::newRow(qPrintable(name)) << flow << dev << call << unplug << lines << after << stage;
    };
    const QString close = QStringLiteral("qdCloseDevice");
    const QString bootClose = QStringLiteral("qdBootCloseDevice");
    const QString bootstrap = QStringLiteral("qdOpenBootstrapDevice");

    // A failed normal open falls back to the boot loader, which a running
    // device does not answer, and to bootstrapping, which a device with a
    // boot sector does not allow.
    row("check", olderDevice(), "qdOpenDevice", false, ConsoleLines::noDeviceProbe,
        { "qdBootOpenDevice", bootstrap }, -1);
    row("check", olderDevice(), "qdGetFirmwareVersion", false,
        { "Failed to retrieve firmware versions." }, { close }, -1);
    row("check", olderDevice(), "qdGetDeviceInfo", false, { "Failed to retrieve serial number." },
        { close }, -1);
    row("check", bootLoaderDevice(), "qdBootOpenDevice", false, ConsoleLines::noDeviceProbe,
        { bootstrap }, -1);
    row("check", bootLoaderDevice(), "qdBootGetDeviceSerial", false,
        ConsoleLines::noDeviceProbe.mid(0, 2) + QStringList { "Failed to retrieve serial number." },
        { bootClose }, -1);
    row("check", bareDevice(), bootstrap, false, ConsoleLines::noDeviceProbe, {}, -1);
    row("check", bareDevice(), "qdBootGetSerialFromFlash", false, ConsoleLines::noDeviceProbe,
        { bootClose }, -1);

    for (bool unplug : { false, true }) {
        row("update", downgradeDevice(), "qdBootOpenDeviceBySerial", unplug,
            { "Cannot Find Device" }, {}, -1);
        row("restore", bootLoaderDevice(), "qdBootOpenDevice", unplug, { "Failed to open device." },
            { bootstrap }, -1);
        for (int stage = 0; stage < 3; ++stage) {
            const Stage &s = kStages[stage];
            const QStringList update = ConsoleLines::updateStages.mid(0, stage + 1);
            const QStringList restore = ConsoleLines::restoreStages.mid(0, stage + 1);
            row("update", downgradeDevice(), s.clear, unplug,
                update + QStringList { "Failed Clearing" }, {}, stage);
            row("update", downgradeDevice(), s.write, unplug,
                update + QStringList { "Failed Writing" }, {}, stage);
            row("restore", bootLoaderDevice(), s.clear, unplug,
                restore + QStringList { s.restoreClearFailed }, {}, stage);
            row("restore", bootLoaderDevice(), s.write, unplug,
                restore + QStringList { s.restoreWriteFailed }, {}, stage);
        }
    }
    // A device the probe had to bootstrap waits in the boot loader it runs
    // from RAM: the restore opens that, and reads the serial from flash as
    // the probe did.
    QTest::newRow("restore: failing qdBootGetSerialFromFlash on a bootstrapped device")
        << QStringLiteral("restore") << bareDevice() << QStringLiteral("qdBootGetSerialFromFlash")
        << false << QStringList { "Failed to retrieve serial number." } << QStringList() << -1;
}

void tst_Faults::faultMatrix()
{
    QFETCH(QString, flow);
    QFETCH(QJsonObject, device);
    QFETCH(QString, call);
    QFETCH(bool, unplug);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, after);
    QFETCH(int, stage);

    SimDeviceFile sim(device);
    const QJsonObject fault = unplug ? QJsonObject { { "unplugDuring", call } }
                                     : QJsonObject { { "fail", QJsonObject { { call, 7 } } } };
    const bool check = flow == QLatin1String("check");
    {
        ConsoleDriver console;
        QVERIFY(console.exposed);
        console.box.setAnswer(QMessageBox::Yes);
        if (check)
            sim.update(fault);
        int before = console.lines().size();
        QVERIFY(console.press(console.checkButton()));
        if (!check) {
            // The check itself went well; the fault strikes the flow after it.
            QCOMPARE(console.offered(), flow);
            QCOMPARE(console.box.answered(), device == downgradeDevice() ? 1 : 0);
            sim.update(fault);
            before = console.lines().size();
            QVERIFY(console.pressOffered());
        }

        // Only the failure verdict is coloured, and it is red.
        QCOMPARE(console.lines().mid(before),
            ConsoleLines::heading(flow) + lines
                + (check ? ConsoleLines::notDetected : ConsoleLines::failure));
        if (check)
            QCOMPARE(console.offered(), QString());
    }

    // The failing call is the last the device hears, apart from the closes
    // and fallback opens the program makes on purpose.
    const QStringList trace = sim.trace();
    const QStringList names = sim.traceNames();
    const int failed = names.lastIndexOf(call);
    QVERIFY2(failed >= 0, qPrintable(trace.join(QLatin1Char('\n'))));
    const int status = unplug ? int(qdInitNoDevice) : 7;
    QVERIFY2(trace.at(failed).endsWith(QStringLiteral(" -> %1").arg(status)),
        qPrintable(trace.at(failed)));
    QCOMPARE(names.mid(failed + 1), after);

    const QJsonObject now = sim.read();
    for (int region = stage + 1; region < 3; ++region)
        QCOMPARE(now.value(kRegions[region]), device.value(kRegions[region]));
    QCOMPARE(now.value("serial").toInt(), kSerial);
    if (unplug) {
        QCOMPARE(now.value("attached").toBool(true), false);
        QVERIFY(!now.contains("unplugDuring"));
        if (stage >= 0)
            QVERIFY(now.value(kRegions[stage]).isNull());
    }

    bringBack(sim, kSerial);
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
