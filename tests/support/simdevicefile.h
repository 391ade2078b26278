// A simulated QD740N for one test: a temporary working directory holding a
// copy of the target images in firmware/, a device file and a trace file,
// both handed to the simulator through its environment variables. The
// previous working directory and environment come back on destruction.
#pragma once

#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

class SimDeviceFile
{
public:
    explicit SimDeviceFile(const QJsonObject &device = defaultDevice());
    ~SimDeviceFile();

    // attached, serial 740001, firmware 4.4.6, no waiting
    static QJsonObject defaultDevice();

    QString dir() const { return tempDir.path(); }
    QString devicePath() const;
    QString tracePath() const;
    QString firmwarePath(const QString &fileName) const;

    QJsonObject read() const;
    void write(const QJsonObject &device);
    void update(const QJsonObject &fields); // changes just the given fields
    QStringList trace() const;
    QStringList traceNames() const; // the function names of the trace, in order
    void clearTrace();

private:
    QTemporaryDir tempDir;
    QString previousDir;
    QByteArray previousDevice;
    QByteArray previousTrace;
};
