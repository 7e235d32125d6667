// Version, error code and process and thread identities.
#include <atomic>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/layer_hooks.h"

namespace {

std::atomic<DWORD> versionAnswer{ZR_VERSION_WIN32S};
std::atomic<DWORD> processIdOverride{0};
thread_local DWORD lastError = 0;
thread_local DWORD threadId = 0;

} // namespace

extern "C" {

DWORD WINAPI GetVersion(void)
{
    return versionAnswer.load();
}

void zrSetVersionAnswer(DWORD version)
{
    versionAnswer.store(version);
}

DWORD WINAPI GetLastError(void)
{
    return lastError;
}

VOID WINAPI SetLastError(DWORD error)
{
    lastError = error;
}

DWORD WINAPI GetCurrentProcessId(void)
{
    DWORD id = processIdOverride.load();
    return id ? id : static_cast<DWORD>(getpid());
}

void zrSetProcessIdOverride(DWORD processId)
{
    processIdOverride.store(processId);
}

DWORD WINAPI GetCurrentThreadId(void)
{
    if (threadId == 0)
        threadId = static_cast<DWORD>(syscall(SYS_gettid));
    return threadId;
}
}
