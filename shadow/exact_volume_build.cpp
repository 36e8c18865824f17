// The exact volume's build, once per mesh: positions merged, edges keyed by
// their ends, faces grouped into connected parts and classified (closed
// solids, inside-out solids, faces alone), flat open patches found, and every
// per-frame array sized. The per-frame update is exact_volume.cpp's.
#include "shadow/exact_volume.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "shadow/exact_geometry.h"

using exact_geometry::Cross;
using exact_geometry::Dot;
using exact_geometry::Sub;

namespace {

// The bits of a position with -0.0 read as 0.0, and the vertex's move
// group, for hashing and equality.
struct PositionKey {
  uint32_t x, y, z;
  int32_t group;
  bool operator==(const PositionKey& o) const {
    return x == o.x && y == o.y && z == o.z && group == o.group;
  }
};

struct PositionKeyHash {
  size_t operator()(const PositionKey& k) const {
    uint64_t h = k.x * 0x9E3779B97F4A7C15ull;
    h ^= (h >> 29) + k.y * 0xBF58476D1CE4E5B9ull;
    h ^= (h >> 31) + k.z * 0x94D049BB133111EBull;
    h ^= static_cast<uint32_t>(k.group) * 0xD6E8FEB86659FD93ull;
    return static_cast<size_t>(h ^ (h >> 32));
  }
};

uint32_t BitsOf(float f) {
  if (f == 0.0f) f = 0.0f;  // -0.0 becomes +0.0
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

bool Finite(const Vec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

struct D3 {
  double x, y, z;
};

// The unit normal of abc in double precision (zero for a degenerate face).
D3 UnitNormal(const Vec3& a, const Vec3& b, const Vec3& c) {
  const double ux = static_cast<double>(b.x) - a.x, uy = static_cast<double>(b.y) - a.y,
               uz = static_cast<double>(b.z) - a.z;
  const double vx = static_cast<double>(c.x) - a.x, vy = static_cast<double>(c.y) - a.y,
               vz = static_cast<double>(c.z) - a.z;
  const D3 n{uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
  const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  return length > 0 ? D3{n.x / length, n.y / length, n.z / length} : D3{0, 0, 0};
}

int32_t Root(std::vector<int32_t>& parent, int32_t i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

}  // namespace

void ExactShadowVolume::Build(const Vec3* vertices, int32_t vertexCount, const Face* faces,
                              int32_t faceCount, const int32_t* moveGroups) {
  *this = ExactShadowVolume();
  if (faceCount > kMaxFaces)
    throw std::length_error("more than " + std::to_string(kMaxFaces) + " faces");
  if (vertices == nullptr || faces == nullptr || vertexCount <= 0 || faceCount <= 0) {
    Update(Vec3{0, 0, 0}, 0.0f);
    return;
  }
  // Merge vertices by position (and group); a non-finite one gets no id.
  positionOf_.assign(static_cast<size_t>(vertexCount), -1);
  std::vector<int32_t>& idOf = positionOf_;
  std::unordered_map<PositionKey, int32_t, PositionKeyHash> ids;
  ids.reserve(static_cast<size_t>(vertexCount));
  for (int32_t v = 0; v < vertexCount; ++v) {
    if (!Finite(vertices[v])) continue;
    const PositionKey key{BitsOf(vertices[v].x), BitsOf(vertices[v].y), BitsOf(vertices[v].z),
                          moveGroups != nullptr ? moveGroups[v] : 0};
    const auto found = ids.emplace(key, static_cast<int32_t>(positions_.size()));
    if (found.second) positions_.push_back(vertices[v]);
    idOf[v] = found.first->second;
  }
  // Keep faces whose three corners are distinct positions.
  for (int32_t f = 0; f < faceCount; ++f) {
    int32_t p[3];
    bool ok = true;
    const auto corners = faces[f].Corners();
    for (int k = 0; k < 3; ++k) {
      const int32_t v = corners[k];
      ok = ok && v >= 0 && v < vertexCount && idOf[v] >= 0;
      p[k] = ok ? idOf[v] : -1;
    }
    if (!ok || p[0] == p[1] || p[1] == p[2] || p[2] == p[0]) continue;
    corners_.insert(corners_.end(), p, p + 3);
  }
  const int32_t triangles = TriangleCount();
  // Edges keyed by their unordered pair of positions.
  std::unordered_map<uint64_t, int32_t> edgeIds;
  edgeIds.reserve(static_cast<size_t>(triangles) * 2);
  cornerEdges_.resize(corners_.size());
  std::vector<int32_t> uses, runSum;  // per edge: faces on it, sum of +1 lo->hi / -1 hi->lo
  for (size_t c = 0; c < corners_.size(); ++c) {
    const int32_t a = corners_[c], b = corners_[c - c % 3 + (c % 3 + 1) % 3];
    const int32_t lo = a < b ? a : b, hi = a < b ? b : a;
    const uint64_t key = (static_cast<uint64_t>(lo) << 32) | static_cast<uint32_t>(hi);
    const auto found = edgeIds.emplace(key, EdgeCount());
    if (found.second) {
      edgeEnds_.push_back(lo);
      edgeEnds_.push_back(hi);
      uses.push_back(0);
      runSum.push_back(0);
    }
    const int32_t e = found.first->second;
    cornerEdges_[c] = 2 * e + (a == lo ? 0 : 1);
    uses[e] += 1;
    runSum[e] += a == lo ? 1 : -1;
  }
  // Connected sets of faces through shared edges; a set is a solid when every
  // edge has two faces running it in opposite directions.
  std::vector<int32_t> parent(static_cast<size_t>(triangles));
  std::iota(parent.begin(), parent.end(), 0);
  std::vector<int32_t> firstFaceOfEdge(static_cast<size_t>(EdgeCount()), -1);
  for (size_t c = 0; c < corners_.size(); ++c) {
    const int32_t f = static_cast<int32_t>(c / 3), e = cornerEdges_[c] / 2;
    if (firstFaceOfEdge[e] < 0) {
      firstFaceOfEdge[e] = f;
    } else {
      parent[Root(parent, f)] = Root(parent, firstFaceOfEdge[e]);
    }
  }
  std::vector<uint8_t> open(static_cast<size_t>(triangles), 0);
  std::vector<double> volume(static_cast<size_t>(triangles), 0.0);
  for (size_t c = 0; c < corners_.size(); ++c) {
    const int32_t e = cornerEdges_[c] / 2;
    if (uses[e] != 2 || runSum[e] != 0) open[Root(parent, static_cast<int32_t>(c / 3))] = 1;
  }
  for (int32_t f = 0; f < triangles; ++f) {
    const Vec3& a = positions_[corners_[3 * f]];
    const Vec3& b = positions_[corners_[3 * f + 1]];
    const Vec3& c = positions_[corners_[3 * f + 2]];
    volume[Root(parent, f)] += Dot(a, Cross(b, c));
  }
  solidSign_.resize(static_cast<size_t>(triangles));
  for (int32_t f = 0; f < triangles; ++f) {
    const int32_t root = Root(parent, f);
    solidSign_[f] = open[root] ? 0 : volume[root] > 0 ? 1 : volume[root] < 0 ? -1 : 0;
    solidCount_ += solidSign_[f] != 0;
  }
  bounds_.resize(static_cast<size_t>(triangles) * 4);
  ComputeBounds();
  FindFlatPatches(parent, uses, runSum);
  // Per-frame arrays at their largest: every face casts, every one of its
  // edges gets one side quad of its own and, in a flat patch, up to three
  // fan triangles per cap.
  const size_t positions = positions_.size();
  vertices_.assign(positions * 8, 0.0f);
  for (size_t p = 0; p < positions; ++p) {
    vertices_[4 * p] = positions_[p].x;
    vertices_[4 * p + 1] = positions_[p].y;
    vertices_[4 * p + 2] = positions_[p].z;
    vertices_[4 * p + 3] = 1.0f;
  }
  directions_.assign(positions * 4, 0.0f);
  extrudeTo_.assign(positions, 0.0f);
  multiplicity_.assign(static_cast<size_t>(EdgeCount()), 0);
  indices_.assign(static_cast<size_t>(triangles) * 36, 0u);
  backCap_.assign(static_cast<size_t>(triangles) * 9, 0u);
  patchState_.assign(patches_.size(), 0);
}

void ExactShadowVolume::ComputeBounds() {
  for (int32_t f = 0; f < TriangleCount(); ++f) {
    const Vec3& a = positions_[corners_[3 * f]];
    const Vec3& b = positions_[corners_[3 * f + 1]];
    const Vec3& c = positions_[corners_[3 * f + 2]];
    const Vec3 centre{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
    float radius = 0;
    for (const Vec3* v : {&a, &b, &c}) {
      const Vec3 d = Sub(*v, centre);
      radius = std::fmax(radius, std::sqrt(static_cast<float>(Dot(d, d))));
    }
    float* bound = &bounds_[4 * static_cast<size_t>(f)];
    bound[0] = centre.x;
    bound[1] = centre.y;
    bound[2] = centre.z;
    bound[3] = radius * 1.0001f + 1e-4f;  // rounding must not cut a corner off
  }
}

void ExactShadowVolume::UpdatePositions(const Vec3* vertices, int32_t vertexCount) {
  if (vertices == nullptr || static_cast<size_t>(vertexCount) != positionOf_.size()) return;
  for (int32_t v = 0; v < vertexCount; ++v) {
    const int32_t p = positionOf_[v];
    if (p < 0) continue;
    positions_[p] = vertices[v];
    vertices_[4 * p] = vertices[v].x;
    vertices_[4 * p + 1] = vertices[v].y;
    vertices_[4 * p + 2] = vertices[v].z;
  }
  ComputeBounds();
  // A patch's fans cover its casting faces only while they share one plane.
  // Given up, its faces cap one by one like any face outside a patch, which
  // is right for any shape; the index buffers are sized for either.
  if (!patches_.empty()) {
    patches_.clear();
    std::fill(patchOfFace_.begin(), patchOfFace_.end(), -1);
    std::fill(edgePatch_.begin(), edgePatch_.end(), -1);
    patchState_.clear();
  }
}

void ExactShadowVolume::FindFlatPatches(std::vector<int32_t>& parent,
                                        const std::vector<int32_t>& uses,
                                        const std::vector<int32_t>& runSum) {
  const int32_t triangles = TriangleCount();
  // Per root: its first face's unit normal and plane offset, and whether it
  // is still a candidate (open, every edge on at most two faces that run it
  // in opposite directions, every face in the first one's plane).
  std::vector<int32_t> faceCount(static_cast<size_t>(triangles), 0);
  std::vector<uint8_t> candidate(static_cast<size_t>(triangles), 1);
  std::vector<double> plane(static_cast<size_t>(triangles) * 4, 0.0);
  for (size_t c = 0; c < corners_.size(); ++c) {
    const int32_t e = cornerEdges_[c] / 2;
    if (uses[e] > 2 || (uses[e] == 2 && runSum[e] != 0))
      candidate[Root(parent, static_cast<int32_t>(c / 3))] = 0;
  }
  // Per root: the largest side of its box, and the largest coordinate
  // magnitude, which bounds the rounding its float positions carry.
  std::vector<float> rootLow(static_cast<size_t>(triangles) * 3, INFINITY);
  std::vector<float> rootHigh(static_cast<size_t>(triangles) * 3, -INFINITY);
  std::vector<float> magnitude(static_cast<size_t>(triangles), 0.0f);
  for (size_t c = 0; c < corners_.size(); ++c) {
    const size_t root = static_cast<size_t>(Root(parent, static_cast<int32_t>(c / 3)));
    if (!candidate[root]) continue;
    const Vec3& v = positions_[corners_[c]];
    const float xyz[3] = {v.x, v.y, v.z};
    for (size_t k = 0; k < 3; ++k) {
      rootLow[3 * root + k] = std::fmin(rootLow[3 * root + k], xyz[k]);
      rootHigh[3 * root + k] = std::fmax(rootHigh[3 * root + k], xyz[k]);
      magnitude[root] = std::fmax(magnitude[root], std::fabs(xyz[k]));
    }
  }
  for (int32_t f = 0; f < triangles; ++f) {
    const int32_t root = Root(parent, f);
    if (solidSign_[f] != 0) candidate[root] = 0;
    if (!candidate[root]) continue;
    const Vec3& a = positions_[corners_[3 * f]];
    const Vec3& b = positions_[corners_[3 * f + 1]];
    const Vec3& c = positions_[corners_[3 * f + 2]];
    const D3 n = UnitNormal(a, b, c);
    double* pl = &plane[4 * static_cast<size_t>(root)];
    if (faceCount[root] == 0) {
      pl[0] = n.x;
      pl[1] = n.y;
      pl[2] = n.z;
      pl[3] = n.x * a.x + n.y * a.y + n.z * a.z;
    }
    ++faceCount[root];
    // The same orientation and plane: off it by no more than a small part
    // of the patch's size, or than a few roundings of its coordinates. A
    // patch far from the origin is held to its own size, not its distance.
    const double extent = std::fmax(
        static_cast<double>(rootHigh[3 * root]) - rootLow[3 * root],
        std::fmax(static_cast<double>(rootHigh[3 * root + 1]) - rootLow[3 * root + 1],
                  static_cast<double>(rootHigh[3 * root + 2]) - rootLow[3 * root + 2]));
    const double tolerance = 1e-5 * extent + 4.0 * FLT_EPSILON * magnitude[root];
    bool flat = n.x * pl[0] + n.y * pl[1] + n.z * pl[2] > 1.0 - 1e-6;
    for (const Vec3* v : {&a, &b, &c})
      flat = flat && std::fabs(pl[0] * v->x + pl[1] * v->y + pl[2] * v->z - pl[3]) <= tolerance;
    if (!flat) candidate[root] = 0;
  }
  // A patch of a few faces gains nothing.
  constexpr int32_t kMinimumPatchFaces = 8;
  std::vector<int32_t> patchOfRoot(static_cast<size_t>(triangles), -1);
  patchOfFace_.assign(static_cast<size_t>(triangles), -1);
  for (int32_t f = 0; f < triangles; ++f) {
    const int32_t root = Root(parent, f);
    if (!candidate[root] || faceCount[root] < kMinimumPatchFaces) continue;
    if (patchOfRoot[root] < 0) {
      patchOfRoot[root] = static_cast<int32_t>(patches_.size());
      patches_.push_back(Patch{corners_[3 * f], {0, 0, 0, 0}});
    }
    patchOfFace_[f] = patchOfRoot[root];
  }
  // Each patch's bounding sphere, about its box's centre.
  std::vector<Vec3> low(patches_.size(), Vec3{INFINITY, INFINITY, INFINITY});
  std::vector<Vec3> high(patches_.size(), Vec3{-INFINITY, -INFINITY, -INFINITY});
  for (size_t c = 0; c < corners_.size(); ++c) {
    const int32_t patch = patchOfFace_[c / 3];
    if (patch < 0) continue;
    const Vec3& v = positions_[corners_[c]];
    low[patch] = Vec3{std::fmin(low[patch].x, v.x), std::fmin(low[patch].y, v.y),
                      std::fmin(low[patch].z, v.z)};
    high[patch] = Vec3{std::fmax(high[patch].x, v.x), std::fmax(high[patch].y, v.y),
                       std::fmax(high[patch].z, v.z)};
  }
  for (size_t k = 0; k < patches_.size(); ++k) {
    float* bound = patches_[k].bound;
    bound[0] = 0.5f * (low[k].x + high[k].x);
    bound[1] = 0.5f * (low[k].y + high[k].y);
    bound[2] = 0.5f * (low[k].z + high[k].z);
  }
  // The fans start at the corner nearest the centre, which keeps them as
  // narrow as seen from the light as a corner can.
  std::vector<float> nearest(patches_.size(), INFINITY);
  for (size_t c = 0; c < corners_.size(); ++c) {
    const int32_t patch = patchOfFace_[c / 3];
    if (patch < 0) continue;
    float* bound = patches_[patch].bound;
    const Vec3 d = Sub(positions_[corners_[c]], Vec3{bound[0], bound[1], bound[2]});
    const float distance = std::sqrt(static_cast<float>(Dot(d, d)));
    bound[3] = std::fmax(bound[3], distance * 1.0001f + 1e-4f);
    if (distance < nearest[patch]) {
      nearest[patch] = distance;
      patches_[patch].origin = corners_[c];
    }
  }
  edgePatch_.assign(static_cast<size_t>(EdgeCount()), -1);
  for (size_t c = 0; c < corners_.size(); ++c) edgePatch_[cornerEdges_[c] / 2] = patchOfFace_[c / 3];
}
