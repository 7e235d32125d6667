// Forward 5/3 wavelet transform and forward colour transform: the exact
// inverses of the decoder's expansion, synthesis patterns and colour split.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// One picture component, row-major, `width` samples per row. After
// forwardTransform it holds the compacted layout the decoder reads: the
// lowest band in the top-left corner, the detail bands of each level around it.
// Single precision halves the memory of large pictures; the lifting itself
// runs in double precision on one row or column at a time.
struct CoefficientPlane {
    int32_t height = 0;
    int32_t width = 0;
    std::vector<float> samples;

    float* row(int32_t r) { return samples.data() + static_cast<size_t>(r) * width; }
    const float* row(int32_t r) const { return samples.data() + static_cast<size_t>(r) * width; }
};

// One dimension of n samples (stride apart) into (n + 2) / 2 low values
// followed by the high values. The lifting pair: predict the odd samples from
// their even neighbours, update the even ones with a quarter of the adjacent
// details, detail taken as zero beyond the edges; an even length keeps its last
// sample as an isolated low value. `scratch` holds at least n values.
void forwardLift(double* x, int32_t n, int32_t stride, double* scratch);
// The inverse of forwardLift.
void inverseLift(double* x, int32_t n, int32_t stride, double* scratch);
// The transpose of inverseLift: takes a gradient over the samples to one over
// the low and high values. `scratch` holds at least 2 n values.
void adjointInverseLift(double* x, int32_t n, int32_t stride, double* scratch);

// Level L of the decomposition: rows then columns of the R(L) x C(L) region,
// on up to `threads` threads (the same values for any count).
void forwardLevel(CoefficientPlane* plane, int32_t L, int32_t threads = 1);
void inverseLevel(CoefficientPlane* plane, int32_t L);
// Levels 0 .. levels - 1, finest first.
void forwardTransform(CoefficientPlane* plane, int32_t levels);
void inverseTransform(CoefficientPlane* plane, int32_t levels);
// The transpose of inverseTransform.
void adjointInverseTransform(CoefficientPlane* plane, int32_t levels);

// Scale from a lifting detail value to the value the decoder's kernels take
// at level L: bands 0 and 1 carry 2^L, band 2 carries 2^(L-1).
double detailScale(int32_t L, int32_t band);

// Forward colour transform of one pixel: the inverse of the decoder's
// red = Y + U + 0.625 V, green = Y - 0.25 U - 0.625 V, blue = Y - U + 1.75 V.
void forwardColour(double red, double green, double blue, double yuv[3]);

// Contributions of a unit value of component c (0, 1, 2) to red, green and
// blue, detail values of chroma components being coded at half scale (the
// decoder's colour split), and the matching factor for lowest-band values.
extern const double kDetailColourGain[3][3];
extern const double kLowestColourGain[3][3];
// How an error in component b adds to one in component a in the squared
// error of red, green and blue (plane units).
double colourErrorProduct(int32_t a, int32_t b);
