#include "consolelines.h"

#include <QDir>

QStringList ConsoleLines::banner()
{
    return { "QD740N firmware updater",
        "QD API version 1.0.0 (SIMULATED QD740N, no real device is touched)",
        "QD API library " + QDir::toNativeSeparators(QStringLiteral(QD740N_LIBRARY)),
        "Update to firmware version 4.5.6", QString(),
        "Ensure the QD740N is fully connected to the PC.",
        "<red>Do NOT disconnect the QD740N at any time during the update.",
        "Disconnecting the QD740N during an update will leave your device in an unoperable "
        "state." };
}

QStringList ConsoleLines::heading(const QString &flow)
{
#ifdef Q_OS_WIN
    const QStringList sleepWarning { "Closing the lid or pressing the sleep button will put "
                                     "Windows to sleep and interrupt the write." };
#else
    const QStringList sleepWarning;
#endif
    if (flow == QLatin1String("update"))
        return QStringList { QString(), "Updating Firmware", QString() } + sleepWarning;
    if (flow == QLatin1String("restore"))
        return QStringList { QString(), "Restoring Device", QString() } + sleepWarning;
    return { QString(), "Checking Firmware Versions...", QString() };
}

const QStringList ConsoleLines::noDeviceProbe { "Failed to open QD740N.",
    "Looking for QD740N boot device...", "Failed to open QD740N boot device.",
    "Looking to bootstrap QD740N." };
const QStringList ConsoleLines::notDetected { "Failed to detect device.",
    "Cycle the power on the QD740N, restart the firmware updater,  and try again.",
    "If you continue to receive this message, contact Marquell." };

const QStringList ConsoleLines::updateStages { "Updating boot Fx3, estimated 10 seconds.",
    "Updating run Fx3, estimated 10 seconds.", "Updating FPGA, estimated 6 minutes." };
const QStringList ConsoleLines::restoreStages { "Updating boot Fx3, estimated 10 seconds.",
    "Updating run Fx3 device, estimated 10 seconds.", "Updating FPGA, estimated 6 minutes." };

const QStringList ConsoleLines::success { "<green>Firmware updated successfully.",
    "You may now close the software." };
const QStringList ConsoleLines::failure { "<red>Firmware updated unsuccessfully.",
    "Check device connections and re-run the software.", "If problem persists, contact Marquell.",
    "You may now close the software." };
