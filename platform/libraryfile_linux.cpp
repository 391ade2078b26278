#include "libraryfile.h"

#include <QFile>

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

namespace {

bool sameFile(const QByteArray &one, const char *other)
{
    struct stat first = {};
    struct stat second = {};
    return ::stat(one.constData(), &first) == 0 && ::stat(other, &second) == 0
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace

// dlopen() takes a name with a slash as the path to load, without searching
// LD_LIBRARY_PATH, the system's folders or any subfolder. The library's own
// dependencies are found as the dynamic loader finds any: through the
// library's RUNPATH, then the loader's cache of the system's folders
// (/usr/local/lib included, once ldconfig has run).
bool LibraryFile::load(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    handle = ::dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        // The loader's words begin with the path, which the caller names.
        why = QString::fromLocal8Bit(::dlerror());
        const QString named = path + QStringLiteral(": ");
        if (why.startsWith(named))
            why = why.mid(named.size());
        return false;
    }
    // A library loaded before under another name, from the same file, is
    // handed back under that name.
    link_map *map = nullptr;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !sameFile(file, map->l_name)) {
        why = QStringLiteral("the system mapped %1 in its place")
                  .arg(map ? QFile::decodeName(map->l_name) : QStringLiteral("another file"));
        handle = nullptr;
        return false;
    }
    mapped = QFile::decodeName(map->l_name);
    return true;
}

QFunctionPointer LibraryFile::resolve(const char *name) const
{
    return handle ? reinterpret_cast<QFunctionPointer>(::dlsym(handle, name)) : nullptr;
}
