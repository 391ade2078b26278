#include "restorethread.h"

#include "qd_api.h"
#include "targetfirmware.h"

void RestoreThread::run()
{
    succeeded = false;
    QStringList imageLines;
    const bool imagesGood
        = checkImages({ bootImagePath(), runImagePath(), fpgaImagePath() }, imageLines);
    for (const QString &line : std::as_const(imageLines))
        emit addLine(line);
    if (!imagesGood)
        return;

    int handle = -1;
    bool bootstrapped = false;
    if (qdBootOpenDevice(&handle) != qdInitSuccess) {
        if (qdOpenBootstrapDevice(&handle, bootImagePath().c_str()) != qdInitSuccess) {
            emit addLine(QStringLiteral("Failed to open device."));
            QThread::msleep(32); // lets the line reach the console before the verdict
            return;
        }
        bootstrapped = true;
    }

    // The serial goes into the device's flash below: the device opened must
    // be the one the check found, not one swapped in or plugged in since.
    int openedSerial = 0;
    const QdInitStatus serialRead = bootstrapped ? qdBootGetSerialFromFlash(handle, &openedSerial)
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

    emit addLine(QStringLiteral("Updating boot Fx3, estimated 10 seconds."));
    if (qdBootClearBootSector(handle) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed clearing boot Fx3 device."));
        return;
    }
    // The serial goes back into the device's flash with the boot image.
    if (qdBootWriteBootSector(handle, bootImagePath().c_str(), status.serial) != qdInitSuccess) {
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
    if (qdBootWriteRunSector(handle, runImagePath().c_str(), status.serial) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed writing run Fx3."));
        return;
    }

    emit addLine(QStringLiteral("Updating FPGA, estimated 6 minutes."));
    const std::string fpgaPath = fpgaImagePath();
    double progress = 0.0;
    if (qdBootClearFPGAProgram(handle, progress) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed clearing FPGA."));
        return;
    }
    if (qdBootWriteFPGAProgram(handle, fpgaPath.c_str(), progress) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed writing FPGA."));
        return;
    }
    // Only a complete restore closes the handle, which lets the device
    // restart into its new firmware.
    qdBootCloseDevice(handle);
    succeeded = true;
}
