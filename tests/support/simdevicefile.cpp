#include "simdevicefile.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#ifdef Q_OS_WIN
#include "systemmessage.h"

#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#endif

SimDeviceFile::SimDeviceFile(const QJsonObject &device)
    : currentDevicePath(tempDir.filePath(QStringLiteral("device.json")))
    , previousDir(QDir::currentPath())
    , previousDevice(qgetenv("QD740N_SIM_DEVICE"))
    , previousTrace(qgetenv("QD740N_SIM_TRACE"))
{
    QDir(dir()).mkpath(QStringLiteral("firmware"));
    const QDir source(QStringLiteral(QD740N_FIRMWARE_DIR));
    for (const QString &name : source.entryList(QDir::Files))
        QFile::copy(source.filePath(name), firmwarePath(name));
    write(device);
    qputenv("QD740N_SIM_DEVICE", QFile::encodeName(devicePath()));
    qputenv("QD740N_SIM_TRACE", QFile::encodeName(tracePath()));
    QDir::setCurrent(dir());
}

SimDeviceFile::~SimDeviceFile()
{
    QDir::setCurrent(previousDir);
    qputenv("QD740N_SIM_DEVICE", previousDevice);
    qputenv("QD740N_SIM_TRACE", previousTrace);
}

QJsonObject SimDeviceFile::defaultDevice()
{
    return QJsonObject { { "attached", true }, { "serial", 740001 }, { "boot", 4 }, { "run", 4 },
        { "fpga", 6 }, { "timeScale", 0 } };
}

QJsonObject SimDeviceFile::device(int boot, int run, int fpga, const QJsonObject &changes)
{
    QJsonObject device = defaultDevice();
    const auto region = [](int version) {
        return version < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(version);
    };
    device.insert("boot", region(boot));
    device.insert("run", region(run));
    device.insert("fpga", region(fpga));
    for (auto it = changes.begin(); it != changes.end(); ++it)
        device.insert(it.key(), it.value());
    return device;
}

QString SimDeviceFile::firmwareOf(const QJsonObject &device)
{
    QStringList parts;
    for (const char *region : { "boot", "run", "fpga" }) {
        const QJsonValue version = device.value(region);
        parts << (version.isNull() ? QStringLiteral("-") : QString::number(version.toInt()));
    }
    return parts.join(QLatin1Char('.'));
}

QString SimDeviceFile::notThere(bool folderToo)
{
#ifdef Q_OS_WIN
    const QString words = systemMessage(folderToo ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
#else
    Q_UNUSED(folderToo);
    const QString words = QString::fromLocal8Bit(std::strerror(ENOENT));
#endif
    return QStringLiteral("It cannot be opened: %1.").arg(words);
}

QString SimDeviceFile::tracePath() const
{
    return tempDir.filePath(QStringLiteral("trace.txt"));
}

QString SimDeviceFile::firmwarePath(const QString &fileName) const
{
    return tempDir.filePath(QStringLiteral("firmware/") + fileName);
}

QJsonObject SimDeviceFile::read() const
{
    QFile file(devicePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void SimDeviceFile::write(const QJsonObject &device)
{
    QFile file(devicePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(device).toJson());
}

void SimDeviceFile::update(const QJsonObject &fields)
{
    QJsonObject device = read();
    for (auto it = fields.begin(); it != fields.end(); ++it)
        device.insert(it.key(), it.value());
    write(device);
}

QStringList SimDeviceFile::trace() const
{
    QFile file(tracePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList SimDeviceFile::traceNames() const
{
    QStringList names;
    for (const QString &line : trace())
        names << line.section(QLatin1Char('('), 0, 0);
    return names;
}

void SimDeviceFile::clearTrace()
{
    QFile::remove(tracePath());
}

void SimDeviceFile::startNewRun()
{
    const QJsonObject device = read();
    currentDevicePath = tempDir.filePath(QStringLiteral("device-run%1.json").arg(++runs));
    write(device);
    qputenv("QD740N_SIM_DEVICE", QFile::encodeName(currentDevicePath));
}
