// Runs the zrdec program on streams made here and checks what it writes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "codec/zr.h"
#include "tests/tools/tool_streams.h"
#include "tools/image_io.h"

#ifdef ZRDEC_PATH

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

fs::path scratchDir()
{
    fs::path dir = fs::temp_directory_path() / ("zrdec-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ToolRun zrdec(const std::string& arguments)
{
    fs::path dir = scratchDir();
    std::string command = std::string(ZRDEC_PATH) + " " + arguments + " >" + (dir / "stdout").string() + " 2>"
                        + (dir / "stderr").string();
    ToolRun run;
    int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(dir / "stdout");
    run.err = slurp(dir / "stderr");
    return run;
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
    EXPECT_EQ(raw.out, "status 0 height 40 width 56 bpp 24 colour 1\n");
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
    ASSERT_EQ(zrdec(in + " " + (dir / "grey.ppm").string()).exitCode, 1);
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
    EXPECT_EQ(run.out, "status 0 height 40 width 56 bpp 12 colour 0\n");
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
    EXPECT_EQ(run.out, "status 0 height 100 width 60 bpp 8 colour 0\n");
    std::string finalBytes = slurp(out);
    EXPECT_EQ(std::vector<uint8_t>(finalBytes.begin(), finalBytes.end()), decoded(stream));

    std::istringstream index(slurp(frames / "index.txt"));
    int32_t k, position, partHeight, partWidth, count = 0, last = -1;
    while (index >> k >> position >> partHeight >> partWidth) {
        EXPECT_EQ(k, ++count);
        EXPECT_GT(position, last);
        last = position;
        EXPECT_EQ(fs::file_size(frames / ("frame-" + std::to_string(k) + ".raw")),
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
        ASSERT_TRUE(readImage((frames / ("frame-" + std::to_string(k) + ".png")).string(), &image, nullptr));
        EXPECT_EQ(image.height, partHeight);
        EXPECT_EQ(image.width, partWidth);
    }
    EXPECT_GT(count, 0);
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
    EXPECT_EQ(run.out, "status 16 height 30 width 50 bpp 24 colour 1\n");
    EXPECT_NE(run.err.find("unsupported sample depth 10 for colour"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));

    run = zrdec("--frames-every 4 " + (scratchDir() / "none").string() + " " + in + " " + out.string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "status 16 height 30 width 50 bpp 24 colour 1\n");

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
    EXPECT_EQ(zrdec("--bogus " + in + " out.png").exitCode, 2);
    ToolRun missing = zrdec((scratchDir() / "missing.zr").string() + " out.png");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("missing.zr"), std::string::npos);
}

} // namespace

#endif
