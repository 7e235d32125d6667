#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "codec/core/array2d.h"
#include "codec/core/geometry.h"
#include "codec/progressive/band_lists.h"
#include "codec/progressive/map_scans.h"
#include "codec/recon/recon_queue.h"
#include "codec/session/session.h"

namespace {

// A task that keeps the worker busy until released, or for ten seconds.
struct WorkerHold {
    std::atomic<bool> released{false};
    std::atomic<bool> timedOut{false};

    static void task(void* context, int32_t)
    {
        WorkerHold* hold = static_cast<WorkerHold*>(context);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!hold->released.load()) {
            if (std::chrono::steady_clock::now() > end) {
                hold->timedOut.store(true);
                return;
            }
            std::this_thread::yield();
        }
    }
};

struct Tested {
    int32_t L, c, row, col;
    bool operator==(const Tested&) const = default;
};

// A session with flag maps and case tables only, whose value callback
// records each tested position and calls it significant by a hash of it
// (every `oneIn`-th on average; 1: all, 0: none).
struct ScanSession {
    DecodeSession session{};
    std::vector<Tested> tested;
    std::vector<std::tuple<int32_t, int32_t, int32_t>> passed; // level, component, band
    std::vector<bool> listedBands;                              // per pass, with lists
    int32_t L = 0, c = 0;
    uint32_t oneIn = 3;
    WorkerHold* hold = nullptr; // released when the first listed band's pass ends

    static ScanSession* of(DecodeSession* s) { return reinterpret_cast<ScanSession*>(s); }

    static int32_t record(BitReader*, DecodeSession* s, int32_t row, int32_t col)
    {
        ScanSession* me = of(s);
        me->tested.push_back({me->L, me->c, row, col});
        if (me->oneIn == 0)
            return 0;
        const uint32_t h = (static_cast<uint32_t>(row) * 2654435761u) ^ (static_cast<uint32_t>(col) * 40503u)
                           ^ (static_cast<uint32_t>(me->L * 3 + me->c) * 97u);
        return (h >> 7) % me->oneIn == 0;
    }

    ScanSession(int32_t height, int32_t width, int32_t components)
    {
        std::memset(&session, 0, sizeof session);
        session.height = height;
        session.width = width;
        session.components = components;
        session.levels = levelCount(height, width);
        session.mapCoder = 1;
        session.flagMaps = new uint8_t**[components];
        for (int32_t k = 0; k < components; k++) {
            session.flagMaps[k] = reinterpret_cast<uint8_t**>(makeArray2D(height, width, 1));
            std::memset(session.flagMaps[k][0], FLAG_UNTESTED, static_cast<size_t>(height) * width);
        }
        MapCoderState* state = &session.mapCoderState;
        EXPECT_EQ(makeBandParityTables(&state->rowCases, &state->columnCases, height, width, session.levels), 1);
        state->valueCallback = state->finalValueCallback = record;
    }
    ~ScanSession()
    {
        freeBandParityTables(session.mapCoderState.rowCases, session.mapCoderState.columnCases);
        for (int32_t k = 0; k < session.components; k++)
            freeArray2D(reinterpret_cast<void**>(session.flagMaps[k]));
        delete[] session.flagMaps;
    }

    // The driver's band passes, with the lists where `lists` is set; the
    // rest of a component's bands at a level is skipped after band `stopAt`
    // of component `stopComponent` at level `stopLevel`.
    void decode(BandLists* lists, int32_t stopLevel = -1, int32_t stopComponent = 0, int32_t stopAt = 0)
    {
        session.mapCoderState.lists = lists;
        for (L = session.levels - 1; L >= 0; L--) {
            for (c = 0; c < session.components; c++) {
                for (int32_t b = 0; b < 3; b++) {
                    if (lists) {
                        prepareBandPass(lists, L, c, b);
                        listedBands.push_back(bandIsListed(lists));
                    }
                    scanSerpentine(nullptr, &session, &session.mapCoderState, session.flagMaps[c],
                                   session.height, session.width, L, b);
                    if (lists) {
                        endBandPass(lists, L, c, b);
                        if (hold && listedBands.back())
                            hold->released.store(true);
                    }
                    passed.push_back({L, c, b});
                    if (L == stopLevel && c == stopComponent && b == stopAt)
                        break;
                }
            }
        }
        session.mapCoderState.lists = nullptr;
    }

};

// Decodes once walking every band on this thread and once with the lists
// made on a reconstruction thread; both must test the same positions in the
// same order and leave the same flags. With holdWorker the worker is kept
// busy until the first listed band's pass has ended: the decoding thread
// makes that band's lists itself, and then shares the rest with the worker.
void expectListsWalkAsTheScan(int32_t height, int32_t width, int32_t components, uint32_t oneIn,
                              int32_t partPositions, int32_t stopLevel = -1, int32_t stopComponent = 0,
                              int32_t stopAt = 0, bool holdWorker = false)
{
    SCOPED_TRACE(testing::Message() << height << "x" << width << " components " << components << " one in "
                                    << oneIn << " parts " << partPositions << " stop " << stopLevel << "/"
                                    << stopComponent << "/" << stopAt << (holdWorker ? " held" : ""));
    if (levelCount(height, width) < 1)
        return;
    ScanSession walked(height, width, components);
    walked.oneIn = oneIn;
    walked.decode(nullptr, stopLevel, stopComponent, stopAt);

    ScanSession listed(height, width, components);
    listed.oneIn = oneIn;
    // A held worker frees no ring space: the ring then holds all the tasks.
    listed.session.recon = startReconThread(holdWorker ? 4096 : 64);
    ASSERT_NE(listed.session.recon, nullptr);
    WorkerHold hold;
    if (holdWorker) {
        listed.hold = &hold;
        queueReconTask(listed.session.recon, WorkerHold::task, &hold, 0);
        publishReconBlock(listed.session.recon);
    }
    BandLists* lists = startBandLists(&listed.session, partPositions);
    ASSERT_NE(lists, nullptr);
    listed.decode(lists, stopLevel, stopComponent, stopAt);
    hold.released.store(true);
    freeBandLists(lists);
    stopReconThread(listed.session.recon);
    EXPECT_FALSE(hold.timedOut.load()) << "the decoding thread waited for a list the worker had not started";

    ASSERT_EQ(listed.tested.size(), walked.tested.size());
    for (size_t i = 0; i < walked.tested.size(); i++) {
        const Tested& a = walked.tested[i];
        const Tested& b = listed.tested[i];
        ASSERT_EQ(std::tie(a.L, a.c, a.row, a.col), std::tie(b.L, b.c, b.row, b.col)) << "position " << i;
    }
    // Flags of skipped bands are never read again: the marks their parents
    // left there may differ.
    for (const auto& [L, c, b] : walked.passed) {
        const BandRect r = bandRect(height, width, L, b);
        for (int32_t row = r.rowStart; row < r.rowEnd; row++)
            for (int32_t col = r.colStart; col < r.colEnd; col++)
                ASSERT_EQ(walked.session.flagMaps[c][row][col], listed.session.flagMaps[c][row][col])
                    << "flag " << row << "," << col << " of component " << c;
    }
}

TEST(BandLists, TestTheScansPositionsInItsOrderOnManySizes)
{
    const int32_t sizes[][2] = {{1, 1},  {1, 2},   {2, 1},   {2, 2},  {1, 37}, {37, 1}, {2, 53},  {53, 2},
                                {3, 3},  {5, 17},  {17, 5},  {16, 16}, {31, 33}, {33, 31}, {64, 64}, {67, 45},
                                {100, 3}, {3, 100}, {129, 77}, {96, 160}};
    for (const auto& size : sizes)
        for (int32_t parts : {16, 100, 0})
            expectListsWalkAsTheScan(size[0], size[1], 1, 3, parts);
}

// Bands of half a part or more are listed; smaller ones, whose lists would
// come back only after a round trip through the worker, are walked here.
TEST(BandLists, BandsOfHalfAPartOrMoreAreListed)
{
    const int32_t height = 96, width = 160, parts = 600;
    ScanSession listed(height, width, 1);
    listed.session.recon = startReconThread(64);
    ASSERT_NE(listed.session.recon, nullptr);
    BandLists* lists = startBandLists(&listed.session, parts);
    ASSERT_NE(lists, nullptr);
    listed.decode(lists);
    freeBandLists(lists);
    stopReconThread(listed.session.recon);
    ASSERT_EQ(listed.listedBands.size(), listed.passed.size());
    int32_t listedCount = 0, walkedCount = 0;
    for (size_t i = 0; i < listed.passed.size(); i++) {
        const auto [L, c, b] = listed.passed[i];
        const BandRect r = bandRect(height, width, L, b);
        const int32_t area = (r.rowEnd - r.rowStart) * (r.colEnd - r.colStart);
        // The top level's bands have no parent pass to wait for and are walked.
        const bool expected = L < listed.session.levels - 1 && 2 * area >= parts;
        EXPECT_EQ(listed.listedBands[i], expected) << "level " << L << " band " << b << " area " << area;
        (expected ? listedCount : walkedCount)++;
    }
    EXPECT_GT(listedCount, 0);
    EXPECT_GT(walkedCount, 3);
}

// A worker that has not come to the lists yet (asleep, or behind with the
// values queued before them) does not hold the decoding thread up: it makes
// the lists it needs itself, and the worker then goes on with the rest.
TEST(BandLists, ListsTheWorkerHasNotStartedAreMadeByTheDecodingThread)
{
    for (uint32_t oneIn : {1u, 3u})
        for (int32_t parts : {40, 300}) {
            expectListsWalkAsTheScan(96, 160, 1, oneIn, parts, -1, 0, 0, true);
            expectListsWalkAsTheScan(77, 120, 3, oneIn, parts, -1, 0, 0, true);
        }
    expectListsWalkAsTheScan(77, 120, 3, 3, 40, 1, 2, 0, true);
}

TEST(BandLists, AllSignificantNoneSignificantAndColour)
{
    for (uint32_t oneIn : {0u, 1u, 2u, 5u})
        for (int32_t components : {1, 3}) {
            expectListsWalkAsTheScan(61, 90, components, oneIn, 37);
            expectListsWalkAsTheScan(128, 128, components, oneIn, 256);
        }
}

// After a band that ends the data the driver skips the component's other
// bands at that level: they are never marked, and lists made for them are
// dropped.
TEST(BandLists, SkippedBandsKeepTheirFlags)
{
    for (int32_t stopLevel : {0, 1, 2, 3})
        for (int32_t stopAt : {0, 1})
            for (int32_t stopComponent : {0, 2}) {
                expectListsWalkAsTheScan(77, 120, 3, 3, 40, stopLevel, stopComponent, stopAt);
                expectListsWalkAsTheScan(77, 120, 3, 3, 0, stopLevel, stopComponent, stopAt);
            }
}

} // namespace
