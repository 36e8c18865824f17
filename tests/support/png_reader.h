// Reads the demo's PNG captures back for the tests, through libpng's
// simplified reader: any PNG comes out as 8-bit RGB, top row first, and the
// reader also says whether the file itself was stored that way.
// Limits: the whole image is held in memory; no colour management.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An 8-bit RGB image, top row first, as the demo's captures are written.
struct RgbImage {
  int width = 0;              // pixels; 0 when the file could not be read
  int height = 0;             // pixels
  bool storedAsRgb8 = false;  // the file itself was 8-bit RGB, no alpha, no palette
  std::vector<uint8_t> rgb;   // rows of width x 3 bytes

  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// Reads the PNG at `path` converted to 8-bit RGB; an empty image (width 0)
// when the file is missing, not a PNG, or cannot be decoded to the end.
RgbImage ReadPng(const std::string& path);
