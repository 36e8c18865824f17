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

#include <cstdint>

#include "model/scene.h"
#include "shadow/silhouette.h"

// Extrusion of a new ShadowVolume, until the scene's set-up chooses its own.
constexpr float kInitialExtrusion = 10000.0f;

// Red, green and blue of every shadow quad: the frame's blending turns it into
// the darkening of a shadowed pixel.
constexpr float kShadowGrey = 0.52f;

// The two classes a walk sorts silhouette quads into, by the side of the
// quad's plane on which the eye lies; an eye in the plane is in neither.
enum class QuadClass {
  kSeparating,  // the plane separates the eye from the edge's faces (first shadow pass)
  kFacing,      // the eye lies on the faces' side (second shadow pass)
};

class ShadowVolume {
 public:
  float extrusion = kInitialExtrusion;    // extruded point's distance from the light / original's
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
  // const Vec3&) for every quad of class `which` that DrawShadowQuads would
  // emit, in walk order. A record is a silhouette edge when the off-edge
  // vertices of both its faces lie strictly on the same side of the plane
  // through the light and the edge. Visits nothing unless both arrays are bound.
  template <typename Visit>
  void VisitShadowQuads(Vec3 light, Vec3 eye, QuadClass which, Visit&& visit) const;

  // Emits the six glVertex3f calls V0, V1, V0', V0', V1', V1 of every quad
  // VisitShadowQuads visits, each after its own glColor3f(kShadowGrey x 3). The caller has opened
  // glBegin(GL_TRIANGLES) and closes it afterwards.
  void DrawShadowQuads(Vec3 light, Vec3 eye, QuadClass which) const;

  // The same, for the frame's loose coordinates: `separating` selects
  // QuadClass::kSeparating, otherwise kFacing.
  void DrawShadowQuads(float lightX, float lightY, float lightZ, float eyeX, float eyeY, float eyeZ,
                       bool separating) const {
    DrawShadowQuads(Vec3{lightX, lightY, lightZ}, Vec3{eyeX, eyeY, eyeZ}, ClassOf(separating));
  }

 private:
  static QuadClass ClassOf(bool separating) {
    return separating ? QuadClass::kSeparating : QuadClass::kFacing;
  }

  EdgeWalkArrays Arrays() const {
    return EdgeWalkArrays{vertexArray, vertexArrayCount, vertexArrayStride, edgeArray,
                          edgeArrayStride};
  }
};

template <typename Visit>
void ShadowVolume::VisitShadowQuads(Vec3 light, Vec3 eye, QuadClass which, Visit&& visit) const {
  if (!vertexArrayBound || !edgeArrayBound) return;
  const EdgeWalkArrays arrays = Arrays();
  // Silhouettes are few: find them 64 records at a time, then classify and
  // extrude only those, in record order.
  for (int64_t first = 0; first < edgeArrayCount; first += 64) {
    const int count = static_cast<int>(edgeArrayCount - first < 64 ? edgeArrayCount - first : 64);
    for (uint64_t rest = SilhouetteMask(arrays, first, count, light); rest != 0; rest &= rest - 1) {
      const int32_t i = static_cast<int32_t>(first + LowestSetBit(rest));
      const EdgeRecord& edge = arrays.Record(i);
      const Vec3& v0 = arrays.Vertex(edge.edgeStart);
      const Vec3& v1 = arrays.Vertex(edge.edgeEnd);
      const EdgePlane plane = PlaneThrough(light, v0, v1);
      const int eyeSide = SideOf(plane, eye);
      // An eye in the quad's plane sees it edge-on: neither class.
      if (eyeSide == 0) continue;
      const bool separated = eyeSide != SideOf(plane, arrays.Vertex(edge.opposite));
      if (separated != (which == QuadClass::kSeparating)) continue;
      visit(i, v0, v1, ExtrudePoint(light, v0, extrusion), ExtrudePoint(light, v1, extrusion));
    }
  }
}
