// Decoding TIFF files with libtiff, for tests and benchmarks that need an
// independent decoding of the files they write (the writer, which make-scene
// uses too, lives in tools/tiff_writer.h and comes with this header).
// No GoogleTest here: the benchmarks link it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tiff_writer.h"

// libtiff's own decoding of the first image: TIFFReadEncodedStrip over every
// strip, one after another. Empty when libtiff cannot read the file.
std::vector<uint8_t> DecodeTiffWithLibtiff(const std::string& path);

// libtiff's own RGBA decoding of the first image (TIFFReadRGBAImageOriented,
// top row first), four bytes per pixel; empty when libtiff cannot read it.
std::vector<uint8_t> DecodeRgbaWithLibtiff(const std::string& path, int* width, int* height);

// Number of strips libtiff sees in the file, or -1.
int TiffStripCountWithLibtiff(const std::string& path);

// Test content that exercises a codec: smooth gradients, noise, flat areas and
// sharp edges, the same for the same arguments.
std::vector<uint8_t> VariedPixels(int width, int height, int samples, uint32_t seed);

// The colour an image shows at texture coordinates (u, v) when drawn upright
// (its top row at v = 1) with repeat wrapping and OpenGL's bilinear filter:
// the first three samples of `pixels` (rows top first, `samples` bytes per
// pixel) into `out`, 0..255. False where the texels near the point differ by
// more than 8 levels, so that sub-texel rounding cannot tip the answer: the
// 2 x 2 texels the filter reads, widened by `margin` texels on every side.
bool SampleUpright(const std::vector<uint8_t>& pixels, int width, int height, int samples,
                   double u, double v, int margin, double out[3]);

// Turns off libtiff's warnings and errors on stderr (tests feed it odd files).
void SilenceLibtiff();
