// Runs the zrdec program on streams made here and checks what it writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "codec/zr.h"
#include "tests/tools/tool_pictures.h"
#include "tests/support/tool_run.h"
#include "tests/support/tool_streams.h"
#include "tools/image_io.h"

#ifdef ZRDEC_PATH

namespace {

namespace fs = std::filesystem;

fs::path scratchDir()
{
    return toolScratch("zrdec");
}

std::string slurp(const fs::path& path)
{
    return slurpFile(path);
}

// Runs zrdec with the arguments split at spaces.
ToolRun zrdec(const std::string& arguments, const std::string& stdinPath = "/dev/null")
{
    std::vector<std::string> args;
    std::istringstream words(arguments);
    for (std::string word; words >> word;)
        args.push_back(word);
    return runTool(ZRDEC_PATH, args, stdinPath);
}

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

std::string frameName(int32_t k, const char* extension)
{
    char name[32];
    std::snprintf(name, sizeof name, "frame-%04d.%s", k, extension);
    return name;
}

std::string writeStream(const std::string& name, const std::vector<uint8_t>& bytes)
{
    fs::path path = scratchDir() / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
}

std::vector<uint8_t> decoded(const std::vector<uint8_t>& stream, const ZrRequest* request = nullptr)
{
    ZrPicture picture;
    EXPECT_EQ(zrDecode(stream.data(), stream.size(), request, &picture), 0);
    size_t n = size_t(picture.height) * picture.width * picture.bytesPerPixel;
    std::vector<uint8_t> bytes(picture.pixels, picture.pixels + n);
    zrFree(&picture);
    return bytes;
}

TEST(Zrdec, WritesThePictureInEveryFormat)
{
    ToolStream params;
    params.colour = true;
    std::vector<uint8_t> stream = makeToolStream(params);
    std::string in = writeStream("colour.zr", stream);
    std::vector<uint8_t> pixels = decoded(stream);
    fs::path dir = scratchDir();

    ToolRun raw = zrdec("--raw " + in + " " + (dir / "colour.raw").string());
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    EXPECT_EQ(firstLine(raw.err), "status 0 height 40 width 56 bpp 24 colour 1");
    std::string rawBytes = slurp(dir / "colour.raw");
    EXPECT_EQ(std::vector<uint8_t>(rawBytes.begin(), rawBytes.end()), pixels);

    for (const char* name : {"colour.png", "colour.ppm", "small.png"}) {
        std::string small = name[0] == 's' ? "--small-png " : "";
        ASSERT_EQ(zrdec(small + in + " " + (dir / name).string()).exitCode, 0) << name;
        Image image;
        ASSERT_TRUE(readImage((dir / name).string(), &image, nullptr)) << name;
        EXPECT_EQ(image.height, 40);
        EXPECT_EQ(image.width, 56);
        EXPECT_EQ(std::vector<uint16_t>(pixels.begin(), pixels.end()), image.samples) << name;
    }
    ASSERT_EQ(zrdec(in + " " + (dir / "colour.bmp").string()).exitCode, 0);
    EXPECT_EQ(slurp(dir / "colour.bmp").size(), 54u + 40 * 168);

    // The request options reach the decoder.
    ZrRequest sharpen{};
    sharpen.sharpen = 1;
    ASSERT_EQ(zrdec("--sharpen --raw " + in + " " + (dir / "sharp.raw").string()).exitCode, 0);
    std::string sharp = slurp(dir / "sharp.raw");
    EXPECT_EQ(std::vector<uint8_t>(sharp.begin(), sharp.end()), decoded(stream, &sharpen));
    ZrRequest half{};
    half.lowMemory = 1;
    ASSERT_EQ(zrdec("--half --raw " + in + " " + (dir / "half.raw").string()).exitCode, 0);
    std::string halved = slurp(dir / "half.raw");
    EXPECT_EQ(std::vector<uint8_t>(halved.begin(), halved.end()), decoded(stream, &half));
}

TEST(Zrdec, GreyPngAndPgmHoldTheDecodedBytes)
{
    std::vector<uint8_t> stream = makeToolStream(ToolStream{});
    std::string in = writeStream("grey.zr", stream);
    std::vector<uint8_t> pixels = decoded(stream);
    fs::path dir = scratchDir();
    for (const char* name : {"grey.png", "grey.pgm", "small.png"}) {
        std::string small = name[0] == 's' ? "--small-png " : "";
        ASSERT_EQ(zrdec(small + in + " " + (dir / name).string()).exitCode, 0) << name;
        Image image;
        ASSERT_TRUE(readImage((dir / name).string(), &image, nullptr)) << name;
        EXPECT_EQ(image.channels, 1);
        EXPECT_EQ(image.maxValue, 255);
        EXPECT_EQ(std::vector<uint16_t>(pixels.begin(), pixels.end()), image.samples) << name;
    }
    ASSERT_EQ(zrdec(in + " " + (dir / "grey.ppm").string()).exitCode, 0); // grey repeated, see below
}

TEST(Zrdec, DeepGreyGoesToSixteenBitPng)
{
    ToolStream params;
    params.bitsPerSample = 12;
    std::vector<uint8_t> stream = makeToolStream(params);
    std::string in = writeStream("deep.zr", stream);
    fs::path out = scratchDir() / "deep.png";
    ToolRun run = zrdec(in + " " + out.string());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(firstLine(run.err), "status 0 height 40 width 56 bpp 12 colour 0");
    Image image;
    ASSERT_TRUE(readImage(out.string(), &image, nullptr));
    EXPECT_EQ(image.maxValue, 65535);
    std::vector<uint8_t> pixels = decoded(stream);
    for (size_t i = 0; i < image.samples.size(); i++)
        ASSERT_EQ(image.samples[i] >> 4, pixels[2 * i] | pixels[2 * i + 1] << 8) << i;
}

TEST(Zrdec, FramesEveryWritesEachPartialPicture)
{
    ToolStream params;
    params.height = 100;
    params.width = 60;
    std::vector<uint8_t> full = makeToolStream(params);
    std::vector<uint8_t> stream(full.begin(), full.end() - 1); // ends inside the detail flags
    std::string in = writeStream("frames.zr", stream);
    fs::path frames = scratchDir() / "frames";
    fs::remove_all(frames);
    fs::path out = scratchDir() / "frames-final.raw";
    ToolRun run = zrdec("--raw --frames-every 1 " + frames.string() + " " + in + " " + out.string());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(firstLine(run.err), "status 0 height 100 width 60 bpp 8 colour 0");
    std::string finalBytes = slurp(out);
    EXPECT_EQ(std::vector<uint8_t>(finalBytes.begin(), finalBytes.end()), decoded(stream));

    std::istringstream index(slurp(frames / "index.txt"));
    int32_t k, position, partHeight, partWidth, count = 0, last = -1;
    while (index >> k >> position >> partHeight >> partWidth) {
        EXPECT_EQ(k, ++count);
        EXPECT_GT(position, last);
        last = position;
        EXPECT_EQ(fs::file_size(frames / frameName(k, "raw")),
                  uintmax_t(partHeight) * uintmax_t(partWidth));
    }
    EXPECT_GT(count, 1);
    EXPECT_EQ(last, int32_t(stream.size())); // the request that found the end

    // PNG frames by default.
    fs::remove_all(frames);
    run = zrdec("--frames-every 3 " + frames.string() + " " + in + " " + (scratchDir() / "f.png").string());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::istringstream pngIndex(slurp(frames / "index.txt"));
    count = 0;
    while (pngIndex >> k >> position >> partHeight >> partWidth) {
        count++;
        EXPECT_EQ(position % 3, 2);
        Image image;
        ASSERT_TRUE(readImage((frames / frameName(k, "png")).string(), &image, nullptr));
        EXPECT_EQ(image.height, partHeight);
        EXPECT_EQ(image.width, partWidth);
    }
    EXPECT_GT(count, 0);
}

TEST(Zrdec, ThreadsWriteTheSameFramesAndPicture)
{
    ToolStream params;
    params.height = 90;
    params.width = 70;
    params.colour = true;
    std::string in = writeStream("threads.zr", makeToolStream(params));
    std::string pictures[3], indexes[3];
    const char* counts[3] = {"1", "2", "4"};
    for (int i = 0; i < 3; i++) {
        fs::path frames = scratchDir() / (std::string("threads-") + counts[i]);
        fs::path out = scratchDir() / (std::string("threads-") + counts[i] + ".raw");
        ToolRun run = zrdec(std::string("-j ") + counts[i] + " --raw --frames-every 5 " + frames.string() + " " +
                            in + " " + out.string());
        ASSERT_EQ(run.exitCode, 0) << run.err;
        pictures[i] = slurp(out);
        indexes[i] = slurp(frames / "index.txt");
        for (int k = 1; fs::exists(frames / frameName(k, "raw")); k++)
            pictures[i] += slurp(frames / frameName(k, "raw"));
    }
    EXPECT_FALSE(indexes[0].empty());
    for (int i = 1; i < 3; i++) {
        EXPECT_EQ(indexes[i], indexes[0]) << counts[i] << " threads";
        EXPECT_TRUE(pictures[i] == pictures[0]) << counts[i] << " threads";
    }
}

TEST(Zrdec, RefusesWithTheReason)
{
    HeaderFields h;
    h.height = 30;
    h.width = 50;
    h.colour = true;
    h.bitsPerSample = 10;
    std::string in = writeStream("deep-colour.zr", makeHeader(h));
    fs::path out = scratchDir() / "refused.png";
    fs::remove(out);
    ToolRun run = zrdec(in + " " + out.string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(firstLine(run.err), "status 16 height 30 width 50 bpp 24 colour 1");
    EXPECT_NE(run.err.find("unsupported sample depth 10 for colour"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));

    run = zrdec("--frames-every 4 " + (scratchDir() / "none").string() + " " + in + " " + out.string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(firstLine(run.err), "status 16 height 30 width 50 bpp 24 colour 1");

    run = zrdec(std::string(ZRDEC_PATH) + " " + out.string()); // the program itself is not a stream
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("not a ZR stream"), std::string::npos);
}

TEST(Zrdec, UsageErrors)
{
    std::string in = writeStream("ok.zr", makeToolStream(ToolStream{}));
    EXPECT_EQ(zrdec("--help").exitCode, 0);
    EXPECT_NE(zrdec("--help").out.find("--frames-every"), std::string::npos);
    EXPECT_EQ(zrdec(in).exitCode, 2);
    EXPECT_EQ(zrdec(in + " out.jpg").exitCode, 2);
    EXPECT_EQ(zrdec("--frames-every 0 dir " + in + " out.png").exitCode, 2);
    EXPECT_EQ(zrdec("--frames-every 3").exitCode, 2);
    for (const char* bad : {"0", "257", "two", "-1"}) {
        ToolRun run = zrdec(std::string("--threads ") + bad + " " + in + " out.png");
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_NE(run.err.find("--threads needs a whole number from 1 to 256"), std::string::npos) << run.err;
    }
    EXPECT_EQ(zrdec("--bogus " + in + " out.png").exitCode, 2);
    ToolRun missing = zrdec((scratchDir() / "missing.zr").string() + " out.png");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("missing.zr"), std::string::npos);
}

TEST(Zrdec, OutputTypesConvertBetweenGreyAndColour)
{
    ToolStream params;
    params.colour = true;
    std::vector<uint8_t> stream = makeToolStream(params);
    std::string in = writeStream("types.zr", stream);
    std::vector<uint8_t> rgb = decoded(stream);
    fs::path dir = scratchDir();

    ToolRun grey = zrdec(in + " " + (dir / "grey.pgm").string());
    ASSERT_EQ(grey.exitCode, 0) << grey.err;
    EXPECT_NE(grey.err.find("as grey"), std::string::npos) << grey.err;
    Image image;
    ASSERT_TRUE(readImage((dir / "grey.pgm").string(), &image, nullptr));
    ASSERT_EQ(image.channels, 1);
    for (size_t i = 0; i < image.samples.size(); i += 97)
        EXPECT_NEAR(image.samples[i], 0.299 * rgb[3 * i] + 0.587 * rgb[3 * i + 1] + 0.114 * rgb[3 * i + 2], 0.51);

    ASSERT_EQ(zrdec(in + " " + (dir / "colour.pnm").string()).exitCode, 0);
    ASSERT_TRUE(readImage((dir / "colour.pnm").string(), &image, nullptr));
    EXPECT_EQ(std::vector<uint16_t>(rgb.begin(), rgb.end()), image.samples);

    std::string greyIn = writeStream("grey.zr", makeToolStream(ToolStream{}));
    std::vector<uint8_t> greyPixels = decoded(makeToolStream(ToolStream{}));
    ASSERT_EQ(zrdec(greyIn + " " + (dir / "grey.ppm").string()).exitCode, 0);
    ASSERT_TRUE(readImage((dir / "grey.ppm").string(), &image, nullptr));
    ASSERT_EQ(image.channels, 3);
    for (size_t i = 0; i < greyPixels.size(); i++)
        ASSERT_EQ(image.samples[3 * i + 2], greyPixels[i]) << i;

    // .raw by name; --raw under a picture name works but says so.
    ToolRun raw = zrdec(in + " " + (dir / "block.raw").string());
    ASSERT_EQ(raw.exitCode, 0);
    EXPECT_EQ(slurp(dir / "block.raw"), std::string(rgb.begin(), rgb.end()));
    ToolRun misnamed = zrdec("--raw " + in + " " + (dir / "block.png").string());
    EXPECT_EQ(misnamed.exitCode, 0);
    EXPECT_NE(misnamed.err.find("warning: --raw writes the pixel block"), std::string::npos) << misnamed.err;

    // Standard output: PNG unless --type says otherwise.
    ToolRun toStdout = zrdec("--type pnm " + in + " -");
    ASSERT_EQ(toStdout.exitCode, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, slurp(dir / "colour.pnm"));
    EXPECT_EQ(zrdec(in + " -").out.compare(1, 3, "PNG"), 0);
    EXPECT_EQ(zrdec("--type jpg " + in + " -").exitCode, 2);
}

TEST(Zrdec, WarnsWhenTheStreamEndsEarly)
{
    ToolStream params;
    params.height = 100;
    params.width = 60;
    std::vector<uint8_t> full = makeToolStream(params);
    fs::path out = scratchDir() / "early.png";
    ToolRun whole = zrdec(writeStream("whole.zr", full) + " " + out.string());
    ASSERT_EQ(whole.exitCode, 0);
    EXPECT_EQ(whole.err.find("warning"), std::string::npos) << whole.err;

    std::vector<uint8_t> cut(full.begin(), full.end() - 1);
    ToolRun early = zrdec(writeStream("cut.zr", cut) + " " + out.string());
    EXPECT_EQ(early.exitCode, 0);
    EXPECT_NE(early.err.find("cut.zr ended early, after " + std::to_string(cut.size()) + " bytes"),
              std::string::npos) << early.err;

    HeaderFields h;
    std::vector<uint8_t> header = makeHeader(h);
    ToolRun headerOnly = zrdec(writeStream("header.zr", header) + " " + out.string());
    EXPECT_EQ(headerOnly.exitCode, 0);
    EXPECT_NE(headerOnly.err.find("ended early"), std::string::npos) << headerOnly.err;

    ToolRun quiet = zrdec("-q " + scratchDir().string() + "/cut.zr " + out.string());
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err, "");
}

TEST(Zrdec, FramesEveryRefusesExplainsAndCleansUp)
{
    fs::path frames = scratchDir() / "frames-rules";
    fs::remove_all(frames);
    fs::path out = scratchDir() / "f.png";
    ToolStream onePass;
    onePass.decodeMode = 0;
    ToolRun refused = zrdec("--frames-every 4 " + frames.string() + " " + writeStream("one-pass.zr", makeToolStream(onePass))
                            + " " + out.string());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("one-pass stream"), std::string::npos) << refused.err;

    ToolStream params;
    params.height = 100;
    params.width = 60;
    std::vector<uint8_t> stream = makeToolStream(params);
    std::string in = writeStream("frames-rules.zr", stream);
    ToolRun beyond = zrdec("--frames-every 100000 " + frames.string() + " " + in + " " + out.string());
    EXPECT_EQ(beyond.exitCode, 0);
    EXPECT_NE(beyond.err.find("is beyond the stream's"), std::string::npos) << beyond.err;

    // An earlier run's frames go; other files stay.
    fs::create_directories(frames);
    writeFile(frames / "frame-0099.png", "old");
    writeFile(frames / "frame-7.raw", "old");
    writeFile(frames / "notes.txt", "mine");
    ToolRun again = zrdec("--frames-every 2 " + frames.string() + " " + in + " " + out.string());
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_FALSE(fs::exists(frames / "frame-0099.png"));
    EXPECT_FALSE(fs::exists(frames / "frame-7.raw"));
    EXPECT_EQ(slurp(frames / "notes.txt"), "mine");
    EXPECT_TRUE(fs::exists(frames / "frame-0001.png"));
}

#ifdef ZRENC_PATH
TEST(Zrdec, FramesStopAtTheCap)
{
    fs::path dir = scratchDir();
    std::string png = savePicture((dir / "many.png").string(), makePicture(64, 64, 3, 255, 11));
    fs::path in = dir / "many.zr";
    ASSERT_EQ(runTool(ZRENC_PATH, {"--step", "1", png, in.string()}).exitCode, 0);
    std::vector<uint8_t> stream = bytesOf(slurp(in));
    ASSERT_GT(stream.size(), 1500u);
    fs::path frames = dir / "many";
    fs::remove_all(frames);
    ToolRun capped = zrdec("--raw --frames-every 1 " + frames.string() + " " + in.string() + " "
                           + (dir / "many.raw").string());
    ASSERT_EQ(capped.exitCode, 0) << capped.err;
    EXPECT_NE(capped.err.find("writing the first 1000"), std::string::npos) << capped.err;
    EXPECT_NE(capped.err.find("stopped writing frames after 1000"), std::string::npos) << capped.err;
    EXPECT_TRUE(fs::exists(frames / "frame-1000.raw"));
    EXPECT_FALSE(fs::exists(frames / "frame-1001.raw"));
    std::vector<uint8_t> pixels = decoded(stream);
    EXPECT_EQ(slurp(dir / "many.raw"), std::string(pixels.begin(), pixels.end()));
}
#endif

TEST(Zrdec, LowMemoryIsTheOldHalf)
{
    std::string in = writeStream("low.zr", makeToolStream(ToolStream{}));
    fs::path dir = scratchDir();
    ASSERT_EQ(zrdec("--low-memory " + in + " " + (dir / "low.raw").string()).exitCode, 0);
    ASSERT_EQ(zrdec("--half " + in + " " + (dir / "half.raw").string()).exitCode, 0);
    EXPECT_EQ(slurp(dir / "low.raw"), slurp(dir / "half.raw"));
    ZrRequest low{};
    low.lowMemory = 1;
    std::vector<uint8_t> pixels = decoded(makeToolStream(ToolStream{}), &low);
    EXPECT_EQ(slurp(dir / "low.raw"), std::string(pixels.begin(), pixels.end()));
}

} // namespace


#endif
