// The level-progressive stream layout: header, lowest bands, then for every
// level, coarsest first, a detail flag and, when it is set, each component's
// value coder start data, its three band passes and its end data.
#pragma once
#include <cstdint>
#include <vector>

#include "codec/encoder/coefficient_plan.h"
#include "codec/encoder/header_writer.h"

struct BitReader;

// Where no coder state passes from one component to the next (map coder 1,
// or map coder 0 with value coder 0), the components are written on up to
// `threads` threads and joined: the same bits for every count. With value
// coder 0 each component's band walks run apart from its coder as well.
bool writeProgressiveStream(BitReader* writer, const StreamHeader& header, const PicturePlan& plan,
                            int32_t threads = 1);

// Whether the stream's components are written apart as above.
bool writesComponentsApart(const StreamHeader& header);

// A level-progressive stream whose finest level is written apart from the
// rest, so that it can be written again once the plan's finest level was
// decided again (its coarser levels as they were).
struct FinestLevelStream;

// Writes all of the stream but the finest level's data; null where the
// components are not written apart, the picture has no detail levels, or
// memory runs out. The plan must outlive the stream.
FinestLevelStream* writeAllButFinestLevel(const StreamHeader& header, const PicturePlan& plan, int32_t threads = 1);
// Writes the finest level as the plan now decides it (again, where it was
// written before) and joins the whole stream into *out.
bool writeFinestLevel(FinestLevelStream* stream, int32_t threads, std::vector<uint8_t>* out);
// The bits of level L's detail data, all components (the finest level's
// once written).
int64_t detailBits(const FinestLevelStream* stream, int32_t L);
// The bits of the header, the lowest bands, the level flags and the coarser
// levels' data: the stream's bits but the finest level's data.
int64_t bitsBeforeFinestLevel(const FinestLevelStream* stream);
void releaseFinestLevelStream(FinestLevelStream* stream);
