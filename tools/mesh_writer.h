// Writes a one-object 3DS model: the main chunk, the editor data, one named
// object holding one triangle mesh with its vertex list, optional texture
// coordinates, optional local matrix and face list. Used by tools/make-scene
// for the shipped model and by the tests for their test-made models; the
// chunk-level pieces also serve the 3DS reader's tests, which build files of
// their own shape.
// Limits: counts and face indices are stored as the format's 16-bit values,
// so meshes must stay under 65536 vertices and faces; no materials.
#pragma once

#include <string>
#include <vector>

#include "model/scene.h"
#include "tools/chunk_writer.h"

// Writes a vertex list chunk (0x4110): the count, then x, y, z of each.
void WriteVertexList(ChunkWriter& w, const std::vector<Vec3>& vertices);

// Writes a texture coordinate chunk (0x4140): the count, then u, v of each.
void WriteTexCoords(ChunkWriter& w, const std::vector<TexCoord>& texCoords);

// Opens a face list chunk (0x4120) and writes the count and the faces, all
// three edges visible; sub-chunks (face materials) may follow before End().
void BeginFaceList(ChunkWriter& w, const std::vector<Face>& faces);

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
