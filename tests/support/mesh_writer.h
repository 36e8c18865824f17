// Writes a one-object 3DS model: the main chunk, the editor data, one named
// object holding one triangle mesh with its vertex list, optional texture
// coordinates, optional local matrix and face list. Used by tools/make-scene
// for the shipped model and by the render tests for their test-made models.
// Limits: counts and face indices are stored as the format's 16-bit values,
// so meshes must stay under 65536 vertices and faces; no materials.
#pragma once

#include <string>
#include <vector>

#include "model/scene.h"

// What goes around the mesh in the file.
struct MeshFileLayout {
  const char* objectName = "Mesh";  // the named object's name
  bool versionChunks = false;       // file and mesh version chunks, both 3
  bool identityMatrix = false;      // a local matrix chunk: identity rotation, no translation
};

// Writes the mesh as the first and only object of a 3DS file at `path`; the
// texture coordinate chunk is left out when `texCoords` is empty, and every
// face has all three edges visible. False when the file cannot be written.
bool WriteMeshModel(const std::string& path, const MeshFileLayout& layout,
                    const std::vector<Vec3>& vertices, const std::vector<TexCoord>& texCoords,
                    const std::vector<Face>& faces);
