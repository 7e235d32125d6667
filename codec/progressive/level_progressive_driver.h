// The level-progressive driver (decodeMode 1): lowest bands, then for every
// level an expansion followed by the level's detail, significance and values
// interleaved. After every level the planes hold a whole picture.
#pragma once
#include <cstdint>

struct DecodeSession;

// Decodes a decodeMode 1 stream level by level; returns 1.
int32_t decodeLevelProgressive(DecodeSession* session);

// Flag maps, lowest bands, colour transform, callbacks and map coder object.
// Returns 1, or 0 after an allocation failure (status 8, nothing left made).
int32_t startLevelProgressive(DecodeSession* session);
// Expands to the next finer level and decodes its detail; 0 when no level is
// left (or the decode had to stop with status 8), else 1.
int32_t decodeNextLevel(DecodeSession* session);
// Releases the map coder object and the flag maps.
void finishLevelProgressive(DecodeSession* session);

// The picture decoded so far, or null (status 11, 12 or 8 set on the session).
uint8_t* partialPicture(DecodeSession* session, int32_t* height, int32_t* width,
                        int32_t* partHeight, int32_t* partWidth,
                        int32_t* bitsPerSample, int32_t* components);
