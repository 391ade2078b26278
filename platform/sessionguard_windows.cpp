#include "sessionguard.h"

#include <QGuiApplication>
#include <QWidget>

#include <windows.h>

#include <string>

namespace {

// Looked up when needed: an older Windows, or Wine, may lack them.
template <typename Function> Function lookUp(const wchar_t *module, const char *name)
{
    const HMODULE library = GetModuleHandleW(module);
    return library
        ? reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(library, name)))
        : nullptr;
}

} // namespace

struct SessionGuard::Requests
{
    ~Requests()
    {
        if (blockedWindow) {
            using Destroy = BOOL(WINAPI *)(HWND);
            if (const auto destroy = lookUp<Destroy>(L"user32.dll", "ShutdownBlockReasonDestroy"))
                destroy(blockedWindow);
        }
        if (powerRequest != INVALID_HANDLE_VALUE) {
            using Clear = BOOL(WINAPI *)(HANDLE, POWER_REQUEST_TYPE);
            if (const auto clear = lookUp<Clear>(L"kernel32.dll", "PowerClearRequest"))
                clear(powerRequest, PowerRequestSystemRequired);
            CloseHandle(powerRequest);
        }
        SetThreadExecutionState(previousState);
    }

    EXECUTION_STATE previousState = ES_CONTINUOUS;
    std::wstring reason;
    HANDLE powerRequest = INVALID_HANDLE_VALUE;
    HWND blockedWindow = nullptr;
};

SessionGuard::SessionGuard(const QString &why, QWidget *window)
    : requests(std::make_shared<Requests>())
{
    requests->reason = why.toStdWString();

    // No sleep while the flow runs: the GUI thread, which makes this call and
    // its undoing, holds the machine awake until the state is restored.
    if (const EXECUTION_STATE previous
        = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED))
        requests->previousState = previous;

    // A power request says why, where the system lists what keeps it awake.
    using Create = HANDLE(WINAPI *)(PREASON_CONTEXT);
    using Set = BOOL(WINAPI *)(HANDLE, POWER_REQUEST_TYPE);
    const auto create = lookUp<Create>(L"kernel32.dll", "PowerCreateRequest");
    const auto set = lookUp<Set>(L"kernel32.dll", "PowerSetRequest");
    if (create && set) {
        REASON_CONTEXT context = {};
        context.Version = POWER_REQUEST_CONTEXT_VERSION;
        context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
        context.Reason.SimpleReasonString = requests->reason.data();
        const HANDLE request = create(&context);
        if (request != INVALID_HANDLE_VALUE && set(request, PowerRequestSystemRequired))
            requests->powerRequest = request;
        else if (request != INVALID_HANDLE_VALUE)
            CloseHandle(request);
    }

    // Shutdown and logoff ask every program first (WM_QUERYENDSESSION, which
    // Qt turns into commitDataRequest and the flow answers); the screen that
    // lists the programs holding them up shows why.
    using Block = BOOL(WINAPI *)(HWND, LPCWSTR);
    const auto block = lookUp<Block>(L"user32.dll", "ShutdownBlockReasonCreate");
    if (block && window && QGuiApplication::platformName() == QLatin1String("windows")) {
        const auto handle = reinterpret_cast<HWND>(window->winId());
        if (block(handle, requests->reason.c_str()))
            requests->blockedWindow = handle;
    }
}

SessionGuard::~SessionGuard() = default;

// Windows holds off idle sleep only: a program has no way to refuse the sleep
// a closed lid or the sleep button asks for.
QString SessionGuard::unheldWarning()
{
    return QStringLiteral(
        "Closing the lid or pressing the sleep button will put Windows to sleep and interrupt "
        "the write.");
}
