// The Windows interfaces used by the server and the bridge library. On
// Windows this is <windows.h>; elsewhere the platform layer supplies them
// under the same names and types. The universal-thunk types are declared here
// in both cases; their services are looked up at run time in "Kernel32.Dll".
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/win_types.h"
#endif

// Universal thunks: the 32-bit thunk that calls the 16-bit dispatch routine,
// and the 32-bit callback that the 16-bit side reaches.
typedef DWORD(APIENTRY* UT32PROC)(LPVOID lpBuff, DWORD dwUserDefined, LPVOID* lpTranslationList);
typedef DWORD(APIENTRY* UT32CBPROC)(LPVOID lpBuff, DWORD dwUserDefined);
typedef BOOL(APIENTRY* PFN_UTREGISTER)(HANDLE hModule, LPCSTR lpsz16BitDLL, LPCSTR lpszInitName,
                                       LPCSTR lpszProcName, UT32PROC* ppfn32Thunk, FARPROC pfnUT32Callback,
                                       LPVOID lpBuff);
typedef VOID(APIENTRY* PFN_UTUNREGISTER)(HANDLE hModule);
typedef LPVOID(APIENTRY* PFN_UTSELECTOROFFSETTOLINEAR)(LPVOID lpv);

#ifndef _WIN32
extern "C" {

// Window manager.
ATOM WINAPI RegisterClassA(const WNDCLASSA* wndClass);
BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL WINAPI DestroyWindow(HWND window);
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI IsWindow(HWND window);
BOOL WINAPI IsWindowVisible(HWND window);
DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId);
HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName);
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Messages and queues.
BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageA(const MSG* msg);
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
VOID WINAPI PostQuitMessage(int exitCode);

// Global memory.
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID WINAPI GlobalLock(HGLOBAL memory);
BOOL WINAPI GlobalUnlock(HGLOBAL memory);
HGLOBAL WINAPI GlobalFree(HGLOBAL memory);
SIZE_T WINAPI GlobalSize(HGLOBAL memory);

// System, processes and libraries.
DWORD WINAPI GetVersion(void);
DWORD WINAPI GetLastError(void);
VOID WINAPI SetLastError(DWORD error);
DWORD WINAPI GetCurrentProcessId(void);
DWORD WINAPI GetCurrentThreadId(void);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
BOOL WINAPI FreeLibrary(HMODULE module);

// Universal thunks, exported by "Kernel32.Dll" on a thunk system.
BOOL WINAPI UTRegister(HANDLE hModule, LPCSTR lpsz16BitDLL, LPCSTR lpszInitName, LPCSTR lpszProcName,
                       UT32PROC* ppfn32Thunk, FARPROC pfnUT32Callback, LPVOID lpBuff);
VOID WINAPI UTUnRegister(HANDLE hModule);
LPVOID WINAPI UTSelectorOffsetToLinear(LPVOID lpv);
LPVOID WINAPI UTLinearToSelectorOffset(LPVOID lpv);
}
#endif

// Function pointers from GetProcAddress, converted to their real type.
template <typename Fn>
inline Fn procAs(FARPROC proc)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}
