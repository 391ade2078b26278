#include "devicelibrary.h"

#include "libraryfile.h"

#include <QDir>
#include <QFileInfo>

#include <type_traits>

namespace {

struct Binding
{
    QString path;
    QString failure;
    DeviceLibrary::Functions functions;
};

Binding &binding()
{
    static Binding current;
    return current;
}

// The names one function may be exported under: its plain name, and the
// names MSVC and GCC give its declaration in qd_api.h. A function declared
// extern "C" there has its plain name only.
struct Names
{
    const char *plain;
    const char *msvc = nullptr;
    const char *gcc = nullptr;
};

// A decorated name also says the argument types, so it is tried before the
// plain one. MSVC's names are tried on Windows only: a library for Linux is
// built by GCC or Clang, which decorate as GCC does. On Windows the maker's
// DLL is built by MSVC, and a MinGW build (the simulated device's) exports
// GCC's names.
QFunctionPointer find(const LibraryFile &library, const Names &names)
{
#ifdef Q_OS_WIN
    const bool msvcNames = true;
#else
    const bool msvcNames = false;
#endif
    for (const char *name : { msvcNames ? names.msvc : nullptr, names.gcc, names.plain }) {
        if (!name)
            continue;
        if (const QFunctionPointer function = library.resolve(name))
            return function;
    }
    return nullptr;
}

} // namespace

bool DeviceLibrary::bind(const QString &file)
{
    Binding &current = binding();
    current = Binding();
    current.path = QDir::toNativeSeparators(file);
    // Never a bare file name: the system would look for it in its own folders.
    if (!QDir::isAbsolutePath(file)) {
        current.failure = QStringLiteral("it is not named by its full path");
        return false;
    }
    if (!QFileInfo::exists(file)) {
        current.failure = QStringLiteral("there is no such file");
        return false;
    }

    // A symbol the library itself lacks is reported now, not in the middle of
    // a write.
    LibraryFile library;
    if (!library.load(file)) {
        current.failure = library.error();
        return false;
    }
    current.path = QDir::toNativeSeparators(library.mappedPath());

    Functions found;
    const char *missing = nullptr;
    const auto bindOne = [&](auto &function, const Names &names) {
        if (missing)
            return;
        function
            = reinterpret_cast<std::remove_reference_t<decltype(function)>>(find(library, names));
        if (!function)
            missing = names.plain;
    };
    // The functions as the device library's table lists them.
    bindOne(found.qdGetAPIVersion, { "qdGetAPIVersion" });
    bindOne(found.qdOpenDevice, { "qdOpenDevice" });
    bindOne(found.qdGetFirmwareVersion, { "qdGetFirmwareVersion" });
    bindOne(found.qdGetDeviceInfo, { "qdGetDeviceInfo" });
    bindOne(found.qdCloseDevice, { "qdCloseDevice" });
    bindOne(found.qdBootOpenDevice,
        { "qdBootOpenDevice", "?qdBootOpenDevice@@YA?AW4QdInitStatus@@PEAH@Z",
            "_Z16qdBootOpenDevicePi" });
    bindOne(found.qdBootOpenDeviceBySerial,
        { "qdBootOpenDeviceBySerial", "?qdBootOpenDeviceBySerial@@YA?AW4QdInitStatus@@PEAHH@Z",
            "_Z24qdBootOpenDeviceBySerialPii" });
    bindOne(found.qdOpenBootstrapDevice,
        { "qdOpenBootstrapDevice", "?qdOpenBootstrapDevice@@YA?AW4QdInitStatus@@PEAHPEBD@Z",
            "_Z21qdOpenBootstrapDevicePiPKc" });
    bindOne(found.qdBootGetDeviceSerial,
        { "qdBootGetDeviceSerial", "?qdBootGetDeviceSerial@@YA?AW4QdInitStatus@@HPEAH@Z",
            "_Z21qdBootGetDeviceSerialiPi" });
    bindOne(found.qdBootGetSerialFromFlash,
        { "qdBootGetSerialFromFlash", "?qdBootGetSerialFromFlash@@YA?AW4QdInitStatus@@HPEAH@Z",
            "_Z24qdBootGetSerialFromFlashiPi" });
    bindOne(found.qdBootCloseDevice,
        { "qdBootCloseDevice", "?qdBootCloseDevice@@YA?AW4QdInitStatus@@H@Z",
            "_Z17qdBootCloseDevicei" });
    bindOne(found.qdBootClearBootSector,
        { "qdBootClearBootSector", "?qdBootClearBootSector@@YA?AW4QdInitStatus@@H@Z",
            "_Z21qdBootClearBootSectori" });
    bindOne(found.qdBootWriteBootSector,
        { "qdBootWriteBootSector", "?qdBootWriteBootSector@@YA?AW4QdInitStatus@@HPEBDH@Z",
            "_Z21qdBootWriteBootSectoriPKci" });
    bindOne(found.qdBootClearRunSector,
        { "qdBootClearRunSector", "?qdBootClearRunSector@@YA?AW4QdInitStatus@@H@Z",
            "_Z20qdBootClearRunSectori" });
    bindOne(found.qdBootWriteRunSector,
        { "qdBootWriteRunSector", "?qdBootWriteRunSector@@YA?AW4QdInitStatus@@HPEBDH@Z",
            "_Z20qdBootWriteRunSectoriPKci" });
    bindOne(found.qdBootClearFPGAProgram,
        { "qdBootClearFPGAProgram", "?qdBootClearFPGAProgram@@YA?AW4QdInitStatus@@HAEAN@Z",
            "_Z22qdBootClearFPGAProgramiRd" });
    bindOne(found.qdBootWriteFPGAProgram,
        { "qdBootWriteFPGAProgram", "?qdBootWriteFPGAProgram@@YA?AW4QdInitStatus@@HPEBDAEAN@Z",
            "_Z22qdBootWriteFPGAProgramiPKcRd" });
    if (missing) {
        current.failure = QStringLiteral("it has no function %1").arg(QLatin1String(missing));
        return false;
    }
    current.functions = found;
    return true;
}

bool DeviceLibrary::isBound()
{
    return binding().functions.qdGetAPIVersion != nullptr;
}

QString DeviceLibrary::path()
{
    return binding().path;
}

QString DeviceLibrary::failure()
{
    return binding().failure;
}

const DeviceLibrary::Functions &DeviceLibrary::functions()
{
    return binding().functions;
}

QString DeviceLibrary::fileName()
{
    return QStringLiteral(QD740N_DEVICE_LIBRARY_NAME);
}
