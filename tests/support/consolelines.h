// Lines the console writes that more than one suite expects, as LogReader
// reads them back (the verdict after the tag of its colour).
#pragma once

#include <QStringList>

class ConsoleLines
{
public:
    // The banner on the build's simulated device.
    static QStringList banner();

    // The lines a flow starts with: "check", "update" or "restore". An update
    // or restore on Windows also says what may still put it to sleep.
    static QStringList heading(const QString &flow);

    // The probe's lines when neither the device, its boot loader nor a
    // bootstrap answers; the first two where only the boot loader answers.
    static const QStringList noDeviceProbe;
    // The check's conclusion when nothing was detected.
    static const QStringList notDetected;

    // The line each worker writes as it starts on the boot sector, the run
    // sector and the FPGA.
    static const QStringList updateStages;
    static const QStringList restoreStages;

    // The update's and the restore's verdict.
    static const QStringList success;
    static const QStringList failure;
};
