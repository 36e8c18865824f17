// The exact shadow passes. OpenGL 1.1 has no two-sided stencil, so the
// volume is drawn twice with the culled side flipped: back faces count up
// where they lie behind the scene, front faces count down. Vertex arrays
// (OpenGL 1.1) carry the per-frame volume.
#include "render/exact_shadows.h"

#include <GL/gl.h>

// OpenGL 2.0's separate stencil operations per face, called only when the
// context reports version 2.0 or later.
extern "C" void glStencilOpSeparate(GLenum face, GLenum fail, GLenum zfail, GLenum zpass);

#include <cmath>
#include <cstdio>
#include <cstring>

#include "render/immediate_batch.h"

namespace {

constexpr GLenum kIncrWrap = 0x8507;  // GL_INCR_WRAP (OpenGL 1.4, GL_EXT_stencil_wrap)
constexpr GLenum kDecrWrap = 0x8508;  // GL_DECR_WRAP

// `count` indices from `first` into the volume's vertices, drawn as
// triangles in `rgba` (null: the current colour): through a vertex array,
// or with `streamIndices` one glVertex4fv each, the colour with every vertex.
void DrawIndexed(const ExactShadowVolume& volume, const uint32_t* first, int32_t count,
                 const float* rgba, bool streamIndices) {
  if (streamIndices) {
    const float* vertices = volume.Vertices();
    ImmediateBatch batch(GL_TRIANGLES);
    for (int32_t i = 0; i < count; ++i) {
      batch.Vertex();
      if (rgba != nullptr) glColor4fv(rgba);
      glVertex4fv(vertices + 4 * static_cast<size_t>(first[i]));
    }
    return;
  }
  if (rgba != nullptr) glColor4fv(rgba);
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(4, GL_FLOAT, 0, volume.Vertices());
  glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, first);
  glDisableClientState(GL_VERTEX_ARRAY);
}

// The vertex arrays of `volume` drawn as triangles, every index of them. The
// front cap lies in the casting surfaces themselves (or, for a flat patch,
// in its plane): pushed a little away from the eye, its fragments on those
// surfaces always fail the depth test, as z-fail counting needs, whatever
// the rounding of a fan triangle's depth.
void DrawVolumeTriangles(const ExactShadowVolume& volume, bool streamIndices) {
  const int32_t frontCap = volume.CapIndexCount() / 2;
  DrawIndexed(volume, volume.Indices(), volume.IndexCount() - frontCap, nullptr, streamIndices);
  glEnable(GL_POLYGON_OFFSET_FILL);
  glPolygonOffset(1.0f, 2.0f);
  DrawIndexed(volume, volume.Indices() + volume.IndexCount() - frontCap, frontCap, nullptr,
              streamIndices);
  glDisable(GL_POLYGON_OFFSET_FILL);
}

// A quad over the whole client area in an orthographic volume, colour `grey`
// at every corner; matrices restored after, the modelview left selected.
void ClientQuad(float clientWidth, float clientHeight, float grey) {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, clientWidth, 0, clientHeight, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glBegin(GL_QUADS);
  glColor3f(grey, grey, grey);
  glVertex2f(0, 0);
  glColor3f(grey, grey, grey);
  glVertex2f(clientWidth, 0);
  glColor3f(grey, grey, grey);
  glVertex2f(clientWidth, clientHeight);
  glColor3f(grey, grey, grey);
  glVertex2f(0, clientHeight);
  glEnd();
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}

// The state of the volume view: translucent, both faces, depth-tested
// against the finished picture without writing depth.
void TranslucentVolumeState() {
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glDepthMask(GL_FALSE);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

}  // namespace

StencilSupport QueryStencilSupport() {
  StencilSupport support;
  GLint bits = 0;
  glGetIntegerv(GL_STENCIL_BITS, &bits);
  support.bits = bits;
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  int major = 0, minor = 0;
  if (version != nullptr && std::sscanf(version, "%d.%d", &major, &minor) == 2) {
    support.wrapping = major > 1 || (major == 1 && minor >= 4);
    support.twoSided = major >= 2;
  }
  // OpenGL ES has both from 2.0 on; WebGL is ES.
  if (version != nullptr && std::sscanf(version, "OpenGL ES %d.%d", &major, &minor) == 2)
    support.wrapping = support.twoSided = major >= 2;
  support.streamIndices = version != nullptr && std::strstr(version, "WebGL") != nullptr;
  if (extensions != nullptr && std::strstr(extensions, "GL_EXT_stencil_wrap") != nullptr)
    support.wrapping = true;
  return support;
}

void MakeFarPlaneInfinite(float p[16]) {
  // A perspective matrix has p[10] = (f + n) / (n - f) and p[14] = 2fn / (n - f);
  // as f goes to infinity they become -1 and -2n. The small epsilon keeps
  // points at infinity (w = 0) just inside the far plane.
  const float epsilon = 2.4e-7f;
  const float nearPlane = p[14] / (p[10] - 1.0f);
  p[10] = epsilon - 1.0f;
  p[14] = nearPlane * (epsilon - 2.0f);
}

void ViewPlanes(const float projection[16], const float modelview[16], float planes[5][4]) {
  float m[16];  // projection x modelview, column-major
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r)
      m[4 * c + r] = projection[r] * modelview[4 * c] + projection[4 + r] * modelview[4 * c + 1] +
                     projection[8 + r] * modelview[4 * c + 2] +
                     projection[12 + r] * modelview[4 * c + 3];
  // Row 3 plus or minus rows 0, 1 and row 3 plus row 2 (Gribb and Hartmann).
  const int rows[5] = {0, 0, 1, 1, 2};
  const float signs[5] = {1, -1, 1, -1, 1};
  for (int k = 0; k < 5; ++k) {
    float* p = planes[k];
    for (int c = 0; c < 4; ++c) p[c] = m[4 * c + 3] + signs[k] * m[4 * c + rows[k]];
    const float length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    for (int c = 0; c < 4; ++c) p[c] = length > 0 ? p[c] / length : 0.0f;
  }
}

bool SphereScreenRect(const float projection[16], const float modelview[16], Vec3 centre,
                      float radius, int width, int height, int rect[4]) {
  float lowX = 1, lowY = 1, highX = -1, highY = -1;
  bool allOutside[4] = {true, true, true, true};  // left, right, bottom, top
  for (int corner = 0; corner < 8; ++corner) {
    const float p[3] = {centre.x + ((corner & 1) ? radius : -radius),
                        centre.y + ((corner & 2) ? radius : -radius),
                        centre.z + ((corner & 4) ? radius : -radius)};
    float eye[4], clip[4];
    for (int r = 0; r < 4; ++r)
      eye[r] = modelview[r] * p[0] + modelview[4 + r] * p[1] + modelview[8 + r] * p[2] +
               modelview[12 + r];
    for (int r = 0; r < 4; ++r)
      clip[r] = projection[r] * eye[0] + projection[4 + r] * eye[1] + projection[8 + r] * eye[2] +
                projection[12 + r] * eye[3];
    // A corner at or behind the near plane: the box's projection is unbounded.
    if (clip[3] <= 0 || clip[2] < -clip[3]) {
      rect[0] = 0;
      rect[1] = 0;
      rect[2] = width;
      rect[3] = height;
      return true;
    }
    const float x = clip[0] / clip[3], y = clip[1] / clip[3];
    lowX = std::fmin(lowX, x);
    highX = std::fmax(highX, x);
    lowY = std::fmin(lowY, y);
    highY = std::fmax(highY, y);
    allOutside[0] = allOutside[0] && x < -1;
    allOutside[1] = allOutside[1] && x > 1;
    allOutside[2] = allOutside[2] && y < -1;
    allOutside[3] = allOutside[3] && y > 1;
  }
  if (allOutside[0] || allOutside[1] || allOutside[2] || allOutside[3]) return false;
  // Whole pixels that hold any part of the box, one pixel of margin.
  const float x0 = std::fmax(-1.0f, lowX), x1 = std::fmin(1.0f, highX);
  const float y0 = std::fmax(-1.0f, lowY), y1 = std::fmin(1.0f, highY);
  const int left = static_cast<int>(std::floor((x0 + 1) * 0.5f * width)) - 1;
  const int right = static_cast<int>(std::ceil((x1 + 1) * 0.5f * width)) + 1;
  const int bottom = static_cast<int>(std::floor((y0 + 1) * 0.5f * height)) - 1;
  const int top = static_cast<int>(std::ceil((y1 + 1) * 0.5f * height)) + 1;
  rect[0] = left < 0 ? 0 : left;
  rect[1] = bottom < 0 ? 0 : bottom;
  rect[2] = (right > width ? width : right) - rect[0];
  rect[3] = (top > height ? height : top) - rect[1];
  return rect[2] > 0 && rect[3] > 0;
}

void ExactShadowPass(const ExactShadowVolume& volume, bool wrapping, bool twoSided, bool streamIndices,
                     const int scissor[4], float clientWidth, float clientHeight) {
  CountShadowVolumes(volume, wrapping, twoSided, streamIndices, scissor);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  DarkenWhereStencilled(clientWidth, clientHeight);
  glDisable(GL_SCISSOR_TEST);
}

void CountShadowVolumes(const ExactShadowVolume& volume, bool wrapping, bool twoSided,
                        bool streamIndices, const int scissor[4]) {
  glEnable(GL_SCISSOR_TEST);
  glScissor(scissor[0], scissor[1], scissor[2], scissor[3]);
  glStencilMask(0xFF);
  glClearStencil(0);
  glClear(GL_STENCIL_BUFFER_BIT);
  glEnable(GL_STENCIL_TEST);
  glStencilFunc(GL_ALWAYS, 0, 0xFF);
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
  glDepthMask(GL_FALSE);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  if (twoSided && wrapping) {
    // One draw: back faces count up, front faces down.
    glDisable(GL_CULL_FACE);
    glStencilOpSeparate(GL_BACK, GL_KEEP, kIncrWrap, GL_KEEP);
    glStencilOpSeparate(GL_FRONT, GL_KEEP, kDecrWrap, GL_KEEP);
    DrawVolumeTriangles(volume, streamIndices);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
  } else {
    // Up first, so that saturating counts (no wrapping) never go below zero.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_FRONT);
    glStencilOp(GL_KEEP, wrapping ? kIncrWrap : GL_INCR, GL_KEEP);
    DrawVolumeTriangles(volume, streamIndices);
    glCullFace(GL_BACK);
    glStencilOp(GL_KEEP, wrapping ? kDecrWrap : GL_DECR, GL_KEEP);
    DrawVolumeTriangles(volume, streamIndices);
  }
}

void MarkWhereStencilled(float red, float clientWidth, float clientHeight) {
  glEnable(GL_STENCIL_TEST);
  glStencilFunc(GL_NOTEQUAL, 0, 0xFF);
  glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  const GLboolean dither = glIsEnabled(GL_DITHER);
  glDisable(GL_DITHER);
  glColorMask(GL_TRUE, GL_FALSE, GL_FALSE, GL_FALSE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE);
  ClientQuad(clientWidth, clientHeight, red);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  if (dither) glEnable(GL_DITHER);
  glEnable(GL_DEPTH_TEST);
  glDisable(GL_STENCIL_TEST);
}

void DarkenWhereStencilled(float clientWidth, float clientHeight) {
  // The blended passes' first step: destination alpha (1) x grey replaces
  // the pixel, so a shadowed pixel gets the very same value.
  glEnable(GL_STENCIL_TEST);
  glStencilFunc(GL_NOTEQUAL, 0, 0xFF);
  glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_DST_ALPHA, GL_ZERO);
  ClientQuad(clientWidth, clientHeight, kShadowGrey);
  glEnable(GL_DEPTH_TEST);
  glDisable(GL_STENCIL_TEST);
}

void DrawExactVolumes(const ExactShadowVolume& volume, bool streamIndices) {
  TranslucentVolumeState();
  const float sides[4] = {0.2f, 0.4f, 1.0f, 0.15f};  // blue
  const float caps[4] = {1.0f, 0.6f, 0.1f, 0.15f};   // orange
  DrawIndexed(volume, volume.Indices(), volume.SideIndexCount(), sides, streamIndices);
  DrawIndexed(volume, volume.Indices() + volume.SideIndexCount(), volume.CapIndexCount(), caps,
              streamIndices);
}

void DrawBlendVolumes(const ShadowVolume& volume, Vec3 light, Vec3 eye) {
  TranslucentVolumeState();
  ImmediateBatch batch(GL_TRIANGLES);
  for (QuadClass which : {QuadClass::kSeparating, QuadClass::kFacing}) {
    // Separating quads (first pass) red, facing quads (second pass) green.
    const float red = which == QuadClass::kSeparating ? 1.0f : 0.1f;
    const float green = which == QuadClass::kSeparating ? 0.2f : 0.8f;
    volume.VisitShadowQuads(
        light, eye, which,
        [&](int32_t, const Vec3& v0, const Vec3& v1, const Vec3& v0x, const Vec3& v1x) {
          for (const Vec3* v : {&v0, &v1, &v0x, &v0x, &v1x, &v1}) {
            batch.Vertex();
            glColor4f(red, green, 0.1f, 0.2f);
            glVertex3f(v->x, v->y, v->z);
          }
        });
  }
}
