// The one firmware set this updater brings a device to, and the paths of its
// three image files below the working directory. The device library reads
// the files; the program only builds their paths and, before it hands them
// over, checks the files against the checksum list beside them.
#pragma once

#include <QStringList>

#include <string>
#include <vector>

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

// Whether the given images may be handed to the device library: each is a
// readable, non-empty file whose SHA-256 the checksum list gives. Without a
// list the images are only looked at; a list that is there but cannot be
// read, or holds no checksum line at all, lets none through, and so does an
// image it does not name. `lines` receives what to tell the operator, the
// images and the list named by their absolute paths. The device library reads
// an image only when it writes it, after the region is erased, so a worker
// checks its images before it opens the device. The images are only hashed,
// never interpreted.
bool checkImages(const std::vector<std::string> &paths, QStringList &lines);
