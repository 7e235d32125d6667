// Plays the client plug-in's part on a system without universal thunks,
// against a server running in this process: no progress notices exist, so
// partial frames come from request 202 while a streaming decode waits for
// bytes, and final frames from request 201. Writes one line per request with
// its result, the frame's fields and a digest of the frame memory, so that the
// Linux and Windows builds can be compared line for line.
//   request_client OUT.txt STREAM...
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "codec/decoder/decoder.h"
#include "platform/layer_hooks.h"
#include "server/server_window.h"
#include "plugin/plugin_double.h"

namespace {

FILE* out;

void line(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fputc('\n', out);
}

uint64_t digest(const uint8_t* data, size_t size)
{
    uint64_t hash = 1469598103934665603ull;
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

// Size and digest of a frame memory block as the client sees it.
std::string memoryDigest(void* handle)
{
    if (!handle)
        return "none";
    HGLOBAL memory = static_cast<HGLOBAL>(handle);
    SIZE_T size = GlobalSize(memory);
    const uint8_t* data = static_cast<const uint8_t*>(GlobalLock(memory));
    char text[64];
    std::snprintf(text, sizeof text, "%lu bytes %016llx", static_cast<unsigned long>(size),
                  static_cast<unsigned long long>(data ? digest(data, size) : 0));
    GlobalUnlock(memory);
    return text;
}

std::string frameFields(const FrameInfo& frame)
{
    char text[128];
    std::snprintf(text, sizeof text, "%dx%d part %dx%d bpp %u colour %u", frame.width, frame.height, frame.partWidth,
                  frame.partHeight, frame.bitsPerPixel, frame.isColour);
    return text;
}

template <typename T>
T loadShared(const T& field)
{
    return std::atomic_ref<T>(const_cast<T&>(field)).load();
}

bool waitUntil(const std::function<bool()>& done)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Request 201 (and 203): the final frame of an in-memory decode.
void syncDecode(HWND server, const std::vector<uint8_t>& stream, uint32_t format, int32_t halfSize,
                bool streamingFlag)
{
    StreamSource source = {stream.data(), int32_t(stream.size()), 0, 0};
    DecodeOptions options = {};
    options.halfSize = halfSize;
    if (streamingFlag)
        options.byteSource = reinterpret_cast<ByteSourceFn>(static_cast<uintptr_t>(0x5A5A0));
    FrameInfo frame = {};
    frame.format = format;
    DecodeRequest request = {&source, &options, &frame};
    LRESULT status = sendRequest(server, REQUEST_DECODE, &request);
    line("  201 format %u half %d streaming %d: %ld %s memory %s", format, halfSize, int(streamingFlag),
         long(status), frameFields(frame).c_str(), memoryDigest(frame.frameMemory).c_str());
    LRESULT released = sendRequest(server, REQUEST_RELEASE_FRAME, &frame);
    line("  203: %ld memory %s", long(released), frame.frameMemory ? "kept" : "released");
}

// Request 213 fed in pieces, with request 202 whenever the decode waits for
// bytes, then aborted. The frame memory is the client's, sized for any
// layout, so that the end of the decode shows as its release.
void streamingDecode(HWND server, const std::vector<uint8_t>& stream, uint32_t format, int32_t interval,
                     int32_t pieces)
{
    StreamingClient client(stream, interval, format);
    SIZE_T size = 64;
    {
        StreamSource source = {stream.data(), int32_t(stream.size()), 0, 0};
        DecodeOptions options = {};
        FrameInfo frame = {};
        if (decodeStart(&source, &options, &frame) == 0)
            size = SIZE_T(frame.width + 4) * frame.height * 6;
        decodeFree(&frame);
    }
    client.frame.frameMemory = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    LRESULT started = client.start(server, 0);
    line("  213 format %u interval %d: %ld", format, interval, long(started));
    int32_t piece = int32_t(stream.size()) / pieces + 1;
    bool ended = false;
    while (!ended && client.delivered() < int32_t(stream.size())) {
        client.deliver(server, piece);
        int32_t available = client.delivered();
        // The decode now either waits for more bytes (in its message loop,
        // where 202 is answered) or has ended and released the memory.
        if (!waitUntil([&] {
                return loadShared(client.source.position) == available || !loadShared(client.frame.frameMemory);
            })) {
            line("  timed out waiting at %d bytes", available);
            break;
        }
        LRESULT status = sendRequest(server, REQUEST_PARTIAL_FRAME, &client.frame);
        ended = !loadShared(client.frame.frameMemory);
        line("  202 at %d: %ld %s memory %s", available, long(status), frameFields(client.frame).c_str(),
             ended ? "released" : memoryDigest(client.frame.frameMemory).c_str());
    }
    client.abort(server);
    bool released = waitUntil([&] { return !loadShared(client.frame.frameMemory); });
    // Answered from the main loop, after the decode's handler has returned.
    SendMessageA(server, IDLE_MESSAGE, 0, 0);
    line("  abort: decode %s at %d of %d bytes", released ? "ended" : "still running", client.source.position,
         client.delivered());
}

struct TestProgram {
    HWND window = nullptr;
    std::string received;
};
TestProgram testProgram;

LRESULT CALLBACK testProgramProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        char text[160];
        std::snprintf(text, sizeof text, "code %lu bytes %lu from server %d text \"%.*s\"",
                      static_cast<unsigned long>(data->dwData), static_cast<unsigned long>(data->cbData),
                      int(reinterpret_cast<HWND>(wParam) == serverWindow), int(data->cbData),
                      static_cast<const char*>(data->lpData));
        testProgram.received = text;
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void otherRequests(HWND server)
{
    std::vector<uint8_t> table(1024, 0xEE);
    COPYDATASTRUCT copy = {REQUEST_PALETTE_ENTRIES, 1024, table.data()};
    LRESULT status = SendMessageA(server, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    line("215 buffer: %ld lpData %s digest %016llx", long(status), copy.lpData == table.data() ? "buffer" : "other",
         static_cast<unsigned long long>(digest(table.data(), 1024)));
    copy = {REQUEST_PALETTE_ENTRIES, 0, nullptr};
    status = SendMessageA(server, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    line("215 null: %ld digest %016llx", long(status),
         static_cast<unsigned long long>(copy.lpData ? digest(static_cast<uint8_t*>(copy.lpData), 1024) : 0));
    std::fill(table.begin(), table.end(), 0xEE);
    copy = {REQUEST_COLOUR_TABLE, 1024, table.data()};
    status = SendMessageA(server, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    line("216 buffer: %ld lpData %s digest %016llx", long(status), copy.lpData == table.data() ? "buffer" : "other",
         static_cast<unsigned long long>(digest(table.data(), 1024)));
    copy = {REQUEST_COLOUR_TABLE, 0, nullptr};
    status = SendMessageA(server, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    line("216 null: %ld lpData %s", long(status), copy.lpData ? "set" : "null");
    line("208: %ld", long(sendRequest(server, REQUEST_INIT_THUNK, nullptr)));
    line("209: %ld", long(sendRequest(server, REQUEST_CLOSE_THUNK, nullptr)));
    line("999: %ld", long(sendRequest(server, 999, nullptr)));
    line("201 without a record: %ld", long(sendRequest(server, REQUEST_DECODE, nullptr)));

    // 214 answers the "Test Program" window of this thread, which is waiting
    // in SendMessageA meanwhile.
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = testProgramProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TestProgClass";
    RegisterClassA(&windowClass);
    testProgram.window = CreateWindowExA(0, "TestProgClass", "Test Program", 0, 0, 0, 100, 100, nullptr,
                                         nullptr, windowClass.hInstance, nullptr);
    status = sendRequest(server, REQUEST_TEST_MESSAGE, nullptr);
    line("214: %ld received %s", long(status), testProgram.received.c_str());
    DestroyWindow(testProgram.window);
}

bool readFile(const char* path, std::vector<uint8_t>* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: request_client OUT.txt STREAM...\n");
        return 2;
    }
#ifndef _WIN32
    // A desktop of its own, so that no other server is found.
    std::string desktop = "request-client-" + std::to_string(GetCurrentProcessId());
    zrSetDesktopName(desktop.c_str());
#endif
    out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "request_client: cannot create %s\n", argv[1]);
        return 2;
    }
    ServerThread server;
    if (!server.start(30000)) {
        std::fprintf(stderr, "request_client: the server window did not appear\n");
        return 1;
    }
    otherRequests(server.window);
    for (int i = 2; i < argc; i++) {
        std::vector<uint8_t> stream;
        if (!readFile(argv[i], &stream)) {
            std::fprintf(stderr, "request_client: cannot read %s\n", argv[i]);
            return 2;
        }
        const char* name = std::strrchr(argv[i], '/');
        line("stream %s, %zu bytes", name ? name + 1 : argv[i], stream.size());
        for (uint32_t format : {1u, 3u, 0u}) {
            syncDecode(server.window, stream, format, 0, false);
            streamingDecode(server.window, stream, format, format == 3 ? 700 : 0, 6);
        }
        syncDecode(server.window, stream, 1, 1, false);
        syncDecode(server.window, stream, 3, 0, true);
    }
    line("server exit code %d", server.stop());
    std::fclose(out);
    return 0;
}
