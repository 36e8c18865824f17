// sv-inspect texture FILE [--png OUT.png]: prints what the program's TIFF
// reader makes of a file, and optionally writes the decoded pixels as an
// 8-bit PNG (RGB for 3 samples, RGBA for 4) so they can be compared with
// other decoders.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "texture/tiff_image.h"
#include "tools/inspect.h"

namespace {

// Writes rows of width x samples bytes as an 8-bit PNG. Returns false, with
// nothing left half-written on success paths, when the file cannot be made.
bool WritePng(const char* path, const TiffImage& image) {
  FILE* out = std::fopen(path, "wb");
  if (!out) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    std::fclose(out);
    return false;
  }
  // libpng reports errors by longjmp; nothing here has a destructor to skip.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
    return false;
  }
  png_init_io(png, out);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8,
               image.samplesPerPixel == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t rowBytes = static_cast<size_t>(image.width) * image.samplesPerPixel;
  for (int32_t row = 0; row < image.height; ++row) {
    png_write_row(png, image.pixels + rowBytes * row);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(out) == 0;
}

int TextureUsage() {
  std::fprintf(stderr, "usage: sv-inspect texture FILE [--png OUT.png]\n");
  return 64;
}

}  // namespace

// argv[0] is "texture". Exit codes: 0 read (and PNG written), 2 the file
// cannot be read or the PNG cannot be written, 64 bad command line.
int InspectTexture(int argc, char** argv) {
  const char* path = nullptr;
  const char* pngPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--png") == 0) {
      if (i + 1 >= argc || pngPath) return TextureUsage();
      pngPath = argv[++i];
    } else if (!path && argv[i][0] != '-') {
      path = argv[i];
    } else {
      return TextureUsage();
    }
  }
  if (!path) return TextureUsage();

  auto image = std::make_unique<TiffImage>();
  if (!image->LoadTiff(path)) {
    std::fflush(stdout);  // the reader's own message comes first
    std::fprintf(stderr, "sv-inspect: %s: %s\n", path, DescribeTiffLoadFailure(image->failure));
    return 2;
  }
  std::printf(
      "texture width=%d height=%d samples=%u compression=%u predictor=%u strips=%d pixels=%s\n",
      image->width, image->height, image->samplesPerPixel, image->compression, image->predictor,
      image->stripCount, image->pixels ? "yes" : "no");
  if (!pngPath) return 0;
  if (!image->pixels) {
    std::fprintf(stderr, "sv-inspect: %s: no pixels to write to %s (samples per pixel %u)\n", path,
                 pngPath, image->samplesPerPixel);
    return 2;
  }
  if (!WritePng(pngPath, *image)) {
    std::fprintf(stderr, "sv-inspect: %s: cannot write the PNG file\n", pngPath);
    return 2;
  }
  return 0;
}
