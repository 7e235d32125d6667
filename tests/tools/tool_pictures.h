// Pictures for the tool tests, written as files the tools read.
#pragma once
#include <cstdint>
#include <random>
#include <string>

#include "tools/image_io.h"

// A smooth picture with some texture: `channels` 1 or 3, samples 0..maxValue.
inline Image makePicture(int32_t height, int32_t width, int32_t channels, int32_t maxValue = 255, uint32_t seed = 3)
{
    Image image;
    image.height = height;
    image.width = width;
    image.channels = channels;
    image.maxValue = maxValue;
    std::mt19937 random(seed);
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            for (int32_t c = 0; c < channels; c++) {
                double v = (0.15 + 0.7 * (x + 2.0 * y + 17.0 * c) / (width + 2.0 * height + 34.0)) * maxValue;
                v += double(random() % 9) / 8.0 * maxValue / 40.0;
                image.samples.push_back(uint16_t(v > maxValue ? maxValue : v));
            }
    return image;
}

inline std::string savePicture(const std::string& path, const Image& image)
{
    std::string error;
    if (!writeImage(path, image, &error))
        throw std::runtime_error(error);
    return path;
}
