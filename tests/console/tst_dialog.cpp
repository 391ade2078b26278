// The busy dialog and the blocking run of a worker: the dialog's looks, that
// the operator cannot dismiss it, and that while a worker runs the window
// stays open, no second flow starts, the wait sleeps between events and the
// worker's lines reach the log before the flow's own conclusion.
#include "mainwindow.h"
#include "mqprogressdialog.h"
#include "simdevicefile.h"
#include "updater.h"

#include <QAbstractEventDispatcher>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

namespace {

const QStringList probeLinesNoDevice = {
    QStringLiteral("Failed to open QD740N."),
    QStringLiteral("Looking for QD740N boot device..."),
    QStringLiteral("Failed to open QD740N boot device."),
    QStringLiteral("Looking to bootstrap QD740N."),
};

QStringList paragraphs(const QTextEdit *log)
{
    QStringList lines;
    for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines;
}

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

// Tries what an operator could do against the shown busy dialog: Escape, its
// close button, closing the main window. Returns each attempt that got through.
QStringList tryToDismiss(MainWindow &window)
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
    if (window.close() || !window.isVisible())
        problems << QStringLiteral("the main window closed");
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

} // namespace

class TestDialog : public QObject
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
};

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
}

void TestDialog::busyDuringCheck()
{
    // A device with no firmware at all is found only by bootstrapping it,
    // which lasts about a second at this scale.
    SimDeviceFile sim({ { "attached", true }, { "serial", 740321 }, { "boot", QJsonValue::Null },
        { "run", QJsonValue::Null }, { "fpga", QJsonValue::Null }, { "timeScale", 0.05 } });
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Updater *updater = qobject_cast<Updater *>(window.centralWidget());
    const auto *log = window.findChild<QTextEdit *>(QStringLiteral("logView"));
    auto *check = window.findChild<QPushButton *>(QStringLiteral("checkButton"));
    auto *update = window.findChild<QPushButton *>(QStringLiteral("updateButton"));
    auto *restore = window.findChild<QPushButton *>(QStringLiteral("restoreButton"));

    // The wait must sleep until an event comes rather than spin: count the
    // times the GUI thread's event loop goes to sleep while the worker runs.
    bool inTimer = false;
    int sleepsWhileRunning = 0;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    const QMetaObject::Connection counting
        = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [&] {
              if (updater->isWorkerRunning() && !inTimer)
                  ++sleepsWhileRunning;
          });

    LinesAfterDialog linesAfterDialog(log);
    QStringList problems { QStringLiteral("the timer never fired") };
    QTimer::singleShot(0, this, [&] {
        inTimer = true;
        problems = tryToDismiss(window);
        for (QPushButton *button : { check, update, restore })
            QTest::mouseClick(button, Qt::LeftButton);
        problems << tryToStartFlows(updater);
        // The probe's lines come before the bootstrap, which still runs.
        if (!QTest::qWaitFor([&] { return paragraphs(log).contains(probeLinesNoDevice.last()); })
            || !updater->isWorkerRunning() || !visibleProgressDialog())
            problems << QStringLiteral("no worker line while the worker ran");
        inTimer = false;
    });
    QTest::mouseClick(check, Qt::LeftButton);
    disconnect(counting);

    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    QVERIFY(sleepsWhileRunning > 0);
    QVERIFY(linesAfterDialog.dialogSeen);
    QCOMPARE(linesAfterDialog.count, 0);
    QVERIFY(!updater->isWorkerRunning());
    // One probe only, and nothing of an update or restore.
    QCOMPARE(sim.traceNames(),
        (QStringList { "qdGetAPIVersion", "qdOpenDevice", "qdBootOpenDevice",
            "qdOpenBootstrapDevice", "qdBootGetSerialFromFlash", "qdBootCloseDevice" }));
    QCOMPARE(paragraphs(log).count(QStringLiteral("Checking Firmware Versions...")), 1);
    QVERIFY(progressDialogs().isEmpty());
    QCOMPARE(visibleTopLevels(), QList<QWidget *> { &window });
}

void TestDialog::noSecondFlowDuringRestore()
{
    // A device without run firmware waits in its boot loader: the check is
    // instant and enables Restore; the restore then lasts about 1.5 seconds.
    QJsonObject device = SimDeviceFile::defaultDevice();
    device.insert("run", QJsonValue::Null);
    SimDeviceFile sim(device);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Updater *updater = qobject_cast<Updater *>(window.centralWidget());
    const auto *log = window.findChild<QTextEdit *>(QStringLiteral("logView"));
    auto *check = window.findChild<QPushButton *>(QStringLiteral("checkButton"));
    auto *restore = window.findChild<QPushButton *>(QStringLiteral("restoreButton"));

    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(restore->isEnabled());
    sim.update({ { "timeScale", 0.004 } });
    sim.clearTrace();

    LinesAfterDialog linesAfterDialog(log);
    QStringList problems { QStringLiteral("the timer never fired") };
    QTimer::singleShot(0, this, [&] {
        problems = tryToDismiss(window);
        // Restore itself is still enabled under the dialog.
        if (!restore->isEnabled())
            problems << QStringLiteral("Restore was disabled");
        QTest::mouseClick(restore, Qt::LeftButton);
        problems << tryToStartFlows(updater);
    });
    QTest::mouseClick(restore, Qt::LeftButton);

    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    QVERIFY(linesAfterDialog.dialogSeen);
    QCOMPARE(linesAfterDialog.count, 0);
    const QStringList names = sim.traceNames();
    QCOMPARE(names.count(QStringLiteral("qdBootOpenDevice")), 1);
    QCOMPARE(names.count(QStringLiteral("qdBootClearBootSector")), 1);
    QCOMPARE(names.count(QStringLiteral("qdBootWriteFPGAProgram")), 1);
    QVERIFY(!names.contains(QStringLiteral("qdOpenDevice")));
    QVERIFY(!names.contains(QStringLiteral("qdBootOpenDeviceBySerial")));
    const QStringList lines = paragraphs(log);
    QCOMPARE(lines.count(QStringLiteral("Restoring Device")), 1);
    QCOMPARE(lines.count(QStringLiteral("Updating Firmware")), 0);
    QCOMPARE(lines.count(QStringLiteral("Checking Firmware Versions...")), 1);
    QVERIFY(progressDialogs().isEmpty());
    QCOMPARE(visibleTopLevels(), QList<QWidget *> { &window });
}

void TestDialog::workerLinesBeforeConclusion_data()
{
    QTest::addColumn<QJsonObject>("changes"); // to the default device
    QTest::addColumn<QStringList>("workerLines");

    QTest::newRow("no device") << QJsonObject { { "attached", false } } << probeLinesNoDevice;
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

    const QStringList expected = QStringList { "", "Checking Firmware Versions...", "" }
        + workerLines + QStringList { "Failed to detect device." };
    // The worker's last line is emitted just before it ends; run it a few
    // times so a line overtaken by the conclusion would show.
    for (int run = 0; run < 10; ++run) {
        sim.write(device);
        sim.clearTrace();
        MainWindow window;
        window.show();
        const auto *log = window.findChild<QTextEdit *>(QStringLiteral("logView"));
        QTest::mouseClick(
            window.findChild<QPushButton *>(QStringLiteral("checkButton")), Qt::LeftButton);
        QCOMPARE(paragraphs(log).mid(7, expected.size()), expected);
    }
}

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
