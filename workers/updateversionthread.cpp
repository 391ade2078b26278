#include "updateversionthread.h"

#include "firmwarecopies.h"
#include "qd_api.h"
#include "targetfirmware.h"

namespace {

// Gives the console time to show a skip line before the next one arrives.
void pauseAfterSkip()
{
    QThread::msleep(32);
}

} // namespace

void UpdateVersionThread::run()
{
    succeeded = false;
    std::vector<std::string> images;
    if (status.bootVersion != kTargetBootVersion)
        images.push_back(bootImagePath());
    if (status.runVersion != kTargetRunVersion)
        images.push_back(runImagePath());
    if (status.fpgaVersion != kTargetFpgaVersion)
        images.push_back(fpgaImagePath());
    // The library reads the flow's checked copies of the images it writes,
    // never the files in ./firmware/, which may change while it works.
    FirmwareCopies copies;
    QStringList imageLines;
    const bool imagesGood = copies.take(images, imageLines);
    for (const QString &line : std::as_const(imageLines))
        emit addLine(line);
    if (!imagesGood)
        return;

    int handle = -1;
    if (qdBootOpenDeviceBySerial(&handle, status.serial) != qdInitSuccess) {
        emit addLine(QStringLiteral("Cannot Find Device"));
        return;
    }

    if (status.bootVersion == kTargetBootVersion) {
        emit addLine(QStringLiteral("Skipping boot Fx3, already current version."));
        pauseAfterSkip();
    } else {
        emit addLine(QStringLiteral("Updating boot Fx3, estimated 10 seconds."));
        if (qdBootClearBootSector(handle) != qdInitSuccess) {
            emit addLine(QStringLiteral("Failed Clearing"));
            return;
        }
        if (qdBootWriteBootSector(handle, copies.path(bootImagePath()), status.serial)
            != qdInitSuccess) {
            emit addLine(QStringLiteral("Failed Writing"));
            return;
        }
    }

    if (status.runVersion == kTargetRunVersion) {
        emit addLine(QStringLiteral("Skipping run Fx3, already current version."));
        pauseAfterSkip();
    } else {
        emit addLine(QStringLiteral("Updating run Fx3, estimated 10 seconds."));
        // Examined like the other stages: a run sector left unwritten must not
        // end in a success verdict.
        if (qdBootClearRunSector(handle) != qdInitSuccess) {
            emit addLine(QStringLiteral("Failed Clearing"));
            return;
        }
        // The run-sector write takes -1 here, not the serial.
        if (qdBootWriteRunSector(handle, copies.path(runImagePath()), -1) != qdInitSuccess) {
            emit addLine(QStringLiteral("Failed Writing"));
            return;
        }
    }

    if (status.fpgaVersion == kTargetFpgaVersion) {
        emit addLine(QStringLiteral("Skipping FPGA, already current version."));
        pauseAfterSkip();
        succeeded = true;
        return;
    }
    emit addLine(QStringLiteral("Updating FPGA, estimated 6 minutes."));
    double progress = 0.0;
    if (qdBootClearFPGAProgram(handle, progress) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed Clearing"));
        return;
    }
    if (qdBootWriteFPGAProgram(handle, copies.path(fpgaImagePath()), progress) != qdInitSuccess) {
        emit addLine(QStringLiteral("Failed Writing"));
        return;
    }
    // The boot-loader handle stays open: the device is left to the operator,
    // who is told to close the program.
    succeeded = true;
}
