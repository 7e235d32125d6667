// Shares of an error for Floyd-Steinberg diffusion: Tk(e) is k/16 of e,
// rounded symmetrically about 0, for errors e from -256 to 255.
#pragma once
#include <cstdint>

struct DiffusionTables {
    int32_t t1[512];
    int32_t t3[512];
    int32_t t5[512];
    int32_t t7[512];

    // Each table indexed by the error.
    static constexpr int32_t kOffset = 256;
};

// Built once per process.
const DiffusionTables& diffusionTables();
