// One drawable mesh from a whole model file: every mesh object that can be
// drawn, in file order, merged into one MeshObject (indices offset by the
// vertices before them), and the fitting that centres and scales it.
// Objects that cannot be drawn (no faces, or a face naming a vertex the
// object does not have) are left out and listed, never merged. Counts of the
// merged mesh are int32: up to 1024 objects of up to 65,535 vertices each fit.
#pragma once

#include <string>
#include <vector>

#include "model/scene.h"

// One object that MergeMeshObjects left out, and why.
struct LeftOutObject {
  int index;           // its entry in Scene::objects
  std::string name;    // its name, quoted and escaped (QuotedName)
  std::string reason;  // "it has no faces" or "face 17 names vertex 912 but it has 640 vertices"
};

// Why `object` cannot be drawn, or "" when it can: it needs at least one face
// and every face index inside [0, vertexCount).
std::string WhyNotDrawable(const MeshObject& object);

// A new mesh (release it with FreeMeshObject) holding every drawable object
// of `scene` in file order: their vertices one after another (where the
// keyframer places them, model/keyframer.h), their faces
// with indices offset by the vertices of the objects merged before them, and
// texture coordinates for every vertex when any merged object has them
// (0, 0 for the vertices of objects that have none; null when none has any).
// Each face keeps its object's material in faceMaterials (null when no
// merged object has one). The derived arrays are null; material -1/null. Each object left out is
// appended to `leftOut` when it is not null. Null when nothing is drawable.
MeshObject* MergeMeshObjects(const Scene& scene, std::vector<LeftOutObject>* leftOut);

// The size --fit gives a model: the largest half-extent of its bounding box.
constexpr float kFitHalfExtent = 50.0f;

// What FitMesh did: each coordinate less the centre, times the scale, in
// double precision. The identity when it did nothing.
struct MeshFit {
  double centre[3] = {0, 0, 0};
  double scale = 1.0;
  Vec3 Apply(const Vec3& v) const {
    return Vec3{static_cast<float>((v.x - centre[0]) * scale), static_cast<float>((v.y - centre[1]) * scale),
                static_cast<float>((v.z - centre[2]) * scale)};
  }
};

// Moves the centre of the bounding box of `mesh`'s finite vertices to the
// origin and scales every vertex uniformly so that the box's largest
// half-extent becomes `halfExtent`. A box of no extent (one point) is only
// moved; a mesh without finite vertices is left as it is. Returns what it
// did, so that later positions of the same model can be fitted alike.
MeshFit FitMesh(MeshObject* mesh, float halfExtent);
