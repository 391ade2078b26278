#include "devicelibrary.h"
#include "devicelibrarylocation.h"
#include "firmwarecopies.h"
#include "mainwindow.h"
#include "singlecopyguard.h"
#include "windowsystemchoice.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char **argv)
{
    // Nothing is held here: until a flow starts, Ctrl+C, logout and a closed
    // terminal end the program as they end any program, its start included.
    // Without a display the toolkit would abort with words of its own.
    const QString noDisplay = WindowSystemChoice::choose();
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr, "qd740n-updater: %s\n", qPrintable(noDisplay));
        return 1;
    }
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(QD740N_APP_ID));

    // A copy that does not start says why on standard error and in a box, as
    // plain text: the text may name folders from the environment.
    const auto refuse = [](const QString &text) {
        std::fprintf(stderr, "qd740n-updater: %s\n", qPrintable(text));
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        WindowSystemChoice::leave(1);
        return 1;
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
    window.show();
    const int status = app.exec();
    // Once its last window has gone, the program ends, whatever holds the
    // window system's teardown.
    WindowSystemChoice::leave(status);
    return status;
}
