// Header inspection for the command-line tools: reads and checks a stream's
// header without decoding the picture.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "codec/decoder/decoder.h"
#include "codec/session/session.h"
#include "codec/session/sharpen_mark.h"

// The tools decode with what the process may use: no per-decode bound.
constexpr DecodeLimits kToolLimits{UINT64_MAX, 0, 0, 0};

struct StreamInfo {
    DecodeSession header{};   // header fields and levels; nothing allocated
    int32_t status = 0;       // what a decode within kToolLimits would refuse with, or 0
    bool endsInHeader = false; // the data ended before the header did
    int64_t headerBits = 0;   // bits the magic and header took
    std::string reason;       // one line, empty when accepted
};

// Inspects the stream that `bits` delivers; reads only the header.
StreamInfo inspectStream(BitReader* bits);
// Both read the header as a stream arriving (a byte source), as the tools
// decode it: after the end of the data the last byte repeats. The file
// reader is false (with `error` set) when the file cannot be read.
StreamInfo inspectBytes(const uint8_t* data, size_t size);
bool inspectFile(const char* path, StreamInfo* info, std::string* error);

// A one-line reason for a refusal status, from the header that caused it.
std::string refusalReason(const DecodeSession& header, int32_t status);

// Prints the header fields by name, the derived levels, and the verdict.
void printStreamInfo(FILE* out, const char* name, const StreamInfo& info);
