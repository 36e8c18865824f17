// Release of the scene records, and the quoting of their names for messages.
// The program itself keeps its one scene until it exits; tools and tests
// release theirs.
#include "model/scene.h"

#include <cstdio>
#include <cstring>

void FreeMeshObject(MeshObject* object) {
  if (object == nullptr) return;
  delete[] object->vertices;
  delete[] object->vertexNormals;
  delete[] object->faces;
  delete[] object->faceNormals;
  delete[] object->texCoords;
  delete[] object->edges;
  delete[] object->faceMaterials;
  delete object;
}

void FreeScene(Scene* scene) {
  if (scene == nullptr) return;
  for (int i = 0; i < scene->objectCount; ++i) FreeMeshObject(scene->objects[i]);
  for (int i = 0; i < scene->materialCount; ++i) delete scene->materials[i];
  delete[] scene->objects;
  delete[] scene->materials;
  delete scene;
}

std::string QuotedText(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string QuotedName(const char* name) {
  return QuotedText(std::string(name, strnlen(name, kNameSize)));
}

std::string MaterialTextureName(const Material& material) {
  if (!material.textureName.empty()) return material.textureName;
  return std::string(material.textureMap.fileName,
                     strnlen(material.textureMap.fileName, kNameSize));
}
