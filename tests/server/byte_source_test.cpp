// The streaming byte source seen from the plug-in: partial frames at the
// interval, waits that serve further requests, abort, quit and nesting.
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "tests/server/server_fixture.h"

namespace {

int32_t readPosition(StreamingClient& client)
{
    return std::atomic_ref<int32_t>(client.source.position).load();
}

// Waits until the server has taken every byte delivered so far (it is then
// waiting for more, or done).
bool waitUntilConsumed(StreamingClient& client, int timeoutMs = 5000)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (readPosition(client) < client.delivered()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

std::vector<int32_t> partialPositions(const std::vector<PluginNotice>& notices)
{
    std::vector<int32_t> positions;
    for (const PluginNotice& n : notices)
        if (n.notice == 0)
            positions.push_back(n.position);
    return positions;
}

void deliverAll(StreamingClient& client, HWND window, int32_t chunk)
{
    while (client.delivered() < int32_t(client.bytes.size()))
        client.deliver(window, chunk);
}

TEST_F(ServerTest, PartialFramesComeBeforeEveryIntervalPosition)
{
    TestStreamShape shape = {.height = 96, .width = 96, .colour = true};
    std::vector<uint8_t> stream = makeTestStream(shape);
    int32_t size = int32_t(stream.size());
    int32_t prefix = testStreamPrefixBytes(shape);
    ASSERT_GT(size, 4 * 1024);
    std::vector<uint8_t> expected = referenceFrame(stream);

    StreamingClient client(stream, 1024, 1);
    client.start(window, 0);
    deliverAll(client, window, 100);
    ASSERT_TRUE(client.finish(window, 10000));

    std::vector<PluginNotice> notices = noticesFor(&client.options);
    std::vector<int32_t> expectedPositions;
    for (int32_t p = 1023; p < size; p += 1024)
        if (p > prefix + 1)
            expectedPositions.push_back(p);
    EXPECT_EQ(partialPositions(notices), expectedPositions);
    bool coarse = false;
    for (const PluginNotice& n : notices) {
        EXPECT_EQ(n.code, 113u);
        EXPECT_EQ(n.width, 96);
        if (n.notice == 0) {
            EXPECT_GT(n.partWidth, 0);
            EXPECT_LE(n.partWidth, 96);
            EXPECT_FALSE(n.frame.empty());
            coarse = coarse || n.partWidth < 96;
        }
    }
    EXPECT_TRUE(coarse) << "no partial frame of a coarser level";
    ASSERT_EQ(notices.back().notice, 1u);
    EXPECT_EQ(notices.back().frame, expected);
    EXPECT_EQ(client.frame.frameMemory, nullptr);
    EXPECT_EQ(client.frame.pixels, nullptr);
}

TEST_F(ServerTest, SampleStreamGivesPartialFramesAtEveryInterval)
{
    std::ifstream in(std::string(ZR_SOURCE_DIR) + "/samples/astronaut-progressive.zr", std::ios::binary);
    std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (stream.empty())
        GTEST_SKIP() << "sample missing";
    int32_t size = int32_t(stream.size());
    std::vector<uint8_t> expected = referenceFrame(stream, 3);
    StreamingClient client(stream, 1024, 3);
    client.start(window, 0);
    deliverAll(client, window, 333);
    ASSERT_TRUE(client.finish(window, 20000));
    std::vector<PluginNotice> notices = noticesFor(&client.options);
    std::vector<int32_t> positions = partialPositions(notices);
    ASSERT_FALSE(positions.empty());
    std::vector<int32_t> expectedPositions;
    for (int32_t p = positions.front(); p < size; p += 1024)
        expectedPositions.push_back(p);
    EXPECT_EQ(positions.front() % 1024, 1023);
    EXPECT_LT(positions.front(), 4096);
    EXPECT_EQ(positions, expectedPositions);
    EXPECT_EQ(notices.back().frame, expected);
}

TEST_F(ServerTest, IntervalOfOneAttemptsBeforeEveryByte)
{
    TestStreamShape shape = {.height = 40, .width = 40};
    std::vector<uint8_t> stream = makeTestStream(shape);
    int32_t size = int32_t(stream.size());
    StreamingClient client(stream, 1, 3);
    client.start(window, size);
    ASSERT_TRUE(client.finish(window, 5000));
    std::vector<int32_t> positions = partialPositions(noticesFor(&client.options));
    ASSERT_FALSE(positions.empty());
    EXPECT_LE(positions.front(), testStreamPrefixBytes(shape) + 1);
    EXPECT_EQ(positions.back(), size - 1);
    EXPECT_EQ(int32_t(positions.size()), size - positions.front()) << "a byte without a partial frame";
}

TEST_F(ServerTest, IntervalOfZeroOrLessGivesNoPartialFrames)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 40, .width = 40});
    for (int32_t interval : {0, -1, -1024}) {
        clearPluginNotices();
        StreamingClient client(stream, interval, 1);
        client.start(window, 0);
        deliverAll(client, window, 7);
        ASSERT_TRUE(client.finish(window, 5000)) << interval;
        std::vector<PluginNotice> notices = noticesFor(&client.options);
        ASSERT_EQ(notices.size(), 1u) << interval;
        EXPECT_EQ(notices[0].notice, 1u);
    }
}

// With every byte present the source never waits, so a queued abort is not
// seen by it and the whole stream is decoded.
TEST_F(ServerTest, AllBytesPresentDispatchesNothing)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 64, .width = 64, .colour = true});
    std::vector<uint8_t> expected = referenceFrame(stream);
    StreamingClient client(stream, 512, 1);
    client.start(window, int32_t(stream.size()));
    client.abort(window);
    ASSERT_TRUE(client.finish(window, 5000));
    EXPECT_EQ(client.source.position, int32_t(stream.size()));
    EXPECT_EQ(noticesFor(&client.options).back().frame, expected);
}

// With no bytes the source keeps serving requests until the abort; an empty
// stream is refused, so the final notice carries no frame.
TEST_F(ServerTest, WaitWithoutBytesServesRequestsUntilAbort)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 40, .width = 40});
    StreamingClient client(stream, 1, 1);
    client.start(window, 0);
    // Requests sent now are answered from inside the waiting decode.
    EXPECT_EQ(sendRequest(window, REQUEST_PARTIAL_FRAME, &client.frame), ZR_NO_PARTIAL_YET);
    EXPECT_NE(client.frame.session, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(noticesFor(&client.options).empty());
    client.abort(window);
    ASSERT_TRUE(client.finish(window, 5000));
    std::vector<PluginNotice> notices = noticesFor(&client.options);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].frame.empty());
    EXPECT_EQ(client.frame.session, nullptr);
    EXPECT_EQ(client.source.position, 0);
}

TEST_F(ServerTest, AbortMidStreamYieldsWholeFinalFrame)
{
    TestStreamShape shape = {.height = 64, .width = 80, .colour = true};
    std::vector<uint8_t> stream = makeTestStream(shape);
    std::vector<uint8_t> whole = referenceFrame(stream);
    // Into the detail of the coarsest level.
    int32_t cut = testStreamPrefixBytes(shape) + 24;
    StreamingClient client(stream, 256, 1);
    client.start(window, 0);
    client.deliver(window, cut);
    ASSERT_TRUE(waitUntilConsumed(client));
    // A partial request reaches the waiting decode's session.
    EXPECT_EQ(sendRequest(window, REQUEST_PARTIAL_FRAME, &client.frame), 0);
    EXPECT_LT(client.frame.partWidth, 80);
    EXPECT_NE(client.frame.frameMemory, nullptr);

    client.abort(window);
    ASSERT_TRUE(client.finish(window, 5000));
    PluginNotice final = noticesFor(&client.options).back();
    EXPECT_EQ(final.notice, 1u);
    EXPECT_EQ(final.partWidth, 80);
    EXPECT_EQ(final.partHeight, 64);
    EXPECT_EQ(final.frame.size(), whole.size());
    EXPECT_NE(final.frame, whole);
    EXPECT_EQ(client.source.position, cut);
    // Bytes that arrive after the abort are not read.
    client.deliver(window, int32_t(stream.size()));
    EXPECT_EQ(sendRequest(window, REQUEST_PARTIAL_FRAME, &client.frame), ZR_NO_DECODE);
    EXPECT_EQ(client.source.position, cut);
}

TEST_F(ServerTest, AbortPostedToTheThreadDoesNotEndTheWait)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 48, .width = 48});
    std::vector<uint8_t> expected = referenceFrame(stream);
    StreamingClient client(stream, 0, 1);
    client.start(window, 0);
    client.deliver(window, int32_t(stream.size()) / 3);
    ASSERT_TRUE(waitUntilConsumed(client));
    ASSERT_TRUE(PostThreadMessageA(server.threadId, ABORT_DECODE, 0, 0));
    // Served after the thread message, so the wait went on past it.
    sendRequest(window, IDLE_MESSAGE, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(noticesFor(&client.options).empty());
    deliverAll(client, window, 64);
    ASSERT_TRUE(client.finish(window, 5000));
    EXPECT_EQ(noticesFor(&client.options).back().frame, expected);
}

// The quit ends the stream, the decode delivers its final frame, and the
// main loop then ends with the quit's code.
TEST_F(ServerTest, QuitDuringWaitEndsServerAfterTheDecode)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 48, .width = 48});
    StreamingClient client(stream, 0, 1);
    client.start(window, 0);
    client.deliver(window, int32_t(stream.size()) / 2);
    ASSERT_TRUE(waitUntilConsumed(client));
    ASSERT_TRUE(PostThreadMessageA(server.threadId, WM_QUIT, 7, 0));
    server.join();
    stopped = true;
    EXPECT_EQ(server.exitCode, 7);
    std::vector<PluginNotice> notices = noticesFor(&client.options);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].notice, 1u);
    EXPECT_FALSE(notices[0].frame.empty());
}

TEST_F(ServerTest, CloseDuringWaitEndsServerWithZero)
{
    std::vector<uint8_t> stream = makeTestStream({.height = 48, .width = 48});
    StreamingClient client(stream, 0, 1);
    client.start(window, 0);
    client.deliver(window, 20);
    ASSERT_TRUE(waitUntilConsumed(client));
    EXPECT_EQ(server.stop(), 0);
    stopped = true;
    EXPECT_EQ(noticesFor(&client.options).size(), 1u);
}

// A second request arriving during a wait runs to its end inside it; the
// outer decode then resumes.
TEST_F(ServerTest, NestedDecodeFinishesBeforeTheWaitingOne)
{
    std::vector<uint8_t> outerStream = makeTestStream({.height = 64, .width = 64, .seed = 3});
    std::vector<uint8_t> innerStream = makeTestStream({.height = 40, .width = 56, .colour = true, .seed = 4});
    std::vector<uint8_t> outerExpected = referenceFrame(outerStream);
    std::vector<uint8_t> innerExpected = referenceFrame(innerStream);

    StreamingClient outer(outerStream, 300, 1);
    outer.start(window, 0);
    outer.deliver(window, int32_t(outerStream.size()) / 2);
    ASSERT_TRUE(waitUntilConsumed(outer));

    StreamingClient inner(innerStream, 0, 1);
    inner.start(window, 0);
    deliverAll(inner, window, 50);
    ASSERT_TRUE(inner.finish(window, 5000));
    EXPECT_TRUE(noticesFor(&outer.options).size() == partialPositions(noticesFor(&outer.options)).size())
        << "the outer decode ended early";
    EXPECT_EQ(noticesFor(&inner.options).back().frame, innerExpected);

    deliverAll(outer, window, 50);
    ASSERT_TRUE(outer.finish(window, 5000));
    EXPECT_EQ(noticesFor(&outer.options).back().frame, outerExpected);
    std::vector<PluginNotice> all = pluginNotices();
    EXPECT_EQ(all.back().options, &outer.options);
}

// A one-pass decode has no partial picture: its periodic attempts and a 202
// answer 11 without a notice, and the decode goes on.
TEST_F(ServerTest, OnePassDecodeOffersNoPartialFrames)
{
    TestStreamShape shape = {.height = 64, .width = 64, .colour = true, .decodeMode = 0};
    std::vector<uint8_t> stream = makeTestStream(shape);
    std::vector<uint8_t> expected = referenceFrame(stream);
    StreamingClient client(stream, 1, 1);
    client.start(window, 0);
    client.deliver(window, 20);
    ASSERT_TRUE(waitUntilConsumed(client));
    EXPECT_EQ(sendRequest(window, REQUEST_PARTIAL_FRAME, &client.frame), ZR_NO_PARTIAL_ONE_PASS);
    EXPECT_EQ(client.frame.frameMemory, nullptr);
    deliverAll(client, window, 16);
    // The stream ends early; the client ends the data.
    client.abort(window);
    ASSERT_TRUE(client.finish(window, 5000));
    std::vector<PluginNotice> notices = noticesFor(&client.options);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].frame, expected);
}

} // namespace
