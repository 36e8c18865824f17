// sv-inspect texture FILE [--png OUT.png]: prints what the program's texture
// readers make of a file (the own TIFF reader's tags, which reader decoded it
// and, when the own reader declined it, why), and optionally writes the
// decoded pixels, top row first, as an 8-bit PNG (RGB for 3 samples, RGBA
// for 4) whichever reader decoded them, so they can be compared with other
// decoders.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "model/scene.h"
#include "texture/texture_loader.h"
#include "tools/reports.h"

namespace {

// Writes rows of width x samples bytes as an 8-bit PNG. Returns false, with
// nothing left half-written on success paths, when the file cannot be made.
bool WritePng(const char* path, const TextureImage& image) {
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
               image.samples == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t rowBytes = static_cast<size_t>(image.width) * image.samples;
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

// argv[0] is "texture". Exit codes: 0 decoded (and PNG written), 2 the file
// cannot be read, no reader decodes it, or the PNG cannot be written, 64 bad
// command line. The line's width, height and samples describe the decoded
// image (the file's own values when nothing decoded it); the other fields are
// the TIFF tags as the own reader read them (photometric=none when absent).
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

  const TextureImage image = LoadTexture(path);
  std::fflush(stdout);  // the reader's own message comes first
  if (image.noFile) {
    std::fprintf(stderr, "sv-inspect: %s\n", DescribeTextureLoad(path, image).c_str());
    return 2;
  }
  const TiffImage& tags = *image.tiff;
  const bool decoded = image.pixels != nullptr;
  std::printf(
      "texture width=%d height=%d samples=%u compression=%u predictor=%u strips=%d bits=%u "
      "photometric=%s planar=%u tiled=%s pixels=%s decoder=%s",
      decoded ? image.width : tags.width, decoded ? image.height : tags.height,
      decoded ? static_cast<unsigned>(image.samples) : tags.samplesPerPixel, tags.compression,
      tags.predictor, tags.stripCount, tags.bitsPerSample,
      tags.photometric < 0 ? "none" : std::to_string(tags.photometric).c_str(),
      tags.planarConfiguration, tags.tiled ? "yes" : "no", decoded ? "yes" : "no",
      TextureDecoderName(image.decoder));
  if (image.decoder != TextureDecoder::kOwn)
    std::printf(" reason=%s", QuotedText(image.note).c_str());
  std::printf("\n");
  if (!decoded) {
    std::fflush(stdout);
    std::fprintf(stderr, "sv-inspect: %s\n", DescribeTextureLoad(path, image).c_str());
    return 2;
  }
  if (pngPath && !WritePng(pngPath, image)) {
    std::fprintf(stderr, "sv-inspect: %s: cannot write the PNG file\n", pngPath);
    return 2;
  }
  return 0;
}
