// Binding and the OpenGL side of the shadow volume: the walk itself is the
// header's VisitShadowQuads, shared with the tests.
#include "shadow/shadow_volume.h"

#include <GL/gl.h>

namespace {

const char* AddBytes(const void* base, int32_t offset) {
  return reinterpret_cast<const char*>(base) + offset;
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

void ShadowVolume::DrawShadowQuads(float lightX, float lightY, float lightZ, float eyeX, float eyeY,
                                   float eyeZ, bool separating) const {
  VisitShadowQuads(lightX, lightY, lightZ, eyeX, eyeY, eyeZ, separating,
                   [](int32_t, const Vec3& v0, const Vec3& v1, const Vec3& v0x, const Vec3& v1x) {
                     glColor3f(0.52f, 0.52f, 0.52f);
                     glVertex3f(v0.x, v0.y, v0.z);
                     glVertex3f(v1.x, v1.y, v1.z);
                     glVertex3f(v0x.x, v0x.y, v0x.z);
                     glVertex3f(v0x.x, v0x.y, v0x.z);
                     glVertex3f(v1x.x, v1x.y, v1x.z);
                     glVertex3f(v1.x, v1.y, v1.z);
                   });
}
