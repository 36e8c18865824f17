// The traced passes and the truth view; see traced_shadows.h. Images go
// between OpenGL and the processor whole, with glReadPixels and glDrawPixels
// in window coordinates (a raster position at the client's corner under an
// orthographic projection; on the page, through a texture), rows bottom
// first and tightly packed.
#include "render/traced_shadows.h"

#include <GL/gl.h>

#include <algorithm>

#include "render/exact_shadows.h"
#include "render/frame.h"
#include "render/immediate_batch.h"
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

// For its life, an orthographic projection with the client area's pixels as
// units and an identity modelview; both matrices are put back after, the
// modelview left selected.
class ClientOrtho {
 public:
  ClientOrtho(int width, int height) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
  }
  ~ClientOrtho() {
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
  }
  ClientOrtho(const ClientOrtho&) = delete;
  ClientOrtho& operator=(const ClientOrtho&) = delete;
};

}  // namespace

#ifdef __EMSCRIPTEN__

// The page's OpenGL emulation has no glDrawPixels: a colour image goes into
// a texture of its size and is drawn on a quad over the client area, the
// texel nearest each pixel's centre replacing the colour, so each pixel
// takes its own byte unchanged. Stencil images are not drawn: the page
// never traces. Texturing is left off and the scene's texture bound again.
void DrawClientPixels(int width, int height, unsigned int format, const void* pixels) {
  if ((format != GL_LUMINANCE && format != GL_RGBA) || width <= 0 || height <= 0) return;
  if (GlContext.clientImageTexture == 0) {
    glGenTextures(1, &GlContext.clientImageTexture);
    glBindTexture(GL_TEXTURE_2D, GlContext.clientImageTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  glBindTexture(GL_TEXTURE_2D, GlContext.clientImageTexture);
  GLint unpack = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &unpack);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (GlContext.clientImageWidth == width && GlContext.clientImageHeight == height &&
      GlContext.clientImageFormat == format) {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, pixels);
  } else {
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), width, height, 0, format,
                 GL_UNSIGNED_BYTE, pixels);
    GlContext.clientImageWidth = width;
    GlContext.clientImageHeight = height;
    GlContext.clientImageFormat = format;
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, unpack);
  GLint environment = GL_MODULATE;
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &environment);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glEnable(GL_TEXTURE_2D);
  const ClientOrtho ortho(width, height);
  const float w = static_cast<float>(width), h = static_cast<float>(height);
  const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  // Colour and coordinate with every vertex: the emulation latches nothing.
  glBegin(GL_QUADS);
  for (const auto& corner : corners) {
    glColor4f(1, 1, 1, 1);
    glTexCoord2f(corner[0], corner[1]);
    glVertex2f(corner[0] * w, corner[1] * h);
  }
  glEnd();
  glDisable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, environment);
  glBindTexture(GL_TEXTURE_2D, GlContext.sceneTexture);
}

// WebGL reads only RGBA bytes for certain: one channel is taken from them.
void ReadClientRect(int x, int y, int width, int height, unsigned int format, uint8_t* out) {
  if (width <= 0 || height <= 0) return;
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  const bool red = format == GL_RED;
  uint8_t* rgba = out;
  if (red) {
    Traced.readRgba.resize(4 * pixels);  // keeps its storage: no allocation at the same size
    rgba = Traced.readRgba.data();
  } else if (format != GL_RGBA) {
    return;
  }
  GLint pack = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &pack);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  glPixelStorei(GL_PACK_ALIGNMENT, pack);
  if (red)
    for (size_t i = 0; i < pixels; ++i) out[i] = rgba[4 * i];
}

#else

void DrawClientPixels(int width, int height, unsigned int format, const void* pixels) {
  const ClientOrtho ortho(width, height);
  glRasterPos2i(0, 0);
  GLint unpack = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &unpack);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glDrawPixels(width, height, format, GL_UNSIGNED_BYTE, pixels);
  glPixelStorei(GL_UNPACK_ALIGNMENT, unpack);
}

void ReadClientRect(int x, int y, int width, int height, unsigned int format, uint8_t* out) {
  GLint pack = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &pack);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, width, height, format, GL_UNSIGNED_BYTE, out);
  glPixelStorei(GL_PACK_ALIGNMENT, pack);
}

#endif

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
  {
    // The page's emulation keeps a colour byte as (byte / 255) x 255,
    // truncated, which gives back every byte exactly.
    ImmediateBatch batch(GL_TRIANGLES);
    for (int32_t f = 0; f < mesh.faceCount; ++f) {
      const uint32_t id = static_cast<uint32_t>(f) + 1;
      for (int32_t v : mesh.faces[f].Corners()) {
        batch.Vertex();
        glColor3ub(static_cast<GLubyte>(id), static_cast<GLubyte>(id >> 8),
                   static_cast<GLubyte>(id >> 16));
        glVertex3fv(&mesh.vertices[v].x);
      }
    }
  }
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
