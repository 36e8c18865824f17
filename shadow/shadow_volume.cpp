// Binding and the OpenGL side of the shadow volume. The walk itself is the
// header's VisitShadowQuads, shared with the tests; its silhouette search
// lives in silhouette.cpp.
#include "shadow/shadow_volume.h"

#include <GL/gl.h>

#include <initializer_list>

namespace {

const char* AddBytes(const void* base, int32_t offset) {
  return reinterpret_cast<const char*>(base) + offset;
}

void EmitVertex(const Vec3& v) {
  glVertex3f(v.x, v.y, v.z);
}

}  // namespace

void ShadowVolume::BindVertexArray(const Vec3* base, int32_t count, int32_t stride,
                                   int32_t offset) {
  if (base == nullptr) return;
  vertexArray = reinterpret_cast<const Vec3*>(AddBytes(base, offset));
  vertexArrayCount = count;
  vertexArrayStride = stride;
  vertexArrayBound = true;
}

void ShadowVolume::BindEdgeArray(const EdgeRecord* base, int32_t count, int32_t stride,
                                 int32_t offset) {
  if (base == nullptr) return;
  edgeArray = reinterpret_cast<const EdgeRecord*>(AddBytes(base, offset));
  edgeArrayCount = count;
  edgeArrayStride = stride;
  edgeArrayBound = true;
}

void ShadowVolume::DrawShadowQuads(Vec3 light, Vec3 eye, QuadClass which) const {
  VisitShadowQuads(light, eye, which,
                   [](int32_t, const Vec3& v0, const Vec3& v1, const Vec3& v0x, const Vec3& v1x) {
                     // Triangles (V0, V1, V0') and (V0', V1', V1) cover the quad.
                     // The colour goes with every vertex: an immediate mode
                     // that streams attributes (WebGL's emulation) latches
                     // nothing between vertices.
                     for (const Vec3* v : {&v0, &v1, &v0x, &v0x, &v1x, &v1}) {
                       glColor3f(kShadowGrey, kShadowGrey, kShadowGrey);
                       EmitVertex(*v);
                     }
                   });
}
