// A file read through one descriptor, the way the updater reads every file
// whose bytes matter (the firmware images, their checksum list): opened
// without waiting, so a named pipe or a device is refused rather than waited
// on; required to be a regular file; refused above a bound given by the
// caller; and read at most to the size the system gave when it was opened.
// A file that ends sooner, or whose size changes while it is read, is
// refused too. What cannot be read is said in a sentence of its own for the
// operator ("It is not a regular file.").
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class RegularFile
{
public:
    // Whether others may change the file while it is open. Where the system
    // lets an open file be locked (Windows), the updater holds writers off
    // its images while it reads them; a file that another program writes
    // while this one polls it lets them write.
    enum class Writers { HeldOff, Allowed };

    explicit RegularFile(const QString &path, Writers writers = Writers::HeldOff);
    ~RegularFile();
    Q_DISABLE_COPY_MOVE(RegularFile)

    // Opens the file and checks it: a regular file of at most `maxSize`
    // bytes, `maxSizeText` saying that bound to the operator ("64 KiB").
    // False, with problem(), when it cannot be read.
    bool open(qint64 maxSize, const QString &maxSizeText);
    // The file's size when it was opened: all that will be read of it.
    qint64 size() const { return fileSize; }
    // Nothing, not even a link, is at the name.
    bool missing() const { return absent; }

    // Reads the next bytes, at most `length` and never past size(), into
    // `data`. The number read, 0 once size() bytes are read, or -1 with
    // problem() when the file cannot be read on or has changed.
    qint64 read(char *data, qint64 length);
    // The whole file, size() bytes; false with problem().
    bool readAll(QByteArray &bytes);

    // Why the file cannot be read, as a sentence for the operator; empty
    // while it can.
    QString problem() const { return why; }

private:
    // The platform's part: opens the name without waiting and without
    // following a terminal into the caller's process, and tells what it found.
    enum class Kind { Regular, Folder, Other };
    bool openNative(); // false with `why` set, `absent` where nothing is there
    Kind kindNative() const;
    qint64 sizeNative() const; // -1 when unknown
    qint64 readNative(char *data, qint64 length); // -1 with `why` set
    void closeNative();

    QString path;
    Writers writers;
    qintptr handle = -1;
    qint64 fileSize = 0;
    qint64 done = 0;
    bool absent = false;
    QString why;
};
