// Posting, sending, retrieving and dispatching messages.
#include <mutex>

#include "platform/rendezvous.h"
#include "platform/window_state.h"

namespace {

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
const HWND kBroadcast = reinterpret_cast<HWND>(static_cast<uintptr_t>(0xFFFF));

bool matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax)
{
    if (msg.message == WM_QUIT)
        return true;
    if (window == kThreadMessagesOnly) {
        if (msg.hwnd)
            return false;
    } else if (window && msg.hwnd != window) {
        return false;
    }
    if (filterMin == 0 && filterMax == 0)
        return true;
    return msg.message >= filterMin && msg.message <= filterMax;
}

// Takes (or copies) the first posted message that passes the filter, else the
// pending quit. Sent messages are handled before anything is returned.
enum class Found { nothing, message, quit };

Found nextMessage(WindowState& s, ThreadQueue* q, LPMSG msg, HWND window, UINT filterMin, UINT filterMax,
                  bool remove, std::unique_lock<std::mutex>& hold)
{
    while (handleOneSent(s, q, hold)) {
    }
    for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
        if (!matches(*it, window, filterMin, filterMax))
            continue;
        *msg = *it;
        if (remove)
            q->posted.erase(it);
        return msg->message == WM_QUIT ? Found::quit : Found::message;
    }
    if (q->quitPosted) {
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = static_cast<WPARAM>(q->quitCode);
        msg->time = messageTime();
        if (remove)
            q->quitPosted = false;
        return Found::quit;
    }
    return Found::nothing;
}

bool validFilter(WindowState& s, HWND window)
{
    if (!window || window == kThreadMessagesOnly)
        return true;
    Window* w = findWindow(s, window);
    return w && !w->remote;
}

} // namespace

extern "C" {

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax)
{
    ThreadQueue* q = currentQueue();
    WindowState& s = windowState();
    std::unique_lock<std::mutex> hold(s.lock);
    if (!msg || !validFilter(s, window)) {
        SetLastError(msg ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return -1;
    }
    for (;;) {
        Found found = nextMessage(s, q, msg, window, filterMin, filterMax, true, hold);
        if (found == Found::quit)
            return FALSE;
        if (found == Found::message)
            return TRUE;
        if (q->sent.empty())
            q->wake.wait(hold);
    }
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    ThreadQueue* q = currentQueue();
    WindowState& s = windowState();
    std::unique_lock<std::mutex> hold(s.lock);
    if (!msg || !validFilter(s, window)) {
        SetLastError(msg ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return nextMessage(s, q, msg, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, hold) !=
           Found::nothing;
}

BOOL WINAPI TranslateMessage(const MSG*)
{
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg)
{
    if (!msg || !msg->hwnd)
        return 0;
    WindowState& s = windowState();
    std::unique_lock<std::mutex> hold(s.lock);
    Window* w = findWindow(s, msg->hwnd);
    if (!w || w->remote || w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    WNDPROC proc = w->proc ? w->proc : DefWindowProcA;
    hold.unlock();
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!window)
        return PostThreadMessageA(GetCurrentThreadId(), message, wParam, lParam);
    if (window == kBroadcast || carriesPointers(message)) {
        SetLastError(window == kBroadcast ? ERROR_INVALID_PARAMETER : ERROR_MESSAGE_SYNC_ONLY);
        return FALSE;
    }
    WindowState& s = windowState();
    std::unique_lock<std::mutex> hold(s.lock);
    Window* w = findWindowOrFail(s, window, false);
    if (!w)
        return FALSE;
    if (w->remote) {
        RemoteWindow remote{w->remoteAddress, w->remoteHandle, w->remoteProcess};
        hold.unlock();
        if (remotePost(remote, message, wParam, lParam))
            return TRUE;
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return postToWindow(s, w, message, wParam, lParam) ? TRUE : FALSE;
}

BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (threadId == GetCurrentThreadId())
        currentQueue();
    WindowState& s = windowState();
    std::lock_guard<std::mutex> hold(s.lock);
    ThreadQueue* q = findQueue(s, threadId);
    if (!q) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    postToQueue(q, nullptr, message, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    currentQueue();
    WindowState& s = windowState();
    std::unique_lock<std::mutex> hold(s.lock);
    Window* w = findWindowOrFail(s, window, false);
    if (!w)
        return 0;
    if (w->remote) {
        RemoteWindow remote{w->remoteAddress, w->remoteHandle, w->remoteProcess};
        hold.unlock();
        LRESULT result = 0;
        if (carriesPointers(message) || !remoteSend(remote, message, wParam, lParam, &result))
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return result;
    }
    if (w->threadId == GetCurrentThreadId()) {
        WNDPROC proc = w->proc ? w->proc : DefWindowProcA;
        hold.unlock();
        return proc(window, message, wParam, lParam);
    }
    return sendToThread(s, w, message, wParam, lParam, hold);
}

VOID WINAPI PostQuitMessage(int exitCode)
{
    ThreadQueue* q = currentQueue();
    WindowState& s = windowState();
    std::lock_guard<std::mutex> hold(s.lock);
    q->quitPosted = true;
    q->quitCode = exitCode;
    q->wake.notify_all();
}
}
