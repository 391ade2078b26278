#include "checkversionthread.h"

#include "detectstate.h"
#include "firmwarecopies.h"
#include "qd_api.h"
#include "targetfirmware.h"

void CheckVersionThread::run()
{
    int handle = -1;
    if (qdOpenDevice(&handle) == 0) {
        if (qdGetFirmwareVersion(
                handle, &status.bootVersion, &status.runVersion, &status.fpgaVersion)
            != 0) {
            qdCloseDevice(handle);
            emit updateText(QStringLiteral("Failed to retrieve firmware versions."));
            status.state = NotDetected;
            return;
        }
        if (qdGetDeviceInfo(handle, nullptr, &status.serial) != 0) {
            qdCloseDevice(handle);
            emit updateText(QStringLiteral("Failed to retrieve serial number."));
            status.state = NotDetected;
            return;
        }
        qdCloseDevice(handle);
        status.state = Running;
        return;
    }

    emit updateText(QStringLiteral("Failed to open QD740N."));
    emit updateText(QStringLiteral("Looking for QD740N boot device..."));
    if (qdBootOpenDevice(&handle) == qdInitSuccess) {
        // A serial the query failed to deliver must not reach a restore, which
        // would store it in the device's flash.
        if (qdBootGetDeviceSerial(handle, &status.serial) != qdInitSuccess) {
            qdBootCloseDevice(handle);
            emit updateText(QStringLiteral("Failed to retrieve serial number."));
            status.state = NotDetected;
            return;
        }
        qdBootCloseDevice(handle);
        status.state = BootLoader;
        return;
    }

    emit updateText(QStringLiteral("Failed to open QD740N boot device."));
    emit updateText(QStringLiteral("Looking to bootstrap QD740N."));
    // The bootstrap runs the boot image on the device: a damaged one must be
    // named here, not taken for a device that is not there. The library
    // reads the flow's checked copy of it.
    FirmwareCopies copies;
    QStringList imageLines;
    const bool imageGood = copies.take({ bootImagePath() }, imageLines);
    for (const QString &line : std::as_const(imageLines))
        emit updateText(line);
    if (!imageGood) {
        status.state = NotDetected;
        return;
    }
    if (qdOpenBootstrapDevice(&handle, copies.path(bootImagePath())) != qdInitSuccess) {
        status.state = NotDetected; // no handle was obtained, so nothing to close
        return;
    }
    if (qdBootGetSerialFromFlash(handle, &status.serial) != qdInitSuccess) {
        qdBootCloseDevice(handle);
        status.state = NotDetected;
        return;
    }
    status.state = Bootstrapped;
    qdBootCloseDevice(handle);
}
