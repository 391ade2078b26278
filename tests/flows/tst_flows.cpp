// The three operator flows end to end: a real main window on the simulated
// device, driven through its buttons, with the downgrade box answered as an
// operator would. Each test reads back the log paragraph by paragraph (text
// and colour) and what the device recorded in its file and trace.
#include "mainwindow.h"
#include "simdevicefile.h"
#include "updater.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

namespace {

constexpr int bannerLines = 7;
constexpr int defaultSerial = 740001;

const QStringList checkHeading { QString(), "Checking Firmware Versions...", QString() };
const QStringList updateHeading { QString(), "Updating Firmware", QString() };
const QStringList restoreHeading { QString(), "Restoring Device", QString() };

const QStringList bootLoaderProbe { "Failed to open QD740N.", "Looking for QD740N boot device..." };
const QStringList bootstrapProbe = bootLoaderProbe
    + QStringList { "Failed to open QD740N boot device.", "Looking to bootstrap QD740N." };
const QStringList notDetected { "Failed to detect device.",
    "Cycle the power on the QD740N, restart the firmware updater,  and try again.",
    "If you continue to receive this message, contact Marquell." };
const QStringList updatable { "Firmware requires update.", "Press Update to continue." };
const QStringList confirmed { "Firmware can now be updated.", "Press Update to continue." };
const QStringList fullRestore { "Updating boot Fx3, estimated 10 seconds.",
    "Updating run Fx3 device, estimated 10 seconds.", "Updating FPGA, estimated 6 minutes." };

// Verdicts as paragraph() renders them: the colour's name before a coloured line.
const QStringList success { "<green>Firmware updated successfully.",
    "You may now close the software." };
const QStringList failure { "<red>Firmware updated unsuccessfully.",
    "Check device connections and re-run the software.", "If problem persists, contact Marquell.",
    "You may now close the software." };

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

QJsonValue region(int version)
{
    return version < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(version);
}

// A device file: firmware boot.run.fpga (-1 for an erased region) plus extra fields.
QJsonObject device(int boot, int run, int fpga, const QJsonObject &extra = {})
{
    QJsonObject d = SimDeviceFile::defaultDevice();
    d.insert("boot", region(boot));
    d.insert("run", region(run));
    d.insert("fpga", region(fpga));
    for (auto it = extra.begin(); it != extra.end(); ++it)
        d.insert(it.key(), it.value());
    return d;
}

QJsonObject failing(const char *call)
{
    return { { "fail", QJsonObject { { call, 1 } } } };
}

// The device file the simulator uses right now.
QJsonObject currentDevice()
{
    QFile file(qEnvironmentVariable("QD740N_SIM_DEVICE"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The firmware a device file holds, as "boot.run.fpga" with "-" for an erased region.
QString firmware(const QJsonObject &d)
{
    QStringList parts;
    for (const char *field : { "boot", "run", "fpga" }) {
        const QJsonValue v = d.value(field);
        parts << (v.isNull() ? QStringLiteral("-") : QString::number(v.toInt()));
    }
    return parts.join('.');
}

// Starts a new run of the program on the same device: a new process would not
// know the open handles or the boot loader this one entered, and the simulator
// forgets them when it is pointed at another file.
bool startNewRun(const QString &path)
{
    const QString from = qEnvironmentVariable("QD740N_SIM_DEVICE");
    QFile::remove(path);
    if (!QFile::copy(from, path))
        return false;
    qputenv("QD740N_SIM_DEVICE", QFile::encodeName(path));
    return true;
}

QString colourTag(const QTextCharFormat &format, const QColor &plain)
{
    const QBrush brush = format.foreground();
    if (!format.hasProperty(QTextFormat::ForegroundBrush) || brush.style() == Qt::NoBrush)
        return {};
    const QColor colour = brush.color();
    if (colour == QColor(34, 177, 76))
        return "<green>";
    if (colour == QColor(Qt::red))
        return "<red>";
    // After a coloured line the log goes back to the colour it reported
    // before, which for an untouched log is black.
    if (colour == plain || colour == QColor(Qt::black))
        return {};
    return '<' + colour.name() + '>';
}

// One paragraph of the log: its text, after the name of its colour when it is
// not the log's plain text colour.
QString paragraph(const QTextBlock &block, const QColor &plain)
{
    QString tag = colourTag(block.charFormat(), plain);
    bool first = true;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QString fragmentTag = colourTag(it.fragment().charFormat(), plain);
        if (first)
            tag = fragmentTag;
        else if (fragmentTag != tag)
            tag = "<mixed>";
        first = false;
    }
    return tag + block.text();
}

// Answers the downgrade box when it comes up, as an operator would: a
// single-shot timer looks for the modal box again until it is there. An
// unexpected box is answered No, so that it cannot hang a test.
class BoxAnswer
{
public:
    BoxAnswer()
    {
        timer.setSingleShot(true);
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] { look(); });
        timer.start();
    }

    void setAnswer(QMessageBox::StandardButton a) { answer = a; }

    bool shown = false;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;

private:
    void look()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            timer.start();
            return;
        }
        shown = true;
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        QAbstractButton *b = box->button(answer);
        if (!b && !box->buttons().isEmpty())
            b = box->buttons().constFirst();
        if (b)
            QTest::mouseClick(b, Qt::LeftButton);
        timer.start(); // a second box must not hang the test either
    }

    QMessageBox::StandardButton answer = QMessageBox::No;
    QTimer timer;
};

// The main window as an operator sees it.
class Console
{
public:
    Console() { window.show(); }

    QPushButton *button(const char *name) const { return window.findChild<QPushButton *>(name); }
    Updater *updater() const { return window.findChild<Updater *>(); }

    QStringList log() const
    {
        const QTextEdit *view = window.findChild<QTextEdit *>("logView");
        if (!view)
            return {};
        const QColor plain = view->palette().color(QPalette::Text);
        QStringList lines;
        for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
            lines << paragraph(b, plain);
        return lines;
    }
    QStringList afterBanner() const { return log().mid(bannerLines); }

    // Presses an enabled button and waits until its flow has left no dialog up.
    bool press(const char *name)
    {
        QPushButton *b = button(name);
        if (!b || !b->isEnabled() || !b->isVisible())
            return false;
        QTest::mouseClick(b, Qt::LeftButton);
        return QTest::qWaitFor([] { return !QApplication::activeModalWidget(); });
    }

    // Which of Update and Restore the operator may press: "", "update",
    // "restore", or both names when both are enabled.
    QString offered() const
    {
        QStringList names;
        if (button("updateButton")->isEnabled())
            names << "update";
        if (button("restoreButton")->isEnabled())
            names << "restore";
        return names.join('+');
    }

    MainWindow window;
    BoxAnswer box; // stops looking before the window goes
};

} // namespace

class tst_Flows : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void checkFlow_data();
    void checkFlow();
    void updateFlow_data();
    void updateFlow();
    void restoreFlow_data();
    void restoreFlow();
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
    QTest::addColumn<int>("answer"); // the operator's answer to the downgrade box; 0: no box
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
    QTest::newRow("boot loader") << held << 0 << bootLoaderProbe + restorable(740123) << "restore";
    QTest::newRow("bootstrapped") << device(-1, 5, 6, { { "serial", 740456 } }) << 0
                                  << bootstrapProbe + restorable(740456) << "restore";
    QTest::newRow("not detected") << device(4, 5, 6, { { "attached", false } }) << 0
                                  << bootstrapProbe + notDetected << "";
    QTest::newRow("serial unreadable")
        << device(4, 4, 6, failing("qdGetDeviceInfo")) << 0
        << QStringList { "Failed to retrieve serial number." } + notDetected << "";
}

void tst_Flows::checkFlow()
{
    QFETCH(QJsonObject, device);
    QFETCH(int, answer);
    QFETCH(QStringList, lines);
    QFETCH(QString, offered);

    SimDeviceFile sim(device);
    Console console;
    QVERIFY(QTest::qWaitForWindowExposed(&console.window));
    QCOMPARE(console.log().size(), bannerLines);
    QCOMPARE(
        console.log().at(5), "<red>Do NOT disconnect the QD740N at any time during the update.");

    if (answer)
        console.box.setAnswer(QMessageBox::StandardButton(answer));
    QVERIFY(console.press("checkButton"));

    QCOMPARE(console.afterBanner(), checkHeading + lines);
    QCOMPARE(console.box.shown, answer != 0);
    if (console.box.shown) {
        QCOMPARE(console.box.title, "Warning");
        QCOMPARE(console.box.text, newerText);
        QCOMPARE(console.box.buttons, QMessageBox::Yes | QMessageBox::No);
    }
    QVERIFY(!console.button("checkButton")->isEnabled());
    QCOMPARE(console.offered(), offered);
    QVERIFY(console.updater()->isEnabled());

    // A check only looks: nothing on the device is cleared or written.
    QCOMPARE(firmware(sim.read()), firmware(device));
    QCOMPARE(sim.read().value("serial"), device.value("serial"));
    for (const QString &call : sim.traceNames())
        QVERIFY2(!call.contains("Clear") && !call.contains("Write"), qPrintable(call));
}

void tst_Flows::updateFlow_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QStringList>("lines"); // the worker's, then the verdict
    QTest::addColumn<QString>("firmwareAfter");
    QTest::addColumn<QStringList>("untouched"); // calls the update must not make

    const QString skipBoot = "Skipping boot Fx3, already current version.";
    const QString skipRun = "Skipping run Fx3, already current version.";
    const QString skipFpga = "Skipping FPGA, already current version.";
    const QString boot = "Updating boot Fx3, estimated 10 seconds.";
    const QString run = "Updating run Fx3, estimated 10 seconds.";
    const QString fpga = "Updating FPGA, estimated 6 minutes.";
    const QStringList bootCalls { "qdBootClearBootSector", "qdBootWriteBootSector" };
    const QStringList runCalls { "qdBootClearRunSector", "qdBootWriteRunSector" };
    const QStringList fpgaCalls { "qdBootClearFPGAProgram", "qdBootWriteFPGAProgram" };

    QTest::newRow("4.4.6 run sector only")
        << device(4, 4, 6) << QStringList { skipBoot, run, skipFpga } + success << "4.5.6"
        << bootCalls + fpgaCalls;
    QTest::newRow("0.0.0 everything")
        << device(0, 0, 0) << QStringList { boot, run, fpga } + success << "4.5.6" << QStringList();
    QTest::newRow("5.5.6 downgrade of the boot sector")
        << device(5, 5, 6) << QStringList { boot, skipRun, skipFpga } + success << "4.5.6"
        << runCalls + fpgaCalls;
    QTest::newRow("4.4.7 downgrade of the FPGA")
        << device(4, 4, 7) << QStringList { skipBoot, run, fpga } + success << "4.5.6" << bootCalls;
    QTest::newRow("device gone") << device(4, 4, 6, failing("qdBootOpenDeviceBySerial"))
                                 << QStringList { "Cannot Find Device" } + failure << "4.4.6"
                                 << bootCalls + runCalls + fpgaCalls;
    QTest::newRow("boot clear fails")
        << device(3, 4, 5, failing("qdBootClearBootSector"))
        << QStringList { boot, "Failed Clearing" } + failure << "3.4.5"
        << QStringList { "qdBootWriteBootSector" } + runCalls + fpgaCalls;
    QTest::newRow("boot write fails")
        << device(3, 4, 5, failing("qdBootWriteBootSector"))
        << QStringList { boot, "Failed Writing" } + failure << "-.4.5" << runCalls + fpgaCalls;
    QTest::newRow("run clear fails")
        << device(4, 4, 5, failing("qdBootClearRunSector"))
        << QStringList { skipBoot, run, "Failed Clearing" } + failure << "4.4.5"
        << QStringList { "qdBootWriteRunSector" } + fpgaCalls;
    QTest::newRow("run write fails")
        << device(4, 4, 5, failing("qdBootWriteRunSector"))
        << QStringList { skipBoot, run, "Failed Writing" } + failure << "4.-.5" << fpgaCalls;
    QTest::newRow("FPGA clear fails")
        << device(4, 5, 5, failing("qdBootClearFPGAProgram"))
        << QStringList { skipBoot, skipRun, fpga, "Failed Clearing" } + failure << "4.5.5"
        << QStringList { "qdBootWriteFPGAProgram" };
    QTest::newRow("FPGA write fails")
        << device(4, 5, 5, failing("qdBootWriteFPGAProgram"))
        << QStringList { skipBoot, skipRun, fpga, "Failed Writing" } + failure << "4.5.-"
        << QStringList();
}

void tst_Flows::updateFlow()
{
    QFETCH(QJsonObject, device);
    QFETCH(QStringList, lines);
    QFETCH(QString, firmwareAfter);
    QFETCH(QStringList, untouched);

    SimDeviceFile sim(device);
    Console console;
    QVERIFY(QTest::qWaitForWindowExposed(&console.window));
    // A newer device is confirmed; any other must not ask.
    const bool newer = device.value("boot").toInt() > 4 || device.value("run").toInt() > 5
        || device.value("fpga").toInt() > 6;
    console.box.setAnswer(QMessageBox::Yes);
    QVERIFY(console.press("checkButton"));
    QCOMPARE(console.box.shown, newer);
    QCOMPARE(console.offered(), "update");

    const int before = console.log().size();
    sim.clearTrace();
    QVERIFY(console.press("updateButton"));

    QCOMPARE(console.log().mid(before), updateHeading + lines);
    // The console is locked for good: log and all three buttons.
    QVERIFY(!console.updater()->isEnabled());
    QVERIFY(!console.window.findChild<QTextEdit *>("logView")->isEnabled());
    QCOMPARE(console.offered(), QString());
    QVERIFY(!console.button("checkButton")->isEnabled());

    const QJsonObject after = sim.read();
    QCOMPARE(firmware(after), firmwareAfter);
    QCOMPARE(after.value("serial").toInt(), defaultSerial);
    const QStringList calls = sim.traceNames();
    QCOMPARE(calls.value(0), "qdBootOpenDeviceBySerial");
    for (const QString &call : untouched)
        QVERIFY2(!calls.contains(call), qPrintable(call + " was called"));
}

void tst_Flows::restoreFlow_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<bool>("unplugFirst"); // the device is pulled out after the check
    QTest::addColumn<QStringList>("lines"); // the worker's, then the verdict
    QTest::addColumn<QString>("firmwareAfter");
    QTest::addColumn<bool>("triesBootstrap"); // no boot loader answers the restore
    QTest::addColumn<QStringList>("untouched"); // calls the restore must not make

    const QString boot = fullRestore.at(0);
    const QString run = fullRestore.at(1);
    const QJsonObject serial { { "serial", 740123 } };
    // Without a run sector the device has nothing to run and waits in its boot loader.
    auto waiting = [&](const char *call) {
        QJsonObject extra = failing(call);
        extra.insert("serial", 740123);
        return device(3, -1, 3, extra);
    };
    const QStringList fpgaCalls { "qdBootClearFPGAProgram", "qdBootWriteFPGAProgram" };
    const QStringList none;

    // The probe's close leaves a held device in its boot loader, so the
    // restore offered for it finds it there.
    QTest::newRow("held in its boot loader, complete firmware")
        << device(4, 4, 6, { { "bootLoader", true }, { "serial", 740123 } }) << false
        << fullRestore + success << "4.5.6" << false << none;
    QTest::newRow("boot loader, run sector erased")
        << device(3, -1, 3, serial) << false << fullRestore + success << "4.5.6" << false << none;
    QTest::newRow("boot loader, FPGA erased")
        << device(4, 5, -1, serial) << false << fullRestore + success << "4.5.6" << false << none;
    QTest::newRow("bootstrap, boot sector erased")
        << device(-1, 5, 6, serial) << false << fullRestore + success << "4.5.6" << true << none;
    QTest::newRow("bootstrap, all erased")
        << device(-1, -1, -1, serial) << false << fullRestore + success << "4.5.6" << true << none;
    QTest::newRow("boot clear fails")
        << waiting("qdBootClearBootSector") << false
        << QStringList { boot, "Failed clearing boot Fx3 device." } + failure << "3.-.3" << false
        << QStringList { "qdBootWriteBootSector", "qdBootClearRunSector" } + fpgaCalls;
    QTest::newRow("boot write fails")
        << waiting("qdBootWriteBootSector") << false
        << QStringList { boot, "Failed writing boot Fx3." } + failure << "-.-.3" << false
        << QStringList { "qdBootClearRunSector" } + fpgaCalls;
    QTest::newRow("run clear fails")
        << waiting("qdBootClearRunSector") << false
        << QStringList { boot, run, "Failed clearing run Fx3 device." } + failure << "4.-.3"
        << false << QStringList { "qdBootWriteRunSector" } + fpgaCalls;
    QTest::newRow("run write fails")
        << waiting("qdBootWriteRunSector") << false
        << QStringList { boot, run, "Failed writing run Fx3." } + failure << "4.-.3" << false
        << fpgaCalls;
    QTest::newRow("FPGA clear fails")
        << waiting("qdBootClearFPGAProgram") << false
        << fullRestore + QStringList { "Failed clearing FPGA." } + failure << "4.5.3" << false
        << QStringList { "qdBootWriteFPGAProgram" };
    QTest::newRow("FPGA write fails")
        << waiting("qdBootWriteFPGAProgram") << false
        << fullRestore + QStringList { "Failed writing FPGA." } + failure << "4.5.-" << false
        << none;
    QTest::newRow("unplugged after the check")
        << device(3, -1, 3, serial) << true << QStringList { "Failed to open device." } + failure
        << "3.-.3" << true << QStringList { "qdBootClearBootSector", "qdBootWriteBootSector" };
}

void tst_Flows::restoreFlow()
{
    QFETCH(QJsonObject, device);
    QFETCH(bool, unplugFirst);
    QFETCH(QStringList, lines);
    QFETCH(QString, firmwareAfter);
    QFETCH(bool, triesBootstrap);
    QFETCH(QStringList, untouched);

    SimDeviceFile sim(device);
    Console console;
    QVERIFY(QTest::qWaitForWindowExposed(&console.window));
    QVERIFY(console.press("checkButton"));
    QCOMPARE(console.offered(), "restore");
    QVERIFY(!console.box.shown);
    QVERIFY(console.afterBanner().contains("Found serial 740123"));

    if (unplugFirst)
        sim.update({ { "attached", false } });
    const int before = console.log().size();
    sim.clearTrace();
    QVERIFY(console.press("restoreButton"));

    QCOMPARE(console.log().mid(before), restoreHeading + lines);
    QVERIFY(!console.updater()->isEnabled());
    QCOMPARE(console.offered(), QString());

    const QJsonObject after = sim.read();
    QCOMPARE(firmware(after), firmwareAfter);
    QCOMPARE(after.value("serial").toInt(), 740123);
    const QStringList calls = sim.traceNames();
    QCOMPARE(calls.value(0), "qdBootOpenDevice");
    QCOMPARE(calls.contains("qdOpenBootstrapDevice"), triesBootstrap);
    for (const QString &call : untouched)
        QVERIFY2(!calls.contains(call), qPrintable(call + " was called"));
    // Only a complete restore lets the device go: closed, it runs its new firmware.
    if (firmwareAfter == "4.5.6") {
        QCOMPARE(calls.constLast(), "qdBootCloseDevice");
        QCOMPARE(after.value("bootLoader").toBool(), false);
    } else {
        QVERIFY(!calls.contains("qdBootCloseDevice"));
    }
}

void tst_Flows::secondRunAfterUpdate()
{
    SimDeviceFile sim(device(0, 4, 5));
    {
        Console first;
        QVERIFY(QTest::qWaitForWindowExposed(&first.window));
        QVERIFY(first.press("checkButton"));
        QVERIFY(first.press("updateButton"));
        QCOMPARE(first.log().mid(first.log().size() - success.size()), success);
    }
    QCOMPARE(firmware(sim.read()), "4.5.6");

    QVERIFY(startNewRun(sim.dir() + "/device-second-run.json"));
    Console second;
    QVERIFY(QTest::qWaitForWindowExposed(&second.window));
    QVERIFY(second.press("checkButton"));
    QCOMPARE(second.afterBanner(),
        checkHeading + found(4, 5, 6) + QStringList { "Firmware does not require update." });
    QCOMPARE(second.offered(), QString());
    QVERIFY(!second.box.shown);
}

void tst_Flows::unplugDuringFpgaWrite()
{
    SimDeviceFile sim(device(4, 4, 5, { { "unplugDuring", "qdBootWriteFPGAProgram" } }));
    {
        Console first;
        QVERIFY(QTest::qWaitForWindowExposed(&first.window));
        QVERIFY(first.press("checkButton"));
        const int before = first.log().size();
        QVERIFY(first.press("updateButton"));
        const QStringList worker { "Skipping boot Fx3, already current version.",
            "Updating run Fx3, estimated 10 seconds.", "Updating FPGA, estimated 6 minutes.",
            "Failed Writing" };
        QCOMPARE(first.log().mid(before), updateHeading + worker + failure);
        QVERIFY(!first.updater()->isEnabled());
    }
    const QJsonObject unplugged = sim.read();
    QCOMPARE(unplugged.value("attached").toBool(true), false);
    QCOMPARE(firmware(unplugged), "4.5.-");

    // Replugged, the device has no FPGA program to run and waits in its boot loader.
    sim.update({ { "attached", true } });
    QVERIFY(startNewRun(sim.dir() + "/device-replugged.json"));
    {
        Console second;
        QVERIFY(QTest::qWaitForWindowExposed(&second.window));
        QVERIFY(second.press("checkButton"));
        QCOMPARE(second.afterBanner(), checkHeading + bootLoaderProbe + restorable());
        QCOMPARE(second.offered(), "restore");
        QVERIFY(!second.box.shown);
        const int before = second.log().size();
        QVERIFY(second.press("restoreButton"));
        QCOMPARE(second.log().mid(before), restoreHeading + fullRestore + success);
    }
    const QJsonObject restored = currentDevice();
    QCOMPARE(firmware(restored), "4.5.6");
    QCOMPARE(restored.value("serial").toInt(), defaultSerial);

    // The restored device runs its firmware again at the next start.
    QVERIFY(startNewRun(sim.dir() + "/device-restored.json"));
    Console third;
    QVERIFY(QTest::qWaitForWindowExposed(&third.window));
    QVERIFY(third.press("checkButton"));
    QCOMPARE(third.afterBanner(),
        checkHeading + found(4, 5, 6) + QStringList { "Firmware does not require update." });
}

QTEST_MAIN(tst_Flows)
#include "tst_flows.moc"
