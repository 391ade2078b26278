// The device library, bound when the program starts: qd_api is loaded from
// the one file named in full, and each of its functions is found under
// whichever name the library exports it, so that one program drives the
// simulated device and the maker's library alike, however the maker's
// compiler names its functions.
// The qd_api functions the workers call hand over to what was bound here.
#pragma once

#include "qd_api.h"

#include <QString>

class DeviceLibrary
{
public:
    // The library's functions; all of them are set, or none.
    struct Functions
    {
        decltype(&::qdGetAPIVersion) qdGetAPIVersion = nullptr;
        decltype(&::qdOpenDevice) qdOpenDevice = nullptr;
        decltype(&::qdGetFirmwareVersion) qdGetFirmwareVersion = nullptr;
        decltype(&::qdGetDeviceInfo) qdGetDeviceInfo = nullptr;
        decltype(&::qdCloseDevice) qdCloseDevice = nullptr;
        decltype(&::qdBootOpenDevice) qdBootOpenDevice = nullptr;
        decltype(&::qdBootOpenDeviceBySerial) qdBootOpenDeviceBySerial = nullptr;
        decltype(&::qdOpenBootstrapDevice) qdOpenBootstrapDevice = nullptr;
        decltype(&::qdBootGetDeviceSerial) qdBootGetDeviceSerial = nullptr;
        decltype(&::qdBootGetSerialFromFlash) qdBootGetSerialFromFlash = nullptr;
        decltype(&::qdBootCloseDevice) qdBootCloseDevice = nullptr;
        decltype(&::qdBootClearBootSector) qdBootClearBootSector = nullptr;
        decltype(&::qdBootWriteBootSector) qdBootWriteBootSector = nullptr;
        decltype(&::qdBootClearRunSector) qdBootClearRunSector = nullptr;
        decltype(&::qdBootWriteRunSector) qdBootWriteRunSector = nullptr;
        decltype(&::qdBootClearFPGAProgram) qdBootClearFPGAProgram = nullptr;
        decltype(&::qdBootWriteFPGAProgram) qdBootWriteFPGAProgram = nullptr;
    };

    // Binds the library at the full path `file`, and no other file, for the
    // whole process, in place of any bound before. Never while a worker runs.
    // True when every function was found.
    static bool bind(const QString &file);

    static bool isBound();
    // The full path of the library bound, as the system mapped it, or of the
    // one that could not be.
    static QString path();
    // Why it could not be bound: the system's words, or the first function
    // it lacks. Empty once bound.
    static QString failure();

    static const Functions &functions();

    // The library's file name: qd_api.dll, libqd_api.so, or the SONAME of
    // the maker's library the program was built for.
    static QString fileName();
};
