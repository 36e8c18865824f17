// The exact volume builder: adjacency and classification once, then per
// frame one pass over the faces (cull, orient, caps, edge multiplicities)
// and one over the edges (side quads), all in arrays sized by Build.
#include "shadow/exact_volume.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <unordered_map>

namespace {

// The bits of a position with -0.0 read as 0.0, for hashing and equality.
struct PositionKey {
  uint32_t x, y, z;
  bool operator==(const PositionKey& o) const { return x == o.x && y == o.y && z == o.z; }
};

struct PositionKeyHash {
  size_t operator()(const PositionKey& k) const {
    uint64_t h = k.x * 0x9E3779B97F4A7C15ull;
    h ^= (h >> 29) + k.y * 0xBF58476D1CE4E5B9ull;
    h ^= (h >> 31) + k.z * 0x94D049BB133111EBull;
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

Vec3 Sub(const Vec3& a, const Vec3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}

double Dot(const Vec3& a, const Vec3& b) {
  return static_cast<double>(a.x) * b.x + static_cast<double>(a.y) * b.y +
         static_cast<double>(a.z) * b.z;
}

Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

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

// The least cosine between the directions (4 floats apart) of positions a, b, c.
float MinCosine(const float* directions, uint32_t a, uint32_t b, uint32_t c) {
  const float* u0 = directions + 4 * static_cast<size_t>(a);
  const float* u1 = directions + 4 * static_cast<size_t>(b);
  const float* u2 = directions + 4 * static_cast<size_t>(c);
  const float c01 = u0[0] * u1[0] + u0[1] * u1[1] + u0[2] * u1[2];
  const float c12 = u1[0] * u2[0] + u1[1] * u2[1] + u1[2] * u2[2];
  const float c20 = u2[0] * u0[0] + u2[1] * u0[1] + u2[2] * u0[2];
  return std::fmin(c01, std::fmin(c12, c20));
}

// Below this cosine between two corners' directions from the light a back cap
// at a finite distance would have to lie too far out: it goes to infinity.
constexpr float kFiniteCapMinCosine = 0.05f;

}  // namespace

void ExactShadowVolume::Build(const Vec3* vertices, int32_t vertexCount, const Face* faces,
                              int32_t faceCount) {
  *this = ExactShadowVolume();
  if (vertices == nullptr || faces == nullptr || vertexCount <= 0 || faceCount <= 0) {
    Update(Vec3{0, 0, 0}, 0.0f);
    return;
  }
  // Merge vertices by position; a non-finite one gets no id.
  std::vector<int32_t> idOf(static_cast<size_t>(vertexCount), -1);
  std::unordered_map<PositionKey, int32_t, PositionKeyHash> ids;
  ids.reserve(static_cast<size_t>(vertexCount));
  for (int32_t v = 0; v < vertexCount; ++v) {
    if (!Finite(vertices[v])) continue;
    const PositionKey key{BitsOf(vertices[v].x), BitsOf(vertices[v].y), BitsOf(vertices[v].z)};
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
  bounds_.resize(static_cast<size_t>(triangles) * 4);
  for (int32_t f = 0; f < triangles; ++f) {
    const int32_t root = Root(parent, f);
    solidSign_[f] = open[root] ? 0 : volume[root] > 0 ? 1 : volume[root] < 0 ? -1 : 0;
    solidCount_ += solidSign_[f] != 0;
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
    // The same orientation and plane, to a few float roundings.
    const double scale = 1.0 + std::fmax(std::fabs(pl[3]), 1.0);
    bool flat = n.x * pl[0] + n.y * pl[1] + n.z * pl[2] > 1.0 - 1e-6;
    for (const Vec3* v : {&a, &b, &c})
      flat = flat && std::fabs(pl[0] * v->x + pl[1] * v->y + pl[2] * v->z - pl[3]) <= 1e-5 * scale;
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

// Whether the part within `reach` of the light of what face bound `bound`
// (centre, radius) shades lies wholly outside one of the planes. That part
// lies in the convex hull of the bound and of the bound scaled about the
// light by reach / (its nearest distance), so both balls outside one plane
// suffice.
static bool ShadeOutsidePlanes(const float* bound, Vec3 light, float reach, const float (*planes)[4],
                        int planeCount) {
  const Vec3 d{bound[0] - light.x, bound[1] - light.y, bound[2] - light.z};
  const float distance = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  if (!(distance > bound[3])) return false;  // the light is within the bound
  const float scale = std::fmax(1.0f, reach / (distance - bound[3]));
  const Vec3 far{light.x + d.x * scale, light.y + d.y * scale, light.z + d.z * scale};
  for (int k = 0; k < planeCount; ++k) {
    const float* p = planes[k];
    if (p[0] * bound[0] + p[1] * bound[1] + p[2] * bound[2] + p[3] < -bound[3] &&
        p[0] * far.x + p[1] * far.y + p[2] * far.z + p[3] < -bound[3] * scale)
      return true;
  }
  return false;
}

void ExactShadowVolume::Update(Vec3 light, float reach, const float (*planes)[4],
                               int planeCount) {
  sideCount_ = 0;
  capCount_ = 0;
  const int32_t positions = PositionCount();
  const int32_t triangles = TriangleCount();
  if (triangles == 0) return;
  for (int32_t p = 0; p < positions; ++p) {
    const Vec3 d = Sub(positions_[p], light);
    const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    const float inverse = length > 0 ? 1.0f / length : 0.0f;
    float* out = &directions_[4 * static_cast<size_t>(p)];
    out[0] = d.x * inverse;
    out[1] = d.y * inverse;
    out[2] = d.z * inverse;
    out[3] = length;
  }
  std::fill(multiplicity_.begin(), multiplicity_.end(), 0);
  // The caps are gathered apart and moved after the sides, which are
  // written last: at most 18 side and 9 + 9 cap indices per face.
  uint32_t* front = indices_.data() + static_cast<size_t>(triangles) * 27;
  uint32_t* back = backCap_.data();
  int32_t cast = 0;
  // Each position's extrusion distance: at least 1.5 x reach, more where a
  // casting face that holds it spans a wide angle as seen from the light
  // (infinity when it spans too wide a one).
  const bool finite = reach > 0;
  std::fill(extrudeTo_.begin(), extrudeTo_.end(), 1.5f * reach);
  const uint32_t extruded = static_cast<uint32_t>(positions);
  // A flat patch is left out or kept whole (decided at its first face), so
  // that its caps can be fans over its boundary.
  std::fill(patchState_.begin(), patchState_.end(), 0);
  const auto outOfReach = [&](const float* bound) {
    if (!(reach > 0)) return false;
    const Vec3 d{bound[0] - light.x, bound[1] - light.y, bound[2] - light.z};
    const float gap = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z) - bound[3];
    return gap > reach ||
           (planeCount > 0 && ShadeOutsidePlanes(bound, light, reach, planes, planeCount));
  };
  for (int32_t f = 0; f < triangles; ++f) {
    const int32_t patch = patchOfFace_[f];
    if (patch >= 0) {
      int8_t& state = patchState_[patch];  // 0 undecided, 1 kept, -1 left out
      if (state == 0) state = outOfReach(patches_[patch].bound) ? -1 : 1;
      if (state < 0) continue;
    } else if (outOfReach(&bounds_[4 * static_cast<size_t>(f)])) {
      continue;
    }
    const int32_t* p = &corners_[3 * static_cast<size_t>(f)];
    const Vec3& a = positions_[p[0]];
    const Vec3 n = Cross(Sub(positions_[p[1]], a), Sub(positions_[p[2]], a));
    const double facing = Dot(n, Sub(light, a));
    // Edge-on to the light (or the light on the face): no volume.
    if (!(facing > 0) && !(facing < 0)) continue;
    const int8_t solid = solidSign_[f];
    if (solid != 0 && (solid > 0) != (facing > 0)) continue;
    // Counter-clockwise as the light sees it: as wound, or turned over.
    const bool turn = facing < 0;
    if (patch < 0) {
      const int32_t x = p[0], y = turn ? p[2] : p[1], z = turn ? p[1] : p[2];
      front[3 * cast] = static_cast<uint32_t>(x);
      front[3 * cast + 1] = static_cast<uint32_t>(y);
      front[3 * cast + 2] = static_cast<uint32_t>(z);
      back[3 * cast] = extruded + static_cast<uint32_t>(x);
      back[3 * cast + 1] = extruded + static_cast<uint32_t>(z);
      back[3 * cast + 2] = extruded + static_cast<uint32_t>(y);
      ++cast;
    }
    for (int k = 0; k < 3; ++k) {
      const int32_t code = cornerEdges_[3 * static_cast<size_t>(f) + k];
      // +1 when the face, as it casts, runs the edge lo -> hi.
      multiplicity_[code >> 1] += ((code & 1) != 0) == turn ? 1 : -1;
    }
    if (patch >= 0) continue;  // its caps are the fans, sized below
    // Every point of a back cap triangle whose corners lie at least D from
    // the light and at most acos(c) apart as seen from it lies at least
    // D x c from the light: D = 1.01 x reach / c keeps it beyond the reach.
    const float cosine = MinCosine(&directions_[0], static_cast<uint32_t>(p[0]),
                                   static_cast<uint32_t>(p[1]), static_cast<uint32_t>(p[2]));
    const float need = cosine >= kFiniteCapMinCosine ? 1.01f * reach / cosine : INFINITY;
    for (int k = 0; k < 3; ++k) extrudeTo_[p[k]] = std::fmax(extrudeTo_[p[k]], need);
  }
  // Side quads: |m| for an edge of multiplicity m, wound so that a cap
  // running the edge lo -> hi (m > 0) meets them along hi -> lo.
  uint32_t* side = indices_.data();
  const int32_t edges = EdgeCount();
  for (int32_t e = 0; e < edges; ++e) {
    int32_t m = multiplicity_[e];
    if (m == 0) continue;
    uint32_t s = static_cast<uint32_t>(edgeEnds_[2 * static_cast<size_t>(e)]);
    uint32_t t = static_cast<uint32_t>(edgeEnds_[2 * static_cast<size_t>(e) + 1]);
    if (m < 0) {
      const uint32_t swap = s;
      s = t;
      t = swap;
      m = -m;
    }
    // The caps run s -> t; the quad runs t -> s, s -> s', s' -> t', t' -> t.
    const int32_t patch = edgePatch_[e];
    const uint32_t o = patch >= 0 ? static_cast<uint32_t>(patches_[patch].origin) : 0;
    for (; m > 0; --m) {
      side[0] = t;
      side[1] = s;
      side[2] = s + extruded;
      side[3] = t;
      side[4] = s + extruded;
      side[5] = t + extruded;
      side += 6;
      // In a flat patch the caps are fans from its origin over the edges
      // that bound what casts: in the patch's plane they cover the same
      // region, counted the same, with far fewer triangles.
      // Fan triangles at the origin itself have no area and are left out.
      if (patch >= 0 && o != s && o != t) {
        front[3 * cast] = o;
        front[3 * cast + 1] = s;
        front[3 * cast + 2] = t;
        back[3 * cast] = o + extruded;
        back[3 * cast + 1] = t + extruded;
        back[3 * cast + 2] = s + extruded;
        ++cast;
      }
    }
    if (patch >= 0) {
      const float cosine = MinCosine(&directions_[0], o, s, t);
      const float need = cosine >= kFiniteCapMinCosine ? 1.01f * reach / cosine : INFINITY;
      for (uint32_t q : {o, s, t}) extrudeTo_[q] = std::fmax(extrudeTo_[q], need);
    }
  }
  for (int32_t q = 0; q < positions; ++q) {
    const float* u = &directions_[4 * static_cast<size_t>(q)];
    float* out = &vertices_[4 * (static_cast<size_t>(positions) + q)];
    if (finite && extrudeTo_[q] < INFINITY) {
      // Never nearer than the point itself, so no volume turns inside out.
      const float to = std::fmax(extrudeTo_[q], 2.0f * u[3]);
      out[0] = light.x + u[0] * to;
      out[1] = light.y + u[1] * to;
      out[2] = light.z + u[2] * to;
      out[3] = 1.0f;
    } else {
      out[0] = u[0];
      out[1] = u[1];
      out[2] = u[2];
      out[3] = 0.0f;
    }
  }
  sideCount_ = static_cast<int32_t>(side - indices_.data());
  capCount_ = 6 * cast;
  // Back cap, then the front cap, right after the sides.
  std::memmove(side + 3 * cast, front, sizeof(uint32_t) * 3 * static_cast<size_t>(cast));
  std::memcpy(side, back, sizeof(uint32_t) * 3 * static_cast<size_t>(cast));
}
