// Where a material's texture comes from: an image embedded in the model file,
// or a file in the model's own folder. Looked up in this order: an embedded
// image named "*N"; an embedded image whose file name matches the name (or its
// last component); the name relative to the model's folder; its last
// component beside the model (".\\SpiderTex.jpg", "C:\\maps\\WOOD.JPG").
// Letter case is forgiven (io/folder_lookup.h). A name with a ".." component
// is refused outright: nothing outside the model's folder is read.
#pragma once

#include <string>

#include "io/folder_lookup.h"
#include "model/scene.h"

struct TextureSource {
  int embedded = -1;  // index in Scene::embeddedTextures, -1 when not embedded
  std::string path;   // the file to read, "" when none was found or it is embedded
  FolderFile file;    // path as located: read it with ReadLocated, which opens what was checked
  std::string why;    // neither: why ("is not in the model's folder", ...)
};

// Finds the texture `material` names for the model read from `modelPath`.
// A material that names none gives an empty TextureSource with an empty why.
TextureSource FindMaterialTexture(const Scene& scene, const Material& material,
                                  const std::string& modelPath);

// Whether any material of `scene` names a texture.
bool AnyMaterialNamesTexture(const Scene& scene);
