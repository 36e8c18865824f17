// Face and vertex normals. All arithmetic is float32, in the order the lighting
// was tuned with, so results are bit-for-bit reproducible across runs.
#include "shadow/normals.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

namespace {

bool InMesh(int32_t index, int32_t vertexCount) {
  return index >= 0 && index < vertexCount;
}

}  // namespace

void ComputeFaceNormals(MeshObject* object) {
  if (object == nullptr) return;
  delete[] object->faceNormals;
  object->faceNormals = new Vec3[object->faceCount > 0 ? object->faceCount : 0];
  RecomputeFaceNormals(object);
}

void RecomputeFaceNormals(MeshObject* object) {
  if (object == nullptr || object->faceNormals == nullptr) return;
  Vec3* normals = object->faceNormals;
  const int32_t faceCount = object->faceCount > 0 ? object->faceCount : 0;
  for (int32_t f = 0; f < faceCount; ++f) {
    const std::array<int32_t, 3> corners = object->faces[f].Corners();
    normals[f] = Vec3{0.0f, 0.0f, 0.0f};
    // A face naming a vertex the mesh does not have has no geometry to speak of.
    if (!std::all_of(corners.begin(), corners.end(),
                     [&](int32_t index) { return InMesh(index, object->vertexCount); })) {
      continue;
    }
    const Vec3 p = object->vertices[corners[0]];
    const Vec3 q = object->vertices[corners[1]];
    const Vec3 r = object->vertices[corners[2]];
    const Vec3 a{p.x - q.x, p.y - q.y, p.z - q.z};
    const Vec3 b{p.x - r.x, p.y - r.y, p.z - r.z};
    const Vec3 n{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    const float len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    if (len == 0.0f) continue;
    // Negated: (P - Q) x (P - R) is the counter-clockwise normal.
    normals[f] = Vec3{-n.x / len, -n.y / len, -n.z / len};
  }
}

void ComputeVertexNormals(MeshObject* object) {
  if (object == nullptr) return;
  delete[] object->vertexNormals;
  object->vertexNormals = nullptr;
  const int32_t vertexCount = object->vertexCount > 0 ? object->vertexCount : 0;
  // Both arrays are made before the mesh takes one, so that memory running
  // out loses nothing.
  std::unique_ptr<Vec3[]> owner(new Vec3[vertexCount]);
  std::vector<int32_t> counters(static_cast<size_t>(vertexCount));
  object->vertexNormals = owner.release();
  RecomputeVertexNormals(object, counters.data());
}

void RecomputeVertexNormals(MeshObject* object, int32_t* counters) {
  if (object == nullptr || object->vertexNormals == nullptr) return;
  Vec3* normals = object->vertexNormals;
  const int32_t vertexCount = object->vertexCount > 0 ? object->vertexCount : 0;
  for (int32_t v = 0; v < vertexCount; ++v) {
    normals[v] = Vec3{0.0f, 0.0f, 0.0f};
    counters[v] = 0;
  }
  if (object->faceNormals != nullptr) {
    for (int32_t f = 0; f < object->faceCount; ++f) {
      const Vec3 n = object->faceNormals[f];
      for (int32_t index : object->faces[f].Corners()) {
        if (!InMesh(index, vertexCount)) continue;
        normals[index].x += n.x;
        normals[index].y += n.y;
        normals[index].z += n.z;
        counters[index] += 1;
      }
    }
  }
  for (int32_t v = 0; v < vertexCount; ++v) {
    const int32_t k = counters[v];
    if (k == 0) continue;
    if (normals[v].x != 0.0f) normals[v].x /= static_cast<float>(k);
    if (normals[v].y != 0.0f) normals[v].y /= static_cast<float>(k);
    if (normals[v].z != 0.0f) normals[v].z /= static_cast<float>(k);
  }
}
