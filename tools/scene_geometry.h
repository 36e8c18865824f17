// The shipped scene, built procedurally: one mesh holding a back wall slab and
// the casters in front of it (a torus, a sphere, a box), and the texture that
// shows how the mesh is mapped. make-scene writes them to "shadow2.3DS" and
// "txt.tif"; the tests check the mesh is closed and wound outwards.
// Every part is a closed surface wound counter-clockwise seen from outside,
// sharing vertex indices along its edges except at texture seams (the sphere's
// and the torus's u = 1 / v = 1 columns repeat positions with other texture
// coordinates). Everything is deterministic: the same numbers on every build.
#pragma once

#include <cstdint>
#include <vector>

#include "model/scene.h"

struct SceneMesh {
  std::vector<Vec3> vertices;
  std::vector<TexCoord> texCoords;  // one per vertex
  std::vector<Face> faces;          // counter-clockwise seen from outside
};

struct SceneTexture {
  int width = 0;             // pixels
  int height = 0;            // pixels
  std::vector<uint8_t> rgb;  // rows of width x 3 bytes, top row first
};

// Where the scene's parts sit; the wall's front face is at z = kWallFront.
constexpr float kWallHalfSize = 110.0f;  // the wall spans -110 .. 110 in x and y
constexpr float kWallFront = -40.0f;     // z of the face towards the viewer
constexpr float kWallBack = -46.0f;      // z of the face away from the viewer

// The whole mesh of the shipped scene, between 2,000 and 20,000 faces.
SceneMesh BuildShippedMesh();

// The 256 x 256 procedural texture: a tinted checkerboard with grid lines and
// a red mark at the image's top-left corner, so the mapping's scale and
// orientation can be seen on the model: drawn upright (top row at v = 1), the
// mark shows at the top left of every repeat.
SceneTexture BuildShippedTexture();
