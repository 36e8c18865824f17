// A small skinned glTF the tests write themselves: a strip of 10 vertices
// up the y axis, skinned to a chain of three joints (Hip, Knee, Toe) under
// the mesh's own node, with weights that do not total 1 (0.9, 1.3, and one
// vertex with none), and one clip of 2 s that moves the Hip (translation
// keys from 0.5 s to 1.5 s, held outside them), turns the Knee about z
// (its last key the far sign of its rotation, so only the shorter arc is
// right), and scales the Toe. Variants break it in one way each.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/scene.h"

enum class SkinnedGltfFlaw {
  kNone,
  kHeavyWeights,     // a vertex's weights total 2.5
  kKeysOutOfOrder,   // the Knee's second and third key times swapped
  kEqualKeyTimes,    // the Knee's second key at the first key's time
  kNanInverseBind,   // the Knee's inverse bind matrix holds a NaN
};

// Writes NAME.gltf and NAME.bin into `folder`; returns the .gltf's path, ""
// when the files cannot be written.
std::string WriteSkinnedGltf(const std::string& folder, const std::string& name,
                             SkinnedGltfFlaw flaw = SkinnedGltfFlaw::kNone);

// Writes NAME.gltf and NAME.bin into `folder`: the mesh `still` on a node of
// its own and the mesh `moving` on another, with one clip "Slide" that
// moves the second node linearly through `translations` at `times`
// (seconds, rising). Returns the .gltf's path, "" when the files cannot be
// written.
std::string WriteSlidingGltf(const std::string& folder, const std::string& name,
                             const std::vector<Vec3>& stillVertices, const std::vector<Face>& stillFaces,
                             const std::vector<Vec3>& movingVertices, const std::vector<Face>& movingFaces,
                             const std::vector<float>& times, const std::vector<Vec3>& translations);

// The sliding box of the demo's animation tests: a wall (AddWall's default)
// and a 15-unit box in front of it, without texture coordinates, on a node
// moved from (-15, -5, 0) at 0 s to (25, 15, 10) at 2 s. Writes NAME.gltf and
// NAME.bin into `folder`; returns the .gltf's path, "" when the files cannot
// be written.
std::string WriteSlidingBoxGltf(const std::string& folder, const std::string& name);

// A mesh skinned to bones that all hang at the origin under one root node,
// and one clip "Move" (linear keys) that slides the root and turns each
// bone; a still mesh may stand beside it on a node of its own.
struct SkinnedMeshLayout {
  std::vector<Vec3> stillVertices;  // may be empty: no still mesh
  std::vector<Face> stillFaces;
  std::vector<Vec3> vertices;       // the skinned mesh
  std::vector<Face> faces;
  int boneCount = 1;
  std::vector<std::array<uint8_t, 4>> joints;  // per vertex: up to four bones, 0-based...
  std::vector<std::array<float, 4>> weights;   // ...and their weights
  std::vector<float> times;                    // key times in seconds, rising
  std::vector<Vec3> rootTranslations;          // per key
  std::vector<std::vector<std::array<float, 4>>> boneTurns;  // per bone, per key: x, y, z, w
};

// Writes NAME.gltf and NAME.bin into `folder`; returns the .gltf's path, ""
// when the files cannot be written.
std::string WriteSkinnedMeshGltf(const std::string& folder, const std::string& name,
                                 const SkinnedMeshLayout& layout);
