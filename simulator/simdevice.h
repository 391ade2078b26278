// One simulated QD740N behind the qd_api functions. Its lasting state (what
// a real device keeps in flash, and whether it is plugged in) comes from the
// JSON device file named by QD740N_SIM_DEVICE (through a DeviceFileStore), or
// from a built-in default device when that is unset; its passing state (open
// handles, a boot loader entered by an open or by bootstrapping) lives only
// in this process.
#pragma once

#include "devicefilestore.h"
#include "lastingstate.h"
#include "simimage.h"

#include <QMutex>
#include <QString>

#include <map>
#include <optional>
#include <set>
#include <string>

class SimDevice
{
public:
    static SimDevice &instance();

    const char *apiVersion();
    int openDevice(int *handle);
    int getFirmwareVersion(int handle, int *bootVersion, int *runVersion, int *fpgaVersion);
    int getDeviceInfo(int handle, int *type, int *serial);
    int closeDevice(int handle);
    int bootOpenDevice(int *handle);
    int bootOpenDeviceBySerial(int *handle, int serial);
    int openBootstrapDevice(int *handle, const char *path);
    int bootGetSerial(const char *name, int handle, int *serial);
    int bootCloseDevice(int handle);
    int bootClear(const char *name, SimImage::Region region, int handle, double *progress);
    int bootWrite(const char *name, SimImage::Region region, int handle, const char *path,
        const QString &lastArgument, int serial, double *progress);

private:
    enum class HandleKind { Normal, Boot };

    SimDevice() = default;
    ~SimDevice();

    void reload();
    void forgetPassingState();

    bool regionValid(SimImage::Region region) const { return state.regions[region].has_value(); }
    bool allRegionsValid() const;
    bool inBootLoader() const;
    int bootLoaderSerial() const { return state.bootLoaderSerial.value_or(state.serial); }
    bool usable(int handle, HandleKind kind) const;
    int openHandle(HandleKind kind, int *handle);
    int injected(const char *name) const;
    bool unplugsDuring(const char *name, const QString &call, double seconds, double *progress,
        std::optional<SimImage::Region> erasing);
    bool stallsUntilUnplugged(
        const char *name, const QString &call, std::optional<SimImage::Region> erasing);
    void unplug(std::optional<SimImage::Region> erasing);
    void spend(double seconds, double *progress, double from = 0.0, double to = 1.0) const;

    int done(const QString &call, int status);
    static void trace(const QString &line);
    static QString quoted(const char *path);
    static QString quoted(const QString &text);

    QMutex mutex;
    LastingState state;
    DeviceFileStore store;

    struct Handle
    {
        HandleKind kind;
        bool wrote = false; // a write through it succeeded: its close restarts the device
    };
    std::map<int, Handle> handles;
    int nextHandle = 1;
    bool enteredBootLoader = false;
    bool bootstrapped = false; // brought up from a boot image: its boot loader runs from RAM

    QMutex versionMutex;
    std::set<std::string> versionTexts; // returned pointers must stay valid
};
