// What a simulated QD740N keeps across runs of the program: what a real
// device keeps in flash, whether it is plugged in, and the simulation's own
// settings. The defaults are the built-in device.
#pragma once

#include <QHash>
#include <QString>

#include <optional>

struct LastingState
{
    bool attached = true;
    int serial = 740001;
    // What the boot loader reports as the serial (qdBootGetDeviceSerial) and
    // is opened by; empty: the serial in flash, as on a sound unit.
    std::optional<int> bootLoaderSerial;
    std::optional<int> regions[3] = { 4, 4, 6 }; // by SimImage::Region; empty when erased
    bool bootLoader = false;
    double timeScale = 0.02;
    QHash<QString, int> fail;
    QString unplugDuring;
    QString stall; // a function that, called, does not return until released or unplugged
};
