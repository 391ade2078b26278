// The workstation guards on Windows, as far as Wine runs them: one copy per
// machine (a second holder is refused, and the name is free once its holder
// has been killed), and the session's end refused while a flow runs. Runs on
// the windows platform, in a real window (under Wine: on an X display).
#include "consoledriver.h"
#include "simdevicefile.h"
#include "singlecopyguard.h"
#include "updater.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <windows.h>

class TestWindowsGuards : public QObject
{
    Q_OBJECT

private slots:
    void singleCopyGuard_data();
    void singleCopyGuard();
    void sessionEnd_data();
    void sessionEnd();
};

void TestWindowsGuards::singleCopyGuard_data()
{
    QTest::addColumn<bool>("killed"); // the first holder is the program, killed

    QTest::newRow("second holder in this process") << false;
    QTest::newRow("holder killed") << true;
}

void TestWindowsGuards::singleCopyGuard()
{
    QFETCH(bool, killed);

    const QString name = QStringLiteral(QD740N_APP_ID);
    if (!killed) {
        {
            const SingleCopyGuard first(name);
            QCOMPARE(first.outcome(), SingleCopyGuard::Held);
            QCOMPARE(SingleCopyGuard(name).outcome(), SingleCopyGuard::HeldByAnotherCopy);
        }
        QCOMPARE(SingleCopyGuard(name).outcome(), SingleCopyGuard::Held);
        return;
    }
    // The program asks the library for its version once it holds the guard.
    SimDeviceFile sim(SimDeviceFile::defaultDevice());
    QProcess program;
    program.start(QStringLiteral(QD740N_UPDATER),
        { QStringLiteral("-platform"), QStringLiteral("offscreen") });
    QTRY_VERIFY_WITH_TIMEOUT(!sim.trace().isEmpty(), 30000);
    QCOMPARE(SingleCopyGuard(name).outcome(), SingleCopyGuard::HeldByAnotherCopy);
    program.kill();
    QVERIFY(program.waitForFinished());
    QCOMPARE(SingleCopyGuard(name).outcome(), SingleCopyGuard::Held);
}

void TestWindowsGuards::sessionEnd_data()
{
    QTest::addColumn<bool>("duringFlow");

    QTest::newRow("idle") << false;
    QTest::newRow("during a restore") << true;
}

// Shutdown and logoff ask each window first (WM_QUERYENDSESSION): refused
// while a flow runs, allowed otherwise. WM_ENDSESSION then says the session
// goes on.
void TestWindowsGuards::sessionEnd()
{
    QFETCH(bool, duringFlow);

    SimDeviceFile sim(SimDeviceFile::device(4, -1, 6));
    ConsoleDriver console;
    QVERIFY(console.exposed);
    const auto window = reinterpret_cast<HWND>(console.window.winId());
    LRESULT answer = -1;
    const auto askToEnd = [&] {
        answer = SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        SendMessageW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
    };
    QVERIFY(console.press(console.checkButton()));
    if (duringFlow) {
        sim.update({ { "timeScale", 0.004 } });
        QTimer::singleShot(0, this, askToEnd);
        QVERIFY(console.press(console.restoreButton()));
    } else {
        askToEnd();
    }
    QCOMPARE(answer, duringFlow ? LRESULT(FALSE) : LRESULT(TRUE));
    QVERIFY(console.window.isVisible());
}

// Whatever the tests' platform, this one needs real windows.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "windows");
    QApplication app(argc, argv);
    TestWindowsGuards test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowsguards.moc"
