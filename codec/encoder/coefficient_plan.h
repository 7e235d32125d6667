// What the stream writers emit: the quantised lowest bands and, for every
// detail position of the compacted layout, whether it is coded and with which
// magnitude index and sign.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct ComponentPlan {
    std::vector<int32_t> lowest;   // R(levels) x C(levels) stored differences, row by row
    std::vector<int32_t> index;    // height x width: magnitude index J, or -1 when not coded
    std::vector<uint8_t> negative; // height x width: 1 for a negative coded value
    std::vector<uint8_t> mapCode;  // one-pass: 1 not coded, 2 explicit, 4 ancestor of an explicit one
    int32_t mapLevel = 0;          // one-pass: finest level holding a coded position
};

struct PicturePlan {
    int32_t height = 0;
    int32_t width = 0;
    int32_t components = 0;
    int32_t levels = 0;
    ComponentPlan component[3];
    std::vector<uint8_t> levelHasDetail; // level-progressive detail flag of each level
    int64_t clampedValues = 0;           // magnitudes cut to what the value coder can carry

    size_t at(int32_t row, int32_t col) const { return static_cast<size_t>(row) * width + col; }
};
