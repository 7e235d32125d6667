// Adaptive order-n context model over bytes, driving the arithmetic coder.
#pragma once
#include <cstddef>
#include <cstdint>

struct AllocBudget;
struct BitReader;

struct SymbolStat {
    uint8_t symbol;
    uint8_t count; // 0..254; reaching 255 halves the table
};

// One context: the statistics of the symbols seen after it.
struct ContextTable {
    int32_t maxIndex;      // last valid entry of stats, -1 when empty
    ContextTable** links;  // parallel to stats: the next-order contexts, or null
    SymbolStat* stats;
    ContextTable* lesser;  // this context without its oldest symbol
    int32_t countSum = 0;  // decoder cache: the sum of the counts in stats
    // Decoder cache: the escape count of maxIndex and the largest count,
    // stats[0] (see escapeCount); 1 for an empty table.
    int32_t escape = 1;
    int32_t statsCapacity = 0; // entries the stats block holds, 0 when not known
    int32_t linksCapacity = 0; // the same for links; growth doubles them
};

struct ContextModel {
    ContextTable** contexts; // contexts[k] for k = -2..7
    int16_t totals[258];
    uint8_t excluded[256];
    int32_t currentOrder;
    int32_t maxOrder;
    uint16_t code;           // arithmetic coder registers
    uint16_t low;
    uint16_t high;
    int32_t pendingBits;
    int32_t exclusionsSet = 0; // decoder cache: nonzero while some excluded flag may be set
    ContextTable* followers[256]; // cache for maxOrder 1: the order-1 context after each symbol, once made
    // The excluded symbols in the order they were marked, and where each symbol
    // sits in the order-0 table: an escape then sums only the excluded counts
    // of that table and of the order -1 table (which never changes).
    ContextTable* rootTable;      // contexts[0], null before it exists
    ContextTable* orderMinus1;    // contexts[-1]
    int32_t excludedCount;
    uint8_t excludedList[256];
    uint8_t rootPosition[256];    // exact for every symbol the order-0 table holds
    AllocBudget* budget;     // null: only the process-wide limit, and failures are fatal
    size_t heldBytes;        // what the model's blocks took from the budget
    BitReader* reader;       // the decoder's reader; a failure ends its data
};

// Symbols besides 0..255.
constexpr int32_t kContextEndMarker = -1;
constexpr int32_t kContextFlushMarker = -2;
// encodeContextSymbol/encodeContextValue result for input they cannot code.
constexpr int32_t kContextSymbolRefused = -3;

// A zero-filled model, or null when memory (or the budget) is exhausted: the
// caller reports that. The model's tables are taken from `budget` as it grows.
// A later allocation failure is fatal (fatalError) without a budget or when
// the budget says so; otherwise the budget is marked failed and the reader's
// data ends, so the decode winds down as at the end of the stream.
ContextModel* createContextModel(AllocBudget* budget = nullptr);
// maxOrder 0..7 (values above 7 are taken as 7). Reads 16 bits. A null model
// is left alone.
void startContextDecoder(int32_t maxOrder, BitReader* reader, ContextModel* model);
// 0..255, -1 (end marker) or -2 (flush marker); 0 without reading when the
// reader is already at the end of data; -1 for a count the model cannot place
// (corrupt or ended data) and for a null model.
int32_t decodeContextSymbol(BitReader* reader, ContextModel* model);
// One symbol below 253, or 253 followed by high and low symbols: 0..64008.
int32_t decodeContextValue(BitReader* reader, ContextModel* model);
// Reads up to and including the closing 1 bit (or to the end of data) and
// releases the model.
void endContextDecoder(BitReader* reader, ContextModel* model);

// Encoder side. option must be below 255 (no other meaning); 255 or more is fatal.
void startContextEncoder(int32_t maxOrder, ContextModel* model, int32_t option);
// 0 after a symbol or the flush marker, -1 after the end marker,
// kContextSymbolRefused (nothing written) for anything but 0..255, -1 and -2.
int32_t encodeContextSymbol(BitReader* writer, int32_t symbol, ContextModel* model);
// Values 0..64008 (and the markers -1, -2); kContextSymbolRefused otherwise.
int32_t encodeContextValue(BitReader* writer, int32_t value, ContextModel* model);
// Closes the segment and releases the model.
void endContextEncoder(BitReader* writer, ContextModel* model);

// Frees every table and the model record.
void releaseContextModel(ContextModel* model);

// Writes message and a line end to stderr and ends the process with exit code -1.
[[noreturn]] void fatalError(const char* message);

// Model internals, shared by both sides.
void initContextModel(ContextModel* model);
void totalizeTable(ContextModel* model, ContextTable* table);
void updateContextModel(ContextModel* model, int32_t symbol);
void updateTable(ContextModel* model, ContextTable* table, int32_t symbol);
// updateTable's new entry for a symbol the table lacks, with its link as below
// the longest order, where the table's blocks have room for both: the entry
// (count 0), or -1 with nothing changed when that would take an allocation.
// Not for the order-0 table, whose symbol positions it does not record.
int32_t appendLinkedEntryInPlace(ContextTable* table, uint8_t symbol);
void rescaleTable(ContextModel* model, ContextTable* table);
void addSymbolToContexts(ContextModel* model, int32_t symbol);
// Null after an allocation failure.
ContextTable* shiftToNextContext(ContextModel* model, ContextTable* table, int32_t symbol, int32_t order);
ContextTable* allocateNextOrderTable(ContextModel* model, ContextTable* table, int32_t symbol, ContextTable* lesser);
