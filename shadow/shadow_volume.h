// The side faces of the shadow volume a point light casts behind a mesh.
// Bound once to a mesh's vertex and edge arrays (it does not own them: they
// must stay valid and unchanged while it is used), it walks the edge records,
// finds the silhouette edges as seen from the light, stretches each away from
// the light into a quad and sorts the quads into two classes by the side of
// the quad's plane on which the eye lies. VisitShadowQuads finds the quads
// without OpenGL; DrawShadowQuads emits them into the caller's
// glBegin(GL_TRIANGLES) ... glEnd. The volume is never capped.
// Limits: records naming a vertex outside the bound vertex count are skipped,
// so a walk never reads outside the bound arrays as the binder declared them
// (both strides are honoured). No allocation; not thread-safe to rebind while
// another thread walks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/scene.h"

class ShadowVolume {
 public:
  float extrusion = 10000.0f;             // extruded point's distance from the light / original's
  bool vertexArrayBound = false;          // true once BindVertexArray has run
  const Vec3* vertexArray = nullptr;      // vertex 0: bound base + byte offset
  int32_t vertexArrayCount = 0;           // vertices in the bound array
  int32_t vertexArrayStride = 0;          // bytes from one vertex to the next
  bool edgeArrayBound = false;            // true once BindEdgeArray has run
  const EdgeRecord* edgeArray = nullptr;  // record 0: bound base + byte offset
  int32_t edgeArrayCount = 0;             // records walked per call; <= 0 walks none
  int32_t edgeArrayStride = 0;            // bytes from one record to the next

  // Stores the ratio by which extruded points are pushed away from the light.
  void SetExtrusion(float factor) { extrusion = factor; }

  // Binds count vertices starting offset bytes after base, stride bytes apart.
  // A null base leaves the array unbound.
  void BindVertexArray(const Vec3* base, int32_t count, int32_t stride, int32_t offset);

  // Binds count edge records starting offset bytes after base, stride bytes
  // apart. A null base leaves the array unbound.
  void BindEdgeArray(const EdgeRecord* base, int32_t count, int32_t stride, int32_t offset);

  // light + (point - light) x factor, per component (point - light) * factor + light.
  static Vec3 ExtrudePoint(Vec3 light, Vec3 point, float factor) {
    return Vec3{(point.x - light.x) * factor + light.x, (point.y - light.y) * factor + light.y,
                (point.z - light.z) * factor + light.z};
  }

  // Calls visit(recordIndex, v0, v1, v0Extruded, v1Extruded) (int32_t, then four
  // const Vec3&) for every quad DrawShadowQuads would emit with these
  // arguments, in walk order. A record is a silhouette edge when the
  // off-edge vertices of both its faces lie strictly on the same side of the
  // plane through the light and the edge; its quad is visited when the eye
  // lies strictly on the other side of that plane (separating) or strictly on
  // the faces' side (!separating). Visits nothing unless both arrays are bound.
  template <typename Visit>
  void VisitShadowQuads(float lightX, float lightY, float lightZ, float eyeX, float eyeY,
                        float eyeZ, bool separating, Visit&& visit) const;

  // Emits glColor3f(0.52, 0.52, 0.52) and the six glVertex3f calls V0, V1,
  // V0', V0', V1', V1 of every quad VisitShadowQuads visits. The caller has
  // opened glBegin(GL_TRIANGLES) and closes it afterwards.
  void DrawShadowQuads(float lightX, float lightY, float lightZ, float eyeX, float eyeY, float eyeZ,
                       bool separating) const;

 private:
  // Bit k of the result is set when record first + k (0 <= k < count <= 64)
  // names only bound vertices and is a silhouette edge as seen from the light.
  // Uses the processor's vector instructions when the arrays are packed.
  uint64_t SilhouetteMask(int64_t first, int count, const Vec3& light) const;

  // The plane through the light and a record's edge, and the plane function
  // at the two off-edge vertices, in the float32 order the walk is defined by.
  struct EdgePlane {
    Vec3 n;           // (V0 - L) x (V1 - L), not normalised
    float nDotLight;  // n . L
    float f2;         // n . V2 - n . L
    float f3;         // n . V3 - n . L
  };
  static EdgePlane PlaneOf(const Vec3& light, const Vec3& v0, const Vec3& v1, const Vec3& v2,
                           const Vec3& v3) {
    EdgePlane p;
    const Vec3 a{v0.x - light.x, v0.y - light.y, v0.z - light.z};
    const Vec3 b{v1.x - light.x, v1.y - light.y, v1.z - light.z};
    p.n = Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    p.nDotLight = p.n.x * light.x + p.n.y * light.y + p.n.z * light.z;
    p.f2 = (p.n.x * v2.x + p.n.y * v2.y + p.n.z * v2.z) - p.nDotLight;
    p.f3 = (p.n.x * v3.x + p.n.y * v3.y + p.n.z * v3.z) - p.nDotLight;
    return p;
  }

  // Index of the lowest set bit of a non-zero mask.
  static int LowestSetBit(uint64_t mask) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_ctzll(mask);
#else
    int k = 0;
    while (((mask >> k) & 1u) == 0) ++k;
    return k;
#endif
  }

  // +1 above the plane, 0 on it, -1 below it or not a number.
  static int Sign(float value) {
    return value > 0.0f ? 1 : value == 0.0f ? 0 : -1;
  }

  // Both off-edge vertices strictly on one side of the plane.
  static bool IsSilhouette(float f2, float f3) {
    const int s2 = Sign(f2);
    return s2 != 0 && s2 == Sign(f3);
  }

  // Every index of the record names a bound vertex (negative ones never do).
  bool Covers(const EdgeRecord& edge) const {
    const uint32_t count = vertexArrayCount > 0 ? static_cast<uint32_t>(vertexArrayCount) : 0u;
    return static_cast<uint32_t>(edge.edgeStart) < count &&
           static_cast<uint32_t>(edge.edgeEnd) < count &&
           static_cast<uint32_t>(edge.opposite) < count &&
           static_cast<uint32_t>(edge.neighbourOpposite) < count;
  }

  const EdgeRecord& Record(int64_t i) const {
    return *reinterpret_cast<const EdgeRecord*>(reinterpret_cast<const char*>(edgeArray) +
                                                static_cast<ptrdiff_t>(edgeArrayStride) * i);
  }

  const Vec3& Vertex(int32_t index) const {
    return *reinterpret_cast<const Vec3*>(reinterpret_cast<const char*>(vertexArray) +
                                          static_cast<ptrdiff_t>(vertexArrayStride) * index);
  }
};

template <typename Visit>
void ShadowVolume::VisitShadowQuads(float lightX, float lightY, float lightZ, float eyeX,
                                    float eyeY, float eyeZ, bool separating, Visit&& visit) const {
  if (!vertexArrayBound || !edgeArrayBound) return;
  const Vec3 light{lightX, lightY, lightZ};
  // Silhouettes are few: find them 64 records at a time, then classify and
  // extrude only those, in record order.
  for (int64_t first = 0; first < edgeArrayCount; first += 64) {
    const int count = static_cast<int>(edgeArrayCount - first < 64 ? edgeArrayCount - first : 64);
    const uint64_t silhouettes = SilhouetteMask(first, count, light);
    for (uint64_t rest = silhouettes; rest != 0; rest &= rest - 1) {
      const int k = LowestSetBit(rest);
      const int32_t i = static_cast<int32_t>(first + k);
      const EdgeRecord& edge = Record(i);
      const Vec3& v0 = Vertex(edge.edgeStart);
      const Vec3& v1 = Vertex(edge.edgeEnd);
      const EdgePlane plane =
          PlaneOf(light, v0, v1, Vertex(edge.opposite), Vertex(edge.neighbourOpposite));
      const Vec3& n = plane.n;
      const int sEye = Sign((n.x * eyeX + n.y * eyeY + n.z * eyeZ) - plane.nDotLight);
      // An eye in the quad's plane sees it edge-on: neither class.
      if (sEye == 0) continue;
      if ((sEye != Sign(plane.f2)) != separating) continue;
      visit(i, v0, v1, ExtrudePoint(light, v0, extrusion), ExtrudePoint(light, v1, extrusion));
    }
  }
}
