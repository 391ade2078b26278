// A device library that lacks functions the updater needs, from
// qdBootClearBootSector on: the updater must refuse it whole and name the
// first it lacks. Should one of the functions it has be called all the same,
// it says so in the simulated device's trace.
#include "qd_api.h"

#include <cstdio>
#include <cstdlib>

namespace {

int called(const char *name)
{
    if (const char *trace = std::getenv("QD740N_SIM_TRACE")) {
        if (std::FILE *file = std::fopen(trace, "a")) {
            std::fprintf(file, "%s() -> 1 (a library that lacks functions)\n", name);
            std::fclose(file);
        }
    }
    return qdInitFailed;
}

} // namespace

const char *qdGetAPIVersion()
{
    called("qdGetAPIVersion");
    return "lacking functions";
}

int qdOpenDevice(int *)
{
    return called("qdOpenDevice");
}

int qdGetFirmwareVersion(int, int *, int *, int *)
{
    return called("qdGetFirmwareVersion");
}

int qdGetDeviceInfo(int, int *, int *)
{
    return called("qdGetDeviceInfo");
}

int qdCloseDevice(int)
{
    return called("qdCloseDevice");
}

QdInitStatus qdBootOpenDevice(int *)
{
    return QdInitStatus(called("qdBootOpenDevice"));
}

QdInitStatus qdBootOpenDeviceBySerial(int *, int)
{
    return QdInitStatus(called("qdBootOpenDeviceBySerial"));
}

QdInitStatus qdOpenBootstrapDevice(int *, const char *)
{
    return QdInitStatus(called("qdOpenBootstrapDevice"));
}

QdInitStatus qdBootGetDeviceSerial(int, int *)
{
    return QdInitStatus(called("qdBootGetDeviceSerial"));
}

QdInitStatus qdBootGetSerialFromFlash(int, int *)
{
    return QdInitStatus(called("qdBootGetSerialFromFlash"));
}

QdInitStatus qdBootCloseDevice(int)
{
    return QdInitStatus(called("qdBootCloseDevice"));
}
