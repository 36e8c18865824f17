// An evaluation of an animated file's pose written apart from the product:
// assimp imports the file (triangulated, nothing pre-transformed), and plain
// double-precision 4x4 matrices pose it, key by key, node by node. It is the
// truth the player is checked against. No GoogleTest here.
#pragma once

#include <string>
#include <vector>

#include "model/scene.h"

// What the file's clips are, as assimp gives them.
struct AssimpClipInfo {
  std::string name;
  double durationSeconds = 0;
};

// The vertices of every mesh that has a triangle, mesh by mesh in the order
// the nodes come depth first (a node before its children, children in file
// order), posed by clip `clip` at `seconds` (looped over the clip's
// duration; ticks per second 25 where the file says 0): each vertex the sum
// of (weight / total) x global(bone node) x offset x v, or global(mesh node)
// x v without weights or bones (rotation keys taken as unit quaternions); a bone naming no node counts as the mesh's
// node without its offset. False, with *error, when assimp cannot read it or
// it has no clip `clip`.
bool AssimpPosedVertices(const std::string& path, int clip, double seconds, std::vector<Vec3>* out,
                         std::string* error);

// The file's clips; empty when assimp cannot read it.
std::vector<AssimpClipInfo> AssimpClips(const std::string& path);
