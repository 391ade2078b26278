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
    // The default device with firmware boot.run.fpga (a negative number: that
    // region erased) and the given fields changed.
    static QJsonObject device(int boot, int run, int fpga, const QJsonObject &changes = {});
    // The firmware a device file holds, as "boot.run.fpga" with "-" for an
    // erased region.
    static QString firmwareOf(const QJsonObject &device);
    // Why the program cannot read a file that is not there, in the system's
    // words, as it says it; `folderToo`: its folder is not there either.
    static QString notThere(bool folderToo = false);

    QString dir() const { return tempDir.path(); }
    QString devicePath() const { return currentDevicePath; }
    QString tracePath() const;
    QString firmwarePath(const QString &fileName) const;

    QJsonObject read() const;
    QString firmware() const { return firmwareOf(read()); }
    void write(const QJsonObject &device);
    void update(const QJsonObject &fields); // changes just the given fields
    QStringList trace() const;
    QStringList traceNames() const; // the function names of the trace, in order
    void clearTrace();

    // The program is started again on the same device: the device goes on in
    // a file of its own, since the simulator forgets what a previous run left
    // open (a handle, a boot loader entered) only when pointed at another file.
    void startNewRun();

private:
    QTemporaryDir tempDir;
    QString currentDevicePath;
    int runs = 1;
    QString previousDir;
    QByteArray previousDevice;
    QByteArray previousTrace;
};
