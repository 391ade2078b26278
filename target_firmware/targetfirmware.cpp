#include "targetfirmware.h"

#include <QFile>
#include <QFileInfo>

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

std::string firstUnreadableImage(const std::vector<std::string> &paths)
{
    for (const std::string &path : paths) {
        const QFileInfo image(QFile::decodeName(path.c_str()));
        if (!image.isFile() || !image.isReadable() || image.size() <= 0)
            return path;
    }
    return std::string();
}
