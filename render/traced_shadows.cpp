// The traced passes and the truth view; see traced_shadows.h. Images go
// between OpenGL and the processor whole, with glReadPixels and glDrawPixels
// in window coordinates (a raster position at the client's corner under an
// orthographic projection), rows bottom first and tightly packed.
#include "render/traced_shadows.h"

#include <GL/gl.h>

#include <algorithm>

#include "render/exact_shadows.h"
#include "render/frame.h"
#include "trace/shadow_tracer.h"

namespace {

constexpr uint8_t kTruthMarked = 255;  // alpha of a mark; unmarked pixels have 0

size_t PixelCount(int width, int height) {
  return width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
}

// Sizes the buffers for the client; the vectors keep their storage, so the
// same size allocates nothing.
void SizeBuffers(int width, int height) {
  const size_t pixels = PixelCount(width, height);
  Traced.faceIds.resize(4 * pixels);
  Traced.mask.resize(pixels);
  Traced.modeShadow.resize(pixels);
}

}  // namespace

// The page's OpenGL emulation has no glDrawPixels, and the page never
// traces or draws soft shadows, so there it does nothing.
void DrawClientPixels(int width, int height, unsigned int format, const void* pixels) {
#ifdef __EMSCRIPTEN__
  (void)width, (void)height, (void)format, (void)pixels;
#else
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, width, 0, height, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glRasterPos2i(0, 0);
  GLint unpack = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &unpack);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glDrawPixels(width, height, format, GL_UNSIGNED_BYTE, pixels);
  glPixelStorei(GL_UNPACK_ALIGNMENT, unpack);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
#endif
}

void ReadClientRect(int x, int y, int width, int height, unsigned int format, uint8_t* out) {
  GLint pack = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &pack);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, width, height, format, GL_UNSIGNED_BYTE, out);
  glPixelStorei(GL_PACK_ALIGNMENT, pack);
}

namespace {

void ReadClient(int width, int height, GLenum format, uint8_t* out) {
  ReadClientRect(0, 0, width, height, format, out);
}

}  // namespace

void FaceIdPass(const MeshObject& mesh, ShadowTracer& tracer, Vec3 light, int width, int height) {
  DrawFaceIds(mesh, width, height);
  TraceFaceIds(tracer, light, width, height);
}

void DrawFaceIds(const MeshObject& mesh, int width, int height) {
  SizeBuffers(width, height);
  if (PixelCount(width, height) == 0) return;
  // The depth pass's depth state and vertices, so the later GL_EQUAL passes
  // admit exactly what this stores; colours exact, not dithered.
  glDepthFunc(GL_LESS);
  glDepthMask(GL_TRUE);
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_CULL_FACE);
  const GLboolean dither = glIsEnabled(GL_DITHER);
  glDisable(GL_DITHER);
  glBegin(GL_TRIANGLES);
  for (int32_t f = 0; f < mesh.faceCount; ++f) {
    const uint32_t id = static_cast<uint32_t>(f) + 1;
    for (int32_t v : mesh.faces[f].Corners()) {
      glColor3ub(static_cast<GLubyte>(id), static_cast<GLubyte>(id >> 8),
                 static_cast<GLubyte>(id >> 16));
      glVertex3fv(&mesh.vertices[v].x);
    }
  }
  glEnd();
  if (dither) glEnable(GL_DITHER);
  ReadClient(width, height, GL_RGBA, Traced.faceIds.data());
  // White again, alpha 1, as the depth pass leaves the colour.
  glClear(GL_COLOR_BUFFER_BIT);
}

void TraceFaceIds(ShadowTracer& tracer, Vec3 light, int width, int height) {
  if (PixelCount(width, height) == 0 || Traced.mask.size() != PixelCount(width, height)) return;
  TraceView view;
  view.width = width;
  view.height = height;
  glGetIntegerv(GL_VIEWPORT, view.viewport);
  glGetFloatv(GL_PROJECTION_MATRIX, view.projection);
  glGetFloatv(GL_MODELVIEW_MATRIX, view.modelview);
  view.light = light;
  view.reach = kLightRadius;
  tracer.Trace(view, Traced.faceIds.data(), Traced.mask.data());
}

void TracedShadowPass(int width, int height) {
  if (PixelCount(width, height) == 0) return;
  WriteMaskToStencil(width, height);
  DarkenWhereStencilled(static_cast<float>(width), static_cast<float>(height));
}

void WriteMaskToStencil(int width, int height) {
  if (PixelCount(width, height) == 0 || Traced.mask.size() != PixelCount(width, height)) return;
  glDisable(GL_SCISSOR_TEST);
  glStencilMask(0xFF);
  glClearStencil(0);
  glClear(GL_STENCIL_BUFFER_BIT);
  // Only the shadow bit of each mask byte reaches the stencil.
  glStencilMask(kTraceShadowed);
  DrawClientPixels(width, height, GL_STENCIL_INDEX, Traced.mask.data());
  glStencilMask(0xFF);
}

void ReadBlendShadow(int width, int height) {
  if (PixelCount(width, height) == 0) return;
  uint8_t* shadow = Traced.modeShadow.data();
  ReadClient(width, height, GL_RED, shadow);
  // Halfway between the shadow grey and white.
  const int threshold = static_cast<int>((kShadowGrey + 1.0f) * 0.5f * 255.0f + 0.5f);
  for (size_t i = 0; i < PixelCount(width, height); ++i) shadow[i] = shadow[i] < threshold;
}

void ReadStencilShadow(int width, int height, const int* scissor) {
  const size_t pixels = PixelCount(width, height);
  uint8_t* shadow = Traced.modeShadow.data();
  if (pixels == 0) return;
  if (scissor == nullptr) {
    std::fill(shadow, shadow + pixels, uint8_t{0});
    return;
  }
  ReadClient(width, height, GL_STENCIL_INDEX, shadow);
  // Outside the counting pass's rectangle the stencil holds older values.
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t& s = shadow[static_cast<size_t>(y) * width + x];
      const bool inside = x >= scissor[0] && x < scissor[0] + scissor[2] && y >= scissor[1] &&
                          y < scissor[1] + scissor[3];
      s = inside && s != 0;
    }
}

void TakeTracedShadow(int width, int height) {
  for (size_t i = 0; i < PixelCount(width, height); ++i)
    Traced.modeShadow[i] = (Traced.mask[i] & kTraceShadowed) != 0;
}

void TakeNoShadow(int width, int height) {
  std::fill(Traced.modeShadow.begin(), Traced.modeShadow.begin() + PixelCount(width, height),
            uint8_t{0});
}

TruthCount DrawTruthMarks(ShadowMode mode, int width, int height) {
  TruthCount count;
  count.measured = true;
  count.mode = mode;
  const size_t pixels = PixelCount(width, height);
  if (pixels == 0) return count;
  uint8_t* marks = Traced.faceIds.data();  // the ids are spent: the marks go here
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t trace = Traced.mask[i];
    const bool traced = (trace & kTraceShadowed) != 0, drawn = Traced.modeShadow[i] != 0;
    uint8_t* mark = marks + 4 * i;
    mark[0] = mark[1] = mark[2] = mark[3] = 0;
    if ((trace & kTraceUnreached) != 0 || (!traced && !drawn)) continue;
    ++count.counted;
    if (traced == drawn) continue;
    ++count.wrong;
    mark[drawn ? 0 : 2] = 255;
    mark[3] = kTruthMarked;
  }
  if (count.wrong == 0) return count;
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_STENCIL_TEST);
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_EQUAL, 1.0f);
  DrawClientPixels(width, height, GL_RGBA, marks);
  glDisable(GL_ALPHA_TEST);
  glEnable(GL_DEPTH_TEST);
  return count;
}

double TruthPercent(const TruthCount& count) {
  if (count.counted == 0) return 100.0;
  return 100.0 * static_cast<double>(count.counted - count.wrong) / static_cast<double>(count.counted);
}

const char* ShadowModeName(ShadowMode mode) {
  switch (mode) {
    case ShadowMode::kExact:
      return "exact";
    case ShadowMode::kTraced:
      return "traced";
    case ShadowMode::kOff:
      return "off";
    case ShadowMode::kBlend:
      break;
  }
  return "blend";
}
