// The stage of --stage: a floor under the model's bounding box and a wall
// behind it (towards -z, away from the starting eye), so that a model which
// brings nothing to catch its shadow gets something. Both are grids fine
// enough for per-vertex lighting, appended to the model's mesh so they are
// lit and shadowed with it; the frame's texture pass leaves them out, so
// they stay neutral white.
#pragma once

#include "model/scene.h"

// Quads along each side of the floor and of the wall.
constexpr int kStageCells = 48;

// A new mesh (release it with FreeMeshObject): `model`'s vertices, texture
// coordinates and faces first, unchanged, then the floor's and the wall's
// (texture coordinates 0, 0). The floor lies just below the box of the
// model's finite vertices and reaches well beyond it; the wall stands
// behind the box on the floor. Derived arrays are null. Null when the model
// has no finite vertex.
MeshObject* MeshWithStage(const MeshObject& model);
