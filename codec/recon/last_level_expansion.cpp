#include "codec/recon/last_level_expansion.h"

// Level-1 samples carry 6 fractional bits; 16384 >> 6 is the first value
// past 255.
static inline uint8_t clampPixel(int32_t t)
{
    if (t >= 16384)
        return 255;
    if (t < 0)
        return 0;
    return static_cast<uint8_t>(t >> 6);
}

// Converts coarse samples of one plane into one byte per pixel.
struct PlaneSource {
    static constexpr int channels = 1;
    Plane plane;
    const int32_t* row;
    void selectRow(int32_t k) { row = plane[k]; }
    void convert(int32_t j, uint8_t* px) const { px[0] = clampPixel(row[j] + 32); }
};

// Converts coarse Y, U, V samples into three channels through the integer
// inverse colour transform.
struct YuvSource {
    static constexpr int channels = 3;
    Plane* planes;
    const int32_t* y;
    const int32_t* u;
    const int32_t* v;
    void selectRow(int32_t k)
    {
        y = planes[0][k];
        u = planes[1][k];
        v = planes[2][k];
    }
    void convert(int32_t j, uint8_t* px) const
    {
        const int32_t Y = y[j] + 32;
        const int32_t U = u[j];
        const int32_t V = v[j];
        const int32_t t = (V >> 1) + (V >> 3);
        px[0] = clampPixel(Y + U + t);
        px[1] = clampPixel(Y - (U >> 2) - t);
        px[2] = clampPixel(Y - U + (t << 1) + (V >> 1));
    }
};

// Row rule on pixels: converted coarse samples at even positions, averages
// between them, and the isolated final column of an even width converted on
// its own. Stride is the byte distance between pixels.
template <int Stride, class Source>
static void expandPixelRow(uint8_t* out, const Source& source, int32_t width, int32_t Ch)
{
    constexpr int N = Source::channels;
    const int32_t lastEven = (width & 1) ? Ch - 1 : Ch - 2; // coarse index of the last even position
    uint8_t left[N];
    source.convert(0, left);
    for (int c = 0; c < N; c++)
        out[c] = left[c];
    for (int32_t j = 1; j <= lastEven; j++) {
        uint8_t cur[N];
        source.convert(j, cur);
        uint8_t* even = out + 2 * j * Stride;
        uint8_t* odd = even - Stride;
        for (int c = 0; c < N; c++) {
            odd[c] = static_cast<uint8_t>((left[c] + cur[c]) >> 1);
            even[c] = cur[c];
            left[c] = cur[c];
        }
    }
    if ((width & 1) == 0 && Ch >= 2) {
        uint8_t last[N];
        source.convert(Ch - 1, last);
        for (int c = 0; c < N; c++)
            out[(width - 1) * Stride + c] = last[c];
    }
}

// Odd pixel row between two finished rows: vertical averages at even columns
// (and at the isolated final column), four-pixel averages at odd columns.
template <int Stride, int N>
static void interpolatePixelRow(uint8_t* out, const uint8_t* top, const uint8_t* bottom, int32_t width)
{
    const int32_t lastEven = (width & 1) ? width - 1 : width - 2;
    int32_t left[N];
    for (int c = 0; c < N; c++) {
        left[c] = top[c] + bottom[c];
        out[c] = static_cast<uint8_t>(left[c] >> 1);
    }
    for (int32_t x = 2; x <= lastEven; x += 2) {
        const int32_t at = x * Stride;
        for (int c = 0; c < N; c++) {
            const int32_t sum = top[at + c] + bottom[at + c];
            out[at - Stride + c] = static_cast<uint8_t>((left[c] + sum) >> 2);
            out[at + c] = static_cast<uint8_t>(sum >> 1);
            left[c] = sum;
        }
    }
    if ((width & 1) == 0 && width >= 2) {
        const int32_t at = (width - 1) * Stride;
        for (int c = 0; c < N; c++)
            out[at + c] = static_cast<uint8_t>((top[at + c] + bottom[at + c]) >> 1);
    }
}

template <int Stride, class Source>
static void expandPixels(Source source, PixelRows rows, int32_t height, int32_t width)
{
    if (height <= 0 || width <= 0)
        return;
    const int32_t Rh = (height + 2) >> 1;
    const int32_t Ch = (width + 2) >> 1;
    auto evenRow = [&](int32_t y, int32_t k) {
        source.selectRow(k);
        expandPixelRow<Stride>(rows[y], source, width, Ch);
    };

    int32_t k = Rh - 1;
    if ((height & 1) == 0 && Rh >= 2) {
        evenRow(height - 1, Rh - 1); // isolated final row
        k = Rh - 2;
    }
    evenRow(2 * k, k);
    for (k--; k >= 0; k--) {
        evenRow(2 * k, k);
        interpolatePixelRow<Stride, Source::channels>(rows[2 * k + 1], rows[2 * k], rows[2 * k + 2], width);
    }
}

void expandToGray8(Plane plane, PixelRows grayRows, int32_t height, int32_t width)
{
    expandPixels<1>(PlaneSource{plane, nullptr}, grayRows, height, width);
}

void expandToRgb8Channel(Plane plane, PixelRows channelRows, int32_t height, int32_t width)
{
    expandPixels<3>(PlaneSource{plane, nullptr}, channelRows, height, width);
}

void expandYuvToRgb8(Plane* planes, PixelRows rgbRows, int32_t height, int32_t width)
{
    expandPixels<3>(YuvSource{planes, nullptr, nullptr, nullptr}, rgbRows, height, width);
}
