// Loads zr32ut.dll as a Windows program would, on a system without universal
// thunks: its six exports, and attach and detach without the thunk services
// (InitThunk stores the window and byte source and returns 0, the notices do
// nothing, UT32CBProc answers). A second process loads it while this one holds
// it: each process has its own data, so nothing is refused.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "tests/windows/check.h"

namespace {

typedef BOOL(WINAPI* InitThunkFn)(HWND, LPCSTR, int32_t (*)(void*, uint32_t*));
typedef void(WINAPI* CloseThunkFn)(void);
typedef DWORD(WINAPI* DispImageProgFn)(void*, DWORD);
typedef int32_t (*DecompressFn)(void*, uint32_t*);
typedef DWORD(WINAPI* CallbackFn)(LPVOID, DWORD);
typedef LPVOID(WINAPI* Ptr16To32Fn)(LPVOID);

void* seenContext;
uint32_t* seenSlot;

int32_t byteSource(void* context, uint32_t* slot)
{
    seenContext = context;
    seenSlot = slot;
    *slot = 0xAB;
    return 7;
}

template <typename Fn>
Fn lookUp(HMODULE library, const char* name)
{
    FARPROC proc = GetProcAddress(library, name);
    check(proc != nullptr, (std::string("export ") + name).c_str());
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

int childLoad()
{
    HMODULE library = LoadLibraryA("zr32ut.dll");
    if (!library)
        return 3;
    FreeLibrary(library);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return childLoad();

    check((GetVersion() & 0x80000000u) == 0, "GetVersion answers a system without universal thunks");
    HMODULE kernel = GetModuleHandleA("Kernel32.Dll");
    check(kernel && !GetProcAddress(kernel, "UTRegister"), "Kernel32.Dll has no UTRegister");

    HMODULE library = LoadLibraryA("zr32ut.dll");
    if (!check(library != nullptr, "zr32ut.dll loads (attach succeeds)"))
        return 1;
    auto initThunk = lookUp<InitThunkFn>(library, "InitThunk");
    auto closeThunk = lookUp<CloseThunkFn>(library, "CloseThunk");
    auto dispImageProg = lookUp<DispImageProgFn>(library, "dispImageProg");
    auto decompress = lookUp<DecompressFn>(library, "_ZrDecompressCBFunc");
    auto callback = lookUp<CallbackFn>(library, "UT32CBProc");
    auto ptr16to32 = lookUp<Ptr16To32Fn>(library, "ut_ptr16to32");
    if (checkFailures())
        return 1;

    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    check(initThunk(window, "NPZR16.DLL", byteSource) == 0, "InitThunk returns 0 without thunk services");
    check(callback(nullptr, 104) == 0x1234, "UT32CBProc 104 answers the registered window");
    bool zeros = true;
    for (DWORD code : {0u, 1u, 2u, 3u, 4u, 110u, 111u})
        zeros = zeros && callback(nullptr, code) == 0;
    check(zeros, "UT32CBProc 0-4, 110 and 111 answer 0");
    check(callback(nullptr, 5) == 0xFFFFFFFFu && callback(nullptr, 105) == 0xFFFFFFFFu,
          "UT32CBProc answers -1 to other codes");
    uint32_t slot = 0;
    int context = 0;
    check(decompress(&context, &slot) == 7 && seenContext == &context && seenSlot == &slot && slot == 0xAB,
          "_ZrDecompressCBFunc forwards to the registered byte source");
    check(dispImageProg(nullptr, 0) == 0 && dispImageProg(nullptr, 1) == 0, "dispImageProg does nothing");
    check(ptr16to32(reinterpret_cast<LPVOID>(static_cast<uintptr_t>(0x00170004))) == nullptr,
          "ut_ptr16to32 answers 0");
    closeThunk();
    check(callback(nullptr, 104) == 0x1234, "CloseThunk keeps the window");

    // A second load in this process only raises the count.
    HMODULE again = LoadLibraryA("zr32ut.dll");
    check(again == library, "a second load gives the same module");
    FreeLibrary(again);
    check(callback(nullptr, 104) == 0x1234, "the library stays after one of two frees");

    // Another process while this one holds the library.
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --child";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    DWORD code = 0xDEAD;
    if (CreateProcessA(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        if (WaitForSingleObject(child.hProcess, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(child.hProcess, &code);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    check(code == 0, "another process loads the library at the same time");

    check(FreeLibrary(library) != 0, "the last free detaches and unloads");
    check(GetModuleHandleA("zr32ut.dll") == nullptr, "the library is gone");
    return checkFailures() ? 1 : 0;
}
