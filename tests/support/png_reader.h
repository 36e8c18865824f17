// Reads PNG files back for the tests (the demo's captures, sv-inspect's
// output) through libpng's simplified reader: any PNG comes out as 8-bit RGB,
// or RGBA when asked, top row first, and the reader also says how the file
// itself was stored.
// Limits: the whole image is held in memory; no colour management.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An 8-bit image, top row first: RGB as the demo's captures are written, or
// RGBA when read with alpha.
struct RgbImage {
  int width = 0;                 // pixels; 0 when the file could not be read
  int height = 0;                // pixels
  int samples = 3;               // bytes per pixel in `rgb`: 3, or 4 when read with alpha
  bool storedAsRgb8 = false;     // the file itself was 8-bit RGB, no alpha, no palette
  bool storedWithAlpha = false;  // the file itself carried an alpha channel
  std::vector<uint8_t> rgb;      // rows of width x samples bytes

  const uint8_t* At(int x, int y) const {
    return &rgb[(static_cast<size_t>(y) * width + x) * samples];
  }
};

// Reads the PNG at `path` converted to 8-bit RGB, or RGBA when `withAlpha`;
// an empty image (width 0) when the file is missing, not a PNG, or cannot be
// decoded to the end.
RgbImage ReadPng(const std::string& path, bool withAlpha = false);
