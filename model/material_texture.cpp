// The lookup of a material's texture; see material_texture.h for the order.
#include "model/material_texture.h"

#include <strings.h>

#include <cstdlib>

#include "io/folder_lookup.h"

namespace {

bool HasParentComponent(const std::string& name) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

TextureSource FindMaterialTexture(const Scene& scene, const Material& material,
                                  const std::string& modelPath) {
  TextureSource source;
  const std::string name = MaterialTextureName(material);
  if (name.empty()) return source;
  const std::vector<EmbeddedTexture>& embedded = scene.embeddedTextures;
  if (name[0] == '*' && name.size() > 1 && name.size() < 10 &&
      name.find_first_not_of("0123456789", 1) == std::string::npos) {
    const long index = std::strtol(name.c_str() + 1, nullptr, 10);
    if (index >= 0 && static_cast<size_t>(index) < embedded.size()) {
      source.embedded = static_cast<int>(index);
      return source;
    }
    source.why = "names an embedded image the file does not hold";
    return source;
  }
  const std::string last = LastComponent(name);
  for (size_t i = 0; i < embedded.size(); ++i) {
    const std::string& file = embedded[i].fileName;
    if (!file.empty() && (strcasecmp(file.c_str(), name.c_str()) == 0 ||
                          strcasecmp(LastComponent(file).c_str(), last.c_str()) == 0)) {
      source.embedded = static_cast<int>(i);
      return source;
    }
  }
  const std::string folder = FolderOf(modelPath);
  bool found = LocateInFolder(folder, name, &source.file, &source.why);
  if (!found && HasParentComponent(name))
    return source;  // refused, not looked up by its last component
  if (!found) {
    std::string lastWhy;
    found = LocateInFolder(folder, last, &source.file, &lastWhy);
    if (!found && source.why.find("outside") == std::string::npos) source.why = lastWhy;
  }
  if (found) {
    source.path = source.file.path;
    source.why.clear();
  }
  return source;
}

bool AnyMaterialNamesTexture(const Scene& scene) {
  for (int i = 0; i < scene.materialCount; ++i)
    if (scene.materials[i] != nullptr && !MaterialTextureName(*scene.materials[i]).empty())
      return true;
  return false;
}
