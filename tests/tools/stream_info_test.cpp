#include "tools/stream_info.h"
#include "codec/zr.h"
#include "tests/support/alloc_limit.h"
#include "tests/support/stream_header.h"

#include <gtest/gtest.h>

#include <string>

namespace {

StreamInfo inspect(const HeaderFields& h)
{
    std::vector<uint8_t> bytes = makeHeader(h);
    return inspectBytes(bytes.data(), bytes.size());
}

TEST(StreamInfo, CommittedSampleIsAccepted)
{
    StreamInfo info;
    std::string error;
    std::string path = std::string(ZR_SOURCE_DIR) + "/samples/gradient-progressive.zr";
    ASSERT_TRUE(inspectFile(path.c_str(), &info, &error)) << error;
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.reason, "");
    EXPECT_EQ(info.header.height, 48);
    EXPECT_EQ(info.header.width, 64);
    EXPECT_EQ(info.header.components, 3);
    EXPECT_EQ(info.header.decodeMode, 1);
    EXPECT_EQ(info.header.levels, 3);
    EXPECT_EQ(info.headerBits, 81);
    EXPECT_FALSE(info.endsInHeader);
}

TEST(StreamInfo, MissingFile)
{
    StreamInfo info;
    std::string error;
    EXPECT_FALSE(inspectFile("/nonexistent/zr/stream", &info, &error));
    EXPECT_FALSE(error.empty());
}

TEST(StreamInfo, RefusalReasons)
{
    EXPECT_EQ(inspectBytes(nullptr, 0).reason, "not a ZR stream");
    HeaderFields h;
    h.version = 1;
    EXPECT_EQ(inspect(h).reason, "unsupported version 1");
    h = HeaderFields{};
    h.colour = true;
    h.bitsPerSample = 10;
    StreamInfo depth = inspect(h);
    EXPECT_EQ(depth.status, 16);
    EXPECT_EQ(depth.reason, "unsupported sample depth 10 for colour");
    h.colour = false;
    h.bitsPerSample = 17;
    EXPECT_EQ(inspect(h).reason, "unsupported sample depth 17 for grey");
    h = HeaderFields{};
    h.decodeMode = 3;
    EXPECT_EQ(inspect(h).reason, "unsupported decode mode 3");
    h.decodeMode = 1;
    h.mapCoder = 2;
    h.valueCoder = 0;
    EXPECT_EQ(inspect(h).status, 3);
    EXPECT_NE(inspect(h).reason.find("map coder 2 with value coder 0"), std::string::npos);
    h = HeaderFields{};
    h.height = 5;
    EXPECT_EQ(inspect(h).reason, "picture too small: 5 x 64 (a side under 6)");
    h = HeaderFields{};
    h.colour = true;
    h.height = 65535;
    h.width = 65535;
    ScopedAllocLimit limit(kTestAllocLimit);
    StreamInfo huge = inspect(h);
    EXPECT_EQ(huge.status, 8);
    EXPECT_EQ(huge.reason.rfind("picture too large: 65535 x 65535 needs", 0), 0u) << huge.reason;
}

TEST(StreamInfo, StreamEndingInsideTheHeader)
{
    std::vector<uint8_t> bytes = makeHeader(HeaderFields{});
    StreamInfo info = inspectBytes(bytes.data(), 6);
    EXPECT_TRUE(info.endsInHeader);
    EXPECT_EQ(info.header.height, 64);
    EXPECT_EQ(info.status, 16); // the sample depth read as 0
    // The truncation is named first: the refusal follows from it.
    EXPECT_EQ(info.reason, "the data ends inside the header (read as: unsupported sample depth 0 for grey)");
}

// zrinfo reads the header with the decoder's own rules: under the same
// memory bound and read from memory, it refuses exactly what the library's
// zrInfo refuses and reads the same sizes. Read as the tools read it, from a
// byte source that repeats its last byte after the end, a whole header gives
// the same verdict too.
TEST(StreamInfo, AgreesWithTheLibrarysHeaderCheck)
{
    ScopedAllocLimit limit(ZR_DEFAULT_MAX_MEMORY);
    std::vector<std::pair<const char*, std::vector<uint8_t>>> streams;
    HeaderFields h;
    streams.push_back({"plain", makeHeader(h)});
    h.colour = true;
    h.height = 65535;
    h.width = 65535;
    streams.push_back({"huge colour", makeHeader(h)});
    h.colour = false;
    h.height = 14600; // five bytes a pixel: just under the bound
    h.width = 14600;
    streams.push_back({"large grey", makeHeader(h)});
    h.height = 14700; // just over it
    h.width = 14700;
    streams.push_back({"too large grey", makeHeader(h)});
    h = HeaderFields{};
    h.height = 0;
    streams.push_back({"zero height", makeHeader(h)});
    h = HeaderFields{};
    h.width = 0;
    streams.push_back({"zero width", makeHeader(h)});
    h = HeaderFields{};
    h.bitsPerSample = 7;
    streams.push_back({"grey depth 7", makeHeader(h)});
    h.colour = true;
    h.bitsPerSample = 9;
    streams.push_back({"colour depth 9", makeHeader(h)});
    size_t whole = streams.size();
    std::vector<uint8_t> header = makeHeader(HeaderFields{});
    for (size_t size : {size_t(0), size_t(1), size_t(2), size_t(5), size_t(7), header.size() - 1})
        streams.push_back({"truncated", std::vector<uint8_t>(header.begin(), header.begin() + size)});

    for (size_t i = 0; i < streams.size(); i++) {
        const auto& [name, bytes] = streams[i];
        SCOPED_TRACE(std::string(name) + ", " + std::to_string(bytes.size()) + " bytes");
        ZrPicture picture;
        int32_t status = zrInfo(bytes.data(), bytes.size(), &picture);
        BitSource source(bytes);
        StreamInfo info = inspectStream(source.reader());
        EXPECT_EQ(info.status, status);
        if (status != ZR_STATUS_NOT_ZR) {
            EXPECT_EQ(info.header.height, picture.height);
            EXPECT_EQ(info.header.width, picture.width);
        }
        if (i < whole) {
            EXPECT_EQ(inspectBytes(bytes.data(), bytes.size()).status, status);
        }
    }
}

} // namespace
