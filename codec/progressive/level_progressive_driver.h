#pragma once
#include <cstdint>

struct DecodeSession;

// Decodes a decodeMode 1 stream level by level; returns 1.
int32_t decodeLevelProgressive(DecodeSession* session);

// The picture decoded so far, or null (status 11, 12 or 8 set on the session).
uint8_t* partialPicture(DecodeSession* session, int32_t* height, int32_t* width,
                        int32_t* partHeight, int32_t* partWidth,
                        int32_t* bitsPerSample, int32_t* components);
