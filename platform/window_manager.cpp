// Window classes and windows: creation, destruction, visibility, lookup by
// class and title (in this process first, then in others), and the default
// window procedure.
#include <cstring>
#include <unistd.h>
#include <mutex>
#include <vector>

#include "platform/names.h"
#include "platform/rendezvous.h"
#include "platform/window_state.h"

namespace {

Window* localWindow(WindowState& s, HWND handle)
{
    Window* w = findWindow(s, handle);
    return w && !w->remote ? w : nullptr;
}

HWND newHandle(WindowState& s)
{
    HWND handle = reinterpret_cast<HWND>(s.nextHandle);
    s.nextHandle += 4;
    return handle;
}

// Removes a window without calling its procedure.
void removeWindow(HWND handle)
{
    WindowState& s = windowState();
    Rendezvous* r = nullptr;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        Window* w = findWindow(s, handle);
        if (!w)
            return;
        r = w->rendezvous;
        s.windows.erase(reinterpret_cast<uintptr_t>(handle));
        delete w;
    }
    closeRendezvous(r);
}

} // namespace

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* wndClass)
{
    if (!wndClass || !wndClass->lpszClassName || IS_INTRESOURCE(wndClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WindowState& s = windowState();
    std::lock_guard<std::mutex> hold(s.lock);
    std::string key = lowerName(wndClass->lpszClassName);
    if (s.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass& c = s.classes[key];
    c.wndClass = *wndClass;
    c.name = wndClass->lpszClassName;
    c.wndClass.lpszClassName = c.name.c_str();
    c.wndClass.lpszMenuName = nullptr;
    c.atom = s.nextAtom++;
    return c.atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE)
{
    WindowState& s = windowState();
    std::lock_guard<std::mutex> hold(s.lock);
    std::string key = lowerName(className);
    auto it = s.classes.find(key);
    if (it == s.classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto& entry : s.windows)
        if (!entry.second->remote && lowerName(entry.second->className.c_str()) == key) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    s.classes.erase(it);
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    currentQueue();
    WindowState& s = windowState();
    HWND handle;
    std::string title = windowName ? windowName : "";
    std::string registeredName;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        auto it = className && !IS_INTRESOURCE(className) ? s.classes.find(lowerName(className)) : s.classes.end();
        if (it == s.classes.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        registeredName = it->second.name;
        handle = newHandle(s);
        Window* w = new Window{handle, registeredName, title, it->second.wndClass.lpfnWndProc,
                               GetCurrentThreadId(), style, false, false, nullptr, false, "", 0, 0};
        s.windows[reinterpret_cast<uintptr_t>(handle)] = w;
    }
    CREATESTRUCTA create{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                         windowName, className, exStyle};
    LPARAM createParam = reinterpret_cast<LPARAM>(&create);
    if (!SendMessageA(handle, WM_NCCREATE, 0, createParam)) {
        SendMessageA(handle, WM_NCDESTROY, 0, 0);
        removeWindow(handle);
        return nullptr;
    }
    if (SendMessageA(handle, WM_CREATE, 0, createParam) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    Rendezvous* r = openRendezvous(handle, registeredName, title);
    std::unique_lock<std::mutex> hold(s.lock);
    Window* w = localWindow(s, handle);
    if (!w) {
        // Destroyed while being created.
        hold.unlock();
        closeRendezvous(r);
        return nullptr;
    }
    w->rendezvous = r;
    w->visible = (style & WS_VISIBLE) != 0;
    return handle;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    WindowState& s = windowState();
    {
        std::lock_guard<std::mutex> hold(s.lock);
        Window* w = findWindowOrFail(s, window, true);
        if (!w)
            return FALSE;
        if (w->threadId != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (w->destroying)
            return TRUE;
        w->destroying = true;
        w->visible = false;
        // Messages already posted to the window are dropped with it.
        if (ThreadQueue* q = findQueue(s, w->threadId))
            std::erase_if(q->posted, [window](const MSG& msg) { return msg.hwnd == window; });
    }
    SendMessageA(window, WM_DESTROY, 0, 0);
    SendMessageA(window, WM_NCDESTROY, 0, 0);
    removeWindow(window);
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND window, int command)
{
    WindowState& s = windowState();
    std::lock_guard<std::mutex> hold(s.lock);
    Window* w = findWindowOrFail(s, window, true);
    if (!w)
        return FALSE;
    BOOL wasVisible = w->visible ? TRUE : FALSE;
    w->visible = command != SW_HIDE;
    return wasVisible;
}

BOOL WINAPI IsWindow(HWND window)
{
    WindowState& s = windowState();
    std::unique_lock<std::mutex> hold(s.lock);
    Window* w = findWindow(s, window);
    if (!w)
        return FALSE;
    if (!w->remote)
        return TRUE;
    RemoteWindow remote{w->remoteAddress, w->remoteHandle, w->remoteProcess};
    hold.unlock();
    return remoteAlive(remote) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window)
{
    WindowState& s = windowState();
    std::lock_guard<std::mutex> hold(s.lock);
    Window* w = localWindow(s, window);
    return w && w->visible ? TRUE : FALSE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId)
{
    WindowState& s = windowState();
    std::lock_guard<std::mutex> hold(s.lock);
    Window* w = findWindowOrFail(s, window, false);
    if (!w)
        return 0;
    if (processId)
        *processId = w->remote ? w->remoteProcess : GetCurrentProcessId();
    // Threads of other processes are not known.
    return w->remote ? 0 : w->threadId;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName)
{
    WindowState& s = windowState();
    std::string wantClass = className && !IS_INTRESOURCE(className) ? lowerName(className) : "";
    std::string wantTitle = lowerName(windowName);
    {
        std::lock_guard<std::mutex> hold(s.lock);
        for (auto& entry : s.windows) {
            Window* w = entry.second;
            if (w->remote || w->destroying)
                continue;
            if (className && lowerName(w->className.c_str()) != wantClass)
                continue;
            if (windowName && lowerName(w->title.c_str()) != wantTitle)
                continue;
            return w->handle;
        }
    }
    // Other processes are reached by class and title together.
    RemoteWindow remote;
    if (!className || !windowName || IS_INTRESOURCE(className) ||
        !findRemoteWindow(className, windowName, &remote)) {
        SetLastError(NO_ERROR);
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(s.lock);
    // The answer may come from a window of this very process that was still
    // being created during the local search: hand out its own handle.
    if (remote.process == static_cast<DWORD>(getpid())) {
        auto own = s.windows.find(static_cast<uintptr_t>(remote.handle));
        if (own != s.windows.end() && !own->second->remote && !own->second->destroying)
            return own->second->handle;
        SetLastError(NO_ERROR);
        return nullptr;
    }
    for (auto& entry : s.windows) {
        Window* w = entry.second;
        if (w->remote && w->remoteAddress == remote.address && w->remoteHandle == remote.handle &&
            w->remoteProcess == remote.process)
            return w->handle;
    }
    HWND handle = newHandle(s);
    s.windows[reinterpret_cast<uintptr_t>(handle)] =
        new Window{handle, className, windowName, nullptr, 0,      0,
                   false,  false,     nullptr,    true,    remote.address, remote.handle,
                   remote.process};
    return handle;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    default:
        return 0;
    }
}

HICON WINAPI LoadIconA(HINSTANCE, LPCSTR)
{
    // Icons are never drawn: every name gives the same stand-in.
    return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x20001));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR)
{
    return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x20003));
}
}
