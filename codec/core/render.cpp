#include "codec/core/render.h"

#include "codec/core/alloc.h"
#include "codec/core/geometry.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline int32_t wrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

inline int32_t wrapSub(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

inline int32_t wrapMul(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// Final 8-bit rule: +16 rounding, 8192 and above is white.
struct ToneLookup {
    const int16_t* table;
    uint8_t operator()(int32_t sample) const
    {
        int32_t s = wrapAdd(sample, 16);
        if (s >= 8192)
            return 255;
        if (s < 0)
            return 0;
        return static_cast<uint8_t>(table[s >> 5]);
    }
};

// The same rule when the tone table is the identity: a clamp, branch-free.
struct ToneIdentity {
    uint8_t operator()(int32_t sample) const
    {
        int32_t v = wrapAdd(sample, 16) >> 5;
        v = v < 0 ? 0 : v;
        return static_cast<uint8_t>(v > 255 ? 255 : v);
    }
};

#if defined(__SSE2__)
// ToneIdentity on 16 samples: the signed saturation to 16 bits keeps each
// value's side of 0..255, the unsigned one to 8 bits then clamps.
inline __m128i identity16(const int32_t* row)
{
    const __m128i round = _mm_set1_epi32(16);
    __m128i v[4];
    for (int k = 0; k < 4; k++) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * k));
        v[k] = _mm_srai_epi32(_mm_add_epi32(s, round), 5);
    }
    return _mm_packus_epi16(_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3]));
}
#endif

// Grey rows by the identity rule; the SSE2 path gives the scalar bytes.
void renderIdentityGray8(const Plane plane, uint8_t* out, int32_t height, int32_t width)
{
    const ToneIdentity tone;
    for (int32_t i = 0; i < height; i++) {
        const int32_t* row = plane[i];
        int32_t j = 0;
#if defined(__SSE2__)
        for (; j + 16 <= width; j += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), identity16(row + j));
#endif
        for (; j < width; j++)
            out[j] = tone(row[j]);
        out += width;
    }
}

#if defined(__SSE2__)
// Four pixels held as 0x00BBGGRR words, written as 12 bytes; each 8-byte
// store runs 2 bytes past its pixels, which the next store (or pixel) then
// overwrites.
inline void storeFourPixels(uint8_t* out, __m128i pixels)
{
    const __m128i first = _mm_set1_epi64x(0xFFFFFF);
    const __m128i second = _mm_set1_epi64x(0xFFFFFF000000);
    // Per 64-bit half: the first pixel's 3 bytes, then the second's.
    const __m128i six = _mm_or_si128(_mm_and_si128(pixels, first),
                                     _mm_and_si128(_mm_srli_epi64(pixels, 8), second));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), six);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_srli_si128(six, 8));
}

// Sixteen pixels from 16 bytes of each plane, interleaved in plane order.
inline void storeSixteenPixels(uint8_t* out, __m128i c0, __m128i c1, __m128i c2)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo01 = _mm_unpacklo_epi8(c0, c1), hi01 = _mm_unpackhi_epi8(c0, c1);
    const __m128i lo2 = _mm_unpacklo_epi8(c2, zero), hi2 = _mm_unpackhi_epi8(c2, zero);
    storeFourPixels(out, _mm_unpacklo_epi16(lo01, lo2));
    storeFourPixels(out + 12, _mm_unpackhi_epi16(lo01, lo2));
    storeFourPixels(out + 24, _mm_unpacklo_epi16(hi01, hi2));
    storeFourPixels(out + 36, _mm_unpackhi_epi16(hi01, hi2));
}
#endif

// Colour rows by the identity rule: 16 samples of each plane at a time, then
// interleaved.
void renderIdentityColour(const Plane* planes, uint8_t* out, int32_t height, int32_t width)
{
    const ToneIdentity tone;
    for (int32_t i = 0; i < height; i++) {
        const int32_t* r0 = planes[0][i];
        const int32_t* r1 = planes[1][i];
        const int32_t* r2 = planes[2][i];
        int32_t j = 0;
#if defined(__SSE2__)
        // The stores run 2 bytes past the 16 pixels: in the last row, only
        // while a pixel follows.
        const int32_t vectorEnd = i + 1 < height ? width : width - 1;
        for (; j + 16 <= vectorEnd; j += 16, out += 48)
            storeSixteenPixels(out, identity16(r0 + j), identity16(r1 + j), identity16(r2 + j));
#endif
        for (; j < width; j++, out += 3) {
            out[0] = tone(r0[j]);
            out[1] = tone(r1[j]);
            out[2] = tone(r2[j]);
        }
    }
}

template <typename Tone>
void renderFinalGray8(const Plane plane, uint8_t* out, int32_t height, int32_t width, Tone tone)
{
    for (int32_t i = 0; i < height; i++) {
        const int32_t* row = plane[i];
        for (int32_t j = 0; j < width; j++)
            *out++ = tone(row[j]);
    }
}

void renderFinalGrayDeep(const Plane plane, uint8_t* out, int32_t height, int32_t width,
                         int32_t bitsPerSample, const int16_t* table)
{
    uint16_t top = static_cast<uint16_t>((1u << bitsPerSample) - 1);
    int32_t limit = static_cast<int32_t>(1u << (bitsPerSample + 5));
    for (int32_t i = 0; i < height; i++) {
        const int32_t* row = plane[i];
        for (int32_t j = 0; j < width; j++) {
            int32_t s = row[j];
            uint16_t value;
            if (s >= limit)
                value = top;
            else if (s < 0)
                value = 0;
            else
                value = static_cast<uint16_t>(table[s >> 5]);
            *out++ = static_cast<uint8_t>(value & 0xff);
            *out++ = static_cast<uint8_t>(value >> 8);
        }
    }
}

template <typename Tone>
void renderFinalColour(const Plane* planes, uint8_t* out, int32_t height, int32_t width, Tone tone)
{
    for (int32_t i = 0; i < height; i++) {
        const int32_t* r0 = planes[0][i];
        const int32_t* r1 = planes[1][i];
        const int32_t* r2 = planes[2][i];
        for (int32_t j = 0; j < width; j++) {
            out[0] = tone(r0[j]);
            out[1] = tone(r1[j]);
            out[2] = tone(r2[j]);
            out += 3;
        }
    }
}

// Partial rule: v = sample >> shift, no rounding; v >= N is white.
inline uint16_t partialValue(int32_t sample, int32_t shift, int32_t N, const int16_t* table)
{
    int32_t v = sample >> shift;
    if (v >= N)
        return static_cast<uint16_t>(N - 1);
    if (v < 0)
        return 0;
    return static_cast<uint16_t>(table[v]);
}

} // namespace

void makeToneTable(int16_t* table, int32_t bitsPerSample, int32_t meanLevel, int32_t contrastStretch)
{
    int32_t N = static_cast<int32_t>(1u << bitsPerSample);
    if (contrastStretch == 0) {
        for (int32_t i = 0; i < N; i++)
            table[i] = static_cast<int16_t>(i);
        return;
    }
    int32_t gain = wrapAdd(contrastStretch, 1);
    for (int32_t i = 0; i < N; i++) {
        int32_t v = wrapAdd(wrapMul(wrapSub(i, meanLevel), gain), N / 2);
        if (v < 0)
            v = 0;
        else if (v > N - 1)
            v = N - 1;
        table[i] = static_cast<int16_t>(v);
    }
}

uint8_t* renderPlanes(Plane* planes, uint8_t* out, int32_t height, int32_t width,
                      int32_t bitsPerSample, int32_t components, int32_t meanLevel,
                      int32_t contrastStretch)
{
    if (contrastStretch == 0 && bitsPerSample <= 8) {
        // The identity tone is a clamp: no table.
        if (components == 1)
            renderIdentityGray8(planes[0], out, height, width);
        else
            renderIdentityColour(planes, out, height, width);
        return out;
    }
    size_t entries = static_cast<size_t>(1) << bitsPerSample;
    int16_t* table = static_cast<int16_t*>(allocChecked(entries * sizeof(int16_t)));
    if (!table)
        return nullptr;
    makeToneTable(table, bitsPerSample, meanLevel, contrastStretch);
    if (components == 1 && bitsPerSample > 8)
        renderFinalGrayDeep(planes[0], out, height, width, bitsPerSample, table);
    else if (components == 1)
        renderFinalGray8(planes[0], out, height, width, ToneLookup{table});
    else
        renderFinalColour(planes, out, height, width, ToneLookup{table});
    freeChecked(table);
    return out;
}

uint8_t* renderPartial(Plane* planes, uint8_t* out, int32_t height, int32_t width,
                       int32_t bitsPerSample, int32_t components, int32_t L,
                       const int16_t* toneTable)
{
    int32_t rows = levelSize(height, L);
    int32_t cols = levelSize(width, L);
    bool deep = components == 1 && bitsPerSample > 8;
    size_t bytesPerPixel = components == 1 ? (deep ? 2 : 1) : 3;
    if (!out) {
        out = static_cast<uint8_t*>(allocChecked(static_cast<size_t>(rows) * static_cast<size_t>(cols) * bytesPerPixel));
        if (!out)
            return nullptr;
    }
    // An arithmetic shift by 31 already gives the result of any larger one.
    int32_t shift = L + 5 > 31 ? 31 : L + 5;
    int32_t N = static_cast<int32_t>(1u << bitsPerSample);
    uint8_t* p = out;
    if (components == 1) {
        for (int32_t i = 0; i < rows; i++) {
            const int32_t* row = planes[0][i];
            for (int32_t j = 0; j < cols; j++) {
                uint16_t value = partialValue(row[j], shift, N, toneTable);
                *p++ = static_cast<uint8_t>(value & 0xff);
                if (deep)
                    *p++ = static_cast<uint8_t>(value >> 8);
            }
        }
        return out;
    }
    for (int32_t i = 0; i < rows; i++) {
        const int32_t* r0 = planes[0][i];
        const int32_t* r1 = planes[1][i];
        const int32_t* r2 = planes[2][i];
        for (int32_t j = 0; j < cols; j++) {
            *p++ = static_cast<uint8_t>(partialValue(r0[j], shift, N, toneTable) & 0xff);
            *p++ = static_cast<uint8_t>(partialValue(r1[j], shift, N, toneTable) & 0xff);
            *p++ = static_cast<uint8_t>(partialValue(r2[j], shift, N, toneTable) & 0xff);
        }
    }
    return out;
}
