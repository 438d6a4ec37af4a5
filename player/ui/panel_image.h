// A 32-bit pixel buffer the panel is composed in. Pixels are 0x00RRGGBB, rows
// stored top row first, so every coordinate below is in display orientation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct PanelImage {
  int32_t nWidth = 0;           // pixels; 0 for a blank image (nothing is drawn from it)
  int32_t nHeight = 0;          // rows
  std::vector<uint32_t> aPixel; // nWidth * nHeight, row y at y * nWidth

  const uint32_t &At(int32_t x, int32_t y) const {
    return aPixel[static_cast<std::size_t>(y * nWidth + x)];
  }
  uint32_t &At(int32_t x, int32_t y) { return aPixel[static_cast<std::size_t>(y * nWidth + x)]; }
};

// Sizes the image and fills it with one colour.
void ResizeImage(PanelImage &img, int32_t nWidth, int32_t nHeight, uint32_t crFill);

// Pixel value of an RGB triple.
constexpr uint32_t PanelRgb(uint32_t r, uint32_t g, uint32_t b) {
  return (r << 16) | (g << 8) | b;
}
