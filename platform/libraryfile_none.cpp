#include "libraryfile.h"

#include <QLibrary>

// A platform without files of its own loads the library through QLibrary,
// which cannot say which file the system mapped: the file named is taken
// for it.
bool LibraryFile::load(const QString &path)
{
    auto *library = new QLibrary(path); // never unloaded
    library->setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library->load()) {
        why = library->errorString();
        delete library;
        return false;
    }
    handle = library;
    mapped = path;
    return true;
}

QFunctionPointer LibraryFile::resolve(const char *name) const
{
    return handle ? static_cast<QLibrary *>(handle)->resolve(name) : nullptr;
}
