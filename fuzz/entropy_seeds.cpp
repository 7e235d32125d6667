// Writes the seed corpus of the entropy targets with the coders' own encoders:
//   entropy_seeds CORPUS_DIR   (creates CORPUS_DIR/fuzz_huffman, .../fuzz_context_model)
// Every file starts with the settings byte its target reads.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"

namespace {

struct Writer {
    std::vector<uint8_t> bytes;
    BitReader bits{};

    explicit Writer(uint8_t settings)
    {
        bytes.push_back(settings);
        bits.mask = 128;
        bits.byteSource = &Writer::sink;
        bits.buffer = reinterpret_cast<uint8_t*>(&bytes);
    }
    static int32_t sink(void* context, uint32_t* slot)
    {
        reinterpret_cast<std::vector<uint8_t>*>(context)->push_back(static_cast<uint8_t>(*slot));
        return 0;
    }
    std::vector<uint8_t> finish()
    {
        flushBitWriter(&bits);
        return bytes;
    }
};

// Small deterministic generator with a skew towards small numbers, like
// wavelet magnitudes and run lengths.
struct Numbers {
    uint32_t state;
    uint32_t next()
    {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    }
    int32_t skewed(int32_t limit)
    {
        int32_t v = static_cast<int32_t>(next() % static_cast<uint32_t>(limit));
        return next() % 4 == 0 ? v : v >> (next() % 8);
    }
};

void save(const std::filesystem::path& dir, const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::filesystem::create_directories(dir);
    std::FILE* f = std::fopen((dir / name).c_str(), "wb");
    if (!f) {
        std::perror((dir / name).c_str());
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::vector<uint8_t> huffmanSeed(uint8_t settings, int32_t count, uint32_t seed)
{
    int32_t kind = settings & 3;
    int32_t n = kind == 3 ? 2048 : (kind == 2 ? 64 : 256);
    int32_t rawBits = kind == 3 ? (settings >> 2) & 31 : (kind == 2 ? 4 : 8);
    Writer w(settings);
    AdaptiveHuffmanTree tree;
    initHuffmanTree(&tree, n, kind == 3 ? 1 : 0);
    Numbers numbers{seed};
    for (int32_t i = 0; i < count; i++) {
        if (kind == 0) {
            int32_t v = numbers.skewed(i % 50 == 0 ? 1 << 20 : 300);
            encodeHuffmanValue(&w.bits, &tree, v);
            continue;
        }
        int32_t width = rawBits;
        if (settings & 0x80) {
            width = 4 + static_cast<int32_t>(numbers.next() % 12);
            writeBits(&w.bits, 5, static_cast<uint32_t>(width));
        }
        int32_t limit = kind == 3 ? (1 << width) : n;
        // Values of n and above can only be escaped: include a few.
        int32_t v = numbers.skewed(limit);
        encodeHuffmanSymbol(&tree, v, &w.bits, width);
    }
    freeHuffmanTree(&tree);
    return w.finish();
}

std::vector<uint8_t> contextSeed(uint8_t settings, int32_t segments, uint32_t seed)
{
    int32_t maxOrder = settings & 7;
    bool values = settings & 8;
    int32_t length = 1 << (settings >> 4);
    Writer w(settings);
    Numbers numbers{seed};
    for (int32_t s = 0; s < segments; s++) {
        ContextModel* model = createContextModel();
        startContextEncoder(maxOrder, model, 0);
        for (int32_t i = 0; i < length; i++) {
            if (values)
                encodeContextValue(&w.bits, numbers.skewed(i % 7 == 0 ? 64009 : 600), model);
            else if (i % 97 == 96)
                encodeContextSymbol(&w.bits, kContextFlushMarker, model);
            else
                encodeContextSymbol(&w.bits, numbers.skewed(256), model);
        }
        endContextEncoder(&w.bits, model);
    }
    return w.finish();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: entropy_seeds CORPUS_DIR\n");
        return 2;
    }
    std::filesystem::path root = argv[1];
    std::filesystem::path huffman = root / "fuzz_huffman";
    save(huffman, "values-256", huffmanSeed(0x00, 400, 1));
    save(huffman, "symbols-256", huffmanSeed(0x01, 400, 2));
    save(huffman, "blocks-64", huffmanSeed(0x02, 400, 3));
    save(huffman, "magnitudes-2048-raw11", huffmanSeed(0x03 | 11 << 2, 400, 4));
    save(huffman, "magnitudes-2048-raw3", huffmanSeed(0x03 | 3 << 2, 400, 5));
    save(huffman, "magnitudes-2048-widths", huffmanSeed(0x83, 300, 6));

    std::filesystem::path context = root / "fuzz_context_model";
    save(context, "order0-symbols", contextSeed(0x00 | 7 << 4, 3, 7));
    save(context, "order1-symbols", contextSeed(0x01 | 9 << 4, 2, 8));
    save(context, "order1-values", contextSeed(0x09 | 8 << 4, 2, 9));
    save(context, "order0-values", contextSeed(0x08 | 6 << 4, 4, 10));
    save(context, "order3-symbols", contextSeed(0x03 | 8 << 4, 1, 11));
    save(context, "order1-single", contextSeed(0x01, 8, 12));
    return 0;
}
