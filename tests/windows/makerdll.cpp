// A stand-in for the maker's qd_api.dll as MSVC builds it: compiled by
// clang-cl for x86_64-pc-windows-msvc and linked by lld-link without the C
// runtime, so its C++ functions are exported under MSVC's decorated names.
// Each call is handed to the simulated device, a MinGW build of it beside
// this DLL, loaded by its full path (a DLL already loaded as qd_api.dll would
// be taken for it by a load without one). Like a maker's DLL that needs a
// driver's DLL of its own, it imports qd740n_maker_support.dll
// (makersupport.cpp), which names that simulated device.
// Built with QD740N_LACKING_FPGA_WRITE, it lacks qdBootWriteFPGAProgram.
#define QD_API_BUILD
#include "qd_api.h"

extern "C" {
// kernel32, declared here: the Windows SDK's headers are not at hand.
__declspec(dllimport) void *__stdcall LoadLibraryW(const wchar_t *fileName);
__declspec(dllimport) void *__stdcall GetProcAddress(void *module, const char *name);
__declspec(dllimport) int __stdcall GetModuleHandleExW(
    unsigned long flags, const wchar_t *name, void **module);
__declspec(dllimport) unsigned long __stdcall GetModuleFileNameW(
    void *module, wchar_t *fileName, unsigned long size);
// qd740n_maker_support.dll
__declspec(dllimport) const wchar_t *qd740nSimulatorName();
}

namespace {

void *simulator()
{
    static void *module = nullptr;
    if (module)
        return module;
    const unsigned long fromAddress = 0x4, unchangedRefCount = 0x2;
    void *self = nullptr;
    if (!GetModuleHandleExW(
            fromAddress | unchangedRefCount, reinterpret_cast<const wchar_t *>(&simulator), &self))
        return nullptr;
    const wchar_t *name = qd740nSimulatorName();
    const unsigned long room = 512, nameRoom = 64;
    wchar_t path[room + nameRoom];
    unsigned long length = GetModuleFileNameW(self, path, room);
    if (length == 0 || length >= room)
        return nullptr;
    while (length > 0 && path[length - 1] != L'\\')
        --length;
    for (unsigned long i = 0; i == 0 || name[i - 1]; ++i) {
        if (i == nameRoom)
            return nullptr;
        path[length + i] = name[i];
    }
    module = LoadLibraryW(path);
    return module;
}

// The simulated device's function of that (GCC-decorated or plain) name.
template <typename Function> Function simulated(const char *name)
{
    void *module = simulator();
    return module ? reinterpret_cast<Function>(GetProcAddress(module, name)) : nullptr;
}

// Calls it with the arguments as given (a double& stays a reference); fails
// as a device that is not there when it cannot be found.
template <typename Function, typename... Arguments>
auto forward(const char *name, Arguments &&...arguments)
{
    const auto call = simulated<Function>(name);
    using Result = decltype(call(arguments...));
    return call ? call(arguments...) : Result(qdInitNoDevice);
}

} // namespace

const char *qdGetAPIVersion()
{
    const auto call = simulated<decltype(&qdGetAPIVersion)>("qdGetAPIVersion");
    return call ? call() : nullptr;
}

int qdOpenDevice(int *handle)
{
    return forward<decltype(&qdOpenDevice)>("qdOpenDevice", handle);
}

int qdGetFirmwareVersion(int handle, int *bootVersion, int *runVersion, int *fpgaVersion)
{
    return forward<decltype(&qdGetFirmwareVersion)>(
        "qdGetFirmwareVersion", handle, bootVersion, runVersion, fpgaVersion);
}

int qdGetDeviceInfo(int handle, int *type, int *serial)
{
    return forward<decltype(&qdGetDeviceInfo)>("qdGetDeviceInfo", handle, type, serial);
}

int qdCloseDevice(int handle)
{
    return forward<decltype(&qdCloseDevice)>("qdCloseDevice", handle);
}

QdInitStatus qdBootOpenDevice(int *handle)
{
    return forward<decltype(&qdBootOpenDevice)>("_Z16qdBootOpenDevicePi", handle);
}

QdInitStatus qdBootOpenDeviceBySerial(int *handle, int serial)
{
    return forward<decltype(&qdBootOpenDeviceBySerial)>(
        "_Z24qdBootOpenDeviceBySerialPii", handle, serial);
}

QdInitStatus qdOpenBootstrapDevice(int *handle, const char *path)
{
    return forward<decltype(&qdOpenBootstrapDevice)>(
        "_Z21qdOpenBootstrapDevicePiPKc", handle, path);
}

QdInitStatus qdBootGetDeviceSerial(int handle, int *serial)
{
    return forward<decltype(&qdBootGetDeviceSerial)>(
        "_Z21qdBootGetDeviceSerialiPi", handle, serial);
}

QdInitStatus qdBootGetSerialFromFlash(int handle, int *serial)
{
    return forward<decltype(&qdBootGetSerialFromFlash)>(
        "_Z24qdBootGetSerialFromFlashiPi", handle, serial);
}

QdInitStatus qdBootCloseDevice(int handle)
{
    return forward<decltype(&qdBootCloseDevice)>("_Z17qdBootCloseDevicei", handle);
}

QdInitStatus qdBootClearBootSector(int handle)
{
    return forward<decltype(&qdBootClearBootSector)>("_Z21qdBootClearBootSectori", handle);
}

QdInitStatus qdBootWriteBootSector(int handle, const char *path, int serial)
{
    return forward<decltype(&qdBootWriteBootSector)>(
        "_Z21qdBootWriteBootSectoriPKci", handle, path, serial);
}

QdInitStatus qdBootClearRunSector(int handle)
{
    return forward<decltype(&qdBootClearRunSector)>("_Z20qdBootClearRunSectori", handle);
}

QdInitStatus qdBootWriteRunSector(int handle, const char *path, int value)
{
    return forward<decltype(&qdBootWriteRunSector)>(
        "_Z20qdBootWriteRunSectoriPKci", handle, path, value);
}

QdInitStatus qdBootClearFPGAProgram(int handle, double &progress)
{
    return forward<decltype(&qdBootClearFPGAProgram)>(
        "_Z22qdBootClearFPGAProgramiRd", handle, progress);
}

#ifndef QD740N_LACKING_FPGA_WRITE
QdInitStatus qdBootWriteFPGAProgram(int handle, const char *path, double &progress)
{
    return forward<decltype(&qdBootWriteFPGAProgram)>(
        "_Z22qdBootWriteFPGAProgramiPKcRd", handle, path, progress);
}
#endif
