// assimp as an oracle for where the model readers put geometry: the
// triangles of a file as assimp's importer places them, its exporter to
// make test files from the assimp-testmodels, and a comparison of triangle
// sets that needs no common vertex or face order (assimp splits meshes by
// material and unshares vertices). No GoogleTest here.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "model/scene.h"

// One triangle: its corners in winding order, x y z each.
using WorldTriangle = std::array<float, 9>;

// The triangles of every mesh of the file at `path` as assimp imports it
// (triangulated; points and lines left out), each through its node's world
// transform. With `undoRoot`, the root node's own transform is taken off
// again: for a 3DS file that is assimp's turn from z-up to y-up (and the
// master scale), so the triangles are in the file's own axes. Empty, with
// *error set, when assimp cannot read the file.
std::vector<WorldTriangle> AssimpWorldTriangles(const std::string& path, bool undoRoot,
                                                std::string* error);

// Writes the scene assimp imports from `source` (no post-processing of ours)
// with assimp's exporter for `formatId` ("3ds") to `out`; false, with
// *error set, when it cannot.
bool ExportWithAssimp(const std::string& source, const std::string& formatId,
                      const std::string& out, std::string* error);

// The triangles of a mesh, corners in face order.
std::vector<WorldTriangle> MeshTriangles(const MeshObject& mesh);

// How many of `ours` have no partner among `theirs`: a triangle of theirs,
// each used once, whose corners lie within `tolerance` of ours per
// coordinate in the same cyclic order (the winding kept, the first corner
// free).
int UnmatchedTriangles(const std::vector<WorldTriangle>& ours,
                       const std::vector<WorldTriangle>& theirs, float tolerance);

// The largest absolute coordinate of the triangles (0 for none).
float LargestCoordinate(const std::vector<WorldTriangle>& triangles);

// The meshes assimp imports from `path` with aiProcess_PreTransformVertices
// and aiProcess_Triangulate, one after another as a model viewer would merge
// them: vertices, texture coordinate set 0 ((0, 0) for a mesh without one),
// and triangles (points and lines skipped) with indices offset by the
// vertices before them. A mesh without triangles is skipped whole.
struct AssimpMergedMesh {
  std::vector<Vec3> vertices;
  std::vector<TexCoord> texCoords;
  std::vector<Face> faces;
  bool anyTexCoords = false;
};

// False, with *error set, when assimp cannot read the file.
bool AssimpPreTransformed(const std::string& path, AssimpMergedMesh* out, std::string* error);
