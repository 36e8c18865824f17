// Writes RGB and RGBA TIFF files through libtiff: tools/make-scene writes the
// shipped texture with it, and the tests and benchmarks make their TIFF files
// with it, so the files the reader meets come from a writer nobody here wrote.
// Limits: 8 or 16 bits per sample, contiguous samples, one image per file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How an image is stored. compression is a libtiff COMPRESSION_* value
// (1 none, 5 LZW); predictor 1 none, 2 horizontal differencing; rowsPerStrip
// 0 lets libtiff choose (about 8 KiB per strip).
struct TiffLayout {
  int width = 1;
  int height = 1;
  int samples = 3;  // 3 RGB or 4 RGBA, 8 bits each
  int compression = 1;
  int predictor = 1;
  int rowsPerStrip = 0;
  bool bigEndian = false;  // "MM" byte order instead of "II"
  int bits = 8;            // 8, or 16 (pixels then hold native-endian 16-bit samples)
  int photometric = 2;     // 2 RGB; 1 grayscale (1 sample), 5 CMYK (4 samples, no alpha)
};

// Writes pixels (height rows of width x samples x bits / 8 bytes) as a TIFF through
// libtiff, little-endian unless layout.bigEndian. Returns false when libtiff
// refuses or pixels is too short.
bool WriteTiffWithLibtiff(const std::string& path, const TiffLayout& layout,
                          const std::vector<uint8_t>& pixels);
