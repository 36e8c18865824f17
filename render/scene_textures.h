// How the scene's model looks: the texture over the whole model, or one look
// per material (its texture or its diffuse colour), uploaded to OpenGL. Needs
// the scene's OpenGL context current.
#pragma once

#include <string>
#include <vector>

#include "model/scene.h"
#include "render/render_state.h"

struct TextureImage;

// Uploads the decoded image, upright (its top row at t = 1), to the bound
// texture as RGB. Rows are tightly packed, so the unpack alignment is 1; four
// samples lose their alpha. A side above GL_MAX_TEXTURE_SIZE is scaled down
// to that limit, with a note naming `path`. An image without pixels is not
// uploaded at all, which leaves the texture incomplete and texturing in
// effect off, as for a missing file; so does an upload OpenGL refuses, which
// is reported. Returns whether a texture image was defined.
bool UploadTexture(const TextureImage& image, const std::string& path);

// One look per material of `scene`, and one for the faces without a
// material (the last), each holding `mesh`'s faces of that material: the
// material's texture when it names one that can be read, its diffuse colour
// otherwise. A texture that cannot be found or read gives one line naming it
// beside `modelPath`. Textures named by several materials are read once and
// share one texture object.
std::vector<MaterialLook> MakeMaterialLooks(const Scene& scene, const MeshObject& mesh,
                                            const std::string& modelPath);
