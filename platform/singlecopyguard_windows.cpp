#include "singlecopyguard.h"

#include "systemmessage.h"

#include <windows.h>

// A named mutex in the Global\ namespace: one name for every user and every
// session of the machine, that the kernel frees when the last handle closes,
// also when the process is killed. Only its existence counts: whoever made it
// first holds the guard. A copy run by another user may be denied access to
// it, which says just as well that it exists.
SingleCopyGuard::SingleCopyGuard(const QString &name)
{
    const std::wstring global = (QStringLiteral("Global\\") + name).toStdWString();
    const HANDLE mutex = CreateMutexExW(nullptr, global.c_str(), 0, SYNCHRONIZE);
    const DWORD error = GetLastError();
    if (!mutex) {
        if (error == ERROR_ACCESS_DENIED)
            result = HeldByAnotherCopy;
        else
            cause = systemMessage(error);
        return;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        result = HeldByAnotherCopy;
        return;
    }
    handle = reinterpret_cast<qintptr>(mutex);
    result = Held;
}

SingleCopyGuard::~SingleCopyGuard()
{
    if (handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
}
