#include "simdevice.h"

#include "qd_api.h"

#include <QFile>
#include <QMutexLocker>

#include <chrono>
#include <thread>

namespace {

// Real durations of the device's calls, in seconds; the simulator takes each
// of them times the device's timeScale.
constexpr double openSeconds = 0.5;
constexpr double openBySerialSeconds = 2.0;
constexpr double bootstrapSeconds = 20.0;
constexpr double sectorClearSeconds = 1.0;
constexpr double sectorWriteSeconds = 9.0;
constexpr double fpgaClearSeconds = 30.0;
constexpr double fpgaWriteSeconds = 330.0;

constexpr int deviceType = 740;

double secondsFor(const char *name)
{
    const QByteArray n(name);
    if (n.endsWith("FPGAProgram"))
        return n.contains("Clear") ? fpgaClearSeconds : fpgaWriteSeconds;
    return n.contains("Clear") ? sectorClearSeconds : sectorWriteSeconds;
}

} // namespace

SimDevice &SimDevice::instance()
{
    static SimDevice device;
    return device;
}

// The library's own clean-up as the process ends, as the maker's does: a
// boot-loader handle left open (an update leaves its own) is closed, which
// restarts a device written through it. Said in the trace, so that a test
// sees it ran. A call still stalled holds the device; it is left alone.
SimDevice::~SimDevice()
{
    if (!mutex.tryLock())
        return;
    for (auto it = handles.begin(); it != handles.end(); it = handles.begin()) {
        const int handle = it->first;
        const bool boot = it->second.kind == HandleKind::Boot;
        mutex.unlock();
        if (boot)
            bootCloseDevice(handle);
        else
            closeDevice(handle);
        mutex.lock();
        handles.erase(handle);
    }
    mutex.unlock();
    trace(QStringLiteral("library unloaded"));
}

// ---- the device file ----

void SimDevice::forgetPassingState()
{
    handles.clear();
    enteredBootLoader = false;
    bootstrapped = false;
}

void SimDevice::reload()
{
    if (!store.reload(state))
        forgetPassingState();
}

// ---- conditions of the device ----

bool SimDevice::allRegionsValid() const
{
    return regionValid(SimImage::Boot) && regionValid(SimImage::Run) && regionValid(SimImage::Fpga);
}

// A device with a valid boot region waits in its boot loader when it is held
// there, was put there by this process, or has no complete firmware to run.
bool SimDevice::inBootLoader() const
{
    return state.bootLoader || enteredBootLoader || !regionValid(SimImage::Run)
        || !regionValid(SimImage::Fpga);
}

bool SimDevice::usable(int handle, HandleKind kind) const
{
    const auto it = handles.find(handle);
    return state.attached && it != handles.end() && it->second.kind == kind;
}

int SimDevice::openHandle(HandleKind kind, int *handle)
{
    const int opened = nextHandle++;
    handles[opened] = Handle { kind };
    if (handle)
        *handle = opened;
    return qdInitSuccess;
}

int SimDevice::injected(const char *name) const
{
    return state.fail.value(QLatin1String(name), 0);
}

// The device is lost in the named call, if the device file asks for that:
// pulled out halfway through it, or silent in it until it is unplugged. The
// region being written is left erased, every handle dies, and the file says it
// is no longer attached. The unplug happens once; a replugged device does not
// unplug again.
bool SimDevice::unplugsDuring(const char *name, const QString &call, double seconds,
    double *progress, std::optional<SimImage::Region> erasing)
{
    if (!state.attached || state.unplugDuring != QLatin1String(name))
        return stallsUntilUnplugged(name, call, erasing);
    spend(seconds / 2, progress, 0.0, 0.5);
    unplug(erasing);
    return true;
}

// The region being written is left erased, every handle dies, and the file
// says the device is no longer attached, without the fault that unplugged it.
void SimDevice::unplug(std::optional<SimImage::Region> erasing)
{
    if (erasing)
        state.regions[*erasing].reset();
    state.attached = false;
    state.unplugDuring.clear();
    state.stall.clear();
    forgetPassingState();
    store.save(state, true);
}

// A device that stops answering in the named call, if the device file asks
// for that: the call does not return until the file says the device was
// unplugged (the call then fails as an unplug does) or no longer names the
// call (it then goes on as usual). The trace says when the call stalls.
bool SimDevice::stallsUntilUnplugged(
    const char *name, const QString &call, std::optional<SimImage::Region> erasing)
{
    if (!state.attached || state.stall != QLatin1String(name))
        return false;
    trace(call + QStringLiteral(" stalls"));
    for (;;) {
        switch (store.stallEnd(state.stall)) {
        case DeviceFileStore::StallEnd::Unplugged:
            unplug(erasing);
            return true;
        case DeviceFileStore::StallEnd::Released:
            state.stall.clear();
            return false;
        case DeviceFileStore::StallEnd::None:
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            break;
        }
    }
}

void SimDevice::spend(double seconds, double *progress, double from, double to) const
{
    using namespace std::chrono;
    const double total = seconds * state.timeScale;
    if (total > 0.0) {
        const auto start = steady_clock::now();
        const auto end = start + duration_cast<steady_clock::duration>(duration<double>(total));
        for (auto now = start; now < end; now = steady_clock::now()) {
            if (progress)
                *progress = from + (to - from) * duration<double>(now - start).count() / total;
            std::this_thread::sleep_for(
                std::min<steady_clock::duration>(milliseconds(20), end - now));
        }
    }
    if (progress)
        *progress = to;
}

// ---- the trace ----

// A path as the library reads it, in the system's 8-bit encoding.
QString SimDevice::quoted(const char *path)
{
    if (!path)
        return QStringLiteral("null");
    return quoted(QFile::decodeName(path));
}

QString SimDevice::quoted(const QString &text)
{
    QString s = text;
    s.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    s.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + s + QLatin1Char('"');
}

void SimDevice::trace(const QString &line)
{
    const QString path = qEnvironmentVariable("QD740N_SIM_TRACE");
    if (path.isEmpty())
        return;
    static QMutex traceMutex;
    QMutexLocker locker(&traceMutex);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write((line + QLatin1Char('\n')).toUtf8());
}

int SimDevice::done(const QString &call, int status)
{
    trace(call + QStringLiteral(" -> ") + QString::number(status));
    return status;
}

// ---- the calls ----

const char *SimDevice::apiVersion()
{
    // Read on its own, without the device lock: the GUI thread asks for the
    // version while a worker may be in a long call. It too may stall: a
    // library that hangs as the program starts.
    if (DeviceFileStore::versionQueryStalls()) {
        trace(QStringLiteral("qdGetAPIVersion() stalls"));
        while (DeviceFileStore::versionQueryStalls())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::optional<std::string> text = DeviceFileStore::apiVersion();
    QMutexLocker locker(&versionMutex);
    const char *result = text ? versionTexts.insert(*text).first->c_str() : nullptr;
    locker.unlock();
    // The text is UTF-8, as the program reads it (on Windows the system's
    // 8-bit encoding is another).
    trace(QStringLiteral("qdGetAPIVersion() -> ")
        + (result ? quoted(QString::fromUtf8(result)) : QStringLiteral("null")));
    return result;
}

int SimDevice::openDevice(int *handle)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("qdOpenDevice()");
    reload();
    if (const int status = injected("qdOpenDevice"))
        return done(call, status);
    if (unplugsDuring("qdOpenDevice", call, openSeconds, nullptr, std::nullopt))
        return done(call, qdInitNoDevice);
    if (!state.attached || !regionValid(SimImage::Boot) || inBootLoader())
        return done(call, qdInitNoDevice);
    spend(openSeconds, nullptr);
    return done(call, openHandle(HandleKind::Normal, handle));
}

int SimDevice::getFirmwareVersion(int handle, int *bootVersion, int *runVersion, int *fpgaVersion)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("qdGetFirmwareVersion(%1)").arg(handle);
    if (const int status = injected("qdGetFirmwareVersion"))
        return done(call, status);
    if (unplugsDuring("qdGetFirmwareVersion", call, 0.0, nullptr, std::nullopt))
        return done(call, qdInitNoDevice);
    if (!usable(handle, HandleKind::Normal) || !allRegionsValid())
        return done(call, qdInitBadHandle);
    if (bootVersion)
        *bootVersion = *state.regions[SimImage::Boot];
    if (runVersion)
        *runVersion = *state.regions[SimImage::Run];
    if (fpgaVersion)
        *fpgaVersion = *state.regions[SimImage::Fpga];
    return done(call, qdInitSuccess);
}

int SimDevice::getDeviceInfo(int handle, int *type, int *serial)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("qdGetDeviceInfo(%1)").arg(handle);
    if (const int status = injected("qdGetDeviceInfo"))
        return done(call, status);
    if (unplugsDuring("qdGetDeviceInfo", call, 0.0, nullptr, std::nullopt))
        return done(call, qdInitNoDevice);
    if (!usable(handle, HandleKind::Normal))
        return done(call, qdInitBadHandle);
    if (type)
        *type = deviceType;
    if (serial)
        *serial = state.serial;
    return done(call, qdInitSuccess);
}

int SimDevice::closeDevice(int handle)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("qdCloseDevice(%1)").arg(handle);
    if (const int status = injected("qdCloseDevice"))
        return done(call, status);
    if (unplugsDuring("qdCloseDevice", call, 0.0, nullptr, std::nullopt))
        return done(call, qdInitNoDevice);
    if (!usable(handle, HandleKind::Normal))
        return done(call, qdInitBadHandle);
    handles.erase(handle);
    return done(call, qdInitSuccess);
}

int SimDevice::bootOpenDevice(int *handle)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("qdBootOpenDevice()");
    reload();
    if (const int status = injected("qdBootOpenDevice"))
        return done(call, status);
    if (unplugsDuring("qdBootOpenDevice", call, openSeconds, nullptr, std::nullopt))
        return done(call, qdInitNoDevice);
    // A unit this process bootstrapped waits in the boot loader it runs from
    // RAM, though its boot region is erased, until it restarts.
    if (!state.attached || !(regionValid(SimImage::Boot) || bootstrapped) || !inBootLoader())
        return done(call, qdInitNoDevice);
    spend(openSeconds, nullptr);
    return done(call, openHandle(HandleKind::Boot, handle));
}

int SimDevice::bootOpenDeviceBySerial(int *handle, int serial)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("qdBootOpenDeviceBySerial(%1)").arg(serial);
    reload();
    if (const int status = injected("qdBootOpenDeviceBySerial"))
        return done(call, status);
    if (unplugsDuring("qdBootOpenDeviceBySerial", call, openBySerialSeconds, nullptr, std::nullopt))
        return done(call, qdInitNoDevice);
    if (!state.attached || !regionValid(SimImage::Boot) || serial != bootLoaderSerial())
        return done(call, qdInitNoDevice);
    if (!inBootLoader()) {
        // A running device restarts into its boot loader; its normal handles die.
        forgetPassingState();
        enteredBootLoader = true;
    }
    spend(openBySerialSeconds, nullptr);
    return done(call, openHandle(HandleKind::Boot, handle));
}

int SimDevice::openBootstrapDevice(int *handle, const char *path)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("qdOpenBootstrapDevice(%1)").arg(quoted(path));
    reload();
    if (const int status = injected("qdOpenBootstrapDevice"))
        return done(call, status);
    if (unplugsDuring("qdOpenBootstrapDevice", call, bootstrapSeconds, nullptr, std::nullopt))
        return done(call, qdInitNoDevice);
    // Only a device without a boot region comes up as a bare device that
    // can be bootstrapped.
    if (!state.attached || regionValid(SimImage::Boot))
        return done(call, qdInitNoDevice);
    if (!path
        || SimImage::checkFile(QFile::decodeName(path), SimImage::Boot).problem
            != SimImage::NoProblem)
        return done(call, qdInitBadImage);
    spend(bootstrapSeconds, nullptr);
    enteredBootLoader = true;
    bootstrapped = true;
    return done(call, openHandle(HandleKind::Boot, handle));
}

int SimDevice::bootGetSerial(const char *name, int handle, int *serial)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(handle);
    if (const int status = injected(name))
        return done(call, status);
    if (unplugsDuring(name, call, 0.0, nullptr, std::nullopt))
        return done(call, qdInitNoDevice);
    if (!usable(handle, HandleKind::Boot))
        return done(call, qdInitBadHandle);
    if (serial) {
        const bool fromBootLoader = QByteArray(name) == "qdBootGetDeviceSerial";
        *serial = fromBootLoader ? bootLoaderSerial() : state.serial;
    }
    return done(call, qdInitSuccess);
}

int SimDevice::bootCloseDevice(int handle)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("qdBootCloseDevice(%1)").arg(handle);
    if (const int status = injected("qdBootCloseDevice"))
        return done(call, status);
    if (unplugsDuring("qdBootCloseDevice", call, 0.0, nullptr, std::nullopt))
        return done(call, qdInitNoDevice);
    if (!usable(handle, HandleKind::Boot))
        return done(call, qdInitBadHandle);
    const bool wrote = handles[handle].wrote;
    handles.erase(handle);
    // Written to and complete: the device restarts and runs its new firmware.
    // A close after queries alone leaves it in its boot loader, so a device
    // held there or entered by a probe is still there for a restore.
    if (wrote && allRegionsValid()) {
        forgetPassingState();
        if (state.bootLoader) {
            state.bootLoader = false;
            store.save(state);
        }
    }
    return done(call, qdInitSuccess);
}

int SimDevice::bootClear(const char *name, SimImage::Region region, int handle, double *progress)
{
    QMutexLocker locker(&mutex);
    const QString call = QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(handle);
    if (const int status = injected(name))
        return done(call, status);
    if (!usable(handle, HandleKind::Boot))
        return done(call, qdInitBadHandle);
    const double seconds = secondsFor(name);
    if (unplugsDuring(name, call, seconds, progress, region))
        return done(call, qdInitNoDevice);
    spend(seconds, progress);
    state.regions[region].reset();
    store.save(state);
    return done(call, qdInitSuccess);
}

int SimDevice::bootWrite(const char *name, SimImage::Region region, int handle, const char *path,
    const QString &lastArgument, int serial, double *progress)
{
    QMutexLocker locker(&mutex);
    QString call
        = QStringLiteral("%1(%2, %3").arg(QLatin1String(name)).arg(handle).arg(quoted(path));
    if (!lastArgument.isEmpty())
        call += QStringLiteral(", ") + lastArgument;
    call += QLatin1Char(')');
    if (!usable(handle, HandleKind::Boot))
        return done(call, injected(name) ? injected(name) : int(qdInitBadHandle));

    // A write starts by erasing its region; whatever stops it leaves the region erased.
    const bool wasValid = regionValid(region);
    state.regions[region].reset();
    if (const int status = injected(name)) {
        if (wasValid)
            store.save(state);
        return done(call, status);
    }
    const double seconds = secondsFor(name);
    if (unplugsDuring(name, call, seconds, progress, region))
        return done(call, qdInitNoDevice);
    const SimImage::Check image = path
        ? SimImage::checkFile(QFile::decodeName(path), region)
        : SimImage::Check { SimImage::Missing, 0, QStringLiteral("no path") };
    if (image.problem != SimImage::NoProblem) {
        if (wasValid)
            store.save(state);
        return done(call, qdInitBadImage);
    }
    spend(seconds, progress);
    state.regions[region] = image.version;
    if (region == SimImage::Boot)
        state.serial = serial;
    handles[handle].wrote = true;
    store.save(state);
    return done(call, qdInitSuccess);
}
