// zrenc: writes a picture as a ZR version-2 stream.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/effort_search.h"
#include "codec/encoder/step_search.h"
#include "tools/image_io.h"

namespace {

const char usage[] =
    "usage: zrenc [options] IN OUT.zr\n"
    "Writes the picture IN (PNG, grey or colour, 8 or 16 bits, alpha dropped;\n"
    "or PGM/PPM) as a ZR stream.\n"
    "  --mode one-pass|progressive  decoding mode (default progressive)\n"
    "  --map-coder N      significance-map coder 0..3 (default 1; 3 codes no detail)\n"
    "  --value-coder N    value coder 0..3 (default 0; progressive streams refuse\n"
    "                     map coder 2 with value coder 0)\n"
    "  --step N           quantisation step 1..65535 (default 4)\n"
    "  --fine-steps N     finer sub-steps below the step, 0..255 (default 0; 3 for\n"
    "                     progressive map coder 1 with value coders 1..3)\n"
    "  --boost N          magnitudes at the two finest levels reconstruct N/8\n"
    "                     larger; the encoder compensates (0..64, default 0)\n"
    "  --stretch N        decoders stretch the tones by N+1 around the mean (0..255)\n"
    "  --bits B           sample depth 8..16 of a grey stream (default: the input's)\n"
    "  --trailer A,B,C    write the optional trailer fields (0..255, 0..255, 0..7)\n"
    "  --sharpen          prepare the stream for decoders asked to sharpen (they\n"
    "                     restore the picture; others show it softer); one-pass\n"
    "                     colour streams assume full-size decoding\n"
    "  --size BYTES       choose the smallest step whose stream fits in BYTES\n"
    "  --bpp X            the same for X bits per pixel\n"
    "  --value-cost X     weight of one coded value against its squared error, in\n"
    "                     squared steps; larger leaves more small values out (0.1)\n"
    "  --effort N         with --size/--bpp: 1 (default) searches the given\n"
    "                     settings; 2 also tries the other mode and value costs;\n"
    "                     3 also map coders and boost; options given stay fixed\n"
    "  -j N               threads for the --effort search (default: all cores);\n"
    "                     the output is the same for every N\n"
    "  --verify           decode the result and print PSNR and bits per pixel\n"
    "  --verify-half      verify with a low-memory decode\n"
    "  --verify-sharpen   verify with a sharpening decode\n"
    "  --help             show this text\n";

[[noreturn]] void die(const std::string& message)
{
    std::fprintf(stderr, "zrenc: %s\n", message.c_str());
    std::exit(1);
}

bool parseInt(const char* text, int64_t lo, int64_t hi, int64_t* value)
{
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || v < lo || v > hi)
        return false;
    *value = v;
    return true;
}

int32_t intOption(const char* name, const char* text, int64_t lo, int64_t hi)
{
    int64_t v;
    if (!parseInt(text, lo, hi, &v))
        die(std::string(name) + " takes a whole number from " + std::to_string(lo) + " to "
            + std::to_string(hi) + ", not '" + text + "'");
    return static_cast<int32_t>(v);
}

struct Options {
    EncoderParams params;
    bool fineStepsGiven = false;
    FixedChoices fixed;
    int32_t effort = 1;
    int32_t threads = 0;
    int32_t bits = 0;
    int64_t sizeTarget = 0;
    double bppTarget = 0.0;
    bool verify = false;
    DecodeOptions verifyRequest{};
    std::string input;
    std::string output;
};

Options parseOptions(int argc, char** argv)
{
    Options o;
    o.params.decodeMode = 1;
    o.params.mapCoder = 1;
    o.params.valueCoder = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                die(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (a == "--mode") {
            std::string m = value();
            if (m == "one-pass")
                o.params.decodeMode = 0;
            else if (m == "progressive")
                o.params.decodeMode = 1;
            else
                die("--mode is one-pass or progressive, not '" + m + "'");
            o.fixed.mode = true;
        } else if (a == "--map-coder") {
            o.params.mapCoder = intOption("--map-coder", value(), 0, 3);
            o.fixed.mapCoder = true;
        } else if (a == "--value-coder") {
            o.params.valueCoder = intOption("--value-coder", value(), 0, 3);
            o.fixed.valueCoder = true;
        } else if (a == "--step") {
            o.params.quantStep = intOption("--step", value(), 1, 65535);
        } else if (a == "--fine-steps") {
            o.params.fineSteps = intOption("--fine-steps", value(), 0, kMaxFineSteps);
            o.fineStepsGiven = true;
        } else if (a == "--boost") {
            o.params.magnitudeBoost = intOption("--boost", value(), 0, kMaxMagnitudeBoost);
            o.fixed.boost = true;
        } else if (a == "--stretch") {
            o.params.contrastStretch = intOption("--stretch", value(), 0, kMaxContrastStretch);
        } else if (a == "--bits") {
            o.bits = intOption("--bits", value(), 8, 16);
        } else if (a == "--trailer") {
            std::string t = value();
            unsigned e1, e2, e3;
            char extra;
            if (std::sscanf(t.c_str(), "%u,%u,%u%c", &e1, &e2, &e3, &extra) != 3 || e1 > 255 || e2 > 255
                || e3 > 7)
                die("--trailer takes three numbers A,B,C with A and B 0..255 and C 0..7, not '" + t + "'");
            o.params.hasTrailer = 1;
            o.params.extension1 = e1;
            o.params.extension2 = e2;
            o.params.extension3 = e3;
        } else if (a == "--size") {
            int64_t v;
            const char* t = value();
            if (!parseInt(t, 1, INT32_MAX, &v))
                die(std::string("--size takes a number of bytes, not '") + t + "'");
            o.sizeTarget = v;
        } else if (a == "--bpp") {
            const char* t = value();
            char* end = nullptr;
            o.bppTarget = std::strtod(t, &end);
            if (end == t || *end != 0 || !(o.bppTarget > 0.0) || o.bppTarget > 64.0)
                die(std::string("--bpp takes a positive number of bits per pixel, not '") + t + "'");
        } else if (a == "--value-cost") {
            const char* t = value();
            char* end = nullptr;
            o.params.valueCost = std::strtod(t, &end);
            if (end == t || *end != 0 || !(o.params.valueCost >= 0.0) || o.params.valueCost > 1000.0)
                die(std::string("--value-cost takes a number from 0 to 1000, not '") + t + "'");
            o.fixed.valueCost = true;
        } else if (a == "--effort") {
            o.effort = intOption("--effort", value(), 0, kMaxEffort);
        } else if (a == "-j" || a == "--threads") {
            o.threads = intOption("-j", value(), 1, 256);
        } else if (a == "--verify") {
            o.verify = true;
        } else if (a == "--verify-half") {
            o.verify = true;
            o.verifyRequest.halfSize = 1;
        } else if (a == "--sharpen") {
            o.params.sharpenCompensation = 1;
        } else if (a == "--verify-sharpen") {
            o.verify = true;
            o.verifyRequest.sharpen = 1;
        } else if (a.size() > 1 && a[0] == '-') {
            die("unknown option " + a + " (see --help)");
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) {
        std::fputs(usage, stderr);
        std::exit(2);
    }
    if (o.params.sharpenCompensation && o.verify)
        o.verifyRequest.sharpen = 1;
    if (o.sizeTarget && o.bppTarget > 0.0)
        die("give --size or --bpp, not both");
    // Progressive map coder 1 with value coders 1..3 codes every coefficient
    // that is not known zero, and none can be zero: without fine steps each
    // reconstructs at least half a step away from 0.
    if (o.params.decodeMode == 1 && o.params.mapCoder == 1 && o.params.valueCoder != 0 && !o.fineStepsGiven) {
        o.params.fineSteps = 3;
        std::fprintf(stderr, "zrenc: note: progressive map coder 1 with value coder %d codes every coefficient; "
                             "using --fine-steps 3 (give --fine-steps to choose)\n",
                     o.params.valueCoder);
    }
    o.input = files[0];
    o.output = files[1];
    return o;
}

// The samples at the depth the stream carries: colour at 8 bits, grey at
// --bits (default the input's depth, at least 8), rescaled when the input's
// range differs.
struct CodedPicture {
    int32_t bitsPerSample = 8;
    std::vector<uint16_t> samples;
};

CodedPicture convertPicture(const Image& image, int32_t bits)
{
    CodedPicture p;
    if (image.channels == 3) {
        if (bits && bits != 8)
            die("colour streams carry 8 bits per sample; --bits applies to grey pictures");
        p.bitsPerSample = 8;
    } else {
        int32_t depth = imageBitDepth(image);
        p.bitsPerSample = bits ? bits : (depth < 8 ? 8 : depth);
    }
    uint32_t top = (1u << p.bitsPerSample) - 1;
    p.samples.resize(image.samples.size());
    for (size_t i = 0; i < image.samples.size(); i++) {
        uint32_t v = image.samples[i];
        if (static_cast<uint32_t>(image.maxValue) != top)
            v = static_cast<uint32_t>((static_cast<uint64_t>(v) * top * 2 + image.maxValue)
                                      / (2 * static_cast<uint64_t>(image.maxValue)));
        p.samples[i] = static_cast<uint16_t>(v);
    }
    return p;
}

void verifyStream(const std::vector<uint8_t>& stream, const EncoderPicture& picture, DecodeOptions request)
{
    StreamSource source{};
    source.data = stream.data();
    source.size = static_cast<int32_t>(stream.size());
    FrameInfo frame{};
    int32_t status = decodeStart(&source, &request, &frame);
    if (status != 0 || !frame.pixels)
        die("verify: the decoder refused the stream with status " + std::to_string(status));
    size_t count = static_cast<size_t>(picture.height) * picture.width * picture.components;
    bool deep = picture.components == 1 && picture.bitsPerSample > 8;
    double sum = 0.0;
    for (size_t i = 0; i < count; i++) {
        int32_t decoded = deep ? frame.pixels[2 * i] | (frame.pixels[2 * i + 1] << 8) : frame.pixels[i];
        double d = static_cast<double>(picture.samples[i]) - decoded;
        sum += d * d;
    }
    decodeFree(&frame);
    double mse = sum / static_cast<double>(count);
    double top = std::ldexp(1.0, picture.bitsPerSample) - 1.0;
    double bpp = 8.0 * static_cast<double>(stream.size()) / (static_cast<double>(picture.height) * picture.width);
    if (mse == 0.0)
        std::printf("PSNR inf dB (lossless), %.4f bpp, %zu bytes\n", bpp, stream.size());
    else
        std::printf("PSNR %.2f dB, %.4f bpp, %zu bytes\n", 10.0 * std::log10(top * top / mse), bpp,
                    stream.size());
}

} // namespace

int main(int argc, char** argv)
{
    Options o = parseOptions(argc, argv);
    Image image;
    std::string error;
    if (!readImage(o.input, &image, &error))
        die(error);
    CodedPicture coded = convertPicture(image, o.bits);
    EncoderPicture picture;
    picture.height = image.height;
    picture.width = image.width;
    picture.components = image.channels;
    picture.bitsPerSample = coded.bitsPerSample;
    picture.samples = coded.samples.data();

    std::string problem = checkEncoderParams(picture, o.params);
    if (!problem.empty())
        die(problem);
    if (o.params.mapCoder == 3)
        std::fprintf(stderr, "zrenc: note: map coder 3 carries no detail; decoders expand the lowest band alone\n");

    PreparedPicture prepared;
    if (!preparePicture(picture, o.params, &prepared, &error))
        die(error);
    std::vector<uint8_t> stream;
    EncodeStats stats;
    if (o.sizeTarget || o.bppTarget > 0.0) {
        int64_t target = o.sizeTarget;
        if (!target)
            target = static_cast<int64_t>(o.bppTarget * picture.height * picture.width / 8.0);
        std::vector<EncoderParams> candidates = effortCandidates(o.params, o.effort, o.fixed);
        int32_t step;
        if (candidates.size() == 1) {
            if (!encodeToSize(prepared, o.params, target, &stream, &step, &stats, &error))
                die(error);
        } else {
            int32_t threads = o.threads ? o.threads : static_cast<int32_t>(std::thread::hardware_concurrency());
            EncoderParams chosen;
            if (!encodeBestToSize(picture, prepared, candidates, target, threads, &stream, &chosen, &stats, &error))
                die(error);
            step = chosen.quantStep;
        }
        std::printf("step %d\n", step);
    } else if (!encodePrepared(prepared, o.params, &stream, &stats, &error)) {
        die(error);
    }
    if (stats.clampedValues)
        std::fprintf(stderr, "zrenc: warning: %lld values were cut to the largest magnitude value coder %d "
                             "carries; a larger step or another value coder keeps them\n",
                     static_cast<long long>(stats.clampedValues), o.params.valueCoder);

    std::ofstream out(o.output, std::ios::binary);
    out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    out.close();
    if (!out)
        die("cannot write " + o.output);
    if (o.verify)
        verifyStream(stream, picture, o.verifyRequest);
    return 0;
}
