// The looks of a model whose materials decide them, and every texture
// upload: images go to OpenGL upright, scaled down to its size limit, as RGB.
// Every message starts with the path it is about.
#include "render/scene_textures.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "io/folder_lookup.h"
#include "io/whole_file.h"
#include "model/material_texture.h"
#include "render/render_state.h"
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

namespace {

// A new texture object with the default texture's parameters, holding
// `image` upright; 0 when it has no pixels or OpenGL refuses it.
unsigned int MakeTextureObject(const TextureImage& image, const std::string& name) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  const bool uploaded = UploadTexture(image, name);
  glBindTexture(GL_TEXTURE_2D, GlContext.sceneTexture);
  if (!uploaded) {
    glDeleteTextures(1, &texture);
    return 0;
  }
  return texture;
}

// The decoded image of a texture found for a material.
TextureImage ReadMaterialTexture(const Scene& scene, const TextureSource& source) {
  if (source.embedded < 0)
    return LoadTextureFromFile(ReadLocated(source.file, kTextureFileLimits, nullptr),
                               source.path.c_str());
  const EmbeddedTexture& embedded = scene.embeddedTextures[source.embedded];
  if (embedded.width == 0)
    return LoadTextureFromMemory(embedded.bytes.data(), embedded.bytes.size(),
                                 embedded.name.c_str());
  TextureImage image;  // raw RGBA texels
  if (embedded.height <= 0 ||
      embedded.bytes.size() / 4 / static_cast<size_t>(embedded.width) <
          static_cast<size_t>(embedded.height))
    return image;
  image.width = embedded.width;
  image.height = embedded.height;
  image.samples = 4;
  image.decodedPixels = embedded.bytes;
  image.pixels = image.decodedPixels.data();
  return image;
}

}  // namespace

std::vector<MaterialLook> MakeMaterialLooks(const Scene& scene, const MeshObject& mesh,
                                            const std::string& modelPath) {
  std::vector<MaterialLook> looks(static_cast<size_t>(scene.materialCount) + 1);
  std::map<std::string, unsigned int> made;  // by path or "*N"
  for (int m = 0; m < scene.materialCount; ++m) {
    const Material& material = *scene.materials[m];
    MaterialLook& look = looks[m];
    look.colour[0] = ((material.diffuseColour >> 16) & 0xFF) / 255.0f;
    look.colour[1] = ((material.diffuseColour >> 8) & 0xFF) / 255.0f;
    look.colour[2] = (material.diffuseColour & 0xFF) / 255.0f;
    const std::string name = MaterialTextureName(material);
    if (name.empty()) continue;
    const TextureSource source = FindMaterialTexture(scene, material, modelPath);
    const std::string key = source.embedded >= 0 ? "*" + std::to_string(source.embedded) : source.path;
    if (key.empty()) {
      std::fprintf(stderr, "%s: texture %s of material %s %s; the material shows its colour\n",
                   modelPath.c_str(), QuotedText(name).c_str(), QuotedName(material.name).c_str(),
                   source.why.c_str());
      continue;
    }
    const auto known = made.find(key);
    if (known != made.end()) {
      look.texture = known->second;
      continue;
    }
    const std::string shown = source.embedded >= 0 ? modelPath + " (embedded " + name + ")" : source.path;
    const TextureImage image = ReadMaterialTexture(scene, source);
    look.texture = MakeTextureObject(image, shown);
    if (image.pixels == nullptr) {
      const std::string note = DescribeTextureLoad(shown.c_str(), image);
      std::fflush(stdout);  // the TIFF reader's own message comes first
      std::fprintf(stderr, "%s; material %s shows its colour\n",
                   note.empty() ? (shown + ": cannot decode the texture").c_str() : note.c_str(),
                   QuotedName(material.name).c_str());
    }
    made[key] = look.texture;
  }
  for (int f = 0; f < mesh.faceCount; ++f) {
    const int32_t m = mesh.faceMaterials != nullptr ? mesh.faceMaterials[f] : -1;
    looks[m >= 0 && m < scene.materialCount ? m : scene.materialCount].faces.push_back(f);
  }
  return looks;
}

