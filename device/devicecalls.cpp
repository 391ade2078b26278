#include "devicecalls.h"

Q_GLOBAL_STATIC(DeviceCalls, deviceCalls)

DeviceCalls *DeviceCalls::instance()
{
    return deviceCalls();
}

DeviceCalls::Call::Call(const char *function)
{
    emit instance()->started(QLatin1String(function));
}

DeviceCalls::Call::~Call()
{
    emit instance()->returned();
}
