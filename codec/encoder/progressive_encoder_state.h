// Working state of the level-progressive stream writer: the flag maps and
// coder states the decoder keeps, mirrored so that every band pass writes
// exactly what its decoder reads.
#pragma once
#include <cstdint>
#include <vector>

#include "codec/encoder/coefficient_plan.h"
#include "codec/entropy/huffman_tree.h"

struct BitReader;
struct ContextModel;

struct ProgressiveEncoder {
    BitReader* writer = nullptr;
    const PicturePlan* plan = nullptr;
    int32_t mapCoder = 0;
    int32_t valueCoder = 0;
    bool ok = true;                        // false after an allocation failure

    // Flag maps (1 untested, 2 significant, 4 known zero), one per component.
    std::vector<uint8_t> flagData[3];
    std::vector<uint8_t*> flagRows[3];
    uint8_t** rowCases = nullptr;
    uint8_t** columnCases = nullptr;
    AdaptiveHuffmanTree mapTreeStore{};    // run tree (map coder 0) or block tree (map coder 2)
    AdaptiveHuffmanTree* mapTree = nullptr;

    // Value coder of the component and level in progress.
    int32_t component = 0;
    int32_t level = 0;
    AdaptiveHuffmanTree valueTreeStore{};
    AdaptiveHuffmanTree* valueTree = nullptr;
    ContextModel* valueModel = nullptr;
    int32_t escapeWidth = 0;
    // Value coder 0: where set, the symbols are kept here instead of coded
    // (see codeRecordedValues).
    std::vector<uint16_t>* recorded = nullptr;

    // The writer and adaptive coder states, swapped out for trial runs.
    struct State {
        BitReader* writer;
        AdaptiveHuffmanTree* mapTree;
        AdaptiveHuffmanTree* valueTree;
    };
    State swapState(State next)
    {
        State previous{writer, mapTree, valueTree};
        writer = next.writer;
        mapTree = next.mapTree;
        valueTree = next.valueTree;
        return previous;
    }

    uint8_t** flags() { return flagRows[component].data(); }
    size_t at(int32_t row, int32_t col) const { return plan->at(row, col); }
    bool coded(int32_t row, int32_t col) const { return plan->component[component].index[at(row, col)] >= 0; }
};

// Value coders: start and end data of one component at one level, and one
// coefficient's value (valueCoder 0 also sends the zero symbol).
void startProgressiveValues(ProgressiveEncoder* e);
void endProgressiveValues(ProgressiveEncoder* e);
void writeProgressiveValue(ProgressiveEncoder* e, int32_t row, int32_t col);
void writeProgressiveZero(ProgressiveEncoder* e);
// Codes symbols that writeProgressiveValue and writeProgressiveZero recorded.
void codeRecordedValues(ProgressiveEncoder* e, const std::vector<uint16_t>& symbols);

// The band pass of the map coder for band b of the current level.
void writeProgressiveBand(ProgressiveEncoder* e, int32_t b);
