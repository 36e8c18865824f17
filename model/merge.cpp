// Merging a scene's drawable objects into one mesh, and fitting it into a
// box of a fixed size. Sizes are counted in 64 bits before anything is
// allocated, so the int32 counts of the merged mesh never wrap.
#include "model/merge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "model/keyframer.h"
#include "model/load3ds.h"

std::string WhyNotDrawable(const MeshObject& object) {
  if (object.faceCount <= 0) return "it has no faces";
  const MeshDefect defect = ValidateMesh(object);
  if (defect.face < 0) return std::string();
  char text[128];
  std::snprintf(text, sizeof text, "face %d names vertex %d but it has %d %s",
                static_cast<int>(defect.face), static_cast<int>(defect.vertex),
                static_cast<int>(defect.vertexCount),
                defect.vertexCount == 1 ? "vertex" : "vertices");
  return text;
}

MeshObject* MergeMeshObjects(const Scene& scene, std::vector<LeftOutObject>* leftOut) {
  std::vector<const MeshObject*> drawable;
  int64_t vertexTotal = 0, faceTotal = 0;
  bool anyTexCoords = false, anyMaterial = false;
  for (int i = 0; i < scene.objectCount; ++i) {
    const MeshObject* object = scene.objects[i];
    if (object == nullptr) continue;
    const std::string why = WhyNotDrawable(*object);
    if (!why.empty()) {
      if (leftOut != nullptr) leftOut->push_back(LeftOutObject{i, QuotedName(object->name), why});
      continue;
    }
    drawable.push_back(object);
    vertexTotal += object->vertexCount;
    faceTotal += object->faceCount;
    anyTexCoords = anyTexCoords || object->texCoords != nullptr;
    anyMaterial = anyMaterial || object->materialIndex >= 0;
  }
  if (drawable.empty() || vertexTotal > INT32_MAX || faceTotal > INT32_MAX) return nullptr;

  // Owned here until it is whole, so that memory running out loses nothing.
  struct Free {
    void operator()(MeshObject* m) const { FreeMeshObject(m); }
  };
  std::unique_ptr<MeshObject, Free> owner(new MeshObject());
  MeshObject* merged = owner.get();
  std::snprintf(merged->name, sizeof merged->name, "%s",
                drawable.size() == 1 ? drawable[0]->name : "Merged");
  merged->materialIndex = -1;
  merged->vertexCount = static_cast<int32_t>(vertexTotal);
  merged->faceCount = static_cast<int32_t>(faceTotal);
  merged->vertices = new Vec3[vertexTotal];
  merged->faces = new Face[faceTotal];
  if (anyTexCoords) merged->texCoords = new TexCoord[vertexTotal]();
  if (anyMaterial) merged->faceMaterials = new int32_t[faceTotal];
  int32_t vertexBase = 0, faceBase = 0;
  for (const MeshObject* object : drawable) {
    for (int v = 0; v < object->vertexCount; ++v)
      merged->vertices[vertexBase + v] = PlacedVertex(*object, object->vertices[v]);
    if (object->texCoords != nullptr)
      std::copy(object->texCoords, object->texCoords + object->vertexCount,
                merged->texCoords + vertexBase);
    for (int f = 0; f < object->faceCount; ++f) {
      const Face& face = object->faces[f];
      merged->faces[faceBase + f] =
          Face{face.index0 + vertexBase, face.index1 + vertexBase, face.index2 + vertexBase};
      if (anyMaterial) merged->faceMaterials[faceBase + f] = object->materialIndex;
    }
    vertexBase += object->vertexCount;
    faceBase += object->faceCount;
  }
  return owner.release();
}

MeshFit FitMesh(MeshObject* mesh, float halfExtent) {
  MeshFit fit;
  if (mesh == nullptr) return fit;
  // Double precision throughout: the box of a model thousands of units
  // across must centre without float32 round-off drifting it.
  double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
  bool any = false;
  for (int i = 0; i < mesh->vertexCount; ++i) {
    const Vec3& v = mesh->vertices[i];
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) continue;
    const double p[3] = {v.x, v.y, v.z};
    for (int k = 0; k < 3; ++k) {
      low[k] = any ? std::min(low[k], p[k]) : p[k];
      high[k] = any ? std::max(high[k], p[k]) : p[k];
    }
    any = true;
  }
  if (!any) return fit;
  double* centre = fit.centre;
  double largest = 0;
  for (int k = 0; k < 3; ++k) {
    centre[k] = (low[k] + high[k]) / 2;
    largest = std::max(largest, (high[k] - low[k]) / 2);
  }
  fit.scale = largest > 0 ? halfExtent / largest : 1.0;
  for (int i = 0; i < mesh->vertexCount; ++i) mesh->vertices[i] = fit.Apply(mesh->vertices[i]);
  return fit;
}
