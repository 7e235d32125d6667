// A stand-in for the 16-bit client plug-in: registers "NPZR16.DLL" with the
// platform's universal thunks, records every notice that reaches its
// "UT16Proc" (with a copy of the frame memory at that moment), and plays the
// client's side of the requests from a client thread.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/windows_api.h"
#include "server/request_records.h"

struct PluginNotice {
    uint32_t code = 0;            // user code of the thunk call
    uint32_t notice = 0;          // 0 partial frame, 1 decode ended
    const DecodeOptions* options = nullptr;
    int32_t position = -1;        // StreamSource.position when the notice came
    int32_t height = 0, width = 0, partHeight = 0, partWidth = 0;
    uint32_t isColour = 0, format = 0;
    std::vector<uint8_t> frame;   // frameMemory as the server left it
};

// Registers the module. Call before the server window is created.
void installPluginDouble();
// Notices received so far (copies), and a wait for a count of them.
std::vector<PluginNotice> pluginNotices();
void clearPluginNotices();
bool waitForNotices(size_t count, int timeoutMs);
// Called on the server thread for every notice, after it was recorded.
void setNoticeHook(std::function<void(const PluginNotice&)> hook);

// The server running serverMain on a thread of its own.
struct ServerThread {
    std::thread thread;
    int exitCode = -1;
    DWORD threadId = 0;
    HWND window = nullptr;

    // Starts the server and waits until its window can be found.
    bool start(int timeoutMs = 5000);
    // Closes the window and waits for the thread; returns the exit code.
    int stop();
    void join();
};

HWND waitForServerWindow(int timeoutMs);

// WM_COPYDATA request with `code` and `data`; returns the server's result.
LRESULT sendRequest(HWND server, DWORD code, void* data);

// One streaming decode as the client drives it: the records live here, the
// bytes arrive through deliver().
struct StreamingClient {
    std::vector<uint8_t> bytes;
    StreamSource source = {};
    DecodeOptions options = {};
    FrameInfo frame = {};
    ProgressInfo progress = {};
    AsyncDecodeRequest request = {};

    StreamingClient(std::vector<uint8_t> stream, int32_t interval, uint32_t format);
    ~StreamingClient();
    StreamingClient(const StreamingClient&) = delete;
    StreamingClient& operator=(const StreamingClient&) = delete;
    // Request 213 with the first `available` bytes present.
    LRESULT start(HWND server, int32_t available = 0);
    // Raises StreamSource.size by `count` (up to the stream's end) and wakes
    // the server's wait.
    void deliver(HWND server, int32_t count);
    int32_t delivered() const;
    // Posts ABORT_DECODE to the server window.
    void abort(HWND server);
    // Waits for the final notice and then until the server has left the
    // decode, after which it no longer touches these records.
    bool finish(HWND server, int timeoutMs = 5000);
};

// The notices of one request, in order.
std::vector<PluginNotice> noticesFor(const DecodeOptions* options);
// Waits until the final notice of `options` arrived.
bool waitForFinal(const DecodeOptions* options, int timeoutMs);
