// Internal records of the window manager: classes, windows, and one message
// queue per thread, all guarded by one lock.
#pragma once
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "platform/windows_api.h"

struct Rendezvous;
struct ThreadQueue;

// A message sent from another thread (or process), waiting to be handled by
// the window's thread. It lives on the sender's stack.
struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
    bool done;
    ThreadQueue* sender;
};

struct ThreadQueue {
    DWORD threadId;
    std::deque<MSG> posted;
    std::deque<SentMessage*> sent;
    bool quitPosted = false;
    int quitCode = 0;
    std::condition_variable wake;
};

struct WindowClass {
    WNDCLASSA wndClass;
    std::string name;
    ATOM atom;
};

struct Window {
    HWND handle;
    std::string className;
    std::string title;
    WNDPROC proc;
    DWORD threadId;
    DWORD style;
    bool visible;
    bool destroying;
    Rendezvous* rendezvous; // how other processes reach it; null if unreachable
    // A window of another process, found through FindWindowA.
    bool remote;
    std::string remoteAddress;
    uint64_t remoteHandle;
    DWORD remoteProcess;
};

struct WindowState {
    std::mutex lock;
    std::map<std::string, WindowClass> classes;     // by lower-case name
    std::map<uintptr_t, Window*> windows;           // by handle, in creation order
    std::map<DWORD, ThreadQueue*> queues;           // by thread id
    uintptr_t nextHandle = 0x10010;
    ATOM nextAtom = 0xC000;
};

WindowState& windowState();

// The calling thread's queue, made on first use and removed when the thread
// ends (its windows are removed and waiting senders get 0).
ThreadQueue* currentQueue();

// Lookups with the lock held.
Window* findWindow(WindowState& s, HWND handle);
ThreadQueue* findQueue(WindowState& s, DWORD threadId);
// findWindow for the calls that fail on a handle naming no window (or, with
// localOnly, a window of another process): sets ERROR_INVALID_WINDOW_HANDLE.
Window* findWindowOrFail(WindowState& s, HWND handle, bool localOnly);

// Handles one message sent to `queue`'s thread, if any is waiting; the lock is
// released while the window procedure runs. Returns false when none waited.
bool handleOneSent(WindowState& s, ThreadQueue* queue, std::unique_lock<std::mutex>& hold);

// Sends to a window of another thread of this process and waits for the
// result, handling messages sent to the calling thread meanwhile.
LRESULT sendToThread(WindowState& s, Window* window, UINT message, WPARAM wParam, LPARAM lParam,
                     std::unique_lock<std::mutex>& hold);

// Appends a posted message to a queue.
void postToQueue(ThreadQueue* queue, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Appends a posted message to the queue of the window's thread.
bool postToWindow(WindowState& s, Window* window, UINT message, WPARAM wParam, LPARAM lParam);

// Messages whose parameters carry pointers cannot be posted, nor leave the
// process.
bool carriesPointers(UINT message);

DWORD messageTime();
