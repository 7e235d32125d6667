// Runs the zrenc program: standard input and output, refusals, safe writes,
// transparent and deep input, quality, size targets and sharpening streams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "codec/zr.h"
#include "tests/tools/tool_pictures.h"
#include "tests/support/tool_run.h"
#include "tools/stream_info.h"

#if defined(ZRENC_PATH) && defined(ZRDEC_PATH) && defined(ZRINFO_PATH)

namespace {

namespace fs = std::filesystem;

fs::path scratch()
{
    return toolScratch("zrenc");
}

ToolRun zrenc(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null")
{
    return runTool(ZRENC_PATH, args, stdinPath);
}

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

// The picture a stream decodes to, as 8-bit samples.
std::vector<uint8_t> decodeFile(const fs::path& path, uint32_t sharpen = 0)
{
    std::vector<uint8_t> stream = bytesOf(slurpFile(path));
    ZrRequest request{};
    request.sharpen = sharpen;
    ZrPicture picture;
    EXPECT_EQ(zrDecode(stream.data(), stream.size(), &request, &picture), 0) << path;
    std::vector<uint8_t> pixels(picture.pixels,
                                picture.pixels + size_t(picture.height) * picture.width * picture.bytesPerPixel);
    zrFree(&picture);
    return pixels;
}

double reportedPsnr(const std::string& text)
{
    size_t at = text.find("PSNR ");
    return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + 5);
}

std::set<std::string> namesIn(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(Zrenc, StandardInputAndOutputRoundTrip)
{
    fs::path dir = scratch();
    std::string png = savePicture((dir / "in.png").string(), makePicture(40, 56, 3));
    // zrenc - - < in.png | zrdec - out.png
    ToolRun encode = zrenc({"-", "-"}, png);
    ASSERT_EQ(encode.exitCode, 0) << encode.err;
    EXPECT_EQ(encode.out.compare(0, 2, "ZR"), 0);
    writeFile(dir / "piped.zr", encode.out);
    ToolRun decode = runTool(ZRDEC_PATH, {"-", (dir / "out.png").string()}, (dir / "piped.zr").string());
    ASSERT_EQ(decode.exitCode, 0) << decode.err;
    EXPECT_EQ(decode.out, "");
    EXPECT_NE(decode.err.find("status 0 height 40 width 56 bpp 24 colour 1"), std::string::npos) << decode.err;
    Image back;
    ASSERT_TRUE(readImage((dir / "out.png").string(), &back, nullptr));
    EXPECT_EQ(back.height, 40);
    EXPECT_EQ(back.width, 56);

    // The same stream through files and -o.
    ASSERT_EQ(zrenc({png, "-o", (dir / "file.zr").string()}).exitCode, 0);
    EXPECT_EQ(slurpFile(dir / "file.zr"), encode.out);
}

TEST(Zrenc, RefusesWhatItCannotReadAndNeverItsOwnInput)
{
    fs::path dir = scratch();
    fs::create_directories(dir / "folder");
    ToolRun folder = zrenc({(dir / "folder").string(), (dir / "x.zr").string()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_NE(folder.err.find("Is a directory"), std::string::npos) << folder.err;

    ToolRun missing = zrenc({(dir / "missing.png").string(), (dir / "x.zr").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("missing.png: No such file or directory"), std::string::npos) << missing.err;

    ToolRun device = zrenc({"/dev/zero", (dir / "x.zr").string()});
    EXPECT_EQ(device.exitCode, 1);
    EXPECT_NE(device.err.find("not a regular file"), std::string::npos) << device.err;

    std::string png = savePicture((dir / "same.png").string(), makePicture(20, 20, 1));
    std::string before = slurpFile(png);
    ToolRun same = zrenc({png, png});
    EXPECT_EQ(same.exitCode, 2);
    EXPECT_NE(same.err.find("is the input file"), std::string::npos) << same.err;
    EXPECT_EQ(slurpFile(png), before);

    ToolRun notPicture = zrenc({(dir / "file.zr").string(), (dir / "y.zr").string()});
    EXPECT_EQ(notPicture.exitCode, 1);
    ToolRun unwritable = zrenc({png, (dir / "no-such-folder" / "x.zr").string()});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_NE(unwritable.err.find("No such file or directory"), std::string::npos) << unwritable.err;
    ToolRun intoFolder = zrenc({png, (dir / "folder").string()});
    EXPECT_EQ(intoFolder.exitCode, 1);
    EXPECT_NE(intoFolder.err.find("Is a directory"), std::string::npos) << intoFolder.err;
}

TEST(Zrenc, FailedOrInterruptedWritesKeepTheOldFile)
{
    fs::path dir = scratch() / "writes";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string png = savePicture((scratch() / "noise.png").string(), makePicture(64, 64, 3, 255, 9));
    fs::path out = dir / "out.zr";
    writeFile(out, "the old file");

    ToolCall call;
    call.program = ZRENC_PATH;
    call.args = {"--step", "1", png, out.string()};
    call.fileSizeLimit = 1500; // the stream takes several kilobytes
    call.ignoreFileSizeSignal = true;
    ToolRun failed = runTool(call);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.err.find("out.zr: File too large"), std::string::npos) << failed.err;
    EXPECT_EQ(slurpFile(out), "the old file");
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"out.zr"});

    call.ignoreFileSizeSignal = false; // the write now ends the process
    ToolRun killed = runTool(call);
    EXPECT_EQ(killed.exitCode, 128 + SIGXFSZ);
    EXPECT_EQ(slurpFile(out), "the old file");
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"out.zr"});

    // A finished write replaces the file by a new one: another name of the
    // old file keeps the old bytes, and nothing else is left behind.
    fs::create_hard_link(out, dir / "kept.zr");
    call.fileSizeLimit = -1;
    ASSERT_EQ(runTool(call).exitCode, 0);
    EXPECT_GT(fs::file_size(out), 1500u);
    EXPECT_EQ(slurpFile(dir / "kept.zr"), "the old file");
    EXPECT_EQ(namesIn(dir), (std::set<std::string>{"kept.zr", "out.zr"}));
    ASSERT_EQ(runTool(call).exitCode, 0); // over the file it wrote itself
    EXPECT_EQ(namesIn(dir), (std::set<std::string>{"kept.zr", "out.zr"}));
}

TEST(Zrenc, TransparentPartsAreLaidOntoTheBackground)
{
    fs::path dir = scratch();
    for (int32_t channels : {1, 3}) {
        Image image = makePicture(32, 48, channels);
        image.alpha.assign(32 * 48, 255);
        for (int32_t y = 0; y < 32; y++)
            for (int32_t x = 0; x < 24; x++) {
                image.alpha[size_t(y) * 48 + x] = 0;
                for (int32_t c = 0; c < channels; c++)
                    image.samples[(size_t(y) * 48 + x) * channels + c] = 0; // black where unseen
            }
        std::string png = savePicture((dir / "alpha.png").string(), image);
        for (const char* background : {"white", "black", "#ff0000"}) {
            fs::path out = dir / "alpha.zr";
            ToolRun run = zrenc({"-q", "100", "--background", background, png, out.string()});
            ASSERT_EQ(run.exitCode, 0) << run.err;
            EXPECT_NE(run.err.find("warning: " + png + " has transparent parts"), std::string::npos) << run.err;
            std::vector<uint8_t> pixels = decodeFile(out);
            int expected = std::string(background) == "black" ? 0 : 255;
            // Well inside the transparent half: the background's colour (its luma for grey).
            size_t at = (size_t(16) * 48 + 8) * channels;
            if (channels == 1 && std::string(background) == "#ff0000")
                expected = 76;
            EXPECT_NEAR(pixels[at], expected, 3) << channels << " " << background;
            if (channels == 3) {
                EXPECT_NEAR(pixels[at + 1], std::string(background) == "white" ? 255 : 0, 3) << background;
            }
        }
    }
    // Opaque alpha changes nothing and says nothing.
    Image opaque = makePicture(32, 48, 3);
    std::string plain = savePicture((dir / "plain.png").string(), opaque);
    opaque.alpha.assign(32 * 48, 255);
    std::string withAlpha = savePicture((dir / "opaque.png").string(), opaque);
    ToolRun a = zrenc({plain, (dir / "a.zr").string()});
    ToolRun b = zrenc({withAlpha, (dir / "b.zr").string()});
    EXPECT_EQ(b.err, "");
    EXPECT_EQ(slurpFile(dir / "a.zr"), slurpFile(dir / "b.zr"));
    EXPECT_EQ(zrenc({"--background", "pink", plain, (dir / "c.zr").string()}).exitCode, 2);
}

TEST(Zrenc, DeepInputIsReducedWithAWordAndVerifiedAgainstTheInput)
{
    fs::path dir = scratch();
    Image colour = makePicture(24, 40, 3, 65535);
    ToolRun reduced = zrenc({savePicture((dir / "deep.png").string(), colour), (dir / "deep.zr").string()});
    ASSERT_EQ(reduced.exitCode, 0);
    EXPECT_NE(reduced.err.find("warning: 16-bit colour is reduced to 8 bits"), std::string::npos) << reduced.err;

    // A 16-bit grey ramp coded at 8 bits: the PSNR counts the lost bits.
    Image ramp;
    ramp.height = 64;
    ramp.width = 256;
    ramp.channels = 1;
    ramp.maxValue = 65535;
    for (int32_t y = 0; y < 64; y++)
        for (int32_t x = 0; x < 256; x++)
            ramp.samples.push_back(uint16_t(x * 255 + y * 3 + 37));
    std::string png = savePicture((dir / "ramp.png").string(), ramp);
    ToolRun at8 = zrenc({"--bits", "8", "--step", "1", "--verify", png, (dir / "ramp8.zr").string()});
    ASSERT_EQ(at8.exitCode, 0) << at8.err;
    std::vector<uint8_t> pixels = decodeFile(dir / "ramp8.zr");
    double sum = 0;
    for (size_t i = 0; i < pixels.size(); i++) {
        double d = ramp.samples[i] - pixels[i] * 65535.0 / 255.0;
        sum += d * d;
    }
    double truth = 10 * std::log10(65535.0 * 65535.0 / (sum / double(pixels.size())));
    EXPECT_NEAR(reportedPsnr(at8.err), truth, 0.01) << at8.err;
    EXPECT_LT(truth, 62.0);
    ToolRun at16 = zrenc({"--step", "1", "--verify", png, (dir / "ramp16.zr").string()});
    EXPECT_GT(reportedPsnr(at16.err), truth + 10) << at16.err;
}

TEST(Zrenc, QualityRisesWithQ)
{
    fs::path dir = scratch();
    std::string png = savePicture((dir / "q.png").string(), makePicture(64, 64, 3, 255, 5));
    double lastPsnr = 0;
    uintmax_t lastSize = 0;
    for (const char* q : {"0", "30", "60", "75", "90", "100"}) {
        fs::path out = dir / (std::string("q") + q + ".zr");
        ToolRun run = zrenc({"-q", q, "--verify", png, out.string()});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        double psnr = reportedPsnr(run.err);
        EXPECT_GT(psnr, lastPsnr) << q;
        EXPECT_GT(fs::file_size(out), lastSize) << q;
        lastPsnr = psnr;
        lastSize = fs::file_size(out);
    }
    ASSERT_EQ(zrenc({"--step", "4", png, (dir / "s4.zr").string()}).exitCode, 0);
    EXPECT_EQ(slurpFile(dir / "s4.zr"), slurpFile(dir / "q75.zr"));
    ASSERT_EQ(zrenc({"--step", "1", png, (dir / "s1.zr").string()}).exitCode, 0);
    EXPECT_EQ(slurpFile(dir / "s1.zr"), slurpFile(dir / "q100.zr"));
    EXPECT_EQ(zrenc({"-q", "101", png, (dir / "x.zr").string()}).exitCode, 2);
    EXPECT_EQ(zrenc({"-q", "50", "--step", "3", png, (dir / "x.zr").string()}).exitCode, 2);
}

TEST(Zrenc, SizeTargetsSayWhatTheyCannotDo)
{
    fs::path dir = scratch();
    std::string png = savePicture((dir / "t.png").string(), makePicture(48, 48, 1));
    ToolRun ignored = zrenc({"--size", "400", "--step", "2", png, (dir / "a.zr").string()});
    ASSERT_EQ(ignored.exitCode, 0) << ignored.err;
    EXPECT_NE(ignored.err.find("warning: --step is ignored"), std::string::npos) << ignored.err;
    EXPECT_LE(fs::file_size(dir / "a.zr"), 400u);

    ToolRun unreachable = zrenc({"--bpp", "60", png, (dir / "b.zr").string()});
    ASSERT_EQ(unreachable.exitCode, 0) << unreachable.err;
    EXPECT_NE(unreachable.err.find("is not reached"), std::string::npos) << unreachable.err;

    ToolRun tooSmall = zrenc({"--size", "5", png, (dir / "c.zr").string()});
    EXPECT_EQ(tooSmall.exitCode, 1);
    EXPECT_NE(tooSmall.err.find("cannot reach 5 bytes"), std::string::npos) << tooSmall.err;
    EXPECT_FALSE(fs::exists(dir / "c.zr"));

    // The wider search fits the target too and gives the same stream on any
    // number of threads.
    ToolRun one = zrenc({"--effort", "2", "-j", "1", "--size", "400", png, (dir / "e1.zr").string()});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    ASSERT_EQ(zrenc({"--effort", "2", "--threads", "2", "--size", "400", png, (dir / "e2.zr").string()}).exitCode, 0);
    EXPECT_LE(fs::file_size(dir / "e1.zr"), 400u);
    EXPECT_EQ(slurpFile(dir / "e1.zr"), slurpFile(dir / "e2.zr"));
    EXPECT_EQ(zrenc({"--effort", "4", "--size", "400", png, (dir / "e3.zr").string()}).exitCode, 2);
}

// Where whole streams jump over the target (progressive map coder 1 codes a
// level's every coefficient with value coder 1), zrenc says it cut the
// stream, and zrdec then reports the early end; whole streams pass quietly.
TEST(Zrenc, SaysWhenItCutTheStream)
{
    fs::path dir = scratch();
    std::string png = savePicture((dir / "t.png").string(), makePicture(64, 64, 1));
    int32_t cuts = 0, whole = 0;
    for (int32_t target = 400; target <= 1400; target += 100) {
        std::string out = (dir / "c.zr").string();
        ToolRun run = zrenc({"--size", std::to_string(target), "--map-coder", "1", "--value-coder", "1", png, out});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        ToolRun decoded = runTool(ZRDEC_PATH, {out, (dir / "c.pgm").string()});
        bool said = run.err.find("the stream was cut to fit " + std::to_string(target) + " bytes") != std::string::npos;
        EXPECT_EQ(said, decoded.err.find("ended early") != std::string::npos) << target << ": " << run.err;
        if (said) {
            EXPECT_EQ(fs::file_size(out), uint64_t(target));
        }
        (said ? cuts : whole)++;
    }
    EXPECT_GT(cuts, 0);
    EXPECT_GT(whole, 0);
}

TEST(Zrenc, SharpeningStreamsAreMarkedWithoutChangingWhatDecodersDo)
{
    fs::path dir = scratch();
    std::string png = savePicture((dir / "s.png").string(), makePicture(40, 56, 3));
    fs::path out = dir / "sharp.zr";
    ToolRun run = zrenc({"--sharpen", "--verify", png, out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    ToolRun info = runTool(ZRINFO_PATH, {out.string()});
    EXPECT_NE(info.out.find("written for sharpening decoders"), std::string::npos) << info.out;
    ToolRun decode = runTool(ZRDEC_PATH, {"--raw", out.string(), (dir / "auto.raw").string()});
    ASSERT_EQ(decode.exitCode, 0);
    EXPECT_NE(decode.err.find("decoding with --sharpen"), std::string::npos) << decode.err;
    EXPECT_EQ(bytesOf(slurpFile(dir / "auto.raw")), decodeFile(out, 1));
    ASSERT_EQ(runTool(ZRDEC_PATH, {"--raw", "--no-sharpen", out.string(), (dir / "plain.raw").string()}).exitCode,
              0);
    EXPECT_EQ(bytesOf(slurpFile(dir / "plain.raw")), decodeFile(out, 0));

    // The mark sits in the trailer fields, which decoders read and ignore:
    // clearing them leaves every decode the same.
    std::vector<uint8_t> marked = bytesOf(slurpFile(out));
    StreamInfo header = inspectBytes(marked.data(), marked.size());
    ASSERT_TRUE(isSharpenedStream(header.header));
    std::vector<uint8_t> cleared = marked;
    for (int64_t bit = header.headerBits - 19; bit < header.headerBits; bit++)
        cleared[size_t(bit / 8)] &= uint8_t(~(0x80 >> (bit % 8)));
    writeFile(dir / "cleared.zr", std::string(cleared.begin(), cleared.end()));
    EXPECT_FALSE(isSharpenedStream(inspectBytes(cleared.data(), cleared.size()).header));
    for (uint32_t sharpen : {0u, 1u})
        EXPECT_EQ(decodeFile(dir / "cleared.zr", sharpen), decodeFile(out, sharpen)) << sharpen;

    EXPECT_EQ(zrenc({"--sharpen", "--trailer", "1,2,3", png, out.string()}).exitCode, 2);
}

} // namespace

#endif
