// What one probe of the device found: its state (a DetectState), its serial
// number and the three components of its firmware version.
#pragma once

#include <cstdint>

struct DeviceStatus
{
    int32_t state = 0;
    int32_t serial = 0;
    int32_t bootVersion = 0;
    int32_t runVersion = 0;
    int32_t fpgaVersion = 0;
};
