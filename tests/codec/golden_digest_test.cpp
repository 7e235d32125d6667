// Pins every output byte of the decoder: the samples and a fixed set of small
// encoder streams (every mode and coder combination, with variants) are decoded
// with every request option, in memory and streamed with partial pictures, and
// cut short; noise after valid headers is decoded too. The digests must equal
// the committed ones.
//
// After a change meant to alter the output, rewrite the digests with
//     ZR_GOLDEN_WRITE=1 build/tests/test_codec --gtest_filter='GoldenDigests.*'
// and say why in the commit. tests/golden/streams is made by
// `golden_digest --write-streams`.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/decode_digest.h"

namespace {

const std::filesystem::path kSource = ZR_SOURCE_DIR;
const std::filesystem::path kDigestFile = kSource / "tests/golden/decode_digests.txt";

using Stream = std::pair<std::string, std::vector<uint8_t>>;

std::vector<Stream> loadStreams(const std::filesystem::path& dir, const std::string& prefix)
{
    std::vector<Stream> streams;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".zr")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        streams.push_back({prefix + entry.path().filename().string(),
                           std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})});
    }
    std::sort(streams.begin(), streams.end());
    return streams;
}

void add(Digest* d, const DecodeDigest& decode)
{
    d->value(decode.status);
    d->value(decode.partials);
    d->value(static_cast<int64_t>(decode.digest));
}

// Every decode of one stream, folded into one digest.
uint64_t streamDigest(const std::vector<uint8_t>& stream)
{
    const std::vector<NamedRequest>& requests = digestRequests();
    Digest d;
    for (const NamedRequest& request : requests)
        add(&d, digestMemoryDecode(stream, request.request));
    add(&d, digestStreamedDecode(stream, requests[0].request, 97, 3));
    add(&d, digestStreamedDecode(stream, requests[3].request, 301, 7));
    const size_t size = stream.size();
    for (size_t cut : {size / 9, size / 3, size / 2, size * 3 / 4, size * 15 / 16, size - 1}) {
        std::vector<uint8_t> part(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
        add(&d, digestMemoryDecode(part, requests[0].request));
        add(&d, digestMemoryDecode(part, requests[4].request));
        add(&d, digestStreamedDecode(part, requests[0].request, 53, 5));
    }
    return d.h;
}

// A valid stream's first bytes, then noise; twenty cases to a line.
void noiseDigests(const std::vector<Stream>& streams, std::map<std::string, uint64_t>* digests)
{
    uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    };
    for (int32_t group = 0; group < 12; group++) {
        Digest d;
        for (int32_t i = 0; i < 20; i++) {
            const std::vector<uint8_t>& base = streams[next() % streams.size()].second;
            size_t keep = std::min<size_t>(base.size(), 10 + next() % 40);
            std::vector<uint8_t> stream(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(keep));
            size_t extra = next() % 4 == 0 ? next() % 8000 : next() % 600;
            for (size_t k = 0; k < extra; k++)
                stream.push_back(static_cast<uint8_t>(next() >> 5));
            add(&d, digestMemoryDecode(stream, digestRequests()[i % 6 == 0 ? 5 : 0].request));
            if (i % 5 == 0)
                add(&d, digestStreamedDecode(stream, digestRequests()[0].request, 41, 4));
        }
        digests->emplace("noise-" + std::to_string(group), d.h);
    }
}

std::map<std::string, uint64_t> computeDigests()
{
    std::vector<Stream> streams = loadStreams(kSource / "samples", "samples/");
    std::vector<Stream> fixed = loadStreams(kSource / "tests/golden/streams", "streams/");
    streams.insert(streams.end(), fixed.begin(), fixed.end());
    std::map<std::string, uint64_t> digests;
    for (const auto& [name, bytes] : streams)
        digests.emplace(name, streamDigest(bytes));
    noiseDigests(fixed, &digests);
    return digests;
}

std::map<std::string, uint64_t> readDigests(const std::filesystem::path& file)
{
    std::map<std::string, uint64_t> digests;
    std::ifstream in(file);
    std::string name, hex;
    while (in >> name >> hex)
        digests[name] = std::stoull(hex, nullptr, 16);
    return digests;
}

void writeDigests(const std::filesystem::path& file, const std::map<std::string, uint64_t>& digests)
{
    std::ofstream out(file);
    for (const auto& [name, digest] : digests) {
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016" PRIx64, digest);
        out << name << ' ' << hex << '\n';
    }
}

TEST(GoldenDigests, EveryOutputByteIsAsCommitted)
{
    std::vector<Stream> fixed = loadStreams(kSource / "tests/golden/streams", "");
    ASSERT_GE(fixed.size(), 100u) << "tests/golden/streams is missing";
    std::map<std::string, uint64_t> digests = computeDigests();
    if (std::getenv("ZR_GOLDEN_WRITE"))
        writeDigests(kDigestFile, digests);
    std::map<std::string, uint64_t> expected = readDigests(kDigestFile);
    EXPECT_EQ(expected.size(), digests.size()) << kDigestFile;
    for (const auto& [name, digest] : digests) {
        auto found = expected.find(name);
        if (found == expected.end())
            ADD_FAILURE() << name << ": no committed digest";
        else if (found->second != digest)
            ADD_FAILURE() << name << ": the decoded output changed";
    }
}

} // namespace
