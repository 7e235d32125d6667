#include "platform/window_state.h"

#include <chrono>
#include <vector>

#include "platform/rendezvous.h"

namespace {

// Removes the thread's queue and windows when the thread ends.
struct QueueOwner {
    ThreadQueue* queue = nullptr;
    ~QueueOwner();
};

thread_local QueueOwner queueOwner;

QueueOwner::~QueueOwner()
{
    if (!queue)
        return;
    WindowState& s = windowState();
    std::vector<Rendezvous*> closing;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        for (SentMessage* m : queue->sent) {
            m->result = 0;
            m->done = true;
            m->sender->wake.notify_all();
        }
        for (auto it = s.windows.begin(); it != s.windows.end();) {
            Window* w = it->second;
            if (!w->remote && w->threadId == queue->threadId) {
                if (w->rendezvous)
                    closing.push_back(w->rendezvous);
                delete w;
                it = s.windows.erase(it);
            } else {
                ++it;
            }
        }
        s.queues.erase(queue->threadId);
    }
    for (Rendezvous* r : closing)
        closeRendezvous(r);
    delete queue;
}

} // namespace

WindowState& windowState()
{
    // Never destroyed: libraries may still call in while the process ends.
    static WindowState* s = new WindowState;
    return *s;
}

ThreadQueue* currentQueue()
{
    if (queueOwner.queue)
        return queueOwner.queue;
    ThreadQueue* q = new ThreadQueue;
    q->threadId = GetCurrentThreadId();
    WindowState& s = windowState();
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.queues[q->threadId] = q;
    }
    queueOwner.queue = q;
    return q;
}

Window* findWindow(WindowState& s, HWND handle)
{
    auto it = s.windows.find(reinterpret_cast<uintptr_t>(handle));
    return it == s.windows.end() ? nullptr : it->second;
}

ThreadQueue* findQueue(WindowState& s, DWORD threadId)
{
    auto it = s.queues.find(threadId);
    return it == s.queues.end() ? nullptr : it->second;
}

Window* findWindowOrFail(WindowState& s, HWND handle, bool localOnly)
{
    Window* w = findWindow(s, handle);
    if (w && !(localOnly && w->remote))
        return w;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

bool handleOneSent(WindowState& s, ThreadQueue* queue, std::unique_lock<std::mutex>& hold)
{
    if (queue->sent.empty())
        return false;
    SentMessage* m = queue->sent.front();
    queue->sent.pop_front();
    Window* w = findWindow(s, m->window);
    LRESULT result = 0;
    if (w && !w->remote && w->threadId == queue->threadId) {
        WNDPROC proc = w->proc ? w->proc : DefWindowProcA;
        hold.unlock();
        result = proc(m->window, m->message, m->wParam, m->lParam);
        hold.lock();
    }
    ThreadQueue* sender = m->sender;
    m->result = result;
    m->done = true;
    sender->wake.notify_all();
    return true;
}

LRESULT sendToThread(WindowState& s, Window* window, UINT message, WPARAM wParam, LPARAM lParam,
                     std::unique_lock<std::mutex>& hold)
{
    ThreadQueue* self = findQueue(s, GetCurrentThreadId());
    ThreadQueue* target = findQueue(s, window->threadId);
    if (!self || !target)
        return 0;
    SentMessage m{window->handle, message, wParam, lParam, 0, false, self};
    target->sent.push_back(&m);
    target->wake.notify_all();
    while (!m.done) {
        if (handleOneSent(s, self, hold))
            continue;
        self->wake.wait(hold);
    }
    return m.result;
}

bool postToWindow(WindowState& s, Window* window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ThreadQueue* target = findQueue(s, window->threadId);
    if (!target)
        return false;
    postToQueue(target, window->handle, message, wParam, lParam);
    return true;
}

void postToQueue(ThreadQueue* queue, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = messageTime();
    queue->posted.push_back(msg);
    queue->wake.notify_all();
}

bool carriesPointers(UINT message)
{
    switch (message) {
    case WM_CREATE:
    case WM_NCCREATE:
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_COPYDATA:
        return true;
    default:
        return false;
    }
}

DWORD messageTime()
{
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
