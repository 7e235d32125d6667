// Many streaming decodes in a row with random chunks, intervals and aborts:
// every decode ends with exactly one final notice, partial notices keep to
// the interval, and no frame memory is left behind.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "tests/server/server_fixture.h"

namespace {

std::vector<std::vector<uint8_t>> soakStreams()
{
    std::vector<std::vector<uint8_t>> streams = {
        makeTestStream({.height = 48, .width = 64, .colour = true, .seed = 11}),
        makeTestStream({.height = 33, .width = 70, .seed = 12}),
        makeTestStream({.height = 40, .width = 40, .detail = false, .seed = 13}),
        makeTestStream({.height = 56, .width = 48, .colour = true, .decodeMode = 0, .seed = 14}),
    };
    std::filesystem::path samples = std::filesystem::path(ZR_SOURCE_DIR) / "samples";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(samples, error)) {
        if (entry.path().extension() != ".zr" || entry.file_size() > 64 * 1024)
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        streams.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return streams;
}

TEST_F(ServerTest, SoakOfStreamingDecodesWithAborts)
{
    std::vector<std::vector<uint8_t>> streams = soakStreams();
    std::mt19937 random(20240601);
    const uint32_t formats[] = {1, 3, 0};
    int aborted = 0, partials = 0;
    for (int round = 0; round < 500; round++) {
        clearPluginNotices();
        const std::vector<uint8_t>& stream = streams[random() % streams.size()];
        int32_t size = int32_t(stream.size());
        int32_t interval = int32_t(random() % 700) - 20; // some without partial frames
        StreamingClient client(stream, interval, formats[random() % 3]);
        bool abort = random() % 2 == 0;
        int32_t abortAt = abort ? int32_t(random() % (size + 1)) : size;
        client.start(window, std::min<int32_t>(int32_t(random() % 64), abortAt));
        while (client.delivered() < abortAt)
            client.deliver(window, std::min<int32_t>(1 + int32_t(random() % 300), abortAt - client.delivered()));
        // Every stream ends with the client's abort: a truncated one waits
        // for it, a whole one has ended by then and the abort finds no wait.
        client.abort(window);
        ASSERT_TRUE(client.finish(window, 10000)) << "round " << round;

        std::vector<PluginNotice> notices = noticesFor(&client.options);
        ASSERT_FALSE(notices.empty());
        EXPECT_EQ(notices.back().notice, 1u) << "round " << round;
        int32_t last = -1;
        for (size_t i = 0; i + 1 < notices.size(); i++) {
            const PluginNotice& n = notices[i];
            ASSERT_EQ(n.notice, 0u) << "round " << round;
            ASSERT_GT(interval, 0);
            EXPECT_EQ(n.position % interval, interval - 1);
            EXPECT_GT(n.position, last);
            EXPECT_FALSE(n.frame.empty());
            last = n.position;
        }
        EXPECT_LE(client.source.position, abortAt);
        EXPECT_EQ(client.frame.frameMemory, nullptr);
        EXPECT_EQ(client.frame.session, nullptr);
        aborted += abort;
        partials += int(notices.size()) - 1;
    }
    EXPECT_GT(aborted, 100);
    EXPECT_GT(partials, 100);
    EXPECT_EQ(zrGlobalBlockCount(), globalBlocks);
}

} // namespace
