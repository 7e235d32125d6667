#include "progressive_support.h"

#include <cstring>

#include "codec/session/session.h"
#include "codec/progressive/map_scans.h"

namespace {

std::vector<Position>* recordedOrder = nullptr;

int32_t recordSignificant(BitReader*, DecodeSession*, int32_t row, int32_t col)
{
    recordedOrder->push_back({row, col});
    return 1;
}

} // namespace

std::vector<Position> serpentineOrder(int32_t height, int32_t width, int32_t L, int32_t b)
{
    std::vector<Position> order;
    std::vector<uint8_t> block(static_cast<size_t>(height) * width, FLAG_UNTESTED);
    std::vector<uint8_t*> rows(height);
    for (int32_t r = 0; r < height; r++)
        rows[r] = block.data() + static_cast<size_t>(r) * width;
    MapCoderState state;
    std::memset(&state, 0, sizeof state);
    state.valueCallback = recordSignificant;
    recordedOrder = &order;
    scanSerpentine(nullptr, nullptr, &state, rows.data(), height, width, L, b);
    recordedOrder = nullptr;
    return order;
}

std::vector<WrittenValue> writeSerpentineFixedBody(BitSink& s, int32_t height, int32_t width, int components,
                                                   int lastLevelComponents, uint32_t escapeWidth,
                                                   const DetailSource& values)
{
    std::vector<WrittenValue> written;
    int32_t levels = levelCount(height, width);
    for (int L = levels - 1; L >= 0; L--) {
        s.bit(1);
        int n = L == 0 ? lastLevelComponents : components;
        for (int c = 0; c < n; c++) {
            s.bits(5, escapeWidth);
            for (int b = 0; b < 3; b++) {
                for (Position p : serpentineOrder(height, width, L, b)) {
                    DetailValue v = values(c, L, b, p);
                    s.bit(v.negative).bits(static_cast<int>(escapeWidth), v.J);
                    written.push_back({c, L, b, p, v, static_cast<size_t>(s.bitCount())});
                }
            }
        }
    }
    return written;
}
