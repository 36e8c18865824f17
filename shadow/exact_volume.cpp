// The exact volume's per-frame update: one pass over the faces (cull,
// orient, caps, edge multiplicities) and one over the edges (side quads),
// all in arrays sized by Build (exact_volume_build.cpp).
#include "shadow/exact_volume.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "shadow/exact_geometry.h"

using exact_geometry::Cross;
using exact_geometry::Dot;
using exact_geometry::Sub;

namespace {

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
