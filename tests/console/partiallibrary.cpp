// A device library that lacks two of the functions the updater needs
// (qdBootClearBootSector and qdBootWriteFPGAProgram): the updater must refuse
// it whole and name the first it lacks. Should a function be called all the
// same, it says so in the simulated device's trace.
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

QdInitStatus boot(const char *name)
{
    return QdInitStatus(called(name));
}

} // namespace

const char *qdGetAPIVersion()
{
    called("qdGetAPIVersion");
    return "lacking two functions";
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
    return boot("qdBootOpenDevice");
}

QdInitStatus qdBootOpenDeviceBySerial(int *, int)
{
    return boot("qdBootOpenDeviceBySerial");
}

QdInitStatus qdOpenBootstrapDevice(int *, const char *)
{
    return boot("qdOpenBootstrapDevice");
}

QdInitStatus qdBootGetDeviceSerial(int, int *)
{
    return boot("qdBootGetDeviceSerial");
}

QdInitStatus qdBootGetSerialFromFlash(int, int *)
{
    return boot("qdBootGetSerialFromFlash");
}

QdInitStatus qdBootCloseDevice(int)
{
    return boot("qdBootCloseDevice");
}

QdInitStatus qdBootWriteBootSector(int, const char *, int)
{
    return boot("qdBootWriteBootSector");
}

QdInitStatus qdBootClearRunSector(int)
{
    return boot("qdBootClearRunSector");
}

QdInitStatus qdBootWriteRunSector(int, const char *, int)
{
    return boot("qdBootWriteRunSector");
}

QdInitStatus qdBootClearFPGAProgram(int, double &)
{
    return boot("qdBootClearFPGAProgram");
}
