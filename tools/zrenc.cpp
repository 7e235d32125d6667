// zrenc: writes a picture as a ZR version-2 stream.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "codec/decoder/decoder.h"
#include "codec/encoder/encode_settings.h"
#include "codec/encoder/picture_samples.h"
#include "codec/encoder/step_search.h"
#include "tools/cli.h"
#include "tools/image_io.h"
#include "tools/stream_info.h"

namespace {

const char usage[] =
    "usage: zrenc [options] IN OUT.zr\n"
    "       zrenc [options] IN -o OUT.zr\n"
    "Writes the picture IN (PNG, grey or colour, 8 or 16 bits; or PGM/PPM) as a\n"
    "ZR stream. IN or OUT may be - for standard input or output. Transparent\n"
    "pictures are flattened onto --background; colour deeper than 8 bits is\n"
    "reduced to 8 (the stream carries 8-bit colour). OUT is written under a\n"
    "temporary name and renamed when complete.\n"
    "\n"
    "quality:\n"
    "  -q, --quality Q      0..100, higher is better and larger (default 75 =\n"
    "                       step 4); 100 is the closest to lossless: step 1\n"
    "  --step N             quantisation step 1..65535 instead of -q; smaller is\n"
    "                       better and larger (at a depth over 8 bits, -q Q\n"
    "                       scales the step to the depth)\n"
    "  --size BYTES         choose the smallest step whose stream fits in BYTES\n"
    "  --bpp X              the same for X bits per pixel\n"
    "  --value-cost X       weight of one coded value against its squared error, in\n"
    "                       squared steps; larger leaves more small values out (0.1)\n"
    "  --effort N           with --size/--bpp: 0 searches the given settings; 1\n"
    "                       (default) also fits the values to the decoder at the\n"
    "                       chosen step (pictures up to 4 M pixels); 2 also tries\n"
    "                       the other mode, value costs and scan; 3 also map coders\n"
    "                       and boost; options given stay fixed\n"
    "  -j, --threads N      threads of the encode (default: all cores); the output\n"
    "                       is the same for every N\n"
    "stream layout:\n"
    "  --mode one-pass|progressive  decoding mode (default progressive)\n"
    "  --map-coder N        significance-map coder 0..3 (default 1; 3 codes no\n"
    "                       detail)\n"
    "  --value-coder N      value coder 0..3 (default 0; progressive streams refuse\n"
    "                       map coder 2 with value coder 0)\n"
    "  --fine-steps N       finer sub-steps below the step, 0..255 (default 0; 3 for\n"
    "                       progressive map coder 1 with value coders 1..3)\n"
    "  --boost N            magnitudes at the two finest levels reconstruct N/8\n"
    "                       larger; the encoder compensates (0..64, default 0)\n"
    "  --stretch N          decoders stretch the tones by N+1 around the mean\n"
    "                       (0..255)\n"
    "  --bits B             sample depth 8..16 of a grey stream (default: the\n"
    "                       input's)\n"
    "  --trailer A,B,C      write the optional trailer fields (0..255, 0..255, 0..7)\n"
    "  --sharpen            write a stream for sharpening decoders: they restore\n"
    "                       the picture, others show it softer; the stream is\n"
    "                       marked in its trailer so that zrinfo names it and\n"
    "                       zrdec sharpens it by itself\n"
    "input:\n"
    "  --background COLOUR  colour under transparent parts: white (default),\n"
    "                       black or #RRGGBB\n"
    "checking and messages:\n"
    "  --verify             decode the result and print PSNR (against the input\n"
    "                       as read) and bits per pixel\n"
    "  --verify-low-memory  verify with a low-memory decode (alias --verify-half)\n"
    "  --verify-sharpen     verify with a sharpening decode\n"
    "  -o, --output OUT     the output file\n"
    "  --quiet              no notes, warnings or progress; errors only\n"
    "  -v, --verbose        more detail\n"
    "  -h, --help           show this text\n"
    "  --version            show the version\n";

const Messages* messages = nullptr;

struct Options {
    EncodeSettings settings;
    bool verify = false;
    DecodeOptions verifyRequest{};
    uint16_t background[3] = {255, 255, 255};
    std::string input;
    std::string output;
};

bool parseColour(const std::string& text, uint16_t rgb[3])
{
    if (text == "white" || text == "black") {
        rgb[0] = rgb[1] = rgb[2] = text == "white" ? 255 : 0;
        return true;
    }
    std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    for (int c = 0; c < 3; c++)
        rgb[c] = uint16_t(std::stoi(hex.substr(2 * c, 2), nullptr, 16));
    return true;
}

std::string optionSpelling(const std::string& name)
{
    return "--" + name;
}

// An option of the encoder's table from its text; 0 or the exit code.
int applySetting(const EncodeSetting& setting, ArgCursor* arg, EncodeSettings* settings, const Messages& m)
{
    const std::string& name = arg->name();
    SettingValue v;
    std::string text;
    if (setting.kind == SettingKind::Switch) {
        if (arg->hasInlineValue())
            return m.usage(name + " takes no value");
        v.whole = 1;
    } else if (!arg->value(&text)) {
        return m.usage(name + " needs a value");
    }
    bool good = true;
    if (setting.kind == SettingKind::Whole) {
        good = parseWhole(text, int64_t(setting.lo), int64_t(setting.hi), &v.whole);
    } else if (setting.kind == SettingKind::Number) {
        good = parseDecimal(text, setting.lo, setting.hi, &v.number);
    } else if (setting.kind == SettingKind::Word) {
        v.word = text;
    } else if (setting.kind == SettingKind::Triple) {
        long long t[3] = {0, 0, 0};
        char extra;
        good = std::sscanf(text.c_str(), "%lld,%lld,%lld%c", &t[0], &t[1], &t[2], &extra) == 3;
        for (int i = 0; i < 3; i++)
            v.triple[i] = t[i];
    }
    if (!good || !applyEncodeSetting(setting, v, settings))
        return m.usage(name + " takes " + setting.takes + (setting.kind == SettingKind::Triple ? " (A,B,C)" : "")
                       + ", not '" + text + "'");
    return 0;
}

// 0 to go on, else the exit code (-1: done, exit 0).
int parseOptions(int argc, char** argv, Options* o, Messages* m)
{
    std::vector<std::string> files;
    ArgCursor arg(argc, argv);
    while (arg.nextOption(&files)) {
        const std::string& name = arg.name();
        if (answerHelpOrVersion(arg, "zrenc", usage))
            return -1;
        std::string longName = name == "-q" ? "--quality" : name == "-j" ? "--threads" : name;
        const EncodeSetting* setting =
            longName.rfind("--", 0) == 0 ? findEncodeSetting(longName.substr(2)) : nullptr;
        if (setting) {
            int status = applySetting(*setting, &arg, &o->settings, *m);
            if (status != 0)
                return status;
            continue;
        }
        bool flag = arg.is("--verify") || arg.is("--verify-half", "--verify-low-memory")
                 || arg.is("--verify-sharpen") || arg.is("--quiet") || arg.is("--verbose", "-v");
        if (flag) {
            if (arg.hasInlineValue())
                return m->usage(name + " takes no value");
            if (arg.is("--quiet") || arg.is("--verbose", "-v")) {
                m->verbosity = arg.is("--quiet") ? 0 : 2;
                continue;
            }
            o->verify = true;
            if (arg.is("--verify-half", "--verify-low-memory"))
                o->verifyRequest.halfSize = 1;
            if (arg.is("--verify-sharpen"))
                o->verifyRequest.sharpen = 1;
            continue;
        }
        if (!arg.is("--background") && !arg.is("--output", "-o"))
            return m->usage("unknown option " + name);
        std::string text;
        if (!arg.value(&text))
            return m->usage(name + " needs a value");
        if (arg.is("--background")) {
            if (!parseColour(text, o->background))
                return m->usage("--background takes white, black or #RRGGBB, not '" + text + "'");
        } else {
            o->output = text;
        }
    }
    size_t wanted = o->output.empty() ? 2 : 1;
    if (files.size() != wanted)
        return m->usage(files.size() < wanted ? "needs an input and an output file" : "too many file names");
    o->input = files[0];
    if (o->output.empty())
        o->output = files[1];
    if (sameFile(o->input, o->output))
        return m->usage(o->output + " is the input file; choose another output name");
    SettleMessages said;
    std::string error;
    if (!settleEncodeSettings(&o->settings, optionSpelling, &said, &error))
        return m->usage(error);
    for (const std::string& w : said.warnings)
        m->warn(w);
    for (const std::string& n : said.notes)
        m->note("note: " + n);
    if (o->settings.params.sharpenCompensation && o->verify)
        o->verifyRequest.sharpen = 1;
    return 0;
}

// The picture as the stream should show it: transparent parts laid onto the
// background, samples at the input's depth.
void flatten(Image* image, const uint16_t background[3], const std::string& name)
{
    if (image->alpha.empty())
        return;
    uint32_t top = uint32_t(image->maxValue);
    bool seeThrough = false;
    for (uint16_t a : image->alpha)
        seeThrough = seeThrough || a != top;
    if (seeThrough) {
        char colour[16];
        std::snprintf(colour, sizeof colour, "#%02x%02x%02x", background[0], background[1], background[2]);
        messages->warn(name + " has transparent parts; they are laid onto " + colour + " (--background to choose)");
    }
    double under[3];
    for (int c = 0; c < 3; c++)
        under[c] = background[c] * double(top) / 255.0;
    if (image->channels == 1)
        under[0] = 0.299 * under[0] + 0.587 * under[1] + 0.114 * under[2];
    size_t pixels = image->alpha.size();
    for (size_t i = 0; i < pixels; i++) {
        double a = image->alpha[i] / double(top);
        for (int c = 0; c < image->channels; c++) {
            uint16_t& v = image->samples[i * image->channels + c];
            v = uint16_t(std::lround(v * a + under[c] * (1.0 - a)));
        }
    }
    image->alpha.clear();
}

// The samples at the depth the stream carries: colour at 8 bits, grey at
// --bits (default the input's depth, at least 8), rescaled when the input's
// range differs.
// Samples already at the coded depth move over rather than being copied;
// *moved tells the caller to move them back for --verify.
bool convertPicture(Image* input, int32_t bits, PictureSamples* p, bool* moved, std::string* error)
{
    const Image& image = *input;
    int32_t depth = imageBitDepth(image);
    if (image.channels == 3) {
        if (bits && bits != 8) {
            *error = "colour streams carry 8 bits per sample; --bits applies to grey pictures";
            return false;
        }
        p->bitsPerSample = 8;
        if (image.maxValue != 255)
            messages->warn(std::to_string(depth) + "-bit colour is reduced to 8 bits (colour streams carry 8 bits "
                                                   "per sample)");
    } else {
        p->bitsPerSample = bits ? bits : (depth < 8 ? 8 : depth);
        if (p->bitsPerSample < depth)
            messages->detail(std::to_string(depth) + "-bit grey is reduced to " + std::to_string(p->bitsPerSample)
                             + " bits as --bits asks");
    }
    p->height = image.height;
    p->width = image.width;
    p->components = image.channels;
    uint32_t top = (1u << p->bitsPerSample) - 1;
    *moved = uint32_t(image.maxValue) == top;
    if (*moved) {
        p->samples.swap(input->samples);
        return true;
    }
    p->samples.resize(image.samples.size());
    for (size_t i = 0; i < image.samples.size(); i++)
        p->samples[i] = rescaleSample(image.samples[i], uint32_t(image.maxValue), top);
    return true;
}

// Decodes the stream and compares it with the input picture at the input's
// own depth, so that reductions of depth count as error.
bool verifyStream(const std::vector<uint8_t>& stream, const Image& truth, int32_t codedBits, DecodeOptions request,
                  std::string* error)
{
    StreamSource source{};
    source.data = stream.data();
    source.size = int32_t(stream.size());
    FrameInfo frame{};
    int32_t status = decodeStart(&source, &request, &frame);
    if (status != 0 || !frame.pixels) {
        decodeFree(&frame);
        *error = "verify: the decoder refused the stream with status " + std::to_string(status);
        return false;
    }
    size_t count = truth.samples.size();
    bool deep = truth.channels == 1 && codedBits > 8;
    double scale = double(truth.maxValue) / double((1u << codedBits) - 1);
    double sum = 0.0;
    for (size_t i = 0; i < count; i++) {
        int32_t decoded = deep ? frame.pixels[2 * i] | (frame.pixels[2 * i + 1] << 8) : frame.pixels[i];
        double d = double(truth.samples[i]) - decoded * scale;
        sum += d * d;
    }
    decodeFree(&frame);
    double mse = sum / double(count);
    double top = truth.maxValue;
    double bpp = 8.0 * double(stream.size()) / (double(truth.height) * truth.width);
    if (mse == 0.0)
        std::fprintf(stderr, "PSNR inf dB (lossless), %.4f bpp, %zu bytes\n", bpp, stream.size());
    else
        std::fprintf(stderr, "PSNR %.2f dB, %.4f bpp, %zu bytes\n", 10.0 * std::log10(top * top / mse), bpp,
                     stream.size());
    return true;
}

// What the encoder's notices reach: the progress line and the samples it
// may free once the planes hold the picture.
struct EncodeRun {
    ProgressLine* progress;
    std::vector<uint16_t>* samples;
    bool keepSamples;
};

void showSearch(void* context, int32_t step, int64_t bytes)
{
    static_cast<EncodeRun*>(context)->progress->show("zrenc: searching: step " + std::to_string(step) + " gives "
                                                     + std::to_string(bytes) + " bytes");
}

void freeSamples(void* context)
{
    auto* run = static_cast<EncodeRun*>(context);
    if (!run->keepSamples)
        std::vector<uint16_t>().swap(*run->samples);
}

} // namespace

int main(int argc, char** argv)
{
#if defined(__GLIBC__)
    // The encoder's planes and plans come and go in sizes of a megabyte and
    // more: they go straight back to the system when freed, rather than
    // staying in the heap between a search's trials (a fixed threshold also
    // keeps glibc from raising it after each such free).
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    Messages m;
    m.tool = "zrenc";
    messages = &m;
    Options o;
    int parsed = parseOptions(argc, argv, &o, &m);
    if (parsed != 0)
        return parsed < 0 ? kExitOk : parsed;

    InputBytes bytes;
    std::string error;
    if (!readInput(o.input, &bytes, &error))
        return m.fail(error);
    Image image;
    if (!readImageMemory(bytes.data(), bytes.size(), &image, &error))
        return m.fail((o.input == "-" ? "standard input" : o.input) + ": " + error);
    InputBytes().swap(bytes);
    flatten(&image, o.background, o.input == "-" ? "standard input" : o.input);
    PictureSamples coded;
    bool moved = false;
    if (!convertPicture(&image, o.settings.bits, &coded, &moved, &error))
        return m.usage(error);
    EncoderPicture picture = coded.view();
    EncoderParams& params = o.settings.params;
    if (params.mapCoder == 3)
        m.note("note: map coder 3 carries no detail; decoders expand the lowest band alone");

    ProgressLine progress(m.verbosity > 0);
    progress.show("zrenc: encoding " + std::to_string(picture.width) + " x " + std::to_string(picture.height));
    EncodeRun run{&progress, &coded.samples, o.verify && moved};
    params.searchProgress = showSearch;
    params.samplesRead = freeSamples;
    params.progressContext = &run;
    std::vector<uint8_t> stream;
    EncodeStats stats;
    int32_t step = 0;
    SizeSearchReport searched;
    bool done = encodeWithSettings(picture, o.settings, &stream, &step, &stats, &error, &searched);
    progress.clear();
    if (!done)
        return m.fail(error);
    if (moved)
        image.samples.swap(coded.samples);
    if (o.settings.sizeTarget || o.settings.bppTarget > 0.0) {
        int64_t target = o.settings.sizeTarget;
        if (!target)
            target = int64_t(o.settings.bppTarget * picture.height * picture.width / 8.0);
        m.note("step " + std::to_string(step));
        if (searched.encodes > 0 || searched.sampleEncodes > 0)
            m.detail("search: " + std::to_string(searched.sampleEncodes) + " sample trials; whole picture: "
                     + std::to_string(searched.plans) + " plans, " + std::to_string(searched.writes)
                     + " streams written, " + std::to_string(searched.finestWrites) + " finest-level writes, "
                     + std::to_string(searched.replans) + " finest-level replans");
        if (stats.cut)
            m.warn("the stream was cut to fit " + std::to_string(target)
                   + " bytes (no whole stream comes within 1% below it); decoders show all that arrived and "
                     "report that the stream ended early");
        if (double(stream.size()) < double(target) * (1.0 - kSizeTolerance))
            m.warn("the target of " + std::to_string(target) + " bytes is not reached: the closest stream takes "
                   + std::to_string(stream.size()) + " bytes");
    } else {
        m.detail("step " + std::to_string(step));
    }
    if (stats.clampedValues)
        m.warn(std::to_string(stats.clampedValues) + " values were cut to the largest magnitude value coder "
               + std::to_string(params.valueCoder) + " carries; a larger step or another value coder keeps them");

    if (!writeOutputBytes(o.output, stream.data(), stream.size(), &error))
        return m.fail(error);
    m.detail("wrote " + std::to_string(stream.size()) + " bytes");
    if (o.verify && !verifyStream(stream, image, coded.bitsPerSample, o.verifyRequest, &error))
        return m.fail(error);
    return kExitOk;
}
