// The busy dialog and the blocking run of a flow, as every platform has them:
// the dialog's looks, that the operator cannot dismiss it, and that while a
// flow runs the window stays open, no second flow starts, the wait sleeps
// between events and the worker's lines reach the log before the flow's own
// conclusion.
#include "consoledriver.h"
#include "consolelines.h"
#include "devicecalls.h"
#include "flowcontrol.h"
#include "mqprogressdialog.h"
#include "simdevicefile.h"
#include "updater.h"

#include <QAbstractEventDispatcher>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

namespace {

QList<MQProgressDialog *> progressDialogs()
{
    QList<MQProgressDialog *> dialogs;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<MQProgressDialog *>(widget))
            dialogs << dialog;
    }
    return dialogs;
}

MQProgressDialog *visibleProgressDialog()
{
    for (MQProgressDialog *dialog : progressDialogs()) {
        if (dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// Counts the log changes made after the busy dialog has come and gone: the
// flow must write all its lines while the dialog still stands.
class LinesAfterDialog
{
public:
    explicit LinesAfterDialog(const QTextEdit *log)
    {
        connection = QObject::connect(
            log->document(), &QTextDocument::contentsChanged, log->document(), [this] {
                if (visibleProgressDialog())
                    dialogSeen = true;
                else if (dialogSeen)
                    ++count;
            });
    }
    ~LinesAfterDialog() { QObject::disconnect(connection); }

    bool dialogSeen = false;
    int count = 0;

private:
    QMetaObject::Connection connection;
};

QList<QWidget *> visibleTopLevels()
{
    QList<QWidget *> visible;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            visible << widget;
    }
    return visible;
}

const QString refusalText
    = QStringLiteral("The QD740N is being worked on. Closing the firmware updater now could leave "
                     "it unusable.\nWait until the current step has finished.");

QList<QMessageBox *> visibleBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            boxes << box;
    }
    return boxes;
}

// Tries what an operator could do against the shown busy dialog: Escape, its
// close button, closing the main window (twice: the refusal is explained
// once, and the console's answerer presses its Ok). Returns each attempt that
// got through.
QStringList tryToDismiss(ConsoleDriver &console)
{
    MQProgressDialog *dialog = visibleProgressDialog();
    if (!dialog)
        return { QStringLiteral("no busy dialog shown") };
    QStringList problems;
    if (QApplication::activeModalWidget() != dialog)
        problems << QStringLiteral("the busy dialog is not the modal window");
    QTest::keyClick(dialog, Qt::Key_Escape);
    if (!dialog->isVisible())
        problems << QStringLiteral("Escape hid the busy dialog");
    if (dialog->close() || !dialog->isVisible())
        problems << QStringLiteral("the busy dialog closed");
    MainWindow &window = console.window;
    const int answered = console.box.answered();
    if (window.close() || window.close() || !window.isVisible())
        problems << QStringLiteral("the main window closed");
    const qsizetype shown = visibleBoxes().size();
    if (shown != 1) {
        problems << QStringLiteral("%1 refusal boxes shown").arg(shown);
        return problems;
    }
    if (!QTest::qWaitFor([&] { return visibleBoxes().isEmpty(); })) {
        problems << QStringLiteral("the refusal box stayed after Ok");
        return problems;
    }
    const MessageBoxAnswerer &box = console.box;
    if (box.answered() != answered + 1 || box.title() != QLatin1String("Warning")
        || box.text() != refusalText || box.icon() != QMessageBox::Warning
        || box.buttons() != QMessageBox::Ok)
        problems << QStringLiteral("refusal box: ") + box.title() + ' ' + box.text();
    return problems;
}

// Calls the three flow slots as the buttons would; returns the calls that
// could not be made.
QStringList tryToStartFlows(Updater *updater)
{
    QStringList problems;
    for (const char *slot : { "checkVersions", "updateDevice", "restoreDevice" }) {
        if (!QMetaObject::invokeMethod(updater, slot))
            problems << QStringLiteral("cannot call %1").arg(QLatin1String(slot));
    }
    return problems;
}

// A device without run firmware waits in its boot loader: the check is
// instant and offers Restore.
QJsonObject restorableDevice()
{
    return SimDeviceFile::device(4, -1, 6);
}

} // namespace

class TestBusyDialog : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void dialogLooks_data();
    void dialogLooks();
    void dialogCannotBeDismissed();
    void busyDuringCheck();
    void noSecondFlowDuringRestore();
    void workerLinesBeforeConclusion_data();
    void workerLinesBeforeConclusion();
    void refusalGoesWithTheFlow_data();
    void refusalGoesWithTheFlow();
    void lateCall_data();
    void lateCall();
};

void TestBusyDialog::cleanup()
{
    QVERIFY(progressDialogs().isEmpty());
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), widget->metaObject()->className());
}

void TestBusyDialog::dialogLooks_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("one line") << "Please Wait";
    QTest::newRow("check") << "Checking QD740N firmware version\nEstimated 30 seconds\nPlease Wait";
    QTest::newRow("update") << "Updating Device\nDO NOT UNPLUG THE DEVICE\n"
                               "This process can take several minutes\nPlease Wait...";
}

void TestBusyDialog::dialogLooks()
{
    QFETCH(QString, text);

    MQProgressDialog dialog(text);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Please Wait"));
    QCOMPARE(dialog.labelText(), text);
    QVERIFY(dialog.findChildren<QPushButton *>().isEmpty());
    QCOMPARE(dialog.minimum(), 0);
    QCOMPARE(dialog.maximum(), 0);
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.parentWidget(), nullptr);
    // A title bar without close, minimise or maximise button.
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(!(flags
        & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
            | Qt::WindowSystemMenuHint)));
    // Measured as one line, line feeds and all.
    const QFontMetrics metrics(dialog.font());
    QCOMPARE(dialog.width(), metrics.horizontalAdvance(text) + 100);
    QCOMPARE(dialog.height(), metrics.height());

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.width() >= dialog.sizeHint().width());
    const QProgressBar *bar = dialog.findChild<QProgressBar *>();
    QVERIFY(bar);
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 0);
    const QLabel *label = dialog.findChild<QLabel *>();
    QVERIFY(label);
    QCOMPARE(label->text(), text);
}

void TestBusyDialog::dialogCannotBeDismissed()
{
    MQProgressDialog dialog(QStringLiteral("Checking QD740N firmware version\nPlease Wait"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.close());
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.wasCanceled());
    // Minimised all the same, it comes back.
    dialog.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!dialog.isMinimized());
    QVERIFY(dialog.isVisible());
}

void TestBusyDialog::busyDuringCheck()
{
    // A device with no firmware at all is found only by bootstrapping it; the
    // bootstrap does not answer until the timer below has done its part, so
    // that the flow is still waiting for it afterwards.
    SimDeviceFile sim(SimDeviceFile::device(-1, -1, -1, { { "stall", "qdOpenBootstrapDevice" } }));
    ConsoleDriver console;
    QVERIFY(console.exposed);
    Updater *updater = console.updater();
    const QTextEdit *log = console.logView();
    QPushButton *check = console.checkButton();

    // The wait must sleep until an event comes rather than spin: count the
    // times the GUI thread's event loop goes to sleep while the worker runs.
    bool inTimer = false;
    int sleepsWhileRunning = 0;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    const QMetaObject::Connection counting
        = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [&] {
              if (updater->isFlowRunning() && !inTimer)
                  ++sleepsWhileRunning;
          });

    LinesAfterDialog linesAfterDialog(log);
    QStringList problems { QStringLiteral("the timer never fired") };
    QTimer::singleShot(0, this, [&] {
        inTimer = true;
        problems = tryToDismiss(console);
        for (QPushButton *button : { check, console.updateButton(), console.restoreButton() })
            QTest::mouseClick(button, Qt::LeftButton);
        problems << tryToStartFlows(updater);
        // The probe's lines come before the bootstrap, which still runs.
        if (!QTest::qWaitFor(
                [&] { return console.lines().contains(ConsoleLines::noDeviceProbe.last()); })
            || !updater->isFlowRunning() || !visibleProgressDialog())
            problems << QStringLiteral("no worker line while the worker ran");
        inTimer = false;
        // Nothing for the event loop to do until then: it must sleep.
        QTimer::singleShot(100, this, [&] { sim.update({ { "stall", "" } }); });
    });
    QVERIFY(console.press(check));
    disconnect(counting);

    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    QVERIFY(sleepsWhileRunning > 0);
    QVERIFY(linesAfterDialog.dialogSeen);
    QCOMPARE(linesAfterDialog.count, 0);
    QVERIFY(!updater->isFlowRunning());
    // One probe only, and nothing of an update or restore (the bootstrap is
    // traced when it stalls and when it returns).
    QCOMPARE(sim.traceNames(),
        (QStringList { "qdGetAPIVersion", "qdOpenDevice", "qdBootOpenDevice",
            "qdOpenBootstrapDevice", "qdOpenBootstrapDevice", "qdBootGetSerialFromFlash",
            "qdBootCloseDevice" }));
    QCOMPARE(console.lines().count(QStringLiteral("Checking Firmware Versions...")), 1);
    QVERIFY(progressDialogs().isEmpty());
    QCOMPARE(visibleTopLevels(), QList<QWidget *> { &console.window });
}

void TestBusyDialog::noSecondFlowDuringRestore()
{
    // A device without run firmware waits in its boot loader: the check is
    // instant and enables Restore; the restore then lasts about 1.5 seconds.
    SimDeviceFile sim(restorableDevice());
    ConsoleDriver console;
    QVERIFY(console.exposed);
    Updater *updater = console.updater();
    QPushButton *restore = console.restoreButton();

    QVERIFY(console.press(console.checkButton()));
    QVERIFY(restore->isEnabled());
    sim.update({ { "timeScale", 0.004 } });
    sim.clearTrace();

    LinesAfterDialog linesAfterDialog(console.logView());
    QStringList problems { QStringLiteral("the timer never fired") };
    QTimer::singleShot(0, this, [&] {
        problems = tryToDismiss(console);
        // Under the dialog no button looks ready, the pressed one included.
        for (const QPushButton *button :
            { console.checkButton(), console.updateButton(), restore }) {
            if (button->isEnabled())
                problems << button->objectName() + QStringLiteral(" is enabled during the run");
        }
        QTest::mouseClick(restore, Qt::LeftButton);
        problems << tryToStartFlows(updater);
    });
    QVERIFY(console.press(restore));

    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    QVERIFY(linesAfterDialog.dialogSeen);
    QCOMPARE(linesAfterDialog.count, 0);
    const QStringList names = sim.traceNames();
    QCOMPARE(names.count(QStringLiteral("qdBootOpenDevice")), 1);
    QCOMPARE(names.count(QStringLiteral("qdBootClearBootSector")), 1);
    QCOMPARE(names.count(QStringLiteral("qdBootWriteFPGAProgram")), 1);
    QVERIFY(!names.contains(QStringLiteral("qdOpenDevice")));
    QVERIFY(!names.contains(QStringLiteral("qdBootOpenDeviceBySerial")));
    const QStringList lines = console.lines();
    QCOMPARE(lines.count(QStringLiteral("Restoring Device")), 1);
    QCOMPARE(lines.count(QStringLiteral("Updating Firmware")), 0);
    QCOMPARE(lines.count(QStringLiteral("Checking Firmware Versions...")), 1);
    QVERIFY(progressDialogs().isEmpty());
    QCOMPARE(visibleTopLevels(), QList<QWidget *> { &console.window });
}

void TestBusyDialog::workerLinesBeforeConclusion_data()
{
    QTest::addColumn<QJsonObject>("changes"); // to the default device
    QTest::addColumn<QStringList>("workerLines");

    QTest::newRow("no device") << QJsonObject { { "attached", false } }
                               << ConsoleLines::noDeviceProbe;
    QTest::newRow("version query fails")
        << QJsonObject { { "fail", QJsonObject { { "qdGetFirmwareVersion", 1 } } } }
        << QStringList { "Failed to retrieve firmware versions." };
    QTest::newRow("boot serial fails")
        << QJsonObject { { "run", QJsonValue::Null },
               { "fail", QJsonObject { { "qdBootGetDeviceSerial", 1 } } } }
        << QStringList { "Failed to open QD740N.", "Looking for QD740N boot device...",
               "Failed to retrieve serial number." };
}

void TestBusyDialog::workerLinesBeforeConclusion()
{
    QFETCH(QJsonObject, changes);
    QFETCH(QStringList, workerLines);

    QJsonObject device = SimDeviceFile::defaultDevice();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        device.insert(it.key(), it.value());
    SimDeviceFile sim(device);

    const QStringList expected
        = ConsoleLines::heading("check") + workerLines + QStringList { "Failed to detect device." };
    // The worker's last line is emitted just before it ends; run it a few
    // times so a line overtaken by the conclusion would show.
    for (int run = 0; run < 10; ++run) {
        sim.write(device);
        sim.clearTrace();
        ConsoleDriver console;
        const qsizetype banner = console.lines().size();
        QVERIFY(console.press(console.checkButton()));
        QCOMPARE(console.lines().mid(banner, expected.size()), expected);
    }
}

void TestBusyDialog::refusalGoesWithTheFlow_data()
{
    QTest::addColumn<bool>("restore");

    QTest::newRow("check") << false;
    QTest::newRow("restore") << true;
}

// The box that explains why the window stays open is left unanswered: it goes
// by itself when the flow that kept the window open returns.
void TestBusyDialog::refusalGoesWithTheFlow()
{
    QFETCH(bool, restore);

    // Found only by bootstrapping, the check lasts about a second.
    SimDeviceFile sim(restore ? restorableDevice()
                              : SimDeviceFile::device(-1, -1, -1, { { "timeScale", 0.05 } }));
    ConsoleDriver console;
    QVERIFY(console.exposed);
    if (restore) {
        QVERIFY(console.press(console.checkButton()));
        sim.update({ { "timeScale", 0.004 } });
    }
    bool refused = false;
    QPointer<QMessageBox> refusal;
    console.box.beforeAnswer = [&](QMessageBox *box) {
        if (box->text() != refusalText)
            return true;
        refused = true;
        refusal = box;
        return false;
    };
    QTimer::singleShot(0, this, [&] { console.window.close(); });
    QVERIFY(console.press(restore ? console.restoreButton() : console.checkButton()));

    QVERIFY(refused);
    QVERIFY(refusal.isNull() || !refusal->isVisible());
    QVERIFY(console.window.isVisible());
    QCOMPARE(visibleTopLevels(), QList<QWidget *> { &console.window });
}

void TestBusyDialog::lateCall_data()
{
    QTest::addColumn<QJsonObject>("device"); // one of its calls does not return
    QTest::addColumn<int>("minutes"); // the call's deadline
    QTest::addColumn<QJsonObject>("end"); // what makes the call return
    QTest::addColumn<QStringList>("before"); // the flow's lines before the late ones
    QTest::addColumn<QStringList>("after"); // and after them

    const QJsonObject unplugged { { "attached", false } };
    const QJsonObject answering { { "stall", "" } };
    QTest::newRow("probe, unplugged")
        << SimDeviceFile::device(4, 4, 6, { { "stall", "qdOpenDevice" } }) << 2 << unplugged
        << ConsoleLines::heading("check")
        << ConsoleLines::noDeviceProbe + ConsoleLines::notDetected;
    QTest::newRow("boot sector, unplugged")
        << SimDeviceFile::device(3, 5, 6, { { "stall", "qdBootClearBootSector" } }) << 2
        << unplugged << ConsoleLines::heading("update") + ConsoleLines::updateStages.mid(0, 1)
        << QStringList { "Failed Clearing" } + ConsoleLines::failure;
    QTest::newRow("FPGA, answering again")
        << SimDeviceFile::device(4, 5, 5, { { "stall", "qdBootWriteFPGAProgram" } }) << 18
        << answering
        << ConsoleLines::heading("update")
            + QStringList { "Skipping boot Fx3, already current version.",
                  "Skipping run Fx3, already current version.",
                  "Updating FPGA, estimated 6 minutes." }
        << ConsoleLines::success;
}

// A call the device does not answer is late at its deadline: the console says
// so once, with what to do, and a close of the window then asks, No being the
// default. Nothing is cancelled: the call that returns, late, ends the flow as
// it would have ended anyway. (Yes, and a signal once late, end the program:
// the road late-device.)
void TestBusyDialog::lateCall()
{
    QFETCH(QJsonObject, device);
    QFETCH(int, minutes);
    QFETCH(QJsonObject, end);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);

    FlowControl::setMinute(std::chrono::milliseconds(20));
    const auto realMinute = qScopeGuard([] { FlowControl::setMinute(std::chrono::minutes(1)); });
    SimDeviceFile sim(device);
    ConsoleDriver console;
    QVERIFY(console.exposed);
    const bool probe = before == ConsoleLines::heading("check");
    if (!probe)
        QVERIFY(console.press(console.checkButton()));
    const int start = console.lines().size();
    const QStringList late { QString::asprintf(
                                 "The QD740N has not answered for %d minutes.", minutes),
        "If it stays silent, unplug it, restart the updater and press Check Versions: Restore can "
        "then rewrite its firmware." };

    QString question;
    bool noByDefault = false;
    console.box.answerWithEnter();
    console.box.beforeAnswer = [&](QMessageBox *box) {
        question = box->text();
        noByDefault = box->defaultButton() == box->button(QMessageBox::No);
        return true;
    };
    // The stalled call's own late lines are those that come after it started.
    // Under a heavy load another call may outlast this short minute too: its
    // late lines are not this test's, and are left out of the comparison.
    const QString stalled = device.value("stall").toString();
    int lateBeforeStall = -1;
    int lateAtReturn = -1; // once the stalled call has returned
    const QMetaObject::Connection watchingStarts = connect(
        DeviceCalls::instance(), &DeviceCalls::started, this, [&](const QString &function) {
            if (function == stalled)
                lateBeforeStall = int(console.lines().count(late.constFirst()));
        });
    const QMetaObject::Connection watchingReturns
        = connect(DeviceCalls::instance(), &DeviceCalls::returned, this, [&] {
              if (lateBeforeStall >= 0 && lateAtReturn < 0)
                  lateAtReturn = int(console.lines().count(late.constFirst()));
          });
    QTimer::singleShot(0, this, [&] {
        const auto stalledCallLate = [&] {
            return lateBeforeStall >= 0
                && console.lines().count(late.constFirst()) > lateBeforeStall;
        };
        if (QTest::qWaitFor(stalledCallLate, 60000)) {
            console.window.close();
            static_cast<void>(QTest::qWaitFor([&] { return console.box.answered() == 1; }));
        }
        sim.update(end); // whatever happened: the flow must end
    });
    QVERIFY(console.press(probe ? console.checkButton() : console.updateButton()));
    disconnect(watchingStarts);
    disconnect(watchingReturns);
    QCOMPARE(lateAtReturn - lateBeforeStall, 1); // once for the call

    QStringList lines = console.lines().mid(start);
    for (qsizetype at; (at = lines.indexOf(late.constFirst())) >= 0;) {
        QCOMPARE(lines.mid(at, 2), late);
        lines.remove(at, 2);
    }
    QCOMPARE(lines, before + after);
    QCOMPARE(console.box.answered(), 1);
    const QRegularExpressionMatch asked
        = QRegularExpression("^The QD740N has not answered for (\\d+) minutes.\n"
                             "Closing the updater now may leave it unusable; it can then be "
                             "restored.\nClose anyway\\?$")
              .match(question);
    QVERIFY2(asked.hasMatch(), qPrintable(question));
    QVERIFY(asked.captured(1).toInt() >= minutes);
    QVERIFY(noByDefault);
    QVERIFY(console.window.isVisible());
    QVERIFY(!console.updater()->isFlowRunning());
}

QTEST_MAIN(TestBusyDialog)
#include "tst_busydialog.moc"
