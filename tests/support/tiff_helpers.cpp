// libtiff-backed helpers for tests and benchmarks: decode files with libtiff
// as the reference the program's reader is compared with.
#include "tests/support/tiff_helpers.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>

std::vector<uint8_t> DecodeTiffWithLibtiff(const std::string& path) {
  std::vector<uint8_t> out;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return out;
  const tmsize_t stripSize = TIFFStripSize(tif);
  const uint32_t strips = TIFFNumberOfStrips(tif);
  std::vector<uint8_t> strip(static_cast<size_t>(stripSize));
  for (uint32_t i = 0; i < strips; ++i) {
    tmsize_t got = TIFFReadEncodedStrip(tif, i, strip.data(), stripSize);
    if (got < 0) {
      out.clear();
      break;
    }
    out.insert(out.end(), strip.begin(), strip.begin() + got);
  }
  TIFFClose(tif);
  return out;
}

std::vector<uint8_t> DecodeRgbaWithLibtiff(const std::string& path, int* width, int* height) {
  std::vector<uint8_t> out;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return out;
  uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  std::vector<uint32_t> raster(static_cast<size_t>(w) * h);
  if (w > 0 && h > 0 &&
      TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 1)) {
    for (uint32_t p : raster) {
      out.insert(out.end(), {static_cast<uint8_t>(TIFFGetR(p)), static_cast<uint8_t>(TIFFGetG(p)),
                             static_cast<uint8_t>(TIFFGetB(p)), static_cast<uint8_t>(TIFFGetA(p))});
    }
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
  }
  TIFFClose(tif);
  return out;
}

int TiffStripCountWithLibtiff(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return -1;
  int strips = static_cast<int>(TIFFNumberOfStrips(tif));
  TIFFClose(tif);
  return strips;
}

std::vector<uint8_t> VariedPixels(int width, int height, int samples, uint32_t seed) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * samples);
  uint32_t state = seed * 2654435761u + 1;
  size_t i = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int region = ((x * 4 / (width + 1)) + (y * 4 / (height + 1))) % 4;
      for (int s = 0; s < samples; ++s) {
        state = state * 1664525u + 1013904223u;  // LCG: reproducible noise
        uint8_t v = 0;
        switch (region) {
          case 0:
            v = static_cast<uint8_t>(x * (s + 1) + y * 3);
            break;  // gradient
          case 1:
            v = static_cast<uint8_t>(state >> 24);
            break;  // noise
          case 2:
            v = static_cast<uint8_t>(60 * s + 17);
            break;  // flat
          default:
            v = ((x / 7 + y / 5) & 1) ? 250 : static_cast<uint8_t>(5 + s);
            break;  // edges
        }
        pixels[i++] = v;
      }
    }
  }
  return pixels;
}

void SilenceLibtiff() {
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
}

bool SampleUpright(const std::vector<uint8_t>& pixels, int width, int height, int samples,
                   double u, double v, int margin, double out[3]) {
  // Texel rows counted from the bottom, as OpenGL's t runs.
  const double s = u * width - 0.5, t = v * height - 0.5;
  const int i = static_cast<int>(std::floor(s)), j = static_cast<int>(std::floor(t));
  const double fs = s - i, ft = t - j;
  auto texel = [&](int x, int y, int k) {
    x = ((x % width) + width) % width;
    y = ((y % height) + height) % height;
    const size_t row = static_cast<size_t>(height - 1 - y);
    return static_cast<double>(pixels[(row * width + x) * samples + k]);
  };
  for (int k = 0; k < 3; ++k) {
    double low = 255, high = 0;
    for (int y = j - margin; y <= j + 1 + margin; ++y)
      for (int x = i - margin; x <= i + 1 + margin; ++x) {
        low = std::min(low, texel(x, y, k));
        high = std::max(high, texel(x, y, k));
      }
    if (high - low > 8) return false;
    out[k] = (1 - ft) * ((1 - fs) * texel(i, j, k) + fs * texel(i + 1, j, k)) +
             ft * ((1 - fs) * texel(i, j + 1, k) + fs * texel(i + 1, j + 1, k));
  }
  return true;
}
