// The texture upload: the decoded image turned upright and, where OpenGL's
// size limit asks for it, scaled down, then given to the default texture.
#include "render/texture_upload.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "texture/texture_loader.h"

namespace {

// The image's texels as OpenGL reads them for an upright texture: rows
// bottom first, so the image's top row lies at t = 1 as 3DS texture
// coordinates mean it, scaled down by averaging whole blocks of pixels to
// `width` x `height` (at most the image's own size).
std::vector<uint8_t> UprightTexels(const TextureImage& image, int samples, int width, int height) {
  std::vector<uint8_t> texels(static_cast<size_t>(width) * height * samples);
  const int64_t sourceWidth = image.width, sourceHeight = image.height;
  std::vector<uint32_t> sum(samples);
  for (int y = 0; y < height; ++y) {
    // Output row y (bottom first) covers these source rows (top first).
    const int64_t top = height - 1 - y;
    const int64_t y0 = top * sourceHeight / height;
    const int64_t y1 = std::max(y0 + 1, (top + 1) * sourceHeight / height);
    for (int x = 0; x < width; ++x) {
      const int64_t x0 = x * sourceWidth / width;
      const int64_t x1 = std::max(x0 + 1, (x + 1) * sourceWidth / width);
      std::fill(sum.begin(), sum.end(), 0u);
      for (int64_t sy = y0; sy < y1; ++sy) {
        const uint8_t* row = image.pixels + (sy * sourceWidth) * samples;
        for (int64_t sx = x0; sx < x1; ++sx)
          for (int k = 0; k < samples; ++k) sum[k] += row[sx * samples + k];
      }
      const uint32_t count = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
      uint8_t* out = &texels[(static_cast<size_t>(y) * width + x) * samples];
      for (int k = 0; k < samples; ++k) out[k] = static_cast<uint8_t>((sum[k] + count / 2) / count);
    }
  }
  return texels;
}

}  // namespace

// Uploads the decoded image, upright, to the bound texture as RGB. Rows are
// tightly packed, so the unpack alignment is 1; four samples lose their
// alpha. A side above GL_MAX_TEXTURE_SIZE is scaled down to that limit, with a
// note. An image without pixels is not uploaded at all, which leaves the
// texture incomplete and texturing in effect off, as for a missing file; so
// does an upload OpenGL refuses, which is reported. Returns whether a
// texture image was defined.
bool UploadTexture(const TextureImage& image, const std::string& path) {
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return false;
  if (image.samples != 3 && image.samples != 4) return false;
  const int samples = image.samples;
  GLint limit = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
  int width = image.width, height = image.height;
  if (limit > 0 && (width > limit || height > limit)) {
    width = std::min(width, static_cast<int>(limit));
    height = std::min(height, static_cast<int>(limit));
    std::fprintf(stderr,
                 "%s: %d x %d pixels is more than this OpenGL's texture limit of %d; scaled down "
                 "to %d x %d\n",
                 path.c_str(), image.width, image.height, static_cast<int>(limit), width, height);
  }
  std::vector<uint8_t> texels = UprightTexels(image, samples, width, height);
  // The texture is stored as RGB, as it always was (DECAL ignores no alpha
  // it lacks): an RGBA image's alpha is dropped here rather than by OpenGL,
  // since WebGL wants the upload's format to match the stored one.
  if (samples == 4) {
    const size_t pixels = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < pixels; ++i) {
      for (int k = 0; k < 3; ++k) texels[3 * i + k] = texels[4 * i + k];
    }
    texels.resize(pixels * 3);
  }
  // Errors left by earlier calls would be blamed on the upload.
  for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    std::fprintf(stderr, "%s: OpenGL refused the %d x %d texture (error 0x%04X); drawing untextured\n",
                 path.c_str(), width, height, static_cast<unsigned>(error));
    return false;
  }
  return true;
}

