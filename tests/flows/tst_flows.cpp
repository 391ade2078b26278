// The three operator flows end to end: a real main window on the simulated
// device, driven through its buttons, with the downgrade box answered as an
// operator would. Each test reads back the log paragraph by paragraph (text
// and colour) and what the device recorded in its file and trace.
#include "consoledriver.h"
#include "consolelines.h"
#include "simdevicefile.h"
#include "updater.h"

#include <QApplication>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

namespace {

const int bannerLines = ConsoleLines::banner().size();
constexpr int defaultSerial = 740001;
constexpr int enter = -1; // the downgrade box answered with the Enter key

const QStringList updatable { "Firmware requires update.", "Press Update to continue." };
const QStringList confirmed { "Firmware can now be updated.", "Press Update to continue." };

const QString newerText = "Your QD740N appears to have a newer firmware version.\n"
                          "Installing this will overwrite your firmware with an older version.\n"
                          "Are you sure you wish to continue?";

QStringList found(int boot, int run, int fpga, int serial = defaultSerial)
{
    return { QString::asprintf(
        "Found Serial %d, with firmware %d.%d.%d", serial, boot, run, fpga) };
}

QStringList restorable(int serial = defaultSerial)
{
    return { "Attempting to bootstrap QD740N firmware.",
        QString::asprintf("Found serial %d", serial), "Firmware can now be restored.",
        "Press Restore to continue." };
}

QJsonObject device(int boot, int run, int fpga, const QJsonObject &changes = {})
{
    return SimDeviceFile::device(boot, run, fpga, changes);
}

QJsonObject failing(const char *call)
{
    return { { "fail", QJsonObject { { call, 1 } } } };
}

QStringList afterBanner(const ConsoleDriver &console)
{
    return console.lines().mid(bannerLines);
}

} // namespace

class tst_Flows : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void checkFlow_data();
    void checkFlow();
    void writeFlow_data();
    void writeFlow();
    void secondRunAfterUpdate();
    void unplugDuringFpgaWrite();
};

void tst_Flows::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_Flows::checkFlow_data()
{
    QTest::addColumn<QJsonObject>("device");
    // The operator's answer to the downgrade box; 0: no box; enter: the Enter
    // key, as a stray key press answers.
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("lines"); // after the heading
    QTest::addColumn<QString>("offered");

    const int yes = QMessageBox::Yes;
    const int no = QMessageBox::No;
    QTest::newRow("4.5.6 current")
        << device(4, 5, 6) << 0
        << found(4, 5, 6) + QStringList { "Firmware does not require update." } << "";
    QTest::newRow("4.4.7 newer FPGA, yes")
        << device(4, 4, 7) << yes << found(4, 4, 7) + confirmed << "update";
    QTest::newRow("4.4.7 newer FPGA, no")
        << device(4, 4, 7) << no << found(4, 4, 7) + QStringList { "Cancelling operation." } << "";
    QTest::newRow("4.4.7 newer FPGA, Enter")
        << device(4, 4, 7) << enter << found(4, 4, 7) + QStringList { "Cancelling operation." }
        << "";
    QTest::newRow("0.0.0 older") << device(0, 0, 0) << 0 << found(0, 0, 0) + updatable << "update";
    QTest::newRow("3.9.0 newer run, yes")
        << device(3, 9, 0) << yes << found(3, 9, 0) + confirmed << "update";
    QTest::newRow("4.5.5 older FPGA")
        << device(4, 5, 5) << 0 << found(4, 5, 5) + updatable << "update";
    QTest::newRow("5.5.6 newer boot, yes")
        << device(5, 5, 6) << yes << found(5, 5, 6) + confirmed << "update";
    QTest::newRow("5.5.6 newer boot, no")
        << device(5, 5, 6) << no << found(5, 5, 6) + QStringList { "Cancelling operation." } << "";
    const QJsonObject held = device(4, 4, 6, { { "bootLoader", true }, { "serial", 740123 } });
    QTest::newRow("boot loader") << held << 0
                                 << ConsoleLines::noDeviceProbe.mid(0, 2) + restorable(740123)
                                 << "restore";
    QTest::newRow("bootstrapped") << device(-1, 5, 6, { { "serial", 740456 } }) << 0
                                  << ConsoleLines::noDeviceProbe + restorable(740456) << "restore";
    QTest::newRow("not detected") << device(4, 5, 6, { { "attached", false } }) << 0
                                  << ConsoleLines::noDeviceProbe + ConsoleLines::notDetected << "";
    QTest::newRow("serial unreadable")
        << device(4, 4, 6, failing("qdGetDeviceInfo")) << 0
        << QStringList { "Failed to retrieve serial number." } + ConsoleLines::notDetected << "";
}

void tst_Flows::checkFlow()
{
    QFETCH(QJsonObject, device);
    QFETCH(int, answer);
    QFETCH(QStringList, lines);
    QFETCH(QString, offered);

    SimDeviceFile sim(device);
    ConsoleDriver console;
    QVERIFY(console.exposed);
    QCOMPARE(console.lines(), ConsoleLines::banner());

    if (answer == enter)
        console.box.answerWithEnter();
    else if (answer)
        console.box.setAnswer(QMessageBox::StandardButton(answer));
    QVERIFY(console.press(console.checkButton()));

    QCOMPARE(afterBanner(console), ConsoleLines::heading("check") + lines);
    QCOMPARE(console.box.answered(), answer ? 1 : 0);
    if (answer) {
        QCOMPARE(console.box.title(), "Warning");
        QCOMPARE(console.box.text(), newerText);
        QCOMPARE(console.box.buttons(), QMessageBox::Yes | QMessageBox::No);
    }
    QVERIFY(!console.checkButton()->isEnabled());
    QCOMPARE(console.offered(), offered);
    // The button offered is the next step: it has the focus.
    if (!offered.isEmpty())
        QCOMPARE(
            console.window.focusWidget(), console.window.findChild<QWidget *>(offered + "Button"));
    QVERIFY(console.updater()->isEnabled());

    // A check only looks: nothing on the device is cleared or written.
    QCOMPARE(sim.firmware(), SimDeviceFile::firmwareOf(device));
    QCOMPARE(sim.read().value("serial"), device.value("serial"));
    for (const QString &call : sim.traceNames())
        QVERIFY2(!call.contains("Clear") && !call.contains("Write"), qPrintable(call));
}

void tst_Flows::writeFlow_data()
{
    QTest::addColumn<QString>("flow"); // the one the check offers: "update" or "restore"
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QStringList>("lines"); // the worker's, then the verdict
    QTest::addColumn<bool>("triesBootstrap"); // no boot loader answers the restore
    QTest::addColumn<QStringList>("untouched"); // calls the flow must not make

    const QString skipBoot = "Skipping boot Fx3, already current version.";
    const QString skipRun = "Skipping run Fx3, already current version.";
    const QString skipFpga = "Skipping FPGA, already current version.";
    const QString boot = "Updating boot Fx3, estimated 10 seconds.";
    const QString run = "Updating run Fx3, estimated 10 seconds.";
    const QString fpga = "Updating FPGA, estimated 6 minutes.";
    const QStringList bootCalls { "qdBootClearBootSector", "qdBootWriteBootSector" };
    const QStringList runCalls { "qdBootClearRunSector", "qdBootWriteRunSector" };
    const QStringList fpgaCalls { "qdBootClearFPGAProgram", "qdBootWriteFPGAProgram" };
    const QStringList restored = ConsoleLines::restoreStages + ConsoleLines::success;
    const QJsonObject serial { { "serial", 740123 } };

    QTest::newRow("update 4.4.6: run sector only")
        << "update" << device(4, 4, 6)
        << QStringList { skipBoot, run, skipFpga } + ConsoleLines::success << false
        << bootCalls + fpgaCalls;
    QTest::newRow("update 0.0.0: everything")
        << "update" << device(0, 0, 0) << QStringList { boot, run, fpga } + ConsoleLines::success
        << false << QStringList();
    QTest::newRow("update 5.5.6: downgrade of the boot sector")
        << "update" << device(5, 5, 6)
        << QStringList { boot, skipRun, skipFpga } + ConsoleLines::success << false
        << runCalls + fpgaCalls;
    QTest::newRow("update 4.4.7: downgrade of the FPGA")
        << "update" << device(4, 4, 7)
        << QStringList { skipBoot, run, fpga } + ConsoleLines::success << false << bootCalls;
    // The probe's close leaves a held device in its boot loader, so the
    // restore offered for it finds it there.
    QTest::newRow("restore: held in its boot loader, complete firmware")
        << "restore" << device(4, 4, 6, { { "bootLoader", true }, { "serial", 740123 } })
        << restored << false << QStringList();
    QTest::newRow("restore: boot loader, run sector erased")
        << "restore" << device(3, -1, 3, serial) << restored << false << QStringList();
    QTest::newRow("restore: boot loader, FPGA erased")
        << "restore" << device(4, 5, -1, serial) << restored << false << QStringList();
    // The check bootstrapped these: they wait in the boot loader they run
    // from RAM, which the restore opens.
    QTest::newRow("restore: bootstrapped, boot sector erased")
        << "restore" << device(-1, 5, 6, serial) << restored << false << QStringList();
    QTest::newRow("restore: bootstrapped, all erased")
        << "restore" << device(-1, -1, -1, serial) << restored << false << QStringList();
}

// The flow the check offers, pressed, ends in success: the lines, the device
// at 4.5.6 with its own serial, only the calls the flow needs, and a console
// locked for good. (Each failure, strictly: tst_faults.)
void tst_Flows::writeFlow()
{
    QFETCH(QString, flow);
    QFETCH(QJsonObject, device);
    QFETCH(QStringList, lines);
    QFETCH(bool, triesBootstrap);
    QFETCH(QStringList, untouched);

    SimDeviceFile sim(device);
    ConsoleDriver console;
    QVERIFY(console.exposed);
    // A newer device is confirmed; any other must not ask.
    const bool newer = device.value("boot").toInt() > 4 || device.value("run").toInt() > 5
        || device.value("fpga").toInt() > 6;
    console.box.setAnswer(QMessageBox::Yes);
    QVERIFY(console.press(console.checkButton()));
    QCOMPARE(console.box.answered(), newer ? 1 : 0);
    QCOMPARE(console.offered(), flow);

    const int before = console.lines().size();
    sim.clearTrace();
    QVERIFY(console.pressOffered());

    QCOMPARE(console.lines().mid(before), ConsoleLines::heading(flow) + lines);
    const QStringList lockProblems = console.lockProblems();
    QVERIFY2(lockProblems.isEmpty(), qPrintable(lockProblems.join("; ")));

    const QJsonObject after = sim.read();
    QCOMPARE(SimDeviceFile::firmwareOf(after), "4.5.6");
    QCOMPARE(after.value("serial"), device.value("serial"));
    const QStringList calls = sim.traceNames();
    const bool restore = flow == "restore";
    QCOMPARE(calls.value(0), restore ? "qdBootOpenDevice" : "qdBootOpenDeviceBySerial");
    QCOMPARE(calls.contains("qdOpenBootstrapDevice"), triesBootstrap);
    for (const QString &call : untouched)
        QVERIFY2(!calls.contains(call), qPrintable(call + " was called"));
    // A restore lets the device go: closed, it runs its new firmware. An
    // update leaves its boot-loader handle open.
    QCOMPARE(calls.constLast() == "qdBootCloseDevice", restore);
    QCOMPARE(after.value("bootLoader").toBool(), false);
}

void tst_Flows::secondRunAfterUpdate()
{
    SimDeviceFile sim(device(0, 4, 5));
    {
        ConsoleDriver first;
        QVERIFY(first.exposed);
        QVERIFY(first.press(first.checkButton()));
        QVERIFY(first.press(first.updateButton()));
        QCOMPARE(first.lines().mid(first.lines().size() - ConsoleLines::success.size()),
            ConsoleLines::success);
    }
    QCOMPARE(sim.firmware(), "4.5.6");

    sim.startNewRun();
    ConsoleDriver second;
    QVERIFY(second.exposed);
    QVERIFY(second.press(second.checkButton()));
    QCOMPARE(afterBanner(second),
        ConsoleLines::heading("check") + found(4, 5, 6)
            + QStringList { "Firmware does not require update." });
    QCOMPARE(second.offered(), QString());
    QCOMPARE(second.box.answered(), 0);
}

void tst_Flows::unplugDuringFpgaWrite()
{
    SimDeviceFile sim(device(4, 4, 5, { { "unplugDuring", "qdBootWriteFPGAProgram" } }));
    {
        ConsoleDriver first;
        QVERIFY(first.exposed);
        QVERIFY(first.press(first.checkButton()));
        const int before = first.lines().size();
        QVERIFY(first.press(first.updateButton()));
        const QStringList worker { "Skipping boot Fx3, already current version.",
            "Updating run Fx3, estimated 10 seconds.", "Updating FPGA, estimated 6 minutes.",
            "Failed Writing" };
        QCOMPARE(first.lines().mid(before),
            ConsoleLines::heading("update") + worker + ConsoleLines::failure);
        QVERIFY(first.lockProblems().isEmpty());
    }
    const QJsonObject unplugged = sim.read();
    QCOMPARE(unplugged.value("attached").toBool(true), false);
    QCOMPARE(SimDeviceFile::firmwareOf(unplugged), "4.5.-");

    // Replugged, the device has no FPGA program to run and waits in its boot loader.
    sim.update({ { "attached", true } });
    sim.startNewRun();
    {
        ConsoleDriver second;
        QVERIFY(second.exposed);
        QVERIFY(second.press(second.checkButton()));
        QCOMPARE(afterBanner(second),
            ConsoleLines::heading("check") + ConsoleLines::noDeviceProbe.mid(0, 2) + restorable());
        QCOMPARE(second.offered(), "restore");
        QCOMPARE(second.box.answered(), 0);
        const int before = second.lines().size();
        QVERIFY(second.press(second.restoreButton()));
        QCOMPARE(second.lines().mid(before),
            ConsoleLines::heading("restore") + ConsoleLines::restoreStages + ConsoleLines::success);
    }
    const QJsonObject restored = sim.read();
    QCOMPARE(SimDeviceFile::firmwareOf(restored), "4.5.6");
    QCOMPARE(restored.value("serial").toInt(), defaultSerial);

    // The restored device runs its firmware again at the next start.
    sim.startNewRun();
    ConsoleDriver third;
    QVERIFY(third.exposed);
    QVERIFY(third.press(third.checkButton()));
    QCOMPARE(afterBanner(third),
        ConsoleLines::heading("check") + found(4, 5, 6)
            + QStringList { "Firmware does not require update." });
}

QTEST_MAIN(tst_Flows)
#include "tst_flows.moc"
