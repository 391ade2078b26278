// Brings a device found running its firmware to the target set: it opens the
// device's boot loader by serial number and rewrites the boot sector, the run
// sector and the FPGA program in that order, skipping each component whose
// version already equals its target number.
#pragma once

#include "devicestatus.h"

#include <QThread>

class UpdateVersionThread : public QThread
{
    Q_OBJECT

public:
    UpdateVersionThread() = default;

    bool succeeded = false; // read by the update flow once the thread has finished
    DeviceStatus status; // the probe's result, filled in before start()

signals:
    void addLine(const QString &s);
    void replaceLastLine(const QString &s);

protected:
    void run() override;
};
