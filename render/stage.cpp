// The stage's two grids, wound counter-clockwise as seen from the model's
// side (the floor from above, the wall from the front).
#include "render/stage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr int kGridVertices = (kStageCells + 1) * (kStageCells + 1);
constexpr int kGridFaces = 2 * kStageCells * kStageCells;

// Writes a grid of corner + i/cells x across + j/cells x up (i, j from 0 to
// cells) at vertices[first ...] and its faces at faces[0 ...], each cell two
// triangles counter-clockwise seen from across x up.
void WriteGrid(Vec3 corner, Vec3 across, Vec3 up, int32_t first, Vec3* vertices, Face* faces) {
  const float cells = static_cast<float>(kStageCells);
  for (int j = 0; j <= kStageCells; ++j) {
    for (int i = 0; i <= kStageCells; ++i) {
      const float s = static_cast<float>(i) / cells, t = static_cast<float>(j) / cells;
      vertices[first + j * (kStageCells + 1) + i] = Vec3{corner.x + s * across.x + t * up.x,
                                                         corner.y + s * across.y + t * up.y,
                                                         corner.z + s * across.z + t * up.z};
    }
  }
  for (int j = 0; j < kStageCells; ++j) {
    for (int i = 0; i < kStageCells; ++i) {
      const int32_t a = first + j * (kStageCells + 1) + i, b = a + 1;
      const int32_t c = a + kStageCells + 1, d = c + 1;
      *faces++ = Face{a, b, d};
      *faces++ = Face{a, d, c};
    }
  }
}

}  // namespace

MeshObject* MeshWithStage(const MeshObject& model) {
  Vec3 low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
  for (int32_t v = 0; v < model.vertexCount; ++v) {
    const Vec3& p = model.vertices[v];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
    low = Vec3{std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = Vec3{std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
  }
  if (!(low.x <= high.x)) return nullptr;
  // The box's largest half-extent sets the scale; a flat or point-like model
  // still gets a stage of some size.
  const float half =
      std::max({0.5f * (high.x - low.x), 0.5f * (high.y - low.y), 0.5f * (high.z - low.z), 1.0f});
  const float centreX = 0.5f * (low.x + high.x);
  const float floorY = low.y - 0.02f * half;
  const float wallZ = low.z - 0.5f * half;
  const float left = centreX - 2.0f * half, width = 4.0f * half;

  // Owned here until it is whole, so that memory running out loses nothing.
  struct Free {
    void operator()(MeshObject* m) const { FreeMeshObject(m); }
  };
  std::unique_ptr<MeshObject, Free> owner(new MeshObject());
  MeshObject* mesh = owner.get();
  std::memcpy(mesh->name, model.name, sizeof mesh->name);
  mesh->materialIndex = model.materialIndex;
  mesh->material = model.material;
  std::memcpy(mesh->localMatrix, model.localMatrix, sizeof mesh->localMatrix);
  mesh->vertexCount = model.vertexCount + 2 * kGridVertices;
  mesh->faceCount = model.faceCount + 2 * kGridFaces;
  mesh->vertices = new Vec3[mesh->vertexCount];
  mesh->faces = new Face[mesh->faceCount];
  std::copy(model.vertices, model.vertices + model.vertexCount, mesh->vertices);
  std::copy(model.faces, model.faces + model.faceCount, mesh->faces);
  if (model.texCoords != nullptr) {
    mesh->texCoords = new TexCoord[mesh->vertexCount]();
    std::copy(model.texCoords, model.texCoords + model.vertexCount, mesh->texCoords);
  }
  // The floor from the wall to well in front of the model, seen from above.
  const float front = high.z + 2.0f * half;
  WriteGrid(Vec3{left, floorY, front}, Vec3{width, 0, 0}, Vec3{0, 0, wallZ - front},
            model.vertexCount, mesh->vertices, mesh->faces + model.faceCount);
  // The wall from the floor to well above the model, seen from the front.
  const float top = high.y + 2.0f * half;
  WriteGrid(Vec3{left, floorY, wallZ}, Vec3{width, 0, 0}, Vec3{0, top - floorY, 0},
            model.vertexCount + kGridVertices, mesh->vertices,
            mesh->faces + model.faceCount + kGridFaces);
  return owner.release();
}
