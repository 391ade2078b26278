// The qd_api functions of the simulated device: each one hands over to the
// single SimDevice of this process.
#include "qd_api.h"

#include "simdevice.h"

namespace {

SimDevice &device()
{
    return SimDevice::instance();
}

QdInitStatus boot(int status)
{
    return static_cast<QdInitStatus>(status);
}

} // namespace

const char *qdGetAPIVersion()
{
    return device().apiVersion();
}

int qdOpenDevice(int *handle)
{
    return device().openDevice(handle);
}

int qdGetFirmwareVersion(int handle, int *bootVersion, int *runVersion, int *fpgaVersion)
{
    return device().getFirmwareVersion(handle, bootVersion, runVersion, fpgaVersion);
}

int qdGetDeviceInfo(int handle, int *type, int *serial)
{
    return device().getDeviceInfo(handle, type, serial);
}

int qdCloseDevice(int handle)
{
    return device().closeDevice(handle);
}

QdInitStatus qdBootOpenDevice(int *handle)
{
    return boot(device().bootOpenDevice(handle));
}

QdInitStatus qdBootOpenDeviceBySerial(int *handle, int serial)
{
    return boot(device().bootOpenDeviceBySerial(handle, serial));
}

QdInitStatus qdOpenBootstrapDevice(int *handle, const char *path)
{
    return boot(device().openBootstrapDevice(handle, path));
}

QdInitStatus qdBootGetDeviceSerial(int handle, int *serial)
{
    return boot(device().bootGetSerial("qdBootGetDeviceSerial", handle, serial));
}

QdInitStatus qdBootGetSerialFromFlash(int handle, int *serial)
{
    return boot(device().bootGetSerial("qdBootGetSerialFromFlash", handle, serial));
}

QdInitStatus qdBootCloseDevice(int handle)
{
    return boot(device().bootCloseDevice(handle));
}

QdInitStatus qdBootClearBootSector(int handle)
{
    return boot(device().bootClear("qdBootClearBootSector", SimImage::Boot, handle, nullptr));
}

QdInitStatus qdBootWriteBootSector(int handle, const char *path, int serial)
{
    return boot(device().bootWrite("qdBootWriteBootSector", SimImage::Boot, handle, path,
        QString::number(serial), serial, nullptr));
}

QdInitStatus qdBootClearRunSector(int handle)
{
    return boot(device().bootClear("qdBootClearRunSector", SimImage::Run, handle, nullptr));
}

QdInitStatus qdBootWriteRunSector(int handle, const char *path, int value)
{
    return boot(device().bootWrite(
        "qdBootWriteRunSector", SimImage::Run, handle, path, QString::number(value), 0, nullptr));
}

QdInitStatus qdBootClearFPGAProgram(int handle, double &progress)
{
    return boot(device().bootClear("qdBootClearFPGAProgram", SimImage::Fpga, handle, &progress));
}

QdInitStatus qdBootWriteFPGAProgram(int handle, const char *path, double &progress)
{
    return boot(device().bootWrite(
        "qdBootWriteFPGAProgram", SimImage::Fpga, handle, path, QString(), 0, &progress));
}
