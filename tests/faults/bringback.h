#pragma once

class SimDeviceFile;

// The operator replugs the device and starts the program again: the device
// is attached and free of faults, and a new window checks it and runs
// whichever of Update and Restore it offers. Fails the current test where the
// device does not end at 4.5.6 with the given serial; callers check
// QTest::currentTestFailed() afterwards.
void bringBack(SimDeviceFile &sim, int serial);
