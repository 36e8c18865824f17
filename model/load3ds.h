// The 3DS model reader: turns a 3DS chunk file into a Scene (model/scene.h).
//
// The file is walked as one flat sequence of chunk headers: chunks whose
// contents matter are entered, chunks with data of interest have it read,
// everything else is skipped whole. Mesh data goes to the most recent mesh
// object, material properties to the most recent material.
// Untrusted bytes are read through a bounded reader: nothing is read or
// written out of bounds whatever the file holds. Data cut off by the end of
// the file is zero and ends the walk; face indices are kept as the file gives
// them, so callers that index vertices must check the mesh with ValidateMesh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/scene.h"

// Reads the 3DS file at `path`. Texture coordinates are read only when
// `readTexCoords` is 1. Returns a new Scene owned by the caller (release it
// with FreeScene), or null when the file cannot be read or does not start
// with the bytes 4D 4D. Prints nothing.
Scene* Load3dsScene(const char* path, int readTexCoords);

// The same reader over bytes already in memory (`size` bytes at `data`).
Scene* Load3dsSceneFromBytes(const uint8_t* data, size_t size, int readTexCoords);

// Reads the whole file at `path` into `bytes`. On failure returns false and
// leaves errno's code in `*errorNumber` (when not null).
bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes, int* errorNumber);

// The first face of a mesh that names a vertex the mesh does not have.
struct MeshDefect {
  int32_t face;         // index of that face, -1 when every face is sound
  int32_t vertex;       // the index it names: below 0 or at least vertexCount
  int32_t vertexCount;  // the mesh's vertex count
};

// Checks every face index of `object` against its vertex count and reports
// the first one out of range (face -1 when there is none).
MeshDefect ValidateMesh(const MeshObject& object);

// Says what is wrong, for an error message:
// "shadow2.3DS: face 17 names vertex 912 but the mesh has 640 vertices".
// An empty string when the defect's face is -1.
std::string DescribeMeshDefect(const char* fileName, const MeshDefect& defect);
