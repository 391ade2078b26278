// A stand-in for the maker's qd_api.dll as MSVC builds it: compiled by
// clang-cl for x86_64-pc-windows-msvc and linked by lld-link without the C
// runtime, so its C++ functions are exported under MSVC's decorated names.
// Each call is handed to the simulated device, a MinGW build of it beside
// this DLL as qd_api_simulator.dll, loaded by its full path (a DLL already
// loaded as qd_api.dll would be taken for it by a load without one).
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
    static const wchar_t name[] = L"qd_api_simulator.dll";
    const unsigned long room = 512;
    wchar_t path[room + sizeof name / sizeof *name];
    unsigned long length = GetModuleFileNameW(self, path, room);
    if (length == 0 || length >= room)
        return nullptr;
    while (length > 0 && path[length - 1] != L'\\')
        --length;
    for (unsigned long i = 0; i < sizeof name / sizeof *name; ++i)
        path[length + i] = name[i];
    module = LoadLibraryW(path);
    return module;
}

// The simulated device's function of that (GCC-decorated or plain) name.
template <typename Function> Function simulated(const char *name)
{
    void *module = simulator();
    return module ? reinterpret_cast<Function>(GetProcAddress(module, name)) : nullptr;
}

} // namespace

const char *qdGetAPIVersion()
{
    const auto call = simulated<decltype(&qdGetAPIVersion)>("qdGetAPIVersion");
    return call ? call() : nullptr;
}

int qdOpenDevice(int *handle)
{
    const auto call = simulated<decltype(&qdOpenDevice)>("qdOpenDevice");
    return call ? call(handle) : qdInitNoDevice;
}

int qdGetFirmwareVersion(int handle, int *bootVersion, int *runVersion, int *fpgaVersion)
{
    const auto call = simulated<decltype(&qdGetFirmwareVersion)>("qdGetFirmwareVersion");
    return call ? call(handle, bootVersion, runVersion, fpgaVersion) : qdInitNoDevice;
}

int qdGetDeviceInfo(int handle, int *type, int *serial)
{
    const auto call = simulated<decltype(&qdGetDeviceInfo)>("qdGetDeviceInfo");
    return call ? call(handle, type, serial) : qdInitNoDevice;
}

int qdCloseDevice(int handle)
{
    const auto call = simulated<decltype(&qdCloseDevice)>("qdCloseDevice");
    return call ? call(handle) : qdInitNoDevice;
}

QdInitStatus qdBootOpenDevice(int *handle)
{
    const auto call = simulated<decltype(&qdBootOpenDevice)>("_Z16qdBootOpenDevicePi");
    return call ? call(handle) : qdInitNoDevice;
}

QdInitStatus qdBootOpenDeviceBySerial(int *handle, int serial)
{
    const auto call
        = simulated<decltype(&qdBootOpenDeviceBySerial)>("_Z24qdBootOpenDeviceBySerialPii");
    return call ? call(handle, serial) : qdInitNoDevice;
}

QdInitStatus qdOpenBootstrapDevice(int *handle, const char *path)
{
    const auto call = simulated<decltype(&qdOpenBootstrapDevice)>("_Z21qdOpenBootstrapDevicePiPKc");
    return call ? call(handle, path) : qdInitNoDevice;
}

QdInitStatus qdBootGetDeviceSerial(int handle, int *serial)
{
    const auto call = simulated<decltype(&qdBootGetDeviceSerial)>("_Z21qdBootGetDeviceSerialiPi");
    return call ? call(handle, serial) : qdInitNoDevice;
}

QdInitStatus qdBootGetSerialFromFlash(int handle, int *serial)
{
    const auto call
        = simulated<decltype(&qdBootGetSerialFromFlash)>("_Z24qdBootGetSerialFromFlashiPi");
    return call ? call(handle, serial) : qdInitNoDevice;
}

QdInitStatus qdBootCloseDevice(int handle)
{
    const auto call = simulated<decltype(&qdBootCloseDevice)>("_Z17qdBootCloseDevicei");
    return call ? call(handle) : qdInitNoDevice;
}

QdInitStatus qdBootClearBootSector(int handle)
{
    const auto call = simulated<decltype(&qdBootClearBootSector)>("_Z21qdBootClearBootSectori");
    return call ? call(handle) : qdInitNoDevice;
}

QdInitStatus qdBootWriteBootSector(int handle, const char *path, int serial)
{
    const auto call = simulated<decltype(&qdBootWriteBootSector)>("_Z21qdBootWriteBootSectoriPKci");
    return call ? call(handle, path, serial) : qdInitNoDevice;
}

QdInitStatus qdBootClearRunSector(int handle)
{
    const auto call = simulated<decltype(&qdBootClearRunSector)>("_Z20qdBootClearRunSectori");
    return call ? call(handle) : qdInitNoDevice;
}

QdInitStatus qdBootWriteRunSector(int handle, const char *path, int value)
{
    const auto call = simulated<decltype(&qdBootWriteRunSector)>("_Z20qdBootWriteRunSectoriPKci");
    return call ? call(handle, path, value) : qdInitNoDevice;
}

QdInitStatus qdBootClearFPGAProgram(int handle, double &progress)
{
    const auto call = simulated<decltype(&qdBootClearFPGAProgram)>("_Z22qdBootClearFPGAProgramiRd");
    return call ? call(handle, progress) : qdInitNoDevice;
}

#ifndef QD740N_LACKING_FPGA_WRITE
QdInitStatus qdBootWriteFPGAProgram(int handle, const char *path, double &progress)
{
    const auto call
        = simulated<decltype(&qdBootWriteFPGAProgram)>("_Z22qdBootWriteFPGAProgramiPKcRd");
    return call ? call(handle, path, progress) : qdInitNoDevice;
}
#endif
