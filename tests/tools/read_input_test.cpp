// Reading an input whole: exact bytes at every size around the huge-page and
// trimming thresholds, appended to what the buffer held, and refusals with a reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "tests/support/tool_run.h"
#include "tools/cli.h"

namespace {

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(ReadInput, GivesEveryByteAtSizesAroundTheHugePageBlocks)
{
    const std::filesystem::path folder = toolScratch("read-input");
    const size_t sizes[] = {1, 4095, 65537, kInputHugeBytes - 1, kInputHugeBytes, kInputHugeBytes + 1,
                            kInputTrimBytes - 1, kInputTrimBytes, kInputTrimBytes + 4097, (size_t{2} << 20) + 7};
    for (size_t size : sizes) {
        const std::vector<uint8_t> content = randomBytes(size, static_cast<uint32_t>(size));
        const std::filesystem::path file = folder / ("in-" + std::to_string(size));
        writeFile(file, std::string(content.begin(), content.end()));
        InputBytes bytes;
        std::string error;
        ASSERT_TRUE(readInput(file.string(), &bytes, &error)) << size << ": " << error;
        ASSERT_EQ(bytes.size(), size);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), content.begin())) << size;
        // Read again after what the buffer holds: appended, nothing lost.
        ASSERT_TRUE(readInput(file.string(), &bytes, &error)) << size;
        ASSERT_EQ(bytes.size(), 2 * size);
        EXPECT_TRUE(std::equal(bytes.begin() + static_cast<ptrdiff_t>(size), bytes.end(), content.begin())) << size;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size), content.begin())) << size;
    }
}

TEST(ReadInput, EmptyFilesAndRefusals)
{
    const std::filesystem::path folder = toolScratch("read-input");
    const std::filesystem::path empty = folder / "empty";
    writeFile(empty, "");
    InputBytes bytes;
    std::string error;
    EXPECT_TRUE(readInput(empty.string(), &bytes, &error)) << error;
    EXPECT_TRUE(bytes.empty());

    EXPECT_FALSE(readInput(folder.string(), &bytes, &error));
    EXPECT_EQ(error.rfind(folder.string() + ": ", 0), 0u) << error;
    const std::string missing = (folder / "missing").string();
    EXPECT_FALSE(readInput(missing, &bytes, &error));
    EXPECT_EQ(error.rfind(missing + ": ", 0), 0u) << error;
    EXPECT_TRUE(bytes.empty());
}

} // namespace
