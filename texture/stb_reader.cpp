// stb_image compiled into this file alone, static, from memory only, with
// just the formats this build hands it: the rest of its decoders (and any
// copy another library carries) never meet these bytes.
#include "texture/stb_reader.h"

#include <climits>
#include <cstring>
#include <memory>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#ifdef SV_STB_PNG_JPEG
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#endif
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

bool StartsWith(const uint8_t* data, size_t size, const void* prefix, size_t length) {
  return size >= length && std::memcmp(data, prefix, length) == 0;
}

struct StbFree {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

const char* StbImageFormat(const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0 || size > static_cast<size_t>(INT_MAX)) return nullptr;
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  static const uint8_t kJpeg[3] = {0xFF, 0xD8, 0xFF};
  if (StartsWith(data, size, kPng, sizeof kPng)) {
#ifdef SV_STB_PNG_JPEG
    return "PNG";
#else
    return nullptr;
#endif
  }
  if (StartsWith(data, size, kJpeg, sizeof kJpeg)) {
#ifdef SV_STB_PNG_JPEG
    return "JPEG";
#else
    return nullptr;
#endif
  }
  if (StartsWith(data, size, "BM", 2)) return "BMP";
  // Neither signature: only the TGA test is left for stb_image to pass.
  int width = 0, height = 0, components = 0;
  if (stbi_info_from_memory(data, static_cast<int>(size), &width, &height, &components))
    return "TGA";
  return nullptr;
}

bool DecodeWithStb(const uint8_t* data, size_t size, uint64_t maxPixelBytes,
                   std::vector<uint8_t>* pixels, int32_t* width, int32_t* height, int* samples,
                   std::string* error) {
  pixels->clear();
  *width = *height = *samples = 0;
  if (data == nullptr || size == 0 || size > static_cast<size_t>(INT_MAX)) {
    *error = "stb_image reads files of 1 byte to 2 GiB";
    return false;
  }
  const int length = static_cast<int>(size);
  int w = 0, h = 0, components = 0;
  // stb_image's reason for a header it refuses is always "unknown image
  // type" here (its last test's), so the line says which part failed instead.
  if (!stbi_info_from_memory(data, length, &w, &h, &components)) {
    *error = "its header is damaged or of a kind stb_image does not decode";
    return false;
  }
  if (w <= 0 || h <= 0 || static_cast<uint64_t>(w) * static_cast<uint64_t>(h) > maxPixelBytes / 4) {
    *error = "an image size of 0 or more than " + std::to_string(maxPixelBytes >> 20) +
             " MiB of pixels";
    return false;
  }
  const int wanted = (components == 2 || components == 4) ? 4 : 3;
  int decodedWidth = 0, decodedHeight = 0, fileComponents = 0;
  std::unique_ptr<stbi_uc, StbFree> decoded(stbi_load_from_memory(
      data, length, &decodedWidth, &decodedHeight, &fileComponents, wanted));
  if (!decoded) {
    *error = stbi_failure_reason() ? stbi_failure_reason() : "stb_image cannot read it";
    return false;
  }
  // The header was read once for the cap and once more to decode; the two
  // agree for any file, but the copy goes by what was decoded.
  if (decodedWidth != w || decodedHeight != h) {
    *error = "the image's size changed between reads";
    return false;
  }
  const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * wanted;
  pixels->assign(decoded.get(), decoded.get() + bytes);
  *width = w;
  *height = h;
  *samples = wanted;
  return true;
}
