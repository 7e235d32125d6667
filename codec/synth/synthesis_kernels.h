// Add one detail coefficient's 5/3 synthesis pattern into the picture of the
// current level: exactly into an integer plane, or rounded and clamped into
// 8-bit pixel rows.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"
#include "codec/core/plane_band.h"

// All kernels take the level geometry (levelHeight x levelWidth, of which the
// top-left lowHeight x lowWidth is the next coarser level), the band (0, 1;
// anything else is band 2) and the coefficient's absolute layout position.

// Exact pattern: every touched sample gains v x P x 2 (bands 0, 1) or v x P
// (band 2). Sums wrap as 32-bit two's complement.
void addCoefficientPlane(Plane plane, int32_t v, int32_t levelHeight, int32_t levelWidth,
                         int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col);

// The same as addCoefficientPlane for planes[p] and parts[p], p = 0, 1, 2,
// with the tap sets selected once.
void addCoefficientPlaneTriple(const Plane* planes, const int32_t parts[3], int32_t levelHeight, int32_t levelWidth,
                               int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col);

void preparePlaneBand(PlaneBand* out, Plane plane, int32_t levelHeight, int32_t levelWidth, int32_t lowHeight,
                      int32_t lowWidth, int32_t band);

// addCoefficientPlane into the prepared band's plane.
void addPlaneBandValue(const PlaneBand& target, int32_t v, int32_t row, int32_t col);

// Rounded pattern into one byte per pixel; every touched pixel is clamped to
// 0..255.
void addCoefficientGray8(PixelRows rows, int32_t v, int32_t levelHeight, int32_t levelWidth,
                         int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col);

// As addCoefficientGray8 into one channel of 3-byte interleaved pixels: the
// row pointers address the channel's byte of each row's first pixel.
void addCoefficientRgb8(PixelRows channelRows, int32_t v, int32_t levelHeight, int32_t levelWidth,
                        int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col);

// Contributions of a value of colour component `component` (0, 1, 2) to the
// transformed planes 0, 1, 2. With one component the value goes to plane 0
// alone (out[1] = out[2] = 0).
void splitColourValue(int32_t component, int32_t components, int32_t v, int32_t out[3]);

// Colour split with explicit targets: one kernel call per plane (plane 0, 1,
// 2 in that order; plane 0 only when components is 1).
void addCoefficientColourPlanes(Plane* planes, int32_t component, int32_t components, int32_t v,
                                int32_t levelHeight, int32_t levelWidth, int32_t lowHeight,
                                int32_t lowWidth, int32_t band, int32_t row, int32_t col);
void addCoefficientColourPixels(PixelRows* pixelPlanes, int32_t component, int32_t components,
                                int32_t v, int32_t levelHeight, int32_t levelWidth,
                                int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row,
                                int32_t col);

// Where the values of one band of one component go, and the band's geometry.
struct CoefficientTarget {
    Plane* planes;          // the integer planes
    PixelRows* pixelPlanes; // the 8-bit pixel rows
    int32_t toPixels;       // nonzero: into pixelPlanes (level 0 of a low-memory decode)
    int32_t component;
    int32_t components;
    int32_t levelHeight;
    int32_t levelWidth;
    int32_t lowHeight;
    int32_t lowWidth;
    int32_t band;
    int32_t* grids[3];      // the level's grids (level_grid.h); null: value by value
};

// The colour split into the target: into its grids where it has them, else
// addCoefficientColourPixels or addCoefficientColourPlanes with its fields.
void addCoefficientColour(const CoefficientTarget& target, int32_t value, int32_t row, int32_t col);
