#include "devicelibrary.h"
#include "devicelibrarylocation.h"
#include "firmwarecopies.h"
#include "mainwindow.h"
#include "singlecopyguard.h"
#include "terminationrequests.h"
#include "windowsystemchoice.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char **argv)
{
    // From here on, Ctrl+C, logout and a closed terminal ask the window to
    // close instead of ending the process in the middle of a write.
    TerminationRequests::catchSignals();
    WindowSystemChoice::choose();
    QApplication app(argc, argv);
    TerminationRequests terminationRequests;
    QGuiApplication::setDesktopFileName(QStringLiteral(QD740N_APP_ID));

    // Once its last window has gone, the program ends, whatever holds the
    // window system's teardown, and a signal ends it too.
    const auto end = [](int status) {
        TerminationRequests::releaseSignals();
        WindowSystemChoice::leave(status);
        return status;
    };

    // A copy that does not start says why on standard error and in a box, as
    // plain text: the text may name folders from the environment. A signal
    // closes the box, and the copy ends as if it were answered.
    const auto refuse = [&](const QString &text) {
        std::fprintf(stderr, "qd740n-updater: %s\n", qPrintable(text));
        QObject::connect(&terminationRequests, &TerminationRequests::closeRequested, &app,
            &QApplication::closeAllWindows);
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return end(1);
    };

    // The packaged library or a site's, before anything else is shown.
    const DeviceLibraryLocation location = DeviceLibraryLocation::choose(
        QCoreApplication::applicationDirPath(), DeviceLibrary::fileName());
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

    // Copies of the firmware images left by a copy that crashed go now; those
    // another process still uses stay.
    FirmwareCopies::removeLeftovers();

    // The banner says which library was bound, or why none could be.
    DeviceLibrary::bind(location.library);
    MainWindow window;
    QObject::connect(&terminationRequests, &TerminationRequests::closeRequested, &window,
        &MainWindow::requestClose);
    window.show();
    return end(app.exec());
}
