#include "plugin/plugin_double.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>

#include "platform/layer_hooks.h"
#include "server/server_window.h"

namespace {

// The argument block of a progress notice, as the thunk hands it down.
struct NoticeBlock {
    LPVOID options; // 16:16 pointer to the request's DecodeOptions
    DWORD notice;
};

struct DoubleState {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<PluginNotice> notices;
    std::map<const DecodeOptions*, StreamingClient*> clients;
    std::function<void(const PluginNotice&)> hook;
};

DoubleState& state()
{
    static DoubleState* s = new DoubleState;
    return *s;
}

#ifndef _WIN32
// The 16-bit side exists only in the platform layer; on Windows the double
// plays a client on a system without universal thunks.
std::vector<uint8_t> copyFrameMemory(HGLOBAL memory)
{
    std::vector<uint8_t> bytes;
    if (!memory)
        return bytes;
    SIZE_T size = GlobalSize(memory);
    const uint8_t* data = static_cast<const uint8_t*>(GlobalLock(memory));
    if (data && size)
        bytes.assign(data, data + size);
    GlobalUnlock(memory);
    return bytes;
}

DWORD WINAPI pluginInit(UT16CBPROC, LPVOID)
{
    return 1;
}

DWORD WINAPI pluginProc(LPVOID buffer16, DWORD code)
{
    const NoticeBlock* block = static_cast<const NoticeBlock*>(UTSelectorOffsetToLinear(buffer16));
    PluginNotice notice;
    notice.code = code;
    if (block) {
        notice.options = static_cast<const DecodeOptions*>(UTSelectorOffsetToLinear(block->options));
        notice.notice = block->notice;
    }
    DoubleState& s = state();
    std::function<void(const PluginNotice&)> hook;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        auto found = s.clients.find(notice.options);
        if (found != s.clients.end()) {
            StreamingClient* client = found->second;
            const FrameInfo& frame = client->frame;
            notice.position = client->source.position;
            notice.height = frame.height;
            notice.width = frame.width;
            notice.partHeight = frame.partHeight;
            notice.partWidth = frame.partWidth;
            notice.isColour = frame.isColour;
            notice.format = frame.format;
            notice.frame = copyFrameMemory(frame.frameMemory);
        }
        s.notices.push_back(notice);
        hook = s.hook;
    }
    s.changed.notify_all();
    if (hook)
        hook(notice);
    return 0;
}
#endif

} // namespace

void installPluginDouble()
{
#ifndef _WIN32
    zrRegister16BitModule("NPZR16.DLL", "UT16Init", pluginInit, "UT16Proc", pluginProc);
#endif
}

std::vector<PluginNotice> pluginNotices()
{
    std::lock_guard<std::mutex> hold(state().lock);
    return state().notices;
}

void clearPluginNotices()
{
    std::lock_guard<std::mutex> hold(state().lock);
    state().notices.clear();
}

bool waitForNotices(size_t count, int timeoutMs)
{
    DoubleState& s = state();
    std::unique_lock<std::mutex> hold(s.lock);
    return s.changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                              [&] { return s.notices.size() >= count; });
}

void setNoticeHook(std::function<void(const PluginNotice&)> hook)
{
    std::lock_guard<std::mutex> hold(state().lock);
    state().hook = std::move(hook);
}

std::vector<PluginNotice> noticesFor(const DecodeOptions* options)
{
    std::vector<PluginNotice> out;
    for (const PluginNotice& n : pluginNotices())
        if (n.options == options)
            out.push_back(n);
    return out;
}

bool waitForFinal(const DecodeOptions* options, int timeoutMs)
{
    DoubleState& s = state();
    std::unique_lock<std::mutex> hold(s.lock);
    return s.changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
        for (const PluginNotice& n : s.notices)
            if (n.options == options && n.notice == 1)
                return true;
        return false;
    });
}

HWND waitForServerWindow(int timeoutMs)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        HWND window = FindWindowA(SERVER_CLASS_NAME, SERVER_WINDOW_TITLE);
        if (window) {
            // A window of this process that is still being created can be
            // seen through its rendezvous as a remote one; wait for the
            // local handle, which accepts WM_COPYDATA.
            DWORD process = 0;
            DWORD thread = GetWindowThreadProcessId(window, &process);
            if (thread != 0 || process != GetCurrentProcessId())
                return window;
        }
        if (std::chrono::steady_clock::now() > until)
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool ServerThread::start(int timeoutMs)
{
    std::atomic<DWORD> id{0};
    thread = std::thread([this, &id] {
        id = GetCurrentThreadId();
        exitCode = serverMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
    });
    window = waitForServerWindow(timeoutMs);
    // The window can be found before CreateWindowExA has returned on the
    // server thread; a sent message returns only once its loop runs.
    if (window)
        SendMessageA(window, WM_NULL, 0, 0);
    threadId = id;
    return window != nullptr;
}

int ServerThread::stop()
{
    if (window)
        PostMessageA(window, WM_CLOSE, 0, 0);
    join();
    return exitCode;
}

void ServerThread::join()
{
    if (thread.joinable())
        thread.join();
}

LRESULT sendRequest(HWND server, DWORD code, void* data)
{
    COPYDATASTRUCT copy = {};
    copy.dwData = code;
    copy.cbData = 0;
    copy.lpData = data;
    return SendMessageA(server, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
}

StreamingClient::StreamingClient(std::vector<uint8_t> stream, int32_t interval, uint32_t format)
    : bytes(std::move(stream))
{
    source.data = bytes.data();
    progress.progressInterval = interval;
    frame.format = format;
    // Any nonzero byteSource makes the request a streaming one; the server
    // never calls it.
    options.byteSource = reinterpret_cast<ByteSourceFn>(static_cast<uintptr_t>(0x5A5A0));
    request.source = &source;
    request.options = &options;
    request.frame = &frame;
    request.progress = &progress;
    std::lock_guard<std::mutex> hold(state().lock);
    state().clients[&options] = this;
}

StreamingClient::~StreamingClient()
{
    std::lock_guard<std::mutex> hold(state().lock);
    state().clients.erase(&options);
}

LRESULT StreamingClient::start(HWND server, int32_t available)
{
    std::atomic_ref<int32_t>(source.size).store(std::min<int32_t>(available, int32_t(bytes.size())));
    return sendRequest(server, REQUEST_ASYNC_DECODE, &request);
}

void StreamingClient::deliver(HWND server, int32_t count)
{
    std::atomic_ref<int32_t> size(source.size);
    int32_t now = size.load();
    int32_t raised = std::min<int64_t>(int64_t(now) + count, int64_t(bytes.size()));
    size.store(raised);
    PostMessageA(server, IDLE_MESSAGE, 0, 0);
}

int32_t StreamingClient::delivered() const
{
    return std::atomic_ref<int32_t>(const_cast<int32_t&>(source.size)).load();
}

void StreamingClient::abort(HWND server)
{
    PostMessageA(server, ABORT_DECODE, 0, 0);
}

bool StreamingClient::finish(HWND server, int timeoutMs)
{
    if (!waitForFinal(&options, timeoutMs))
        return false;
    // The server answers sent requests only from a message loop, so once this
    // one returns the decode's handler has returned too.
    sendRequest(server, IDLE_MESSAGE, nullptr);
    return true;
}
