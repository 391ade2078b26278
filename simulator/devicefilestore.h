// The JSON device file named by QD740N_SIM_DEVICE: reads the lasting state
// of the simulated device from it and writes that state back, atomically and
// keeping the fields the simulator does not use. A file that cannot be read
// or parsed is reported on standard error and never overwritten.
#pragma once

#include "lastingstate.h"

#include <QJsonObject>
#include <QString>

#include <optional>
#include <string>

class DeviceFileStore
{
public:
    // Brings the state up to date with the device file. Returns false when
    // what the process holds of the device (its handles, a boot loader it
    // entered) must be forgotten: the file named is another one, or its
    // device is unplugged, or the file is unusable.
    bool reload(LastingState &state);
    void save(const LastingState &state, bool unplugConsumed = false);

    // How a stalled call ends: not yet, by the device being unplugged, or by
    // the file no longer naming it in "stall" (the device answers again).
    enum class StallEnd { None, Unplugged, Released };
    StallEnd stallEnd(const QString &function) const;
    // The version query stalls while the device file names it in "stall".
    static bool versionQueryStalls();

    // The text qdGetAPIVersion hands back, read from the device file on its
    // own; empty when the file asks for no text at all.
    static std::optional<std::string> apiVersion();

private:
    std::optional<QJsonObject> read(const QString &path) const;
    static std::optional<QJsonObject> peek(const QString &path);
    LastingState parse(const QJsonObject &object) const;

    static QString devicePath();
    static void warn(const QString &path, const QString &problem);

    QString loadedPath;
    bool loadedOnce = false;
    bool fileUsable = false; // false: the file could not be read or parsed, never overwrite it
    QJsonObject fileObject; // the file as last read, so unknown fields survive a save
};
