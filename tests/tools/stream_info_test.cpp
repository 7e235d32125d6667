#include "tools/stream_info.h"
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

} // namespace
