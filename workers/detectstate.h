// The condition a probe found the device in. Stored in DeviceStatus::state as
// a plain integer and compared numerically.
#pragma once

enum DetectState {
    NotDetected = 0, // nothing answered
    Bootstrapped = 1, // brought up from the boot image; serial read from flash
    BootLoader = 2, // found waiting in its boot loader; serial read from it
    Running = 3, // running its firmware; versions and serial read
};
