// Requests of the server window: decode, partial frame, release, palettes,
// the diagnostic message, codes without meaning, and the streaming request's
// field replacement.
#include <cstring>

#include "bridge/zr32ut.h"
#include "server/server_window.h"
#include "server/window_procedure.h"
#include "tests/server/server_fixture.h"

namespace {

const ByteSourceFn clientByteSource = reinterpret_cast<ByteSourceFn>(static_cast<uintptr_t>(0x5A5A0));

TEST_F(ServerTest, SynchronousDecodeKeepsFrameUntilReleased)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 40, .width = 30, .colour = true});
    SyncDecode decode(stream, 1);
    FrameInfo& frame = decode.frame;

    ASSERT_EQ(sendRequest(window, REQUEST_DECODE, &decode.request), 0);
    EXPECT_EQ(frame.height, 40);
    EXPECT_EQ(frame.width, 30);
    EXPECT_EQ(frame.isColour, 1u);
    EXPECT_EQ(frame.pixels, nullptr);
    EXPECT_EQ(frame.session, nullptr);
    ASSERT_NE(frame.frameMemory, nullptr);
    EXPECT_GE(GlobalSize(frame.frameMemory), size_t(92 * 40)); // rows of 90 bytes padded to 92
    EXPECT_EQ(zrGlobalBlockCount(), globalBlocks + 1);

    EXPECT_EQ(sendRequest(window, REQUEST_RELEASE_FRAME, &frame), 0);
    EXPECT_EQ(frame.frameMemory, nullptr);
    EXPECT_EQ(zrGlobalBlockCount(), globalBlocks);
    // A second release finds nothing to free.
    EXPECT_EQ(sendRequest(window, REQUEST_RELEASE_FRAME, &frame), 0);
}

TEST_F(ServerTest, RefusedStreamReturnsItsStatusWithoutFrame)
{
    std::vector<uint8_t> stream = makeTestStream({});
    std::vector<uint8_t> badMagic = stream;
    badMagic[1] = 'X';
    std::vector<uint8_t> badVersion = stream;
    badVersion[2] = 1;
    for (auto& [bytes, status] : {std::pair{badMagic, 1}, std::pair{badVersion, 2}}) {
        SyncDecode decode(bytes, 3);
        EXPECT_EQ(sendRequest(window, REQUEST_DECODE, &decode.request), status);
        EXPECT_EQ(decode.frame.frameMemory, nullptr);
        EXPECT_EQ(decode.frame.pixels, nullptr);
    }
}

// A synchronous request cannot wait for bytes: it decodes what is in memory
// and never calls or replaces the client's byte source.
TEST_F(ServerTest, SynchronousDecodeIgnoresByteSource)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 48, .width = 48});
    std::vector<uint8_t> expected = referenceFrame(stream);

    SyncDecode decode(stream, 1);
    decode.source.position = 77;
    decode.options.byteSource = clientByteSource;
    decode.options.sourceContext = &decode.source;
    ASSERT_EQ(sendRequest(window, REQUEST_DECODE, &decode.request), 0);
    EXPECT_EQ(frameBytes(decode.frame), expected);
    EXPECT_EQ(decode.options.byteSource, clientByteSource);
    EXPECT_EQ(decode.options.sourceContext, &decode.source);
    EXPECT_EQ(decode.options.sharpen, 0u);
    EXPECT_EQ(decode.source.position, 77);
    sendRequest(window, REQUEST_RELEASE_FRAME, &decode.frame);
}

// Without global memory a decode answers 102 and releases the pixel block;
// a streaming decode skips its partial frames and still ends with a notice.
TEST_F(ServerTest, MissingGlobalMemoryGives102)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 40, .width = 40});
    SyncDecode decode(stream, 1);
    zrFailGlobalAllocAfter(0);
    EXPECT_EQ(sendRequest(window, REQUEST_DECODE, &decode.request), ZR_NO_GLOBAL_MEMORY);
    EXPECT_EQ(decode.frame.pixels, nullptr);
    EXPECT_EQ(decode.frame.frameMemory, nullptr);

    StreamingClient client(stream, 1, 3);
    client.start(window, int32_t(stream.size()));
    bool ended = client.finish(window, 5000);
    zrFailGlobalAllocAfter(-1);
    ASSERT_TRUE(ended);
    std::vector<PluginNotice> notices = noticesFor(&client.options);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].frame.empty());
    EXPECT_EQ(client.frame.pixels, nullptr);
}

// Requests without their records are refused instead of followed.
TEST_F(ServerTest, RequestsWithoutRecordsAreRefused)
{
    EXPECT_EQ(sendRequest(window, REQUEST_DECODE, nullptr), ZR_NO_DECODE);
    EXPECT_EQ(sendRequest(window, REQUEST_ASYNC_DECODE, nullptr), ZR_NO_DECODE);
    AsyncDecodeRequest partial = {};
    EXPECT_EQ(sendRequest(window, REQUEST_ASYNC_DECODE, &partial), ZR_NO_DECODE);
    EXPECT_EQ(sendRequest(window, REQUEST_RELEASE_FRAME, nullptr), 0);
    EXPECT_EQ(SendMessageA(window, ASYNC_DECODE, 0, 0), ZR_NO_DECODE);

    // A streaming request without a progress record makes no partial frames.
    std::vector<uint8_t> stream = makeTestStream({.height = 40, .width = 40});
    StreamingClient client(stream, 1, 1);
    client.request.progress = nullptr;
    client.start(window, int32_t(stream.size()));
    ASSERT_TRUE(client.finish(window, 5000));
    EXPECT_EQ(noticesFor(&client.options).size(), 1u);
}

TEST_F(ServerTest, PartialFrameWithoutDecodeReturns15)
{
    FrameInfo frame = {};
    frame.format = 1;
    HGLOBAL memory = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, 64);
    frame.frameMemory = memory;
    EXPECT_EQ(sendRequest(window, REQUEST_PARTIAL_FRAME, &frame), ZR_NO_DECODE);
    EXPECT_EQ(frame.frameMemory, memory);
    EXPECT_EQ(sendRequest(window, REQUEST_PARTIAL_FRAME, nullptr), ZR_NO_DECODE);
    EXPECT_EQ(sendRequest(window, REQUEST_RELEASE_FRAME, &frame), 0);
    EXPECT_EQ(frame.frameMemory, nullptr);
}

TEST_F(ServerTest, CodesWithoutMeaningDoNothing)
{
    FrameInfo frame = {};
    std::memset(&frame, 0x3C, sizeof frame);
    FrameInfo before = frame;
    for (DWORD code : {0u, 1u, 200u, 204u, 205u, 206u, 207u, 210u, 211u, 212u, 217u, 1125u, 0xFFFFFFFFu}) {
        EXPECT_EQ(sendRequest(window, code, &frame), 0) << code;
        EXPECT_EQ(std::memcmp(&frame, &before, sizeof frame), 0) << code;
    }
    // WM_COPYDATA without its record, and the messages that do nothing.
    EXPECT_EQ(SendMessageA(window, WM_COPYDATA, 0, 0), 0);
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, 1, 0), 0);
    EXPECT_EQ(SendMessageA(window, WM_TIMER, 1, 0), 0);
    EXPECT_EQ(SendMessageA(window, IDLE_MESSAGE, 0, 0), 0);
    EXPECT_TRUE(pluginNotices().empty());
}

TEST_F(ServerTest, PaletteRequestsAnswerTables)
{
    COPYDATASTRUCT data = {REQUEST_PALETTE_ENTRIES, 0, nullptr};
    SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    const uint8_t* own = static_cast<const uint8_t*>(data.lpData);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own[4 * 0xFF], 255);
    EXPECT_EQ(own[4 * 0x1C + 1], 255);
    EXPECT_EQ(own[4 * 0x20], 36);
    EXPECT_EQ(own[4 * 0x20 + 3], 4);
    // The server's own table is built once and answered again.
    data.lpData = nullptr;
    SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    EXPECT_EQ(data.lpData, own);

    uint8_t buffer[1024] = {};
    data.lpData = buffer;
    SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    EXPECT_EQ(data.lpData, buffer);
    EXPECT_EQ(std::memcmp(buffer, own, sizeof buffer), 0);

    COPYDATASTRUCT table = {REQUEST_COLOUR_TABLE, 0, nullptr};
    EXPECT_EQ(SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&table)), 0);
    EXPECT_EQ(table.lpData, nullptr);
    uint8_t colours[1024];
    std::memset(colours, 0xEE, sizeof colours);
    table.lpData = colours;
    SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&table));
    EXPECT_EQ(table.lpData, colours);
    // Blue, green, red, reserved: entry 0x03 is pure blue.
    EXPECT_EQ(colours[4 * 0x03], 255);
    EXPECT_EQ(colours[4 * 0x03 + 2], 0);
    EXPECT_EQ(colours[4 * 0x03 + 3], 0);
}

struct TestWindowLog {
    int calls = 0;
    DWORD code = 0;
    DWORD size = 0;
    std::string text;
    HWND sender = nullptr;
};
TestWindowLog testWindowLog;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COPYDATA)
        return DefWindowProcA(window, message, wParam, lParam);
    const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    testWindowLog.calls++;
    testWindowLog.code = DWORD(data->dwData);
    testWindowLog.size = data->cbData;
    testWindowLog.text = static_cast<const char*>(data->lpData);
    testWindowLog.sender = reinterpret_cast<HWND>(wParam);
    return 0;
}

TEST_F(ServerTest, DiagnosticMessageGoesToTestWindowOrMessageBox)
{
    long boxes = zrMessageBoxCount();
    EXPECT_EQ(sendRequest(window, REQUEST_TEST_MESSAGE, nullptr), 0);
    EXPECT_EQ(zrMessageBoxCount(), boxes + 1);
    EXPECT_STREQ(zrLastMessageBoxText(), "Can't send WM_COPYDATA");
    EXPECT_STREQ(zrLastMessageBoxCaption(), "test");

    WNDCLASSA testClass = {};
    testClass.lpfnWndProc = testWindowProc;
    testClass.lpszClassName = "TestProgClass";
    RegisterClassA(&testClass);
    HWND testWindow = CreateWindowExA(0, "TestProgClass", "Test Program", 0, 0, 0, 10, 10, nullptr, nullptr,
                                      nullptr, nullptr);
    ASSERT_NE(testWindow, nullptr);
    testWindowLog = {};
    EXPECT_EQ(sendRequest(window, REQUEST_TEST_MESSAGE, nullptr), 0);
    DestroyWindow(testWindow);
    EXPECT_EQ(testWindowLog.calls, 1);
    EXPECT_EQ(testWindowLog.code, 214u);
    EXPECT_EQ(testWindowLog.size, 4u);
    EXPECT_EQ(testWindowLog.text, "This message is from zr32serv.exe\n");
    EXPECT_EQ(testWindowLog.sender, window);
    EXPECT_EQ(zrMessageBoxCount(), boxes + 1);
}

// Field 5 takes the client's byteSource before the decoder reads it, so the
// client's sharpen value has no effect and a byteSource of 1 sharpens.
TEST_F(ServerTest, StreamingRequestSharpensOnlyWhenByteSourceIsOne)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 48, .width = 48, .seed = 9});
    std::vector<uint8_t> plain = referenceFrame(stream, 1, 0);
    std::vector<uint8_t> sharpened = referenceFrame(stream, 1, 1);
    ASSERT_NE(plain, sharpened);

    int context = 0;
    StreamingClient asked(stream, 0, 1);
    asked.options.sharpen = 1;
    asked.options.sourceContext = &context;
    asked.start(window, int32_t(stream.size()));
    ASSERT_TRUE(asked.finish(window, 5000));
    EXPECT_EQ(noticesFor(&asked.options).back().frame, plain);
    EXPECT_EQ(asked.options.sharpen, reinterpret_cast<uintptr_t>(clientByteSource));
    EXPECT_EQ(asked.options.savedContext, &context);
    EXPECT_EQ(asked.options.byteSource, &_ZrDecompressCBFunc);

    StreamingClient one(stream, 0, 1);
    one.options.byteSource = reinterpret_cast<ByteSourceFn>(static_cast<uintptr_t>(1));
    one.start(window, int32_t(stream.size()));
    ASSERT_TRUE(one.finish(window, 5000));
    EXPECT_EQ(noticesFor(&one.options).back().frame, sharpened);
}

using AsyncRequest = OwnThreadServerTest;
using ThunkRequests = OwnThreadServerTest;

// On the server's own thread: 213 only copies and posts; the decode starts
// when the loop dispatches 1125.
TEST_F(AsyncRequest, ReturnsBeforeAnyByteIsRead)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 32, .width = 32});
    StreamingClient client(stream, 0, 1);
    client.source.position = -7;
    ByteSourceFn clientSource = client.options.byteSource;
    EXPECT_EQ(client.start(window, int32_t(stream.size())), 0);
    EXPECT_EQ(client.source.position, -7);
    EXPECT_EQ(client.options.byteSource, clientSource);
    EXPECT_TRUE(pluginNotices().empty());

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_EQ(client.source.position, int32_t(stream.size()));
    std::vector<PluginNotice> notices = noticesFor(&client.options);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].code, 113u);
    EXPECT_EQ(notices[0].notice, 1u);
    EXPECT_FALSE(notices[0].frame.empty());
    EXPECT_EQ(client.frame.frameMemory, nullptr);
    EXPECT_FALSE(IsWindow(window));
}

// Without a registered thunk the decode still runs but no notice reaches the
// plug-in; 208 registers again. Driven on the server's own thread.
TEST_F(ThunkRequests, NoticesStopAfter209AndResumeAfter208)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 32, .width = 32});

    StreamingClient silent(stream, 1, 1);
    EXPECT_EQ(sendRequest(window, REQUEST_CLOSE_THUNK, nullptr), 0);
    silent.start(window, int32_t(stream.size()));
    MSG message;
    ASSERT_GT(GetMessageA(&message, nullptr, 0, 0), 0);
    ASSERT_EQ(message.message, ASYNC_DECODE);
    EXPECT_EQ(DispatchMessageA(&message), 0);
    EXPECT_EQ(silent.source.position, int32_t(stream.size()));
    EXPECT_EQ(silent.frame.frameMemory, nullptr);
    EXPECT_TRUE(pluginNotices().empty());

    EXPECT_EQ(sendRequest(window, REQUEST_INIT_THUNK, nullptr), 0);
    StreamingClient heard(stream, 0, 1);
    heard.start(window, int32_t(stream.size()));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_EQ(noticesFor(&heard.options).size(), 1u);
}

} // namespace
