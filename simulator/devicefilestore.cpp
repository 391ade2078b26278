#include "devicefilestore.h"

#include "regularfile.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QSaveFile>

#include <cmath>
#include <cstdio>

namespace {

// Slower than a thousand times real time is no simulation anyone waits for,
// and keeps every scaled duration representable.
constexpr double maxTimeScale = 1000.0;

const char *const regionFields[3] = { "boot", "run", "fpga" };

// The program shows this text in its banner: an operator must see at once
// that no real device is worked on, and, where no device file is named, why
// no device is found.
const char *const defaultApiVersion = "1.0.0 (SIMULATED QD740N, no real device is touched)";
const char *const unnamedApiVersion = "1.0.0 (SIMULATED QD740N, no real device is touched; no "
                                      "device attached: QD740N_SIM_DEVICE names no device file)";

// A device file is a few lines of JSON.
constexpr qint64 maxDeviceFileSize = qint64(1) * 1024 * 1024;

// The device file, read through one descriptor: a named pipe or a device is
// no device file, and is neither waited on nor read without end. False, with
// `why`, when it cannot be read; `missing` when nothing is at the name.
// Whoever plays the operator edits the file while the device polls it (a
// stalled call waits for an unplug), so the read never holds writers off.
bool readDeviceFile(const QString &path, QByteArray &bytes, QString &why, bool *missing = nullptr)
{
    RegularFile file(path, RegularFile::Writers::Allowed);
    if (file.open(maxDeviceFileSize, QStringLiteral("1 MiB")) && file.readAll(bytes))
        return true;
    why = file.problem();
    if (missing)
        *missing = file.missing();
    return false;
}

} // namespace

QString DeviceFileStore::devicePath()
{
    return qEnvironmentVariable("QD740N_SIM_DEVICE");
}

void DeviceFileStore::warn(const QString &path, const QString &problem)
{
    std::fprintf(
        stderr, "qd_api simulator: device file %s: %s\n", qPrintable(path), qPrintable(problem));
    std::fflush(stderr);
}

// Called at every open: the file is the one source of truth for the device,
// so an edit made between two opens (an unplug, a replug) is seen here.
bool DeviceFileStore::reload(LastingState &state)
{
    const QString path = devicePath();
    bool sameDevice = true;
    if (!loadedOnce || path != loadedPath) {
        sameDevice = false;
        loadedPath = path;
        loadedOnce = true;
        state = LastingState();
    }
    fileUsable = false;
    if (path.isEmpty()) {
        // No device file, no device: a simulator that stood in for a device
        // nobody asked for would report work done on it.
        state.attached = false;
        return false;
    }

    const std::optional<QJsonObject> object = read(path);
    if (!object) {
        state.attached = false;
        return false;
    }
    fileUsable = true;
    fileObject = *object;
    state = parse(fileObject);
    return sameDevice && state.attached;
}

// The file's top-level object, or nothing (and one line on standard error).
std::optional<QJsonObject> DeviceFileStore::read(const QString &path) const
{
    QByteArray bytes;
    QString why;
    if (!readDeviceFile(path, bytes, why)) {
        warn(path, why);
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        warn(path,
            QStringLiteral("not valid JSON: %1 at offset %2")
                .arg(error.errorString())
                .arg(error.offset));
        return std::nullopt;
    }
    if (!document.isObject()) {
        warn(path, QStringLiteral("not a JSON object"));
        return std::nullopt;
    }
    return document.object();
}

// A field of no use is reported and falls back to the built-in device's value.
LastingState DeviceFileStore::parse(const QJsonObject &object) const
{
    LastingState fresh;
    auto integer = [this](const QJsonValue &value, const char *field, int fallback) {
        const double d = value.toDouble();
        if (!value.isDouble() || d != std::floor(d) || d < -2147483648.0 || d > 2147483647.0) {
            warn(loadedPath,
                QStringLiteral("field %1 is not an integer, using %2")
                    .arg(QLatin1String(field))
                    .arg(fallback));
            return fallback;
        }
        return int(d);
    };

    if (object.contains("attached")) {
        if (object.value("attached").isBool())
            fresh.attached = object.value("attached").toBool();
        else
            warn(loadedPath, QStringLiteral("field attached is not a boolean"));
    }
    if (object.contains("serial"))
        fresh.serial = integer(object.value("serial"), "serial", fresh.serial);
    if (object.contains("bootLoaderSerial"))
        fresh.bootLoaderSerial
            = integer(object.value("bootLoaderSerial"), "bootLoaderSerial", fresh.serial);
    for (int region = 0; region < 3; ++region) {
        const char *field = regionFields[region];
        if (!object.contains(field))
            continue;
        const QJsonValue value = object.value(field);
        if (value.isNull())
            fresh.regions[region].reset();
        else
            fresh.regions[region] = integer(value, field, *fresh.regions[region]);
    }
    if (object.contains("bootLoader"))
        fresh.bootLoader = object.value("bootLoader").toBool(false);
    if (object.contains("timeScale")) {
        const double scale = object.value("timeScale").toDouble(-1.0);
        if (scale >= 0.0 && scale <= maxTimeScale)
            fresh.timeScale = scale;
        else
            warn(loadedPath,
                QStringLiteral("field timeScale is not a number from 0 to %1").arg(maxTimeScale));
    }
    const QJsonObject fail = object.value("fail").toObject();
    for (auto it = fail.begin(); it != fail.end(); ++it) {
        const int status = integer(it.value(), "fail", 1);
        if (status != 0)
            fresh.fail.insert(it.key(), status);
    }
    fresh.unplugDuring = object.value("unplugDuring").toString();
    fresh.stall = object.value("stall").toString();
    return fresh;
}

// Writes the lasting state back after every change, atomically. The file is
// read again first, so fields the simulator does not use, and edits made
// since the last open, survive; the lasting state written here wins. An
// unplug that has happened takes its unplugDuring field with it.
void DeviceFileStore::save(const LastingState &state, bool unplugConsumed)
{
    if (!fileUsable || loadedPath.isEmpty())
        return;
    QByteArray bytes;
    QString why;
    bool missing = false;
    // Windows replaces no file that is still open, not even by its reader:
    // the file is closed once read.
    if (readDeviceFile(loadedPath, bytes, why, &missing)) {
        const QJsonDocument document = QJsonDocument::fromJson(bytes);
        if (!document.isObject()) {
            warn(loadedPath, QStringLiteral("no longer a device file, not overwritten"));
            return;
        }
        fileObject = document.object();
    } else if (!missing) {
        warn(loadedPath, why + QStringLiteral(" Not overwritten."));
        return;
    }
    fileObject.insert("attached", state.attached);
    fileObject.insert("serial", state.serial);
    for (int region = 0; region < 3; ++region) {
        const auto &version = state.regions[region];
        fileObject.insert(regionFields[region], version ? QJsonValue(*version) : QJsonValue());
    }
    fileObject.insert("bootLoader", state.bootLoader);
    if (unplugConsumed) {
        fileObject.remove("unplugDuring");
        fileObject.remove("stall");
    }

    QSaveFile file(loadedPath);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(fileObject).toJson(QJsonDocument::Indented)) < 0
        || !file.commit())
        warn(loadedPath, QStringLiteral("cannot be written: %1").arg(file.errorString()));
}

// The device file as it is now, read on its own: an operator edits it while
// a call waits. A file that cannot be read, or is caught half written, says
// nothing yet.
std::optional<QJsonObject> DeviceFileStore::peek(const QString &path)
{
    QByteArray bytes;
    QString why;
    if (path.isEmpty() || !readDeviceFile(path, bytes, why))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

DeviceFileStore::StallEnd DeviceFileStore::stallEnd(const QString &function) const
{
    const std::optional<QJsonObject> object = peek(loadedPath);
    if (!object)
        return StallEnd::None;
    if (object->value("attached").toBool(true) == false)
        return StallEnd::Unplugged;
    return object->value("stall").toString() == function ? StallEnd::None : StallEnd::Released;
}

bool DeviceFileStore::versionQueryStalls()
{
    const std::optional<QJsonObject> object = peek(devicePath());
    return object && object->value("stall").toString() == QLatin1String("qdGetAPIVersion");
}

// Touches nothing of the loaded file, so it needs no lock of its caller's.
std::optional<std::string> DeviceFileStore::apiVersion()
{
    const QString path = devicePath();
    if (path.isEmpty())
        return std::string(unnamedApiVersion);
    std::optional<std::string> text = std::string(defaultApiVersion);
    QByteArray bytes;
    QString why;
    if (readDeviceFile(path, bytes, why)) {
        const QJsonObject object = QJsonDocument::fromJson(bytes).object();
        const QJsonValue value = object.value("apiVersion");
        if (value.isNull())
            text.reset(); // lets a test see the library hand back no text at all
        else if (value.isString())
            text = value.toString().toStdString();
    }
    return text;
}
