// The ray caster of the shadow tests; see ray_caster.h.
#include "ray_caster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <random>

namespace {

void Sub(const double a[3], const double b[3], double out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = a[k] - b[k];
}
void Cross(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}
double Dot(const double a[3], const double b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Where the ray enters the box, or +infinity when it misses it within tMax.
double EnterBox(const double lo[3], const double hi[3], const double origin[3],
                const double direction[3], double tMax) {
  double t0 = 0.0, t1 = tMax;
  for (int k = 0; k < 3; ++k) {
    if (direction[k] == 0.0) {
      if (origin[k] < lo[k] || origin[k] > hi[k]) return INFINITY;
      continue;
    }
    double ta = (lo[k] - origin[k]) / direction[k], tb = (hi[k] - origin[k]) / direction[k];
    if (ta > tb) std::swap(ta, tb);
    t0 = std::max(t0, ta);
    t1 = std::min(t1, tb);
    if (t0 > t1) return INFINITY;
  }
  return t0;
}

}  // namespace

RayCaster::RayCaster(const std::vector<Vec3>& vertices, const std::vector<Face>& faces,
                     const std::vector<int>& surfaces) {
  const int64_t count = static_cast<int64_t>(vertices.size());
  for (size_t f = 0; f < faces.size(); ++f) {
    Triangle t{};
    t.surface = surfaces[f];
    const std::array<int32_t, 3> c = faces[f].Corners();
    if (c[0] < 0 || c[1] < 0 || c[2] < 0 || c[0] >= count || c[1] >= count || c[2] >= count) {
      t.surface = -1;  // zero edges: never hit
    } else {
      double p[3][3];
      for (int k = 0; k < 3; ++k) {
        const Vec3& v = vertices[c[k]];
        p[k][0] = v.x, p[k][1] = v.y, p[k][2] = v.z;
      }
      std::copy(p[0], p[0] + 3, t.a);
      Sub(p[1], p[0], t.e1);
      Sub(p[2], p[0], t.e2);
    }
    triangles_.push_back(t);
    order_.push_back(static_cast<int>(f));
  }
  nodes_.resize(1);
  Build(0, 0, static_cast<int>(order_.size()));
}

// Fills node `index` over order_[first, first + count), splitting at the
// median centroid of the longest axis down to leaves of four.
void RayCaster::Build(int index, int first, int count) {
  Node node{{INFINITY, INFINITY, INFINITY}, {-INFINITY, -INFINITY, -INFINITY}, first, count};
  for (int i = first; i < first + count; ++i) {
    const Triangle& t = triangles_[order_[i]];
    for (int k = 0; k < 3; ++k) {
      for (double v : {t.a[k], t.a[k] + t.e1[k], t.a[k] + t.e2[k]}) {
        node.lo[k] = std::min(node.lo[k], v);
        node.hi[k] = std::max(node.hi[k], v);
      }
    }
  }
  const int half = count / 2;
  if (count > 4) {
    int axis = 0;
    for (int k = 1; k < 3; ++k)
      if (node.hi[k] - node.lo[k] > node.hi[axis] - node.lo[axis]) axis = k;
    auto centre = [&](int f) {
      const Triangle& t = triangles_[f];
      return 3 * t.a[axis] + t.e1[axis] + t.e2[axis];
    };
    std::nth_element(order_.begin() + first, order_.begin() + first + half,
                     order_.begin() + first + count,
                     [&](int a, int b) { return centre(a) < centre(b); });
    node.first = static_cast<int>(nodes_.size());  // the children, side by side
    node.count = 0;
    nodes_.resize(nodes_.size() + 2);
  }
  nodes_[index] = node;
  if (count > 4) {
    Build(node.first, first, half);
    Build(node.first + 1, first + half, count - half);
  }
}

template <typename Visit>
void RayCaster::Walk(const double origin[3], const double direction[3], double tMax,
                     Visit&& visit) const {
  if (order_.empty()) return;
  int stack[128];
  int depth = 0;
  stack[depth++] = 0;
  while (depth > 0) {
    const Node& node = nodes_[stack[--depth]];
    if (EnterBox(node.lo, node.hi, origin, direction, tMax) == INFINITY) continue;
    if (node.count == 0) {
      stack[depth++] = node.first;
      stack[depth++] = node.first + 1;
      continue;
    }
    for (int i = node.first; i < node.first + node.count; ++i) {
      if (!visit(order_[i], tMax)) return;
    }
  }
}

namespace {

// Moeller-Trumbore: the ray parameter of the hit and the determinant's sign
// (positive: the ray meets the counter-clockwise side), or false.
bool Intersect(const double a[3], const double e1[3], const double e2[3], const double o[3],
               const double d[3], double* t, double* det) {
  double p[3], s[3], q[3];
  Cross(d, e2, p);
  *det = Dot(e1, p);
  if (std::fabs(*det) < 1e-12) return false;
  const double inv = 1.0 / *det;
  Sub(o, a, s);
  const double u = Dot(s, p) * inv;
  if (u < 0.0 || u > 1.0) return false;
  Cross(s, e1, q);
  const double v = Dot(d, q) * inv;
  if (v < 0.0 || u + v > 1.0) return false;
  *t = Dot(e2, q) * inv;
  return true;
}

}  // namespace

RayCaster::Hit RayCaster::Nearest(Vec3 origin, Vec3 direction, double tMin) const {
  const double o[3] = {origin.x, origin.y, origin.z};
  const double d[3] = {direction.x, direction.y, direction.z};
  Hit best;
  double bestT = INFINITY;
  Walk(o, d, 1e30, [&](int f, double& tMax) {
    const Triangle& tri = triangles_[f];
    double t, det;
    // A positive determinant is a face wound counter-clockwise seen from the
    // origin: the one side back-face culling keeps.
    if (tri.surface >= 0 && Intersect(tri.a, tri.e1, tri.e2, o, d, &t, &det) && det > 0 &&
        t > tMin && t < bestT) {
      bestT = t;
      tMax = t;
      best = Hit{f, t};
    }
    return true;
  });
  return best;
}

bool RayCaster::Blocked(Vec3 from, Vec3 to, int skip) const {
  const double o[3] = {from.x, from.y, from.z};
  const double d[3] = {to.x - from.x, to.y - from.y, to.z - from.z};
  bool blocked = false;
  Walk(o, d, 1.0, [&](int f, double&) {
    const Triangle& tri = triangles_[f];
    double t, det;
    if (f != skip && tri.surface >= 0 && Intersect(tri.a, tri.e1, tri.e2, o, d, &t, &det) &&
        t > 1e-6 && t < 1.0 - 1e-6)
      blocked = true;
    return !blocked;
  });
  return blocked;
}

Vec3 RayCaster::NormalOf(int face) const {
  const Triangle& t = triangles_[face];
  double n[3];
  Cross(t.e1, t.e2, n);
  const double length = std::sqrt(Dot(n, n));
  if (length == 0.0) return Vec3{0, 0, 0};
  return Vec3{static_cast<float>(n[0] / length), static_cast<float>(n[1] / length),
              static_cast<float>(n[2] / length)};
}

namespace {

// The share of a disc of `radius` about `light`, facing the origin, that
// `point` on `face` sees, over `samples` points drawn uniformly from the
// disc's area; only the points in front of the face count.
double SeenShare(const RayCaster& caster, Vec3 point, int face, Vec3 light, float radius,
                 int samples, std::mt19937& rng) {
  // The disc's axes: the normal towards the origin, and any two at right
  // angles to it.
  const double c[3] = {light.x, light.y, light.z};
  const double length = std::sqrt(Dot(c, c));
  const double n[3] = {-c[0] / length, -c[1] / length, -c[2] / length};
  const double x[3] = {1, 0, 0}, y[3] = {0, 1, 0};
  double u[3], v[3];
  Cross(n, std::fabs(n[0]) < 0.9 ? x : y, u);
  const double ul = std::sqrt(Dot(u, u));
  for (double& k : u) k /= ul;
  Cross(n, u, v);
  const Vec3 normal = caster.NormalOf(face);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int front = 0, seen = 0;
  for (int i = 0; i < samples; ++i) {
    const double r = radius * std::sqrt(unit(rng)), a = 2.0 * M_PI * unit(rng);
    const Vec3 s = {static_cast<float>(c[0] + r * (std::cos(a) * u[0] + std::sin(a) * v[0])),
                    static_cast<float>(c[1] + r * (std::cos(a) * u[1] + std::sin(a) * v[1])),
                    static_cast<float>(c[2] + r * (std::cos(a) * u[2] + std::sin(a) * v[2]))};
    const double toward = normal.x * (s.x - point.x) + normal.y * (s.y - point.y) +
                          normal.z * (s.z - point.z);
    if (!(toward > 0)) continue;
    ++front;
    seen += !caster.Blocked(point, s, face);
  }
  return front == 0 ? 1.0 : static_cast<double>(seen) / front;
}

}  // namespace

std::vector<TruthPixel> CastView(const RayCaster& caster, const View& view, Vec3 light,
                                 float markerHalfSize, float discRadius) {
  constexpr double kNear = 15.0;  // the projection's near plane
  const Vec3 eye = {0.0f, 0.0f, view.eyeZ};
  // The marker's box, a unit wider than the tetrahedron or the disc's rim on
  // every side.
  const double h = std::max(markerHalfSize, discRadius) + 1.0;
  std::mt19937 rng(20261207);
  const double lo[3] = {light.x - h, light.y - h, light.z - h};
  const double hi[3] = {light.x + h, light.y + h, light.z + h};
  const double o[3] = {eye.x, eye.y, eye.z};
  std::vector<TruthPixel> truth(static_cast<size_t>(view.width) * view.height);
  for (int y = 0; y < view.height; ++y) {
    for (int x = 0; x < view.width; ++x) {
      // The direction's z is -1, so t is the depth in front of the eye.
      const Vec3 p = PointOnPlane(view, x, y, view.eyeZ - 1.0f);
      const Vec3 direction = {p.x - eye.x, p.y - eye.y, -1.0f};
      TruthPixel& pixel = truth[static_cast<size_t>(y) * view.width + x];
      const RayCaster::Hit hit = caster.Nearest(eye, direction, kNear);
      const double d[3] = {direction.x, direction.y, direction.z};
      const double markerT = EnterBox(lo, hi, o, d, 1e30);
      pixel.marker = markerT >= kNear && markerT < (hit.face < 0 ? INFINITY : hit.t);
      if (hit.face < 0) continue;
      pixel.face = hit.face;
      pixel.surface = caster.SurfaceOf(hit.face);
      const Vec3 point = {static_cast<float>(eye.x + direction.x * hit.t),
                          static_cast<float>(eye.y + direction.y * hit.t),
                          static_cast<float>(eye.z + direction.z * hit.t)};
      if (discRadius > 0) {
        pixel.seen = SeenShare(caster, point, hit.face, light, discRadius, 256, rng);
      } else {
        pixel.shadowed = caster.Blocked(point, light, hit.face);
      }
    }
  }
  return truth;
}
