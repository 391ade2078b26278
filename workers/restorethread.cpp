#include "restorethread.h"

#include "detectstate.h"
#include "firmwarecopies.h"
#include "qd_api.h"
#include "targetfirmware.h"

void RestoreThread::run()
{
    succeeded = false;
    // The library reads the flow's checked copies of the images, never the
    // files in ./firmware/, which may change while it works.
    FirmwareCopies copies;
    QStringList imageLines;
    const bool imagesGood
        = copies.take({ bootImagePath(), runImagePath(), fpgaImagePath() }, imageLines);
    for (const QString &line : std::as_const(imageLines))
        emit addLine(line);
    if (!imagesGood)
        return;

    int handle = -1;
    if (qdBootOpenDevice(&handle) != qdInitSuccess) {
        if (qdOpenBootstrapDevice(&handle, copies.path(bootImagePath())) != qdInitSuccess) {
            emit addLine(QStringLiteral("Failed to open device."));
            QThread::msleep(32); // lets the line reach the console before the verdict
            return;
        }
    }

    // The serial goes into the device's flash below: the device opened must
    // be the one the check found, not one swapped in or plugged in since. Its
    // serial is read the way the check read it, however it was opened this
    // time: a unit the check bootstrapped may since wait in its boot loader,
    // whose serial need not be the one in its flash.
    int openedSerial = 0;
    const QdInitStatus serialRead = status.state == Bootstrapped
        ? qdBootGetSerialFromFlash(handle, &openedSerial)
        : qdBootGetDeviceSerial(handle, &openedSerial);
    if (serialRead != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed to retrieve serial number."));
        return;
    }
    if (openedSerial != status.serial) {
        emit addLine(
            QString::asprintf("Found serial %d, expected %d.", openedSerial, status.serial));
        return;
    }
    // A boot loader's serial is never written over another one its flash
    // holds: that would change the unit's serial for good. A bare unit whose
    // flash holds none has only its boot loader's.
    int flashSerial = 0;
    if (status.state != Bootstrapped
        && qdBootGetSerialFromFlash(handle, &flashSerial) == qdInitSuccess
        && flashSerial != status.serial) {
        emit addLine(QStringLiteral("The QD740N's flash holds serial %1, but its boot loader "
                                    "reports %2: nothing was written.")
                         .arg(flashSerial)
                         .arg(status.serial));
        emit addLine(QStringLiteral("Cycle the power on the QD740N, restart the firmware updater "
                                    "and press Check Versions; if the serials still differ, "
                                    "contact Marquell."));
        return;
    }

    emit addLine(QStringLiteral("Updating boot Fx3, estimated 10 seconds."));
    if (qdBootClearBootSector(handle) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed clearing boot Fx3 device."));
        return;
    }
    // The serial goes back into the device's flash with the boot image.
    if (qdBootWriteBootSector(handle, copies.path(bootImagePath()), status.serial)
        != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed writing boot Fx3."));
        return;
    }

    emit addLine(QStringLiteral("Updating run Fx3 device, estimated 10 seconds."));
    // Examined like the boot sector: a run sector left unwritten must not end
    // in a success verdict.
    if (qdBootClearRunSector(handle) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed clearing run Fx3 device."));
        return;
    }
    if (qdBootWriteRunSector(handle, copies.path(runImagePath()), status.serial) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed writing run Fx3."));
        return;
    }

    emit addLine(QStringLiteral("Updating FPGA, estimated 6 minutes."));
    double progress = 0.0;
    if (qdBootClearFPGAProgram(handle, progress) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed clearing FPGA."));
        return;
    }
    if (qdBootWriteFPGAProgram(handle, copies.path(fpgaImagePath()), progress) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed writing FPGA."));
        return;
    }
    // Only a complete restore closes the handle, which lets the device
    // restart into its new firmware.
    qdBootCloseDevice(handle);
    succeeded = true;
}
