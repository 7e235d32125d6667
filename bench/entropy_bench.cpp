// Decoding speed of the adaptive Huffman coder and the context model on
// encoder-made data.
#include <benchmark/benchmark.h>

#include "codec/core/bit_reader.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"

#include <cstdint>
#include <random>
#include <vector>

namespace {

int32_t collect(void* context, uint32_t* slot)
{
    static_cast<std::vector<uint8_t>*>(context)->push_back(static_cast<uint8_t>(*slot));
    return 0;
}

BitReader* makeWriter(std::vector<uint8_t>* bytes)
{
    BitReader* writer = createBitReader(0);
    attachByteSource(writer, collect, bytes);
    return writer;
}

void finish(BitReader* writer)
{
    writeBits(writer, 32, 0);
    flushBitWriter(writer);
    releaseBitReader(writer);
}

void rewind(BitReader* reader, std::vector<uint8_t>& bytes)
{
    reader->buffer = bytes.data();
    resetBitReader(reader);
    reader->byteCount = static_cast<int32_t>(bytes.size());
}

// Magnitudes: mostly small, with a thin tail of large ones.
int32_t skewedValue(std::mt19937& rng, int32_t tail)
{
    if (rng() % 64 == 0)
        return static_cast<int32_t>(rng() % static_cast<uint32_t>(tail));
    return std::geometric_distribution<int32_t>(0.3)(rng);
}

constexpr int32_t kEscapeWidth = 12;
constexpr int kHuffmanSymbols = 2048;

void BM_HuffmanDecode(benchmark::State& state)
{
    std::mt19937 rng(1);
    std::vector<int32_t> symbols;
    std::vector<uint8_t> bytes;
    BitReader* writer = makeWriter(&bytes);
    AdaptiveHuffmanTree tree;
    initHuffmanTree(&tree, 2048, 1);
    for (int i = 0; i < kHuffmanSymbols; i++) {
        symbols.push_back(skewedValue(rng, 4096));
        encodeHuffmanSymbol(&tree, symbols.back(), writer, kEscapeWidth);
    }
    freeHuffmanTree(&tree);
    finish(writer);

    BitReader* reader = createBitReader(0);
    for (auto _ : state) {
        rewind(reader, bytes);
        initHuffmanTree(&tree, 2048, 1);
        int64_t sum = 0;
        for (int i = 0; i < kHuffmanSymbols; i++)
            sum += decodeHuffmanSymbol(&tree, reader, kEscapeWidth);
        freeHuffmanTree(&tree);
        benchmark::DoNotOptimize(sum);
    }
    releaseBitReader(reader);
    state.SetItemsProcessed(state.iterations() * kHuffmanSymbols);
}
BENCHMARK(BM_HuffmanDecode);

void BM_ContextModelDecode(benchmark::State& state)
{
    const int values = static_cast<int>(state.range(0));
    std::mt19937 rng(2);
    std::vector<uint8_t> bytes;
    BitReader* writer = makeWriter(&bytes);
    ContextModel* model = createContextModel();
    startContextEncoder(1, model, 0);
    int64_t symbols = 0;
    for (int i = 0; i < values; i++) {
        int32_t v = skewedValue(rng, 2000);
        symbols += v < 253 ? 1 : 3;
        encodeContextValue(writer, v, model);
    }
    endContextEncoder(writer, model);
    finish(writer);

    BitReader* reader = createBitReader(0);
    for (auto _ : state) {
        rewind(reader, bytes);
        model = createContextModel();
        startContextDecoder(1, reader, model);
        int64_t sum = 0;
        for (int i = 0; i < values; i++)
            sum += decodeContextValue(reader, model);
        endContextDecoder(reader, model);
        benchmark::DoNotOptimize(sum);
    }
    releaseBitReader(reader);
    state.SetItemsProcessed(state.iterations() * symbols);
}
BENCHMARK(BM_ContextModelDecode)->Arg(2048)->Arg(65536);

} // namespace
