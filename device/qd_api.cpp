// The qd_api functions as the program calls them: each hands over to the
// function of the library DeviceLibrary bound. Without a library nothing can
// reach a device, and every call fails.
#include "qd_api.h"

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
    return bound().qdOpenDevice ? bound().qdOpenDevice(handle) : qdInitNoDevice;
}

int qdGetFirmwareVersion(int handle, int *bootVersion, int *runVersion, int *fpgaVersion)
{
    return bound().qdGetFirmwareVersion
        ? bound().qdGetFirmwareVersion(handle, bootVersion, runVersion, fpgaVersion)
        : qdInitNoDevice;
}

int qdGetDeviceInfo(int handle, int *type, int *serial)
{
    return bound().qdGetDeviceInfo ? bound().qdGetDeviceInfo(handle, type, serial) : qdInitNoDevice;
}

int qdCloseDevice(int handle)
{
    return bound().qdCloseDevice ? bound().qdCloseDevice(handle) : qdInitNoDevice;
}

QdInitStatus qdBootOpenDevice(int *handle)
{
    return bound().qdBootOpenDevice ? bound().qdBootOpenDevice(handle) : qdInitNoDevice;
}

QdInitStatus qdBootOpenDeviceBySerial(int *handle, int serial)
{
    return bound().qdBootOpenDeviceBySerial ? bound().qdBootOpenDeviceBySerial(handle, serial)
                                            : qdInitNoDevice;
}

QdInitStatus qdOpenBootstrapDevice(int *handle, const char *path)
{
    return bound().qdOpenBootstrapDevice ? bound().qdOpenBootstrapDevice(handle, path)
                                         : qdInitNoDevice;
}

QdInitStatus qdBootGetDeviceSerial(int handle, int *serial)
{
    return bound().qdBootGetDeviceSerial ? bound().qdBootGetDeviceSerial(handle, serial)
                                         : qdInitNoDevice;
}

QdInitStatus qdBootGetSerialFromFlash(int handle, int *serial)
{
    return bound().qdBootGetSerialFromFlash ? bound().qdBootGetSerialFromFlash(handle, serial)
                                            : qdInitNoDevice;
}

QdInitStatus qdBootCloseDevice(int handle)
{
    return bound().qdBootCloseDevice ? bound().qdBootCloseDevice(handle) : qdInitNoDevice;
}

QdInitStatus qdBootClearBootSector(int handle)
{
    return bound().qdBootClearBootSector ? bound().qdBootClearBootSector(handle) : qdInitNoDevice;
}

QdInitStatus qdBootWriteBootSector(int handle, const char *path, int serial)
{
    return bound().qdBootWriteBootSector ? bound().qdBootWriteBootSector(handle, path, serial)
                                         : qdInitNoDevice;
}

QdInitStatus qdBootClearRunSector(int handle)
{
    return bound().qdBootClearRunSector ? bound().qdBootClearRunSector(handle) : qdInitNoDevice;
}

QdInitStatus qdBootWriteRunSector(int handle, const char *path, int value)
{
    return bound().qdBootWriteRunSector ? bound().qdBootWriteRunSector(handle, path, value)
                                        : qdInitNoDevice;
}

QdInitStatus qdBootClearFPGAProgram(int handle, double &progress)
{
    return bound().qdBootClearFPGAProgram ? bound().qdBootClearFPGAProgram(handle, progress)
                                          : qdInitNoDevice;
}

QdInitStatus qdBootWriteFPGAProgram(int handle, const char *path, double &progress)
{
    return bound().qdBootWriteFPGAProgram ? bound().qdBootWriteFPGAProgram(handle, path, progress)
                                          : qdInitNoDevice;
}
