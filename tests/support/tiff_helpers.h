// Writing and decoding TIFF files with libtiff, for tests and benchmarks that
// need real TIFF files and an independent decoding of them. No GoogleTest here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How a test image is stored. compression is a libtiff COMPRESSION_* value
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
};

// Writes pixels (height rows of width x samples bytes) as a TIFF through
// libtiff, little-endian unless layout.bigEndian. Returns false when libtiff
// refuses or pixels is too short.
bool WriteTiffWithLibtiff(const std::string& path, const TiffLayout& layout,
                          const std::vector<uint8_t>& pixels);

// libtiff's own decoding of the first image: TIFFReadEncodedStrip over every
// strip, one after another. Empty when libtiff cannot read the file.
std::vector<uint8_t> DecodeTiffWithLibtiff(const std::string& path);

// Number of strips libtiff sees in the file, or -1.
int TiffStripCountWithLibtiff(const std::string& path);

// Test content that exercises a codec: smooth gradients, noise, flat areas and
// sharp edges, the same for the same arguments.
std::vector<uint8_t> VariedPixels(int width, int height, int samples, uint32_t seed);

// Turns off libtiff's warnings and errors on stderr (tests feed it odd files).
void SilenceLibtiff();
