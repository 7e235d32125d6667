#include "codec/core/alloc.h"
#include "codec/core/array2d.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// Restores the default allocation limit when a test ends.
struct LimitGuard {
    ~LimitGuard() { setAllocLimit(0); }
};

TEST(Alloc, RefusesZeroAndOversizedRequests)
{
    LimitGuard guard;
    EXPECT_EQ(allocChecked(0), nullptr);
    size_t defaultLimit = allocLimit();
    EXPECT_GT(defaultLimit, static_cast<size_t>(64) << 20);
    setAllocLimit(1000);
    EXPECT_EQ(allocLimit(), 1000u);
    void* fits = allocChecked(1000);
    EXPECT_NE(fits, nullptr);
    freeChecked(fits);
    EXPECT_EQ(allocChecked(1001), nullptr);
    setAllocLimit(0);
    EXPECT_EQ(allocLimit(), defaultLimit);
    EXPECT_EQ(allocChecked(SIZE_MAX), nullptr);
    freeChecked(nullptr);
}

TEST(Alloc, LargeBlocksAreWholeAndSizesNearTheTopAreRefused)
{
    LimitGuard guard;
    // Sizes around the 2 MiB rounding of large blocks: every byte is usable.
    for (size_t bytes : {(size_t{2} << 20) - 1, size_t{2} << 20, (size_t{3} << 20) + 12345}) {
        uint8_t* block = static_cast<uint8_t*>(allocChecked(bytes));
        ASSERT_NE(block, nullptr) << bytes;
        std::memset(block, 0x5A, bytes);
        EXPECT_EQ(block[0], 0x5A);
        EXPECT_EQ(block[bytes - 1], 0x5A);
        freeChecked(block);
    }
    // With no limit, a size whose rounding would wrap is refused, not shrunk.
    setAllocLimit(SIZE_MAX);
    EXPECT_EQ(allocChecked(SIZE_MAX - 1000), nullptr);
}

// Blocks in whole huge pages: the limits of allocChecked, every byte usable,
// and (where huge pages are asked for) a start on a 2 MiB boundary, also for
// a block far smaller than that.
TEST(Alloc, HugePageBlocksOfAnySize)
{
    LimitGuard guard;
    EXPECT_EQ(allocInHugePages(0), nullptr);
    EXPECT_EQ(allocInHugePages(SIZE_MAX), nullptr);
    setAllocLimit(SIZE_MAX);
    EXPECT_EQ(allocInHugePages(SIZE_MAX - 1000), nullptr);
    setAllocLimit(0);
    for (size_t bytes : {size_t{1}, size_t{300000}, (size_t{2} << 20) + 1}) {
        uint8_t* block = static_cast<uint8_t*>(allocInHugePages(bytes));
        ASSERT_NE(block, nullptr) << bytes;
#if defined(__linux__)
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (uintptr_t{2} << 20), 0u) << bytes;
#endif
        std::memset(block, 0xA5, bytes);
        EXPECT_EQ(block[bytes - 1], 0xA5);
        freeChecked(block);
    }
}

// Trimming gives back the pages after the used bytes, up to the end of the
// block's last huge page, and keeps every used byte; the block stays usable.
TEST(Alloc, TrimmingHugePageBlocksKeepsTheUsedBytes)
{
    for (size_t bytes : {size_t{300000}, (size_t{2} << 20) + 4097}) {
        uint8_t* block = static_cast<uint8_t*>(allocInHugePages(bytes));
        ASSERT_NE(block, nullptr) << bytes;
        for (size_t i = 0; i < bytes; i++)
            block[i] = static_cast<uint8_t>(i * 11 + 5);
        const size_t used = bytes / 3 + 5;
        trimHugePages(block, bytes, used);
        for (size_t i = 0; i < used; i++)
            ASSERT_EQ(block[i], static_cast<uint8_t>(i * 11 + 5)) << bytes << " " << i;
#if defined(__linux__)
        // No page after the one holding the last used byte is resident.
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGE_SIZE));
        const size_t firstFree = (used + page - 1) / page * page;
        const size_t reserved = (bytes + (size_t{2} << 20) - 1) & ~((size_t{2} << 20) - 1);
        std::vector<unsigned char> resident((reserved - firstFree) / page);
        ASSERT_EQ(mincore(block + firstFree, reserved - firstFree, resident.data()), 0);
        for (size_t k = 0; k < resident.size(); k++)
            ASSERT_EQ(resident[k] & 1, 0) << bytes << " page " << k;
        // Trimmed pages read as zeros and take writes again.
        EXPECT_EQ(block[bytes - 1], 0);
#endif
        block[bytes - 1] = 7;
        EXPECT_EQ(block[bytes - 1], 7);
        trimHugePages(block, bytes, bytes);
        trimHugePages(block, bytes, bytes + 1);
        EXPECT_EQ(block[used - 1], static_cast<uint8_t>((used - 1) * 11 + 5));
        freeChecked(block);
    }
}

// Mapping pages ahead must not change a byte, also while another thread
// writes them, and must stay inside the block when it does not start or end
// on a page.
TEST(Alloc, PrefaultingKeepsTheContents)
{
    const size_t bytes = (size_t{1} << 20) + 777;
    uint8_t* block = static_cast<uint8_t*>(allocChecked(bytes));
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < bytes; i++)
        block[i] = static_cast<uint8_t>(i * 7 + 3);
    std::thread writer([&] {
        for (size_t i = bytes / 2; i < bytes; i++)
            block[i] = static_cast<uint8_t>(i * 13 + 1);
    });
    prefaultPages(block + 5, bytes - 11);
    writer.join();
    for (size_t i = 0; i < bytes; i++)
        ASSERT_EQ(block[i], static_cast<uint8_t>(i < bytes / 2 ? i * 7 + 3 : i * 13 + 1)) << i;
    freeChecked(block);
}

TEST(Array2D, RowsAreContiguous)
{
    void** table = makeArray2D(3, 5, 4);
    ASSERT_NE(table, nullptr);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(static_cast<uint8_t*>(table[i]), static_cast<uint8_t*>(table[0]) + i * 20);
    std::memset(table[0], 0xAB, 60); // the whole block through row 0
    freeArray2D(table);
    EXPECT_EQ(makeArray2D(0, 5, 1), nullptr);
    EXPECT_EQ(makeArray2D(5, 0, 1), nullptr);
    EXPECT_EQ(makeArray2D(INT32_MAX, INT32_MAX, 4), nullptr);
    freeArray2D(nullptr);
}

TEST(Plane, GuardRowAndColumnAreStorage)
{
    Plane p = makePlane(4, 5);
    ASSERT_NE(p, nullptr);
    for (int i = -1; i < 4; i++)
        for (int j = -1; j < 5; j++)
            p[i][j] = i * 100 + j;
    for (int i = -1; i < 4; i++)
        for (int j = -1; j < 5; j++)
            EXPECT_EQ(p[i][j], i * 100 + j) << i << "," << j;
    // Rows are one block: the guard column of row i+1 follows the last sample of row i.
    EXPECT_EQ(&p[1][-1], &p[0][4] + 1);
    freePlane(p);
    freePlane(nullptr);
}

TEST(Plane, PlaneTablesAreAllOrNothing)
{
    LimitGuard guard;
    Plane* planes = makePlanes(8, 9, 3);
    ASSERT_NE(planes, nullptr);
    for (int k = 0; k < 3; k++) {
        planes[k][-1][-1] = k;
        planes[k][7][8] = k;
    }
    EXPECT_NE(planes[0][0], planes[1][0]);
    freePlanes(planes, 3);
    freePlanes(nullptr, 3);
    EXPECT_EQ(makePlanes(8, 9, 0), nullptr);

    // The table fits, the planes do not: nothing may be left allocated (the
    // leak checker of the sanitizer build sees to that).
    setAllocLimit(200);
    EXPECT_EQ(makePlanes(8, 9, 3), nullptr);
    EXPECT_EQ(makePlane(8, 9), nullptr);
}

TEST(PixelArrays, ColourComponentsAreInterleaved)
{
    PixelRows* arrays = makePixelArrays(2, 4, 3);
    ASSERT_NE(arrays, nullptr);
    for (int c = 0; c < 3; c++)
        for (int j = 0; j < 2; j++)
            EXPECT_EQ(arrays[c][j], arrays[0][0] + j * 12 + c);
    for (int j = 0; j < 2; j++)
        for (int k = 0; k < 4; k++)
            for (int c = 0; c < 3; c++)
                arrays[c][j][3 * k] = static_cast<uint8_t>(10 * c + 100 * j + k);
    uint8_t* block = takePixelBlock(arrays, 3);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 10);
    EXPECT_EQ(block[2], 20);
    EXPECT_EQ(block[3], 1);
    EXPECT_EQ(block[12 + 5], 100 + 1 + 20);
    freeChecked(block);
    EXPECT_EQ(takePixelBlock(nullptr, 3), nullptr);
}

TEST(PixelArrays, FailureLeavesNothingAllocated)
{
    LimitGuard guard;
    setAllocLimit(100);
    EXPECT_EQ(makePixelArrays(10, 40, 3), nullptr);  // block too large
    setAllocLimit(0);
    EXPECT_EQ(makePixelArrays(10, 0, 3), nullptr);
    EXPECT_EQ(makePixelArrays(10, INT32_MAX, 3), nullptr);
    PixelRows* grey = makePixelArrays(3, 10, 1);
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey[0][2], grey[0][0] + 20);
    freePixelArrays(grey, 1);
}

} // namespace
