// Giving a decoded texture image to OpenGL, at set-up and when a new texture
// replaces it during the run. Needs a current OpenGL context.
#pragma once

#include <string>

struct TextureImage;

// Uploads `image` upright (its top row at t = 1) to the default texture;
// false, leaving the texture incomplete and texturing in effect off, for an
// image without pixels or one OpenGL refuses (reported on standard error
// naming `path`). A side above GL_MAX_TEXTURE_SIZE is scaled down to that
// limit, with a note naming `path`.
bool UploadTexture(const TextureImage& image, const std::string& path);
