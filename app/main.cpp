#include "mainwindow.h"
#include "terminationrequests.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>

int main(int argc, char **argv)
{
    // From here on, Ctrl+C, logout and a closed terminal ask the window to
    // close instead of ending the process in the middle of a write.
    TerminationRequests::catchSignals();
    QApplication app(argc, argv);
    TerminationRequests terminationRequests;
    QGuiApplication::setDesktopFileName(QStringLiteral(QD740N_APP_ID));

    // One copy per workstation: two copies would work on one device at once.
    // A lock left by a copy that crashed or was killed is taken over; only
    // the owner's death makes it stale, never its age.
    QLockFile lock(QDir(QDir::tempPath()).filePath(QStringLiteral("qd740n-updater.lock")));
    lock.setStaleLockTime(0);
    if (!lock.tryLock()) {
        // A signal closes the box, and this copy ends as if it were answered.
        QObject::connect(&terminationRequests, &TerminationRequests::closeRequested, &app,
            &QApplication::closeAllWindows);
        QMessageBox::warning(nullptr, QStringLiteral("Warning"),
            QStringLiteral("Another QD740N firmware updater is already running.\n"
                           "Close it before starting a new one."));
        return 1;
    }

    MainWindow window;
    QObject::connect(&terminationRequests, &TerminationRequests::closeRequested, &window,
        &MainWindow::requestClose);
    window.show();
    return app.exec();
}
