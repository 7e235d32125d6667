// A running server on a thread of its own, on a desktop private to this test
// program, with the plug-in double installed.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "codec/session/session.h"
#include "platform/layer_hooks.h"
#include "server/server_window.h"
#include "plugin/plugin_double.h"
#include "tests/server/test_streams.h"

inline std::string privateDesktopName()
{
    return "test-server-" + std::to_string(getpid());
}

inline void usePrivateDesktop()
{
    static const std::string name = privateDesktopName();
    zrSetDesktopName(name.c_str());
}

// The records of a synchronous decode request (201) over `stream`, which
// must outlive them.
struct SyncDecode {
    SyncDecode(const std::vector<uint8_t>& stream, uint32_t format)
        : source{stream.data(), int32_t(stream.size()), 0, 0}
    {
        frame.format = format;
    }
    SyncDecode(const SyncDecode&) = delete;
    SyncDecode& operator=(const SyncDecode&) = delete;

    StreamSource source;
    DecodeOptions options = {};
    FrameInfo frame = {};
    DecodeRequest request = {&source, &options, &frame};
};

// The delivered frame memory of a synchronous decode (request 201).
inline std::vector<uint8_t> frameBytes(const FrameInfo& frame)
{
    std::vector<uint8_t> bytes;
    if (!frame.frameMemory)
        return bytes;
    HGLOBAL memory = static_cast<HGLOBAL>(frame.frameMemory);
    const uint8_t* data = static_cast<const uint8_t*>(GlobalLock(memory));
    bytes.assign(data, data + GlobalSize(memory));
    GlobalUnlock(memory);
    return bytes;
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        usePrivateDesktop();
        installPluginDouble();
        clearPluginNotices();
        globalBlocks = zrGlobalBlockCount();
        ASSERT_TRUE(server.start());
        window = server.window;
    }

    void TearDown() override
    {
        if (!stopped) {
            EXPECT_EQ(server.stop(), 0);
        }
        server.join();
        EXPECT_EQ(zrGlobalBlockCount(), globalBlocks) << "global memory left behind";
    }

    // Frame memory of a synchronous decode of `stream` in `format`.
    std::vector<uint8_t> referenceFrame(const std::vector<uint8_t>& stream, uint32_t format = 1,
                                        uintptr_t sharpen = 0)
    {
        SyncDecode decode(stream, format);
        decode.options.sharpen = sharpen;
        EXPECT_EQ(sendRequest(window, REQUEST_DECODE, &decode.request), 0);
        std::vector<uint8_t> bytes = frameBytes(decode.frame);
        EXPECT_EQ(sendRequest(window, REQUEST_RELEASE_FRAME, &decode.frame), 0);
        return bytes;
    }

    ServerThread server;
    HWND window = nullptr;
    bool stopped = false;
    long globalBlocks = 0;
};

// A server window on the test's own thread, driven by its message loop.
class OwnThreadServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        usePrivateDesktop();
        installPluginDouble();
        clearPluginNotices();
        window = createServerWindow(GetModuleHandleA(nullptr));
        ASSERT_NE(window, nullptr);
    }

    HWND window = nullptr;
};
