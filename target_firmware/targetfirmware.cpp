#include "targetfirmware.h"

#include <cstdarg>
#include <cstdio>

void formatPath(char *buffer, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, kPathBufferSize, format, args);
    va_end(args);
}

std::string bootImagePath()
{
    char buffer[kPathBufferSize] = {};
    formatPath(buffer, "./firmware/qd740n_boot_%d.img", kTargetBootVersion);
    return std::string(buffer);
}

std::string runImagePath()
{
    char buffer[kPathBufferSize] = {};
    formatPath(buffer, "./firmware/qd740n_run_%d.img", kTargetRunVersion);
    return std::string(buffer);
}

std::string fpgaImagePath()
{
    char buffer[kPathBufferSize] = {};
    formatPath(buffer, "./firmware/qd740n_fpga_%d.rbf", kTargetFpgaVersion);
    return std::string(buffer);
}
