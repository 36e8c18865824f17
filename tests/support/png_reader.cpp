// libpng's simplified reader behind ReadPng; see png_reader.h.
#include "tests/support/png_reader.h"

#include <png.h>

RgbImage ReadPng(const std::string& path, bool withAlpha) {
  RgbImage image;
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return image;
  const bool storedAsRgb8 = png.format == PNG_FORMAT_RGB;
  const bool storedWithAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  png.format = withAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) {
    png_image_free(&png);
    return image;
  }
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.samples = withAlpha ? 4 : 3;
  image.storedAsRgb8 = storedAsRgb8;
  image.storedWithAlpha = storedWithAlpha;
  image.rgb = std::move(rgb);
  return image;
}
