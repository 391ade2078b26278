// The busy dialog and the blocking run of a worker: the dialog's looks, that
// the operator cannot dismiss it, and that while a flow runs the window stays
// open, no second flow starts, the wait sleeps between events and the worker's
// lines reach the log before the flow's own conclusion. And the workstation's
// guards around a flow: held close requests, the session held off, one copy.
#include "consoledriver.h"
#include "consolelines.h"
#include "mqprogressdialog.h"
#include "simdevicefile.h"
#include "singlecopyguard.h"
#include "terminationrequests.h"
#include "updater.h"

#include <QAbstractEventDispatcher>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/resource.h>

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

const QString heldLine
    = QStringLiteral("The updater will close when the current step has finished.");

// A device without run firmware waits in its boot loader: the check is
// instant and offers Restore.
QJsonObject restorableDevice()
{
    return SimDeviceFile::device(4, -1, 6);
}

const QString heldOff = QStringLiteral(
    "sleep:shutdown:handle-lid-switch:handle-suspend-key:handle-hibernate-key|QD740N firmware "
    "updater|");

// The inhibitor locks logind holds, each as "what|who|why|mode".
QStringList inhibitors()
{
    const QDBusMessage reply = QDBusConnection::systemBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("ListInhibitors")));
    if (reply.type() != QDBusMessage::ReplyMessage)
        return { reply.errorMessage() };
    QStringList locks;
    const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        locks << QStringList { what, who, why, mode }.join('|');
    }
    list.endArray();
    return locks;
}

// What the desktop portal holds off, each as "flags|reason".
QStringList inhibitions()
{
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("ListInhibitions")));
    if (reply.type() != QDBusMessage::ReplyMessage)
        return { reply.errorMessage() };
    return reply.arguments().value(0).toStringList();
}

bool registered(const QDBusConnection &bus, const char *service)
{
    return bus.interface()->isServiceRegistered(QLatin1String(service));
}

} // namespace

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void dialogLooks_data();
    void dialogLooks();
    void dialogCannotBeDismissed();
    void busyDuringCheck();
    void noSecondFlowDuringRestore();
    void workerLinesBeforeConclusion_data();
    void workerLinesBeforeConclusion();
    void closeRequests_data();
    void closeRequests();
    void refusalGoesWithTheFlow_data();
    void refusalGoesWithTheFlow();
    void sessionHeldWhileFlowRuns();
    void singleCopyGuard();

private:
    // Private buses standing in for the system and the session bus, with
    // logind and the desktop portal mocked on them.
    QProcess systemBus;
    QProcess logind;
    QProcess sessionBus;
    QProcess portal;
};

void TestDialog::initTestCase()
{
    // All end with this test, even when it crashes.
    for (QProcess *process : { &systemBus, &logind, &sessionBus, &portal })
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // Before anything in this process opens either bus.
    for (auto [bus, variable] : { std::pair { &systemBus, "DBUS_SYSTEM_BUS_ADDRESS" },
             std::pair { &sessionBus, "DBUS_SESSION_BUS_ADDRESS" } }) {
        bus->start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address") });
        QVERIFY2(bus->waitForReadyRead(10000), "dbus-daemon did not start (Debian package dbus)");
        qputenv(variable, bus->readLine().trimmed());
    }
    logind.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
            QStringLiteral("--template"), QStringLiteral("logind") });
    portal.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
            QFINDTESTDATA("portal_mock.py") });
    QVERIFY2(logind.waitForStarted() && portal.waitForStarted(), "python3-dbusmock is missing");
    QTRY_VERIFY_WITH_TIMEOUT(
        registered(QDBusConnection::systemBus(), "org.freedesktop.login1"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(
        registered(QDBusConnection::sessionBus(), "org.freedesktop.portal.Desktop"), 20000);
}

void TestDialog::cleanupTestCase()
{
    for (QProcess *process : { &logind, &portal, &systemBus, &sessionBus }) {
        process->terminate();
        process->waitForFinished();
    }
}

void TestDialog::cleanup()
{
    QVERIFY(progressDialogs().isEmpty());
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), widget->metaObject()->className());
}

void TestDialog::dialogLooks_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("one line") << "Please Wait";
    QTest::newRow("check") << "Checking QD740N firmware version\nEstimated 30 seconds\nPlease Wait";
    QTest::newRow("update") << "Updating Device\nDO NOT UNPLUG THE DEVICE\n"
                               "This process can take several minutes\nPlease Wait...";
}

void TestDialog::dialogLooks()
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

void TestDialog::dialogCannotBeDismissed()
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

void TestDialog::busyDuringCheck()
{
    // A device with no firmware at all is found only by bootstrapping it,
    // which lasts about a second at this scale.
    SimDeviceFile sim(SimDeviceFile::device(-1, -1, -1, { { "timeScale", 0.05 } }));
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
    });
    QVERIFY(console.press(check));
    disconnect(counting);

    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    QVERIFY(sleepsWhileRunning > 0);
    QVERIFY(linesAfterDialog.dialogSeen);
    QCOMPARE(linesAfterDialog.count, 0);
    QVERIFY(!updater->isFlowRunning());
    // One probe only, and nothing of an update or restore.
    QCOMPARE(sim.traceNames(),
        (QStringList { "qdGetAPIVersion", "qdOpenDevice", "qdBootOpenDevice",
            "qdOpenBootstrapDevice", "qdBootGetSerialFromFlash", "qdBootCloseDevice" }));
    QCOMPARE(console.lines().count(QStringLiteral("Checking Firmware Versions...")), 1);
    QVERIFY(progressDialogs().isEmpty());
    QCOMPARE(visibleTopLevels(), QList<QWidget *> { &console.window });
}

void TestDialog::noSecondFlowDuringRestore()
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
        // Restore itself is still enabled under the dialog.
        if (!restore->isEnabled())
            problems << QStringLiteral("Restore was disabled");
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

void TestDialog::workerLinesBeforeConclusion_data()
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

void TestDialog::workerLinesBeforeConclusion()
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
        QVERIFY(console.press(console.checkButton()));
        QCOMPARE(console.lines().mid(ConsoleLines::banner().size(), expected.size()), expected);
    }
}

void TestDialog::closeRequests_data()
{
    QTest::addColumn<int>("signal");
    // When it comes: "idle", "restore", or during the downgrade question,
    // which is then answered "Yes" or "No".
    QTest::addColumn<QString>("during");

    QTest::newRow("SIGTERM during a restore") << SIGTERM << "restore";
    QTest::newRow("SIGHUP during a restore") << SIGHUP << "restore";
    QTest::newRow("SIGINT during a restore") << SIGINT << "restore";
    QTest::newRow("SIGTERM when idle") << SIGTERM << "idle";
    QTest::newRow("SIGTERM during the question, Yes") << SIGTERM << "Yes";
    QTest::newRow("SIGINT during the question, No") << SIGINT << "No";
}

// A signal asks the window to close: at once when no flow runs, else once the
// flow has returned (after its verdict, or after the downgrade question has
// been answered), with a line saying so in between.
void TestDialog::closeRequests()
{
    QFETCH(int, signal);
    QFETCH(QString, during);

    const bool question = during == QLatin1String("Yes") || during == QLatin1String("No");
    SimDeviceFile sim(question ? SimDeviceFile::device(5, 5, 6) : restorableDevice());
    TerminationRequests::catchSignals();
    TerminationRequests requests;
    ConsoleDriver console;
    QVERIFY(console.exposed);
    MainWindow &window = console.window;
    connect(&requests, &TerminationRequests::closeRequested, &window, &MainWindow::requestClose);
    const Updater *updater = console.updater();
    bool heldWhileRunning = false;
    const auto raiseAndSeeItHeld = [&] {
        ::raise(signal);
        ::raise(signal);
        heldWhileRunning = QTest::qWaitFor([&] { return console.lines().contains(heldLine); })
            && updater->isFlowRunning() && window.isVisible();
    };

    if (question) {
        console.box.setAnswer(during == QLatin1String("Yes") ? QMessageBox::Yes : QMessageBox::No);
        console.box.beforeAnswer = [&](QMessageBox *) {
            raiseAndSeeItHeld();
            return true;
        };
        QVERIFY(console.press(console.checkButton()));
        QVERIFY(heldWhileRunning);
        QVERIFY(!window.isVisible());
        const QStringList lines = console.lines();
        QCOMPARE(lines.count(heldLine), 1);
        QCOMPARE(lines.constLast(),
            during == QLatin1String("Yes") ? QStringLiteral("Press Update to continue.")
                                           : QStringLiteral("Cancelling operation."));
        return;
    }

    QVERIFY(console.press(console.checkButton()));
    QCOMPARE(console.offered(), QStringLiteral("restore"));
    if (during == QLatin1String("idle")) {
        ::raise(signal);
        QTRY_VERIFY(!window.isVisible());
        QVERIFY(!console.lines().contains(heldLine));
        return;
    }

    sim.update({ { "timeScale", 0.004 } });
    QTimer::singleShot(0, this, raiseAndSeeItHeld);
    QVERIFY(console.press(console.restoreButton()));

    QVERIFY(heldWhileRunning);
    QVERIFY(!window.isVisible());
    const QStringList lines = console.lines();
    QCOMPARE(lines.count(heldLine), 1);
    QVERIFY(lines.indexOf(heldLine) > lines.indexOf(QStringLiteral("Restoring Device")));
    QCOMPARE(lines.mid(lines.size() - 2), ConsoleLines::success);
    QCOMPARE(sim.firmware(), QStringLiteral("4.5.6"));
}

void TestDialog::refusalGoesWithTheFlow_data()
{
    QTest::addColumn<bool>("restore");

    QTest::newRow("check") << false;
    QTest::newRow("restore") << true;
}

// The box that explains why the window stays open is left unanswered: it goes
// by itself when the flow that kept the window open returns.
void TestDialog::refusalGoesWithTheFlow()
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

// From a flow's first line until it returns, its question included, logind
// holds off sleep, shutdown, the lid and the keys and the desktop portal holds
// off logout and suspend (flags 1 and 4), each saying why; both let go when
// the flow returns. A logind slow to answer holds up neither the window nor
// the flow; a lock it grants while the flow runs is kept, and one it grants
// after the flow has returned is let go. Without either service the run is
// the same, line for line and call for call.
void TestDialog::sessionHeldWhileFlowRuns()
{
    {
        SimDeviceFile sim(SimDeviceFile::defaultDevice());
        ConsoleDriver console;
        ::kill(logind.processId(), SIGSTOP);
        QVERIFY(console.press(console.checkButton()));
        ::kill(logind.processId(), SIGCONT);
        QTRY_COMPARE(inhibitors(), QStringList());
        QTRY_COMPARE(inhibitions(), QStringList());
    }

    QStringList logWithServices;
    QStringList traceWithServices;
    for (const bool withServices : { true, false }) {
        if (!withServices) {
            for (QProcess *service : { &logind, &portal }) {
                service->terminate();
                QVERIFY(service->waitForFinished());
            }
            QTRY_VERIFY(!registered(QDBusConnection::systemBus(), "org.freedesktop.login1"));
            QTRY_VERIFY(
                !registered(QDBusConnection::sessionBus(), "org.freedesktop.portal.Desktop"));
        }
        SimDeviceFile sim(SimDeviceFile::device(5, 5, 6));
        ConsoleDriver console;
        QVERIFY(console.exposed);
        console.box.setAnswer(QMessageBox::Yes);
        QStringList duringQuestion;
        if (withServices) {
            ::kill(logind.processId(), SIGSTOP);
            console.box.beforeAnswer = [&](QMessageBox *) {
                ::kill(logind.processId(), SIGCONT);
                if (!QTest::qWaitFor([&] { return !inhibitors().isEmpty(); }))
                    return true;
                duringQuestion = inhibitors() + inhibitions();
                return true;
            };
        }
        QVERIFY(console.press(console.checkButton()));
        QCOMPARE(console.offered(), QStringLiteral("update"));
        if (withServices)
            QTRY_COMPARE(inhibitors() + inhibitions(), QStringList());
        sim.update({ { "timeScale", 0.002 } });
        const Updater *updater = console.updater();
        QStringList duringUpdate;
        QTimer::singleShot(0, this, [&] {
            if (updater->isFlowRunning())
                duringUpdate = inhibitors() + inhibitions();
        });
        QVERIFY(console.press(console.updateButton()));
        QCOMPARE(console.lines().mid(console.lines().size() - 2), ConsoleLines::success);

        if (withServices) {
            QCOMPARE(duringQuestion,
                (QStringList { heldOff + "Checking QD740N firmware version|block",
                    "5|Checking QD740N firmware version" }));
            QCOMPARE(duringUpdate,
                (QStringList { heldOff + "Updating Device|block", "5|Updating Device" }));
            QTRY_COMPARE(inhibitors(), QStringList());
            QTRY_COMPARE(inhibitions(), QStringList());
            logWithServices = console.lines();
            traceWithServices = sim.traceNames();
        } else {
            QCOMPARE(console.lines(), logWithServices);
            QCOMPARE(sim.traceNames(), traceWithServices);
        }
    }
}

// One copy per workstation: a second guard of the same name is refused while
// the first is held, whatever the temporary folder, and taken once the first
// has gone. A guard that cannot be set up says why, never that another copy
// holds it.
void TestDialog::singleCopyGuard()
{
    const QString name
        = QStringLiteral("qd740n-updater-test-%1").arg(QCoreApplication::applicationPid());
    {
        const SingleCopyGuard first(name);
        QCOMPARE(first.outcome(), SingleCopyGuard::Held);
        const QByteArray tmpdir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QDir::tempPath().toLocal8Bit() + "/another-user");
        const SingleCopyGuard second(name);
        qputenv("TMPDIR", tmpdir);
        QCOMPARE(second.outcome(), SingleCopyGuard::HeldByAnotherCopy);
    }
    QCOMPARE(SingleCopyGuard(name).outcome(), SingleCopyGuard::Held);

    // No file descriptor left to hold it with.
    rlimit limit = {};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlim_t allowed = limit.rlim_cur;
    limit.rlim_cur = 0;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    const SingleCopyGuard failed(name);
    limit.rlim_cur = allowed;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    QCOMPARE(failed.outcome(), SingleCopyGuard::Failed);
    QCOMPARE(failed.failure(), QString::fromLocal8Bit(std::strerror(EMFILE)));
}

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
