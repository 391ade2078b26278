// A shared library loaded from exactly the file named, and from nowhere else:
// not from a folder the system would search, nor from a subfolder for the
// CPU, nor as another file the system maps in its place; what was mapped is
// asked of the system, and a different file is refused. Where the library's
// own dependencies come from, the platform file says. Once loaded, it stays
// loaded for the rest of the process.
#pragma once

#include <QString>
#include <QtGlobal>

class LibraryFile
{
public:
    // Loads the library at the absolute path `path`, every symbol it needs
    // resolved now. False, with error(), when it cannot be used.
    bool load(const QString &path);

    QFunctionPointer resolve(const char *name) const;

    // The full path of the file the system mapped, once loaded.
    QString mappedPath() const { return mapped; }
    // Why it could not be loaded, in the system's words.
    QString error() const { return why; }

private:
    void *handle = nullptr;
    QString mapped;
    QString why;
};
