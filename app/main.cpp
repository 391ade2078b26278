#include "devicelibrary.h"
#include "devicelibrarylocation.h"
#include "mainwindow.h"
#include "singlecopyguard.h"
#include "terminationrequests.h"
#include "windowsystemchoice.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char **argv)
{
    // From here on, Ctrl+C, logout and a closed terminal ask the window to
    // close instead of ending the process in the middle of a write.
    TerminationRequests::catchSignals();
    WindowSystemChoice::choose();
    QApplication app(argc, argv);
    TerminationRequests terminationRequests;
    QGuiApplication::setDesktopFileName(QStringLiteral(QD740N_APP_ID));

    // A copy that does not start says why in a box. A signal closes the box,
    // and the copy ends as if it were answered.
    const auto refuse = [&](const QString &text) {
        QObject::connect(&terminationRequests, &TerminationRequests::closeRequested, &app,
            &QApplication::closeAllWindows);
        QMessageBox::warning(nullptr, QStringLiteral("Warning"), text);
        return 1;
    };

    const DeviceLibraryLocation location = DeviceLibraryLocation::choose();
    if (!location.refusal.isEmpty())
        return refuse(location.refusal);

    // One copy per workstation: two copies would work on one device at once.
    const SingleCopyGuard guard(QStringLiteral(QD740N_APP_ID));
    if (guard.outcome() != SingleCopyGuard::Held) {
        // Only a copy that is really there is named as the reason.
        return refuse(guard.outcome() == SingleCopyGuard::HeldByAnotherCopy
                ? QStringLiteral("Another QD740N firmware updater is already running.\n"
                                 "Close it before starting a new one.")
                : QStringLiteral("Cannot check whether another QD740N firmware updater is "
                                 "running: %1.\nThe updater does not start without that check.")
                      .arg(guard.failure()));
    }

    // The banner says which library was bound, or why none could be.
    DeviceLibrary::bind(location.folders);
    MainWindow window;
    QObject::connect(&terminationRequests, &TerminationRequests::closeRequested, &window,
        &MainWindow::requestClose);
    window.show();
    const int status = app.exec();
    TerminationRequests::releaseSignals();
    WindowSystemChoice::leave(status);
    return status;
}
