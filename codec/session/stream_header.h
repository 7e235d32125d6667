// The stream's magic and header, and the checks that refuse a stream.
#pragma once
#include <cstdint>

struct DecodeSession;

// Reads the magic and the whole header from session->bits into the session's
// header fields. Returns 1 (bad magic, nothing more read), 2 (version not 2,
// after the whole header was read) or 0.
int32_t readStreamHeader(DecodeSession* session);

// Checks a header that readStreamHeader accepted, allocating nothing: 16 for
// a sample depth the component count does not allow, 3 for an unsupported
// mode or coder combination or a picture too small to decode (levels < 0),
// else 0. Sets session->levels.
int32_t checkStreamHeader(DecodeSession* session);

// Bytes the planes and pixel arrays of an accepted header will take (planes
// at the level-1 grid when session->halfSize is set). Exact enough to refuse
// a declared picture that cannot fit before anything is allocated.
uint64_t pictureMemoryBytes(const DecodeSession* session);

// Reads and checks the header as a decode does, allocating nothing: the
// status of readStreamHeader or checkStreamHeader, else 8 for a declared
// picture beyond session->budget or session->pixelLimit, else 0. Clears
// session->halfSize where low-memory decoding does not apply (deep samples,
// contrast stretch, no level-1 grid).
int32_t admitStreamHeader(DecodeSession* session);
