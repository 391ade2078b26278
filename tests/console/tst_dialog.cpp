// The workstation's guards around a flow on Linux: close requests by signal
// held until the flow returns, the session held off through logind and the
// desktop portal (mocked on private buses), and one copy per workstation.
#include "consoledriver.h"
#include "consolelines.h"
#include "mqprogressdialog.h"
#include "simdevicefile.h"
#include "singlecopyguard.h"
#include "updater.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

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

// Stops a mock until the returned guard goes, whatever happens meanwhile: a
// mock left stopped would make every later call to it wait for its timeout.
// A mock that has ended is left alone.
auto stopped(const QProcess &mock)
{
    const auto pid = pid_t(mock.processId());
    if (pid > 0)
        ::kill(pid, SIGSTOP);
    return qScopeGuard([pid] {
        if (pid > 0)
            ::kill(pid, SIGCONT);
    });
}

// Has the logind mock refuse, from now on, every lock whose "what" contains
// `refused`; an empty one refuses none.
bool refuseLogindLocks(const QString &refused)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.DBus.Mock"),
        QStringLiteral("AddTemplate"));
    call << QFINDTESTDATA("logind_refusing_mock.py")
         << QVariantMap { { QStringLiteral("RefuseWhat"), refused } };
    return QDBusConnection::systemBus().call(call).type() == QDBusMessage::ReplyMessage;
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

    void closeRequests_data();
    void closeRequests();
    void sleepLockWhereHandleLocksRefused(); // before the next, which ends the mocks
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
    // Before anything in this process opens either bus. A name the mocks do
    // not own (the portal's, once its mock has ended) starts nothing.
    for (auto [bus, variable] : { std::pair { &systemBus, "DBUS_SYSTEM_BUS_ADDRESS" },
             std::pair { &sessionBus, "DBUS_SESSION_BUS_ADDRESS" } }) {
        bus->start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--config-file=" QD740N_TEST_BUS_CONFIG), QStringLiteral("--nofork"),
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
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        QVERIFY2(!qobject_cast<MQProgressDialog *>(widget), "a busy dialog is left");
        QVERIFY2(!widget->isVisible(), widget->metaObject()->className());
    }
}

void TestDialog::closeRequests_data()
{
    QTest::addColumn<int>("signal");
    // When it comes: during a "restore", or during the downgrade question,
    // which is then answered "Yes" or "No". (Between flows a signal ends the
    // program as it ends any: the road idle-sigterm.)
    QTest::addColumn<QString>("during");

    QTest::newRow("SIGTERM during a restore") << SIGTERM << "restore";
    QTest::newRow("SIGHUP during a restore") << SIGHUP << "restore";
    QTest::newRow("SIGINT during a restore") << SIGINT << "restore";
    QTest::newRow("SIGTERM during the question, Yes") << SIGTERM << "Yes";
    QTest::newRow("SIGINT during the question, No") << SIGINT << "No";
}

// A signal during a flow asks the window to close once the flow has returned
// (after its verdict, or after the downgrade question has been answered),
// with a line saying so in between.
void TestDialog::closeRequests()
{
    QFETCH(int, signal);
    QFETCH(QString, during);

    const bool question = during == QLatin1String("Yes") || during == QLatin1String("No");
    SimDeviceFile sim(question ? SimDeviceFile::device(5, 5, 6) : restorableDevice());
    ConsoleDriver console;
    QVERIFY(console.exposed);
    MainWindow &window = console.window;
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
        {
            const auto resume = stopped(logind);
            QVERIFY(console.press(console.checkButton()));
        }
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
        // Stopped until the question is up (no-op without the services).
        const auto resume = stopped(logind);
        if (withServices) {
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

// Where logind refuses the handle-* locks (polkit does on a remote session,
// say), the flow asks again and holds off sleep and shutdown, its question
// included, and lets go when it returns.
void TestDialog::sleepLockWhereHandleLocksRefused()
{
    QVERIFY(refuseLogindLocks(QStringLiteral("handle-")));
    const auto refuseNone = qScopeGuard([] { refuseLogindLocks(QString()); });
    SimDeviceFile sim(SimDeviceFile::device(5, 5, 6));
    ConsoleDriver console;
    QVERIFY(console.exposed);
    QStringList duringQuestion;
    console.box.beforeAnswer = [&](QMessageBox *) {
        if (QTest::qWaitFor([] { return !inhibitors().isEmpty(); }))
            duringQuestion = inhibitors();
        return true;
    };
    QVERIFY(console.press(console.checkButton()));
    QCOMPARE(duringQuestion,
        QStringList {
            "sleep:shutdown|QD740N firmware updater|Checking QD740N firmware version|block" });
    QTRY_COMPARE(inhibitors(), QStringList());
}

// One copy per workstation: a second guard of the same name is refused while
// the first is held, whatever the working folder, and taken once the first
// has gone. A guard that cannot be set up says why, never that another copy
// holds it.
void TestDialog::singleCopyGuard()
{
    const QString name
        = QStringLiteral("qd740n-updater-test-%1").arg(QCoreApplication::applicationPid());
    {
        const SingleCopyGuard first(name);
        QCOMPARE(first.outcome(), SingleCopyGuard::Held);
        // The second from another working folder, as a copy started from
        // another installation would be. (Another user's copy: the e2e road
        // second-copy, with the program itself.)
        const QTemporaryDir elsewhere;
        QVERIFY(elsewhere.isValid());
        const QString folder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        const auto back = qScopeGuard([&] { QDir::setCurrent(folder); });
        const SingleCopyGuard second(name);
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
