// The one firmware set this updater brings a device to, and the paths of its
// three image files below the working directory. The device library reads
// the files; the program only builds their paths.
#pragma once

#include <string>
#include <vector>

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

// The first of the given image paths that is not a readable, non-empty file,
// or an empty string when all of them are. The device library reads an image
// only when it writes it, after the region is erased, so a worker checks its
// images before it opens the device. The files are looked at, never opened.
std::string firstUnreadableImage(const std::vector<std::string> &paths);
