// Decodes the given streams whole and incrementally (byte by byte, in random
// chunks, whole) and prints one line per stream: status, size, a digest of
// the final pixels and of the partial pictures. Built natively and with emcc;
// the two outputs must agree (see emcc_smoke.sh). Exits 1 when the incremental decodes differ
// from zrDecode and zrDecodeStream.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/zr.h"

namespace {

uint64_t digest(uint64_t hash, const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ data[i]) * 0x100000001B3ull;
    return hash;
}

struct Result {
    int32_t status = -1;
    int32_t height = 0, width = 0;
    uint64_t pixels = 0;
    uint64_t partials = 0xCBF29CE484222325ull;
    int32_t partialCount = 0;
    bool operator==(const Result&) const = default;
};

int32_t onPartial(void* context, const ZrPartial* p)
{
    Result* r = static_cast<Result*>(context);
    int32_t header[3] = {p->position, p->partHeight, p->partWidth};
    r->partials = digest(r->partials, reinterpret_cast<const uint8_t*>(header), sizeof header);
    r->partials = digest(r->partials, p->pixels, size_t(p->partHeight) * p->partWidth * p->bytesPerPixel);
    r->partialCount++;
    return 0;
}

void take(Result* r, int32_t status, ZrPicture* picture)
{
    r->status = status;
    r->height = picture->height;
    r->width = picture->width;
    r->pixels = digest(0xCBF29CE484222325ull, picture->pixels ? picture->pixels : reinterpret_cast<const uint8_t*>(""),
                       picture->pixels ? size_t(picture->height) * picture->width * picture->bytesPerPixel : 0);
    zrFree(picture);
}

struct Memory {
    const std::vector<uint8_t>* bytes;
    size_t offset;
};

int32_t readMemory(void* context, uint8_t* data, int32_t size)
{
    Memory* m = static_cast<Memory*>(context);
    size_t n = m->bytes->size() - m->offset;
    n = n < size_t(size) ? n : size_t(size);
    if (n > 0)
        std::memcpy(data, m->bytes->data() + m->offset, n);
    m->offset += n;
    return int32_t(n);
}

Result whole(const std::vector<uint8_t>& bytes, int32_t interval)
{
    Result r;
    ZrPicture picture;
    take(&r, zrDecode(bytes.data(), bytes.size(), nullptr, &picture), &picture);
    Memory memory{&bytes, 0};
    ZrStream stream{};
    stream.read = readMemory;
    stream.readContext = &memory;
    stream.partialInterval = interval;
    stream.partial = onPartial;
    stream.partialContext = &r;
    zrDecodeStream(&stream, nullptr, &picture);
    zrFree(&picture);
    return r;
}

// chunk 0: random sizes.
Result incremental(const std::vector<uint8_t>& bytes, int32_t interval, size_t chunk)
{
    Result r;
    ZrIncremental* decoder = zrIncrementalNew(nullptr, interval, onPartial, &r);
    if (!decoder)
        return r;
    std::mt19937 random(7);
    for (size_t offset = 0; offset < bytes.size();) {
        size_t n = chunk ? chunk : 1 + random() % 500;
        n = n < bytes.size() - offset ? n : bytes.size() - offset;
        zrIncrementalAppend(decoder, bytes.data() + offset, n);
        offset += n;
    }
    ZrPicture picture;
    take(&r, zrIncrementalFinish(decoder, &picture), &picture);
    if (zrIncrementalAppend(decoder, bytes.data(), 1) != ZR_STATUS_FINISHED)
        r.status = -2;
    zrIncrementalFree(decoder);
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    // --js: also print what the JavaScript half of the smoke test prints.
    bool js = argc > 1 && std::strcmp(argv[1], "--js") == 0;
    if (js) {
        argv++;
        argc--;
    }
    int failures = 0;
    for (int i = 1; i < argc; i++) {
        std::FILE* file = std::fopen(argv[i], "rb");
        if (!file) {
            std::fprintf(stderr, "cannot open %s\n", argv[i]);
            return 2;
        }
        std::vector<uint8_t> bytes;
        uint8_t block[4096];
        size_t n;
        while ((n = std::fread(block, 1, sizeof block, file)) > 0)
            bytes.insert(bytes.end(), block, block + n);
        std::fclose(file);

        int32_t interval = int32_t(bytes.size() / 25) + 7;
        Result want = whole(bytes, interval);
        const size_t chunks[] = {1, 0, bytes.size()};
        for (size_t chunk : chunks) {
            if (!(incremental(bytes, interval, chunk) == want)) {
                std::printf("MISMATCH %s chunk %zu\n", argv[i], chunk);
                failures++;
            }
        }
        std::string name = argv[i];
        name = name.substr(name.find_last_of('/') + 1);
        std::printf("%s status %d %dx%d pixels %016llx partials %d %016llx\n", name.c_str(), want.status,
                    want.height, want.width, static_cast<unsigned long long>(want.pixels), want.partialCount,
                    static_cast<unsigned long long>(want.partials));
    }
    if (js && argc > 1) {
        std::FILE* file = std::fopen(argv[1], "rb");
        std::vector<uint8_t> bytes;
        int c;
        while (file && (c = std::fgetc(file)) != EOF)
            bytes.push_back(uint8_t(c));
        if (file)
            std::fclose(file);
        Result first = whole(bytes, int32_t(bytes.size() / 25) + 7);
        std::printf("--\nhook: %d partial pictures\nexports: statuses reach JavaScript\n", first.partialCount);
    }
    return failures ? 1 : 0;
}
