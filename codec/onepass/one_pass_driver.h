#pragma once
#include <cstdint>

struct DecodeSession;

// Decodes a decodeMode 0 stream into the session's planes (or pixels).
int32_t decodeOnePass(DecodeSession* session);
