// An evaluation of an animated file's pose written apart from the product:
// assimp imports the file (triangulated, nothing pre-transformed), and plain
// double-precision 4x4 matrices pose it, key by key, node by node. It is the
// truth the player is checked against. No GoogleTest here.
#pragma once

#include <string>
#include <vector>

#include "model/scene.h"
#include "tests/support/assimp_oracle.h"

// What the file's clips are, as assimp gives them.
struct AssimpClipInfo {
  std::string name;
  double durationSeconds = 0;
};

// The vertices of every mesh that has a triangle, mesh by mesh in the order
// the nodes come depth first (a node before its children, children in file
// order), posed by clip `clip` at `seconds` (looped over the clip's
// duration; ticks per second 25 where the file says 0): morphed first
// (base + sum of weight x (target - base), weights from the morph channel
// named after the mesh's node), then each vertex the sum
// of (weight / total) x global(bone node) x offset x v, or global(mesh node)
// x v without weights or bones (rotation keys taken as unit quaternions); a bone naming no node counts as the mesh's
// node without its offset. False, with *error, when assimp cannot read it or
// it has no clip `clip`.
bool AssimpPosedVertices(const std::string& path, int clip, double seconds, std::vector<Vec3>* out,
                         std::string* error);

// The triangles of the same pose (indices out of range are the caller's
// file's fault: only files whose faces are sound are posed here). With
// `undoRoot` the root node's own transform is left out: for a 3DS file,
// assimp's turn from z-up to y-up, so the triangles are in the file's axes.
// Empty, with *error, when the file cannot be posed.
std::vector<WorldTriangle> AssimpPosedTriangles(const std::string& path, int clip, double seconds,
                                                bool undoRoot, std::string* error);

// The file's clips; empty when assimp cannot read it.
std::vector<AssimpClipInfo> AssimpClips(const std::string& path);
