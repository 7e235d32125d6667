#include "codec/encoder/sharpen_compensation.h"

#include <vector>

#include "codec/core/geometry.h"

void unsharpenGrid(CoefficientPlane* plane, int32_t rows, int32_t cols)
{
    if (rows < 3 || cols < 3)
        return;
    std::vector<double> x(static_cast<size_t>(rows) * cols), y;
    for (int32_t r = 0; r < rows; r++)
        for (int32_t c = 0; c < cols; c++)
            x[static_cast<size_t>(r) * cols + c] = plane->row(r)[c];
    y = x;
    std::vector<double> next = y;
    // Jacobi iterations contract by 1/3 at least (diagonal 1.5, neighbours 0.5).
    for (int32_t iteration = 0; iteration < 40; iteration++) {
        for (int32_t r = 1; r + 1 < rows; r++) {
            for (int32_t c = 1; c + 1 < cols; c++) {
                size_t i = static_cast<size_t>(r) * cols + c;
                double around = y[i - 1] + y[i + 1] + y[i - cols] + y[i + cols];
                next[i] = (x[i] + around / 8.0) / 1.5;
            }
        }
        y.swap(next);
    }
    for (int32_t r = 0; r < rows; r++)
        for (int32_t c = 0; c < cols; c++)
            plane->row(r)[c] = static_cast<float>(y[static_cast<size_t>(r) * cols + c]);
}

void compensateSharpening(CoefficientPlane* planes, int32_t components, int32_t decodeMode)
{
    int32_t rows = levelSize(planes[0].height, 1);
    int32_t cols = levelSize(planes[0].width, 1);
    if (components == 1 || decodeMode == 1) {
        for (int32_t c = 0; c < components; c++)
            unsharpenGrid(&planes[c], rows, cols);
        return;
    }
    // Red = Y + U + 0.625 V; move the change of red back into Y, U and V
    // along the forward colour transform so that green and blue stay.
    CoefficientPlane red;
    red.height = rows;
    red.width = cols;
    red.samples.resize(static_cast<size_t>(rows) * cols);
    for (int32_t r = 0; r < rows; r++)
        for (int32_t c = 0; c < cols; c++)
            red.row(r)[c] = static_cast<float>(planes[0].row(r)[c] + planes[1].row(r)[c] + 0.625 * planes[2].row(r)[c]);
    CoefficientPlane target = red;
    unsharpenGrid(&target, rows, cols);
    for (int32_t r = 0; r < rows; r++) {
        for (int32_t c = 0; c < cols; c++) {
            double delta = target.row(r)[c] - red.row(r)[c];
            double yuv[3];
            forwardColour(delta, 0.0, 0.0, yuv);
            for (int32_t k = 0; k < 3; k++)
                planes[k].row(r)[c] += static_cast<float>(yuv[k]);
        }
    }
}
