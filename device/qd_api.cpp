// The qd_api functions as the program calls them: each hands over to the
// function of the library DeviceLibrary bound. Without a library nothing can
// reach a device, and every call fails. Every call but the version query is
// reported while it lasts (DeviceCalls), so that one the device never
// answers can be noticed.
#include "qd_api.h"

#include "devicecalls.h"
#include "devicelibrary.h"

namespace {

const DeviceLibrary::Functions &bound()
{
    return DeviceLibrary::functions();
}

} // namespace

const char *qdGetAPIVersion()
{
    return bound().qdGetAPIVersion ? bound().qdGetAPIVersion() : nullptr;
}

int qdOpenDevice(int *handle)
{
    const DeviceCalls::Call call("qdOpenDevice");
    return bound().qdOpenDevice ? bound().qdOpenDevice(handle) : qdInitNoDevice;
}

int qdGetFirmwareVersion(int handle, int *bootVersion, int *runVersion, int *fpgaVersion)
{
    const DeviceCalls::Call call("qdGetFirmwareVersion");
    return bound().qdGetFirmwareVersion
        ? bound().qdGetFirmwareVersion(handle, bootVersion, runVersion, fpgaVersion)
        : qdInitNoDevice;
}

int qdGetDeviceInfo(int handle, int *type, int *serial)
{
    const DeviceCalls::Call call("qdGetDeviceInfo");
    return bound().qdGetDeviceInfo ? bound().qdGetDeviceInfo(handle, type, serial) : qdInitNoDevice;
}

int qdCloseDevice(int handle)
{
    const DeviceCalls::Call call("qdCloseDevice");
    return bound().qdCloseDevice ? bound().qdCloseDevice(handle) : qdInitNoDevice;
}

QdInitStatus qdBootOpenDevice(int *handle)
{
    const DeviceCalls::Call call("qdBootOpenDevice");
    return bound().qdBootOpenDevice ? bound().qdBootOpenDevice(handle) : qdInitNoDevice;
}

QdInitStatus qdBootOpenDeviceBySerial(int *handle, int serial)
{
    const DeviceCalls::Call call("qdBootOpenDeviceBySerial");
    return bound().qdBootOpenDeviceBySerial ? bound().qdBootOpenDeviceBySerial(handle, serial)
                                            : qdInitNoDevice;
}

QdInitStatus qdOpenBootstrapDevice(int *handle, const char *path)
{
    const DeviceCalls::Call call("qdOpenBootstrapDevice");
    return bound().qdOpenBootstrapDevice ? bound().qdOpenBootstrapDevice(handle, path)
                                         : qdInitNoDevice;
}

QdInitStatus qdBootGetDeviceSerial(int handle, int *serial)
{
    const DeviceCalls::Call call("qdBootGetDeviceSerial");
    return bound().qdBootGetDeviceSerial ? bound().qdBootGetDeviceSerial(handle, serial)
                                         : qdInitNoDevice;
}

QdInitStatus qdBootGetSerialFromFlash(int handle, int *serial)
{
    const DeviceCalls::Call call("qdBootGetSerialFromFlash");
    return bound().qdBootGetSerialFromFlash ? bound().qdBootGetSerialFromFlash(handle, serial)
                                            : qdInitNoDevice;
}

QdInitStatus qdBootCloseDevice(int handle)
{
    const DeviceCalls::Call call("qdBootCloseDevice");
    return bound().qdBootCloseDevice ? bound().qdBootCloseDevice(handle) : qdInitNoDevice;
}

QdInitStatus qdBootClearBootSector(int handle)
{
    const DeviceCalls::Call call("qdBootClearBootSector");
    return bound().qdBootClearBootSector ? bound().qdBootClearBootSector(handle) : qdInitNoDevice;
}

QdInitStatus qdBootWriteBootSector(int handle, const char *path, int serial)
{
    const DeviceCalls::Call call("qdBootWriteBootSector");
    return bound().qdBootWriteBootSector ? bound().qdBootWriteBootSector(handle, path, serial)
                                         : qdInitNoDevice;
}

QdInitStatus qdBootClearRunSector(int handle)
{
    const DeviceCalls::Call call("qdBootClearRunSector");
    return bound().qdBootClearRunSector ? bound().qdBootClearRunSector(handle) : qdInitNoDevice;
}

QdInitStatus qdBootWriteRunSector(int handle, const char *path, int value)
{
    const DeviceCalls::Call call("qdBootWriteRunSector");
    return bound().qdBootWriteRunSector ? bound().qdBootWriteRunSector(handle, path, value)
                                        : qdInitNoDevice;
}

QdInitStatus qdBootClearFPGAProgram(int handle, double &progress)
{
    const DeviceCalls::Call call("qdBootClearFPGAProgram");
    return bound().qdBootClearFPGAProgram ? bound().qdBootClearFPGAProgram(handle, progress)
                                          : qdInitNoDevice;
}

QdInitStatus qdBootWriteFPGAProgram(int handle, const char *path, double &progress)
{
    const DeviceCalls::Call call("qdBootWriteFPGAProgram");
    return bound().qdBootWriteFPGAProgram ? bound().qdBootWriteFPGAProgram(handle, path, progress)
                                          : qdInitNoDevice;
}
