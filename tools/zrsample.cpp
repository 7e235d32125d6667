// zrsample: writes the small level-progressive sample stream kept in
// samples/: a colour gradient given by its lowest band alone (every detail
// flag is 0), so every later level is pure expansion.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "tools/cli.h"

namespace {

struct Sink {
    std::vector<uint8_t> bytes;
    static int32_t store(void* context, uint32_t* slot)
    {
        static_cast<Sink*>(context)->bytes.push_back(static_cast<uint8_t>(*slot));
        return 0;
    }
};

const int32_t height = 48;
const int32_t width = 64;
const uint32_t quantStep = 8;

// Inverse of the decoder's lowest-band colour transform.
void rgbToYuv(double r, double g, double b, double* y, double* u, double* v)
{
    // Solves R = Y + U + 0.625V, G = Y - 0.25U - 0.625V, B = Y - U + 1.75V.
    const double m[3][3] = {{1, 1, 0.625}, {1, -0.25, -0.625}, {1, -1, 1.75}};
    const double rhs[3] = {r, g, b};
    double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1])
               - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
               + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    double out[3];
    for (int k = 0; k < 3; k++) {
        double a[3][3];
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++)
                a[i][j] = j == k ? rhs[i] : m[i][j];
        out[k] = (a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1])
                - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0])
                + a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0])) / det;
    }
    *y = out[0];
    *u = out[1];
    *v = out[2];
}

// A band value in pixel units p is coded as d with p = quantStep (2d + 1) / 2^levels.
int32_t codeOf(double pixels, int32_t levels)
{
    double scaled = pixels * static_cast<double>(1 << levels) / quantStep;
    long magnitude = std::lround((std::fabs(scaled) - 1) / 2);
    if (magnitude < 0)
        magnitude = 0;
    return static_cast<int32_t>(magnitude) * (pixels < 0 ? -1 : 1);
}

const char usage[] =
    "usage: zrsample [options] OUT.zr\n"
    "Writes the small colour sample stream (48 x 64, level-progressive) to\n"
    "OUT.zr, or to standard output for -.\n"
    "\n"
    "options:\n"
    "  -h, --help  show this text\n"
    "  --version   show the version\n";

} // namespace

int main(int argc, char** argv)
{
    Messages m;
    m.tool = "zrsample";
    std::vector<std::string> files;
    int parsed = collectPositional(argc, argv, usage, m, &files);
    if (parsed != 0)
        return parsed < 0 ? kExitOk : parsed;
    if (files.size() != 1)
        return m.usage(files.empty() ? "needs an output file" : "too many file names");
    Sink sink;
    BitReader w{};
    w.mask = 128;
    attachByteSource(&w, &Sink::store, &sink);

    // Header: magic, version 2, 48 x 64, 8 bits, colour, 8-bit step 8,
    // level-progressive, map coder 1, value coder 1, no fine steps, stretch
    // or boost, no trailer.
    writeBits(&w, 8, 'Z');
    writeBits(&w, 8, 'R');
    writeBits(&w, 8, 2);
    writeBits(&w, 16, height);
    writeBits(&w, 16, width);
    writeBits(&w, 5, 8);
    writeBits(&w, 1, 1);
    writeBits(&w, 1, 1);
    writeBits(&w, 8, quantStep);
    writeBits(&w, 2, 1);
    writeBits(&w, 2, 1);
    writeBits(&w, 2, 1);
    writeBits(&w, 3, 0);
    writeBits(&w, 1, 0);

    int32_t levels = levelCount(height, width);
    int32_t rows = levelSize(height, levels);
    int32_t cols = levelSize(width, levels);
    std::vector<int32_t> codes[3];
    for (int32_t i = 0; i < rows; i++)
        for (int32_t j = 0; j < cols; j++) {
            double fy = static_cast<double>(i) / (rows - 1);
            double fx = static_cast<double>(j) / (cols - 1);
            double r = 40 + 200 * fx;
            double g = 60 + 160 * fy;
            double b = 220 - 150 * fx * fy;
            double y, u, v;
            rgbToYuv(r, g, b, &y, &u, &v);
            int32_t dy = codeOf(y, levels);
            codes[0].push_back(dy < 0 ? 0 : dy);
            codes[1].push_back(codeOf(u, levels));
            codes[2].push_back(codeOf(v, levels));
        }
    // Lowest bands: 8-bit fields; luma relative to 0, chroma relative to 128.
    for (int c = 0; c < 3; c++) {
        uint32_t base = c == 0 ? 0 : 128;
        writeBits(&w, 5, 8);
        writeBits(&w, 8, base);
        for (int32_t d : codes[c]) {
            int32_t s = d + static_cast<int32_t>(base);
            writeBits(&w, 8, static_cast<uint32_t>(s < 0 ? 0 : s > 255 ? 255 : s));
        }
    }
    // No detail at any level.
    for (int32_t L = levels - 1; L >= 0; L--)
        writeBit(&w, 0);
    flushBitWriter(&w);

    std::string error;
    if (!writeOutputBytes(files[0], sink.bytes.data(), sink.bytes.size(), &error))
        return m.fail(error);
    if (files[0] != "-")
        std::printf("%s: %zu bytes, %d x %d colour, levels %d\n", files[0].c_str(), sink.bytes.size(), height, width,
                    levels);
    return kExitOk;
}
