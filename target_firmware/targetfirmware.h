// The one firmware set this updater brings a device to, and the paths of its
// three image files below the working directory. The device library reads
// private copies of them that were checked against the checksum list beside
// them (FirmwareCopies).
#pragma once

#include <string>

constexpr int kTargetBootVersion = 4;
constexpr int kTargetRunVersion = 5;
constexpr int kTargetFpgaVersion = 6;

constexpr int kPathBufferSize = 256;

// The SHA-256 of each target image, one line each as sha256sum writes them
// ("<64 hex digits>  <file name>", or " *<file name>", or with --tag
// "SHA256 (<file name>) = <64 hex digits>") and sha256sum -c reads them, the
// file names bare: a regular file of at most 64 KiB, in UTF-8.
constexpr char kChecksumListPath[] = "./firmware/SHA256SUMS";

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
