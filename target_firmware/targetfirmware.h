// The one firmware set this updater brings a device to, and the paths of its
// three image files below the working directory. The device library reads
// the files; the program only builds their paths.
#pragma once

#include <string>

constexpr int kTargetBootVersion = 4;
constexpr int kTargetRunVersion = 5;
constexpr int kTargetFpgaVersion = 6;

constexpr int kPathBufferSize = 256;

// printf-style formatting into a buffer of kPathBufferSize bytes, never
// writing past it and always leaving a terminating NUL.
void formatPath(char *buffer, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

std::string bootImagePath();
std::string runImagePath();
std::string fpgaImagePath();
