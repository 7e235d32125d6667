// Functions of the platform layer that have no counterpart on the real
// system: the library loader for ELF builds, the registry of 16-bit plug-in
// modules that the universal thunks reach, and switches for tests.
#pragma once
#include "platform/windows_api.h"

#ifndef _WIN32
extern "C" {

// GetVersion answers: a Win32s system (bit 31 set, the default) or Windows NT.
#define ZR_VERSION_WIN32S 0x80000A03u
#define ZR_VERSION_NT 0x05650004u
void zrSetVersionAnswer(DWORD version);

// Whether "Kernel32.Dll" exports the universal-thunk services (default: yes).
void zrSetThunkServices(BOOL present);

// The next `count` GlobalAlloc calls succeed and every later one fails;
// a negative count (the default) never fails.
void zrFailGlobalAllocAfter(long count);
// Number of global memory blocks not yet freed.
long zrGlobalBlockCount(void);

// Overrides GetCurrentProcessId (0 restores the real id), so that a test can
// act as a second process sharing a library's data.
void zrSetProcessIdOverride(DWORD processId);

// Text and caption of the latest MessageBoxA, and the number of boxes shown.
const char* zrLastMessageBoxText(void);
const char* zrLastMessageBoxCaption(void);
long zrMessageBoxCount(void);

// Rendezvous namespace of FindWindowA across processes. Windows are found
// only among processes of the same user on the same desktop; the desktop is
// "default" unless this call or the ZR_DESKTOP environment variable names one.
// Only windows created afterwards use a new name.
void zrSetDesktopName(const char* name);

// Library loading for ELF builds: the library's load runs zrAttachLibrary,
// which gives it a module handle and calls its entry with DLL_PROCESS_ATTACH;
// a refused attach ends the process, as a failed import does. Its unload runs
// zrDetachLibrary (DLL_PROCESS_DETACH).
typedef BOOL(WINAPI* ZrLibraryEntry)(HINSTANCE module, DWORD reason, LPVOID reserved);
HMODULE zrAttachLibrary(LPCSTR name, ZrLibraryEntry entry);
void zrDetachLibrary(HMODULE module);
// The entry and module handle of an attached library, for tests that drive
// the entry directly. Null when no such library is attached.
ZrLibraryEntry zrLibraryEntry(LPCSTR name, HMODULE* module);
// Number of LoadLibraryA references to a module not yet freed.
long zrModuleUseCount(LPCSTR name);

// 16-bit plug-in modules: UTRegister loads them by name from this registry.
// The 16-bit routines see 16:16 pointers (convert them with
// UTSelectorOffsetToLinear). Init routine: (16-bit callback, buffer) ->
// nonzero to accept; dispatch routine: (buffer, user code) -> result.
typedef DWORD(WINAPI* UT16CBPROC)(LPVOID lpBuff, DWORD dwUserDefined, LPVOID* lpTranslationList);
typedef DWORD(WINAPI* ZrUT16Init)(UT16CBPROC callback, LPVOID lpBuff);
typedef DWORD(WINAPI* ZrUT16Proc)(LPVOID lpBuff, DWORD dwUserDefined);
void zrRegister16BitModule(LPCSTR moduleName, LPCSTR initName, ZrUT16Init init, LPCSTR procName,
                           ZrUT16Proc proc);
void zrUnregister16BitModule(LPCSTR moduleName);
}
#endif
