// The ground truth of the shadow tests: a small ray caster over a triangle
// soup. For every pixel of a first-frame-style view (eye on the z axis,
// looking down -z, 45 degree vertical field of view, near plane 15) it finds
// the nearest triangle the depth pass would keep (front faces only, counter-
// clockwise seen from the eye, as back-face culling leaves them) and whether
// the segment from that point to the light crosses any triangle of the mesh,
// whichever way it is wound: the truth of "in shadow" for any triangle soup.
// Limits: double precision, a bounding volume hierarchy built once; no
// texture, no lighting (the demo's own capture without shadows gives those).
#pragma once

#include <cstdint>
#include <vector>

#include "demo_run.h"
#include "model/scene.h"

class RayCaster {
 public:
  // `surfaces` gives each face a surface number (>= 0) for the caller's edge
  // bands; faces that name a vertex outside `vertices` are left out.
  RayCaster(const std::vector<Vec3>& vertices, const std::vector<Face>& faces,
            const std::vector<int>& surfaces);

  struct Hit {
    int face = -1;   // index into the constructor's faces; -1: nothing
    double t = 0.0;  // along the ray, in units of its direction
  };

  // The nearest face that faces the ray's origin, at t > tMin.
  Hit Nearest(Vec3 origin, Vec3 direction, double tMin) const;

  // Whether any face other than `skip`, either winding, crosses the open
  // segment from `from` to `to` (ends trimmed by a small relative epsilon).
  bool Blocked(Vec3 from, Vec3 to, int skip) const;

  int SurfaceOf(int face) const { return triangles_[face].surface; }
  Vec3 NormalOf(int face) const;  // unit, counter-clockwise side

 private:
  struct Triangle {
    double a[3], e1[3], e2[3];  // corner and the two edges from it
    int surface;
  };
  struct Node {
    double lo[3], hi[3];
    int first, count;  // a leaf's range in order_; count 0: children at first, first + 1
  };
  template <typename Visit>
  void Walk(const double origin[3], const double direction[3], double tMax, Visit&& visit) const;
  void Build(int index, int first, int count);

  std::vector<Triangle> triangles_;  // indexed by face; degenerate ones are never hit
  std::vector<int> order_;           // face indices, grouped by leaf
  std::vector<Node> nodes_;          // node 0 is the root
};

// What the ray caster says one pixel shows.
struct TruthPixel {
  int face = -1;        // the nearest face the eye sees; -1: background
  int surface = -1;     // its surface number
  bool marker = false;  // the light marker stands in front of it
  bool shadowed = false;  // a point light: the segment to it is blocked
  // A round light: the share of its disc the point sees, of the part in
  // front of the point's face (1 where none of it is).
  double seen = 1.0;
};

// The truth for every pixel of `view` (top row first) with a point light at
// `light` whose marker (a tetrahedron of half-size `markerHalfSize`, drawn
// in front of the mesh where nearer) the caller wants left out. With a
// `discRadius`, the light is a disc of that radius facing the origin, and
// each pixel's share of it is sampled at 256 points of its own, drawn at
// random (a fixed seed) uniformly over the disc's area.
std::vector<TruthPixel> CastView(const RayCaster& caster, const View& view, Vec3 light,
                                 float markerHalfSize, float discRadius = 0.0f);
