#include "codec/synth/synthesis_kernels.h"

#include "codec/synth/level_grid.h"

void splitColourValue(int32_t component, int32_t components, int32_t v, int32_t out[3])
{
    if (components == 1) {
        out[0] = v;
        out[1] = out[2] = 0;
        return;
    }
    switch (component) {
    case 0:
        out[0] = out[1] = out[2] = v;
        break;
    case 1:
        out[0] = v << 1;
        out[1] = -(v >> 1);
        out[2] = -(v << 1);
        break;
    default: {
        const int32_t a = v + (v >> 2);
        out[0] = a;
        out[1] = -a;
        out[2] = (v << 2) - (v >> 1);
        break;
    }
    }
}

void addCoefficientColourPlanes(Plane* planes, int32_t component, int32_t components, int32_t v,
                                int32_t levelHeight, int32_t levelWidth, int32_t lowHeight,
                                int32_t lowWidth, int32_t band, int32_t row, int32_t col)
{
    if (components == 1) {
        addCoefficientPlane(planes[0], v, levelHeight, levelWidth, lowHeight, lowWidth, band, row, col);
        return;
    }
    int32_t parts[3];
    splitColourValue(component, components, v, parts);
    addCoefficientPlaneTriple(planes, parts, levelHeight, levelWidth, lowHeight, lowWidth, band, row, col);
}

void addCoefficientColourPixels(PixelRows* pixelPlanes, int32_t component, int32_t components,
                                int32_t v, int32_t levelHeight, int32_t levelWidth,
                                int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row,
                                int32_t col)
{
    if (components == 1) {
        addCoefficientGray8(pixelPlanes[0], v, levelHeight, levelWidth, lowHeight, lowWidth, band, row, col);
        return;
    }
    int32_t parts[3];
    splitColourValue(component, components, v, parts);
    for (int32_t p = 0; p < 3; p++)
        addCoefficientRgb8(pixelPlanes[p], parts[p], levelHeight, levelWidth, lowHeight, lowWidth, band, row, col);
}

void addCoefficientColour(const CoefficientTarget& t, int32_t value, int32_t row, int32_t col)
{
    if (t.grids[0])
        addColourGridValue(t.grids, t.component, t.components, t.levelWidth, row, col, value);
    else if (t.toPixels)
        addCoefficientColourPixels(t.pixelPlanes, t.component, t.components, value, t.levelHeight, t.levelWidth,
                                   t.lowHeight, t.lowWidth, t.band, row, col);
    else
        addCoefficientColourPlanes(t.planes, t.component, t.components, value, t.levelHeight, t.levelWidth,
                                   t.lowHeight, t.lowWidth, t.band, row, col);
}
