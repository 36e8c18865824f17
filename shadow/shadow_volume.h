// The side faces of the shadow volume a point light casts behind a mesh.
// Bound once to a mesh's vertex and edge arrays (it does not own them: they
// must stay valid and unchanged while it is used), it walks the edge records,
// finds the silhouette edges as seen from the light, stretches each away from
// the light into a quad and sorts the quads into two classes by the side of
// the quad's plane on which the eye lies. VisitShadowQuads finds the quads
// without OpenGL; DrawShadowQuads emits them into the caller's
// glBegin(GL_TRIANGLES) ... glEnd. The volume is never capped.
// Limits: records naming a vertex outside the bound vertex count are skipped,
// so a walk never reads outside the bound arrays as the binder declared them.
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
  // +1 above the plane, 0 on it, -1 below it or not a number.
  static int Sign(float value) { return value > 0.0f ? 1 : value == 0.0f ? 0 : -1; }

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
  const uint32_t vertexCount = vertexArrayCount > 0 ? static_cast<uint32_t>(vertexArrayCount) : 0u;
  const char* record = reinterpret_cast<const char*>(edgeArray);
  for (int32_t i = 0; i < edgeArrayCount; ++i, record += edgeArrayStride) {
    const EdgeRecord& edge = *reinterpret_cast<const EdgeRecord*>(record);
    // A border edge (or any index the bound vertices lack) casts no quad. The
    // unsigned comparison rejects negative indices too.
    if (static_cast<uint32_t>(edge.edgeStart) >= vertexCount ||
        static_cast<uint32_t>(edge.edgeEnd) >= vertexCount ||
        static_cast<uint32_t>(edge.opposite) >= vertexCount ||
        static_cast<uint32_t>(edge.neighbourOpposite) >= vertexCount) {
      continue;
    }
    const Vec3& v0 = Vertex(edge.edgeStart);
    const Vec3& v1 = Vertex(edge.edgeEnd);
    const Vec3& v2 = Vertex(edge.opposite);
    const Vec3& v3 = Vertex(edge.neighbourOpposite);
    const Vec3 a{v0.x - light.x, v0.y - light.y, v0.z - light.z};
    const Vec3 b{v1.x - light.x, v1.y - light.y, v1.z - light.z};
    const Vec3 n{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    const float nDotLight = n.x * light.x + n.y * light.y + n.z * light.z;
    const int s2 = Sign((n.x * v2.x + n.y * v2.y + n.z * v2.z) - nDotLight);
    const int s3 = Sign((n.x * v3.x + n.y * v3.y + n.z * v3.z) - nDotLight);
    if (s2 == 0 || s2 != s3) continue;
    const int sEye = Sign((n.x * eyeX + n.y * eyeY + n.z * eyeZ) - nDotLight);
    if (sEye == 0) continue;
    if ((sEye != s2) != separating) continue;
    visit(i, v0, v1, ExtrudePoint(light, v0, extrusion), ExtrudePoint(light, v1, extrusion));
  }
}
