// Lists of the positions each serpentine band pass tests, made on the
// reconstruction thread ahead of the decoding thread. A band's positions
// depend only on its flags, which the children marks of its parent band set:
// once the parent's pass has ended, the reconstruction thread marks them and
// walks the band in parts, a few parts ahead of the decoding thread.
#pragma once
#include <cstdint>

struct BandList;
struct BandLists;
struct DecodeSession;

// The lists of a threaded decode with the serpentine scan; null otherwise
// (bands are then walked and their children marked as each pass ends), also
// when the memory cannot be had. Lists hold at most partPositions positions
// (0 or more than 32768: 32768 for grey, 16384 for colour); bands of less
// than half that many are walked.
BandLists* startBandLists(DecodeSession* session, int32_t partPositions = 0);
// Waits until no queued list is being made and releases the lists. Null is
// fine.
void freeBandLists(BandLists* lists);

// Before the pass of band b of component c at level L. Where its positions
// were not queued to be listed, marks the children of its parent here, so
// that the band can be walked.
void prepareBandPass(BandLists* lists, int32_t L, int32_t c, int32_t b);
// Whether the current band's positions are listed.
bool bandIsListed(const BandLists* lists);
// The next list of the current band's positions, in the scan's order, once
// it is made; null after the last. Each call gives the previous list back.
const BandList* nextBandList(BandLists* lists);
// After the band's pass: its children are marked later, on the
// reconstruction thread or before the child band's pass.
void endBandPass(BandLists* lists, int32_t L, int32_t c, int32_t b);
