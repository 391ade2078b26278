// The QD740N device-access library: opening the device in its three modes,
// reading its serial number and firmware version, and clearing and writing
// its boot sector, run sector and FPGA program. Handles are ints filled in by
// the open calls; every status is 0 on success and anything else on failure.
#pragma once

// QD_API_BUILD: the library itself, which exports the functions.
// QD_API_BOUND: the updater, which defines them itself, handing each call
// over to the library it loaded at start (devicelibrary.h).
// Neither: a program linked against the library.
#if defined(QD_API_BUILD) && defined(_WIN32)
#define QD_API_EXPORT __declspec(dllexport)
#elif defined(QD_API_BUILD)
#define QD_API_EXPORT __attribute__((visibility("default")))
#elif defined(QD_API_BOUND) || !defined(_WIN32)
#define QD_API_EXPORT
#else
#define QD_API_EXPORT __declspec(dllimport)
#endif

// Status of the boot-loader calls; only qdInitSuccess means success.
enum QdInitStatus : int {
    qdInitSuccess = 0,
    qdInitFailed = 1,
    qdInitNoDevice = 2,
    qdInitBadHandle = 3,
    qdInitBadImage = 4,
};

extern "C" {
QD_API_EXPORT const char *qdGetAPIVersion();
QD_API_EXPORT int qdOpenDevice(int *handle);
QD_API_EXPORT int qdGetFirmwareVersion(
    int handle, int *bootVersion, int *runVersion, int *fpgaVersion);
QD_API_EXPORT int qdGetDeviceInfo(int handle, int *type, int *serial);
QD_API_EXPORT int qdCloseDevice(int handle);
}

QD_API_EXPORT QdInitStatus qdBootOpenDevice(int *handle);
QD_API_EXPORT QdInitStatus qdBootOpenDeviceBySerial(int *handle, int serial);
QD_API_EXPORT QdInitStatus qdOpenBootstrapDevice(int *handle, const char *path);
QD_API_EXPORT QdInitStatus qdBootGetDeviceSerial(int handle, int *serial);
QD_API_EXPORT QdInitStatus qdBootGetSerialFromFlash(int handle, int *serial);
QD_API_EXPORT QdInitStatus qdBootCloseDevice(int handle);
QD_API_EXPORT QdInitStatus qdBootClearBootSector(int handle);
QD_API_EXPORT QdInitStatus qdBootWriteBootSector(int handle, const char *path, int serial);
QD_API_EXPORT QdInitStatus qdBootClearRunSector(int handle);
QD_API_EXPORT QdInitStatus qdBootWriteRunSector(int handle, const char *path, int value);
QD_API_EXPORT QdInitStatus qdBootClearFPGAProgram(int handle, double &progress);
QD_API_EXPORT QdInitStatus qdBootWriteFPGAProgram(int handle, const char *path, double &progress);
