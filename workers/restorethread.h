// Rewrites all three firmware components of a device found only through its
// boot loader or by bootstrapping it: boot sector, run sector and FPGA
// program, always, in that order.
#pragma once

#include "devicestatus.h"

#include <QThread>

class RestoreThread : public QThread
{
    Q_OBJECT

public:
    RestoreThread() = default;

    bool succeeded = false; // read by the restore flow once the thread has finished
    DeviceStatus status; // the probe's result, filled in before start(); only the serial is used

signals:
    void addLine(const QString &s);

protected:
    void run() override;
};
