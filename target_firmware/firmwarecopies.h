// The flow's own copies of the firmware images it hands to the device
// library. The library reads an image long after the flow has checked it
// (the FPGA image for minutes, about a minute after the check): the file in
// ./firmware/ may be replaced by then. So each image is read once, through
// one descriptor, into a copy in a folder only this user can use, hashed as
// it is read, and compared with the checksum list; the library gets the
// copy, whose bytes are the ones that matched.
//
// A worker keeps one FirmwareCopies as a local of run(): its copies, their
// folder and the lock that marks them in use go when run() returns. A copy
// left by a process that crashed goes at the next start of the program.
#pragma once

#include <QLockFile>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <string>
#include <vector>

class RegularFile;

class FirmwareCopies
{
public:
    FirmwareCopies();
    ~FirmwareCopies();
    Q_DISABLE_COPY_MOVE(FirmwareCopies)

    // Copies the images at `images` (paths as bootImagePath() and its
    // siblings give them) and checks each copy's bytes against the checksum
    // list beside them: each image is a regular, non-empty file of at most
    // 256 MiB whose SHA-256 the list gives. Without a list the images are
    // copied unverified; a list that is there but cannot be read, or holds no
    // checksum line at all, lets none through, and so does an image it does
    // not name. `lines` receives what to tell the operator, naming the
    // images and the list by their absolute paths. False when no image may
    // be handed to the library.
    bool take(const std::vector<std::string> &images, QStringList &lines);

    // The absolute path of the copy of `image`, in the system's 8-bit
    // encoding, for the device library; empty for an image not taken.
    const char *path(const std::string &image) const;

    // Removes the copies that no running process holds any more, those of
    // a process that crashed. Called at start.
    static void removeLeftovers();

private:
    bool makeFolder(QStringList &lines);
    bool copy(RegularFile &image, const QString &copyPath, QByteArray &checksum, QStringList &lines,
        const QString &shownImage);

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<QLockFile> lock;
    std::map<std::string, std::string> copies; // image path as given -> its copy's path
    std::vector<std::unique_ptr<RegularFile>> held; // the copies, held open while they are used
};
