#pragma once
// A minimal PNG encoder (8-bit RGBA, no filtering) for the demo content's images.

#include <cstdint>
#include <string>
#include <vector>

struct Image
{
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels; // 0xAARRGGBB, row by row

    Image(int w, int h, std::uint32_t fill = 0);
    void Set(int x, int y, std::uint32_t argb);
    void FillRect(int x, int y, int w, int h, std::uint32_t argb);
};

std::string EncodePng(const Image& image);
