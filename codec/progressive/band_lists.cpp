#include "codec/progressive/band_lists.h"

#include <atomic>
#include <cstddef>
#include <new>

#include "codec/core/alloc.h"
#include "codec/core/geometry.h"
#include "codec/progressive/map_scans.h"
#include "codec/progressive/serpentine_walk.h"
#include "codec/recon/recon_queue.h"
#include "codec/session/session.h"

namespace {

// Parts of at most this many positions (a part the walk does not split, 1
// or 2 wide, may not be larger: its band is then walked), and lists of that
// many parts, 1 MiB in all. The worker makes a list only after the work
// queued before it, a whole level's expansion among it, so the lists run up
// to a band of the finest level ahead; with a quarter of that the decoding
// thread waited for them some fifteen times per picture. Colour takes parts
// of half the size: its three flag maps leave less room under the peak
// memory, and with smaller lists it decodes as fast.
constexpr int32_t kPartPositions = kListPositionsMost;
constexpr int32_t kColourPartPositions = kListPositionsMost / 2;
constexpr int32_t kSlots = 16;
// Rectangles waiting to be split: at most 3 per level of the walk's
// recursion and one more.
constexpr int32_t kStackParts = 3 * 64 + 1;

struct BandKey {
    int32_t L, c, b;
};

bool sameBand(BandKey a, BandKey b)
{
    return a.L == b.L && a.c == b.c && a.b == b.b;
}

// Components the driver decodes at level L.
int32_t componentsAt(const DecodeSession* session, int32_t L)
{
    return session->halfSize != 0 && L == 0 ? 1 : session->components;
}

// The band the driver decodes after `band`; L is -1 after the last one.
BandKey bandAfter(const DecodeSession* session, BandKey band)
{
    if (band.b < 2)
        return {band.L, band.c, band.b + 1};
    if (band.c + 1 < componentsAt(session, band.L))
        return {band.L, band.c + 1, 0};
    return {band.L - 1, 0, 0};
}

// The driver's order: coarser levels first, then components, then bands.
bool bandBefore(BandKey a, BandKey b)
{
    if (a.L != b.L)
        return a.L > b.L;
    return a.c != b.c ? a.c < b.c : a.b < b.b;
}

int64_t area(const SerpentinePart& p)
{
    return int64_t(p.r1 - p.r0) * (p.c1 - p.c0);
}

// The walk of a band cut into parts of at most `most` positions, one after
// the other in the walk's order.
struct PartCursor {
    SerpentinePart stack[kStackParts];
    int32_t depth = 0;
    int64_t most = kPartPositions;

    void start(const SerpentinePart& band, int64_t partPositions)
    {
        most = partPositions;
        depth = 0;
        if (area(band) > 0)
            stack[depth++] = band;
    }

    // False after the last part, or when a part too large cannot be split.
    bool next(SerpentinePart* part)
    {
        while (depth > 0) {
            const SerpentinePart p = stack[--depth];
            if (area(p) <= most) {
                *part = p;
                return true;
            }
            if (p.r1 - p.r0 <= 2 || p.c1 - p.c0 <= 2 || depth + 4 > kStackParts) {
                depth = 0;
                return false;
            }
            const auto quadrants = serpentineQuadrants(p);
            for (int32_t i = 3; i >= 0; i--)
                stack[depth++] = quadrants[i];
        }
        return false;
    }
};

// Whether every part of the band fits a list.
bool bandFitsParts(const SerpentinePart& band, int64_t partPositions)
{
    PartCursor cursor;
    cursor.start(band, partPositions);
    SerpentinePart part;
    int64_t listed = 0;
    while (cursor.next(&part))
        listed += area(part);
    return listed == area(band);
}

// Whether a band is listed: bands of less than half a part are walked on the
// decoding thread, which costs less than waiting for the worker to come back
// with their list (the coarse levels' bands, whose lists were asked for just
// before they were needed). Parts hold at least one position, so a listed
// band is never empty.
bool listPays(const SerpentinePart& band, int64_t partPositions)
{
    return 2 * area(band) >= partPositions && bandFitsParts(band, partPositions);
}

// Lists are numbered from 1 in the order they are queued (a task's argument:
// far fewer than 2^31 in a decode), and take the slots in turn: list n goes
// to slot (n - 1) % kSlots. Who makes a list: the worker when it comes to its
// task, or the decoding thread when it needs the list before the worker has
// started on it (the worker asleep, or behind with the work queued before).
// The worker then waits at the task until the list is made, so that the
// tasks after it read the flags its marks set, as when it makes the list
// itself. A list made on the decoding thread frees its slot at once: the
// worker, coming to its task later, only reads the slot's numbers.
int32_t slotOf(uint32_t number)
{
    return static_cast<int32_t>((number - 1) % kSlots);
}

} // namespace

struct BandLists {
    DecodeSession* session;
    // Lists queued in order: slots[head], then the next slots (mod kSlots).
    // Each holds the part it is made for and the mark after its task.
    uint16_t* positions;
    int32_t partPositions;
    BandList lists[kSlots];
    SerpentinePart parts[kSlots];
    BandKey partBand[kSlots];
    uint64_t readyMark[kSlots];
    bool markParent[kSlots];
    uint32_t number[kSlots]; // the list in the slot
    uint32_t numbered;       // lists queued so far
    // Per slot, the latest list a thread took to make, and the latest the
    // decoding thread made.
    std::atomic<uint32_t> taken[kSlots];
    std::atomic<uint32_t> madeHere[kSlots];
    int32_t head;
    int32_t queued;
    bool handedOut; // slots[head] is the current band's list in use
    // The band whose parts are queued next (L -1: none), whether it has
    // started, and the parts left of it.
    BandKey cursorBand;
    bool cursorStarted;
    PartCursor cursor;
    // The current band, and whether its positions are listed.
    BandKey current;
    bool listed;
    // Per component and band: the last level whose pass ended, and the last
    // level whose children are marked or queued to be (levels + 1: none).
    int32_t ended[3][3];
    int32_t marked[3][3];
};

namespace {

void bandPart(const DecodeSession* session, BandKey band, SerpentinePart* part)
{
    part->type = 0;
    bandBounds(session->height, session->width, band.L, band.b, &part->r0, &part->r1, &part->c0, &part->c1);
}

void markParentChildren(DecodeSession* session, BandKey band)
{
    SerpentinePart parent;
    bandPart(session, BandKey{band.L + 1, band.c, band.b}, &parent);
    const MapCoderState* state = &session->mapCoderState;
    markBandChildren(session->flagMaps[band.c], state->rowCases, state->columnCases, band.b, band.L + 1, parent.r0,
                     parent.r1, parent.c0, parent.c1);
}

// The parent's children marks where asked, then the part's list.
void buildList(BandLists* lists, int32_t slot)
{
    if (lists->markParent[slot])
        markParentChildren(lists->session, lists->partBand[slot]);
    const SerpentinePart& p = lists->parts[slot];
    listUntestedPositions(lists->session->flagMaps[lists->partBand[slot].c], p.type, p.r0, p.r1, p.c0, p.c1,
                          &lists->lists[slot]);
}

// Whether this thread takes list `number` to make; false once the other
// thread has taken it (or, for the worker, a later list of the slot).
bool claimList(BandLists* lists, uint32_t number)
{
    std::atomic<uint32_t>& taken = lists->taken[slotOf(number)];
    uint32_t latest = taken.load();
    while (latest < number)
        if (taken.compare_exchange_weak(latest, number))
            return true;
    return false;
}

// The task of list `number` on the reconstruction thread.
void makeList(void* context, int32_t number)
{
    BandLists* lists = static_cast<BandLists*>(context);
    const uint32_t n = static_cast<uint32_t>(number);
    if (claimList(lists, n)) {
        buildList(lists, slotOf(n));
        return;
    }
    while (lists->madeHere[slotOf(n)].load(std::memory_order_acquire) < n)
        cpuRelax();
}

// Moves the cursor on to the next band whose parts can be queued: one whose
// parent's pass has ended. Bands that do not fit parts are left to be walked.
bool startCursorBand(BandLists* lists)
{
    for (;;) {
        const BandKey band = lists->cursorBand;
        if (band.L < 0 || lists->ended[band.c][band.b] != band.L + 1)
            return false;
        SerpentinePart whole;
        bandPart(lists->session, band, &whole);
        if (listPays(whole, lists->partPositions)) {
            lists->cursor.start(whole, lists->partPositions);
            lists->cursorStarted = true;
            return true;
        }
        lists->cursorBand = bandAfter(lists->session, band);
    }
}

// Queues lists into the free slots, as far as the cursor goes.
void queueLists(BandLists* lists)
{
    DecodeSession* session = lists->session;
    bool queuedAny = false;
    while (lists->queued < kSlots) {
        if (!lists->cursorStarted && !startCursorBand(lists))
            break;
        SerpentinePart part;
        if (!lists->cursor.next(&part)) {
            lists->cursorStarted = false;
            lists->cursorBand = bandAfter(session, lists->cursorBand);
            continue;
        }
        const BandKey band = lists->cursorBand;
        const uint32_t number = lists->numbered + 1;
        const int32_t slot = slotOf(number); // (head + queued) % kSlots
        // The slot's last list may still be in the making (by the worker,
        // also when it was dropped unread), unless this thread made it.
        if (lists->madeHere[slot].load(std::memory_order_relaxed) != lists->number[slot])
            waitForReconMark(session->recon, lists->readyMark[slot]);
        const bool markParent = lists->marked[band.c][band.b] > band.L + 1;
        lists->marked[band.c][band.b] = band.L + 1;
        lists->parts[slot] = part;
        lists->partBand[slot] = band;
        lists->markParent[slot] = markParent;
        lists->numbered = number;
        lists->number[slot] = number;
        queueReconTask(session->recon, makeList, lists, static_cast<int32_t>(number));
        lists->readyMark[slot] = reconMark(session->recon);
        lists->queued++;
        queuedAny = true;
    }
    if (queuedAny)
        publishReconBlock(session->recon);
}

void dropHead(BandLists* lists)
{
    lists->head = (lists->head + 1) % kSlots;
    lists->queued--;
}

} // namespace

BandLists* startBandLists(DecodeSession* session, int32_t partPositions)
{
    if (!session->recon || session->mapCoder != 1 || session->components > 3)
        return nullptr;
    if (partPositions <= 0 || partPositions > kListPositionsMost)
        partPositions = session->components == 1 ? kPartPositions : kColourPartPositions;
    BandLists* lists = static_cast<BandLists*>(allocChecked(sizeof(BandLists)));
    uint16_t* positions =
        static_cast<uint16_t*>(allocChecked(sizeof(uint16_t) * kSlots * static_cast<size_t>(partPositions)));
    if (!lists || !positions) {
        freeChecked(lists);
        freeChecked(positions);
        return nullptr;
    }
    new (lists) BandLists();
    lists->session = session;
    lists->positions = positions;
    lists->partPositions = partPositions;
    for (int32_t s = 0; s < kSlots; s++) {
        lists->lists[s] = BandList{positions + static_cast<size_t>(s) * partPositions, 0, 0, 0, 0};
        lists->readyMark[s] = 0;
        lists->markParent[s] = false;
        lists->number[s] = 0;
        lists->taken[s].store(0);
        lists->madeHere[s].store(0);
    }
    lists->numbered = 0;
    lists->head = lists->queued = 0;
    lists->handedOut = false;
    lists->cursorBand = BandKey{session->levels - 1, 0, 0};
    lists->cursorStarted = false;
    lists->current = BandKey{-1, 0, 0};
    lists->listed = false;
    for (int32_t c = 0; c < 3; c++)
        for (int32_t b = 0; b < 3; b++)
            lists->ended[c][b] = lists->marked[c][b] = session->levels + 1;
    return lists;
}

void freeBandLists(BandLists* lists)
{
    if (!lists)
        return;
    for (int32_t s = 0; s < kSlots; s++)
        waitForReconMark(lists->session->recon, lists->readyMark[s]);
    freeChecked(lists->positions);
    lists->~BandLists();
    freeChecked(lists);
}

void prepareBandPass(BandLists* lists, int32_t L, int32_t c, int32_t b)
{
    const BandKey band{L, c, b};
    lists->current = band;
    // Lists of bands the driver skipped are dropped, and a cursor still
    // before this band moves on to it.
    while (lists->queued > 0 && bandBefore(lists->partBand[lists->head], band))
        dropHead(lists);
    if (lists->cursorBand.L >= 0 && bandBefore(lists->cursorBand, band)) {
        lists->cursorBand = band;
        lists->cursorStarted = false;
    }
    queueLists(lists);
    lists->listed = lists->queued > 0 && sameBand(lists->partBand[lists->head], band);
    if (lists->listed)
        return;
    // Walked here: the parent's children are marked first, and the lists
    // go on with the next band.
    if (sameBand(lists->cursorBand, band)) {
        lists->cursorBand = bandAfter(lists->session, band);
        lists->cursorStarted = false;
    }
    if (lists->ended[c][b] == L + 1 && lists->marked[c][b] > L + 1) {
        markParentChildren(lists->session, band);
        lists->marked[c][b] = L + 1;
    }
    queueLists(lists);
}

bool bandIsListed(const BandLists* lists)
{
    return lists->listed;
}

const BandList* nextBandList(BandLists* lists)
{
    if (lists->handedOut) {
        lists->handedOut = false;
        dropHead(lists);
    }
    queueLists(lists);
    if (lists->queued == 0 || !sameBand(lists->partBand[lists->head], lists->current))
        return nullptr;
    const int32_t head = lists->head;
    ReconQueue* recon = lists->session->recon;
    const uint32_t number = lists->number[head];
    if (!reconMarkPassed(recon, lists->readyMark[head]) && claimList(lists, number)) {
        buildList(lists, head);
        lists->madeHere[head].store(number, std::memory_order_release);
    } else {
        waitForReconMark(recon, lists->readyMark[head]);
    }
    lists->handedOut = true;
    return &lists->lists[lists->head];
}

void endBandPass(BandLists* lists, int32_t L, int32_t c, int32_t b)
{
    if (lists->handedOut) {
        lists->handedOut = false;
        dropHead(lists);
    }
    lists->ended[c][b] = L;
    lists->listed = false;
}
