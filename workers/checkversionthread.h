// Finds the attached QD740N in whichever condition it is (running its
// firmware, waiting in its boot loader, or only reachable by bootstrapping it
// from the target boot image) and describes it in one DeviceStatus.
#pragma once

#include "devicestatus.h"

#include <QThread>

class CheckVersionThread : public QThread
{
    Q_OBJECT

public:
    CheckVersionThread() = default;

    DeviceStatus status; // read by the check flow once the thread has finished

signals:
    void updateText(const QString &s);

protected:
    void run() override;
};
