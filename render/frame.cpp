// The frame passes. Every pass sets the state it needs in a fixed order, and
// the depth, lit and textured passes send each face's vertices identically so
// that the GL_EQUAL depth test of the later two admits exactly the fragments
// the depth pass stored. The destination alpha stays 1 all frame, which the
// shadow passes' blend factors rely on: the first pass replaces a covered
// pixel by 0.52 grey, the second adds 0.52 back (saturating at 1).
#include "render/frame.h"

#include <GL/gl.h>

#include <cmath>

#include "render/camera.h"
#include "render/exact_shadows.h"
#include "render/immediate_batch.h"
#include "render/lighting.h"
#include "render/render_state.h"
#include "render/scene_animation.h"
#include "render/traced_shadows.h"
#include "render/shadow_structures.h"
#include "render/soft_shadows.h"
#include "shadow/shadow_volume.h"
#include "trace/shadow_tracer.h"

namespace {

void SendPositions(const MeshObject& mesh, int32_t faceCount, ImmediateBatch& batch) {
  for (int f = 0; f < faceCount; ++f) {
    for (int32_t v : mesh.faces[f].Corners()) {
      batch.Vertex();
      glVertex3fv(&mesh.vertices[v].x);
    }
  }
}

// The quads of class `which` as pairs of triangles (V0, V1, V0') and
// (V0', V1', V1), the grey with every vertex: an immediate mode that streams
// attributes (WebGL's emulation) latches nothing between vertices.
void SendShadowQuads(const ShadowVolume& volume, Vec3 light, Vec3 eye, QuadClass which) {
  ImmediateBatch batch(GL_TRIANGLES);
  volume.VisitShadowQuads(
      light, eye, which,
      [&batch](int32_t, const Vec3& v0, const Vec3& v1, const Vec3& v0x, const Vec3& v1x) {
        for (const Vec3* v : {&v0, &v1, &v0x, &v0x, &v1x, &v1}) {
          batch.Vertex();
          glColor3f(kShadowGrey, kShadowGrey, kShadowGrey);
          glVertex3f(v->x, v->y, v->z);
        }
      });
}

void DepthPass(const MeshObject& mesh) {
  glDepthFunc(GL_LESS);
  glDepthMask(GL_TRUE);
  glEnable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_CULL_FACE);
  glBlendFunc(GL_ZERO, GL_ONE);  // colour untouched: depth only
  ImmediateBatch batch(GL_TRIANGLES);
  SendPositions(mesh, mesh.faceCount, batch);
}

void ShadowPasses(const ShadowVolume& volume, Vec3 light, Vec3 eye) {
  glDepthFunc(GL_LESS);
  glDepthMask(GL_FALSE);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_DST_ALPHA, GL_ZERO);
  SendShadowQuads(volume, light, eye, QuadClass::kSeparating);

  glEnable(GL_BLEND);
  glBlendFunc(GL_DST_ALPHA, GL_SRC_ALPHA);
  SendShadowQuads(volume, light, eye, QuadClass::kFacing);
}

// The exact mode's shadow step: the volumes of this frame's light that reach
// the view, counted within the screen rectangle of the light's reach; beyond
// the reach the lit colour is zero, so the darkening could change nothing
// there. The reach is what the lit pass really lights, which for a large
// face with one corner near the light lies well beyond the light's radius.
// False when the rectangle is empty and nothing was counted; else
// `scissor` holds the rectangle.
bool ExactShadows(ExactShadowVolume& volume, Vec3 light, const RECT& client, float clientWidth,
                  float clientHeight, int scissor[4]) {
  float projection[16], modelview[16], planes[5][4];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  ViewPlanes(projection, modelview, planes);
  const float reach = volume.LitReach(light, kLightRadius);
  volume.Update(light, reach, planes, 5);
  const int width = client.right - client.left, height = client.bottom - client.top;
  scissor[0] = 0;
  scissor[1] = 0;
  scissor[2] = width;
  scissor[3] = height;
  if (reach < INFINITY &&
      !SphereScreenRect(projection, modelview, light, reach, width, height, scissor))
    return false;
  ExactShadowPass(volume, Shadows.stencilWraps, Shadows.stencilTwoSided, Shadows.streamIndices,
                  scissor, clientWidth, clientHeight);
  return true;
}

void LitPass(const MeshObject& mesh, Vec3 light) {
  glDepthMask(GL_TRUE);
  glDepthFunc(GL_EQUAL);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ZERO, GL_SRC_COLOR);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_CULL_FACE);
  ImmediateBatch batch(GL_TRIANGLES);
  SetLightPosition(light.x, light.y, light.z, kLightRadius);
  SetLightColour(kLightColour, kLightColour, kLightColour);
  SetLightAmbient(0.0f, 0.0f, 0.0f);
  for (int f = 0; f < mesh.faceCount; ++f) {
    // A vertex shared by several faces is lit again for each of them.
    for (int32_t v : mesh.faces[f].Corners()) {
      batch.Vertex();
      float red, green, blue;
      LightVertex(mesh.vertexNormals[v], mesh.vertices[v], red, green, blue);
      glColor3f(red, green, blue);
      glVertex3fv(&mesh.vertices[v].x);
    }
  }
}

// Adds 0.12 grey to every pixel of the window through a quad spanning an
// orthographic volume of the client size.
void AmbientPass(float clientWidth, float clientHeight) {
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glDisable(GL_DEPTH_TEST);
  glDepthMask(GL_FALSE);
  glDisable(GL_TEXTURE_2D);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glDisable(GL_CULL_FACE);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, clientWidth, 0, clientHeight, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // The colour goes with every vertex, as everywhere inside glBegin/glEnd.
  const float corners[4][2] = {
      {0, 0}, {clientWidth, 0}, {clientWidth, clientHeight}, {0, clientHeight}};
  glBegin(GL_QUADS);
  for (const auto& corner : corners) {
    glColor3f(kAmbientQuadGrey, kAmbientQuadGrey, kAmbientQuadGrey);
    glVertex2f(corner[0], corner[1]);
  }
  glEnd();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  // The projection matrix stays selected; the camera selects its own.
}

// The texture passes' state: only the fragments the depth pass stored, front
// faces, each multiplying its colour into the pixel.
void EqualDepthMultiplyState() {
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
  glEnable(GL_CULL_FACE);
  glDepthFunc(GL_EQUAL);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ZERO, GL_SRC_COLOR);
}

// Multiplies the texel colour in. A mesh without texture coordinates gives
// every vertex (0, 0), as MaterialTexturePass does: sending none would leave
// the current coordinate of whatever was drawn before, the last vertex of a
// model it replaced, so its look would depend on what was open before it.
// Without a texture image texturing is in effect off and the fragments take
// the current colour, which the ambient quad left at 0.12 grey and would
// blacken the mesh: white keeps the lit colour, so the model shows
// untextured. Only the first `faceCount` faces are drawn: the stage after
// them keeps the lit colour.
void TexturePass(const MeshObject& mesh, int32_t faceCount, bool textured) {
  EqualDepthMultiplyState();
  // Without a texture image texturing is left off outright: OpenGL ignores
  // an incomplete texture, WebGL samples it as black.
  if (textured) {
    glEnable(GL_TEXTURE_2D);
  } else {
    glDisable(GL_TEXTURE_2D);
    glColor3f(1, 1, 1);
  }
  static const TexCoord kNoCoordinate = {0, 0};
  ImmediateBatch batch(GL_TRIANGLES);
  for (int f = 0; f < faceCount; ++f) {
    for (int32_t v : mesh.faces[f].Corners()) {
      batch.Vertex();
      glTexCoord2fv(mesh.texCoords != nullptr ? &mesh.texCoords[v].u : &kNoCoordinate.u);
      glVertex3fv(&mesh.vertices[v].x);
    }
  }
}

// The texture pass when the model's materials decide its look: the same
// state and depth test as TexturePass, one batch per material. A textured
// material's faces take its texels (the colour sent is white, which an RGBA
// texture's clear texels show); the others multiply the lit colour by their
// material's colour with texturing off. Every vertex carries its colour and
// texture coordinate, so no batch depends on what an earlier one left set.
void MaterialTexturePass(const MeshObject& mesh, const std::vector<MaterialLook>& looks) {
  EqualDepthMultiplyState();
  static const float kWhite[3] = {1, 1, 1};
  static const TexCoord kNoCoordinate = {0, 0};
  for (const MaterialLook& look : looks) {
    if (look.faces.empty()) continue;
    const bool textured = look.texture != 0;
    if (textured) {
      glEnable(GL_TEXTURE_2D);
      glBindTexture(GL_TEXTURE_2D, look.texture);
    } else {
      glDisable(GL_TEXTURE_2D);
    }
    const float* colour = textured ? kWhite : look.colour;
    ImmediateBatch batch(GL_TRIANGLES);
    for (const int32_t f : look.faces) {
      for (int32_t v : mesh.faces[f].Corners()) {
        batch.Vertex();
        glColor3fv(colour);
        glTexCoord2fv(mesh.texCoords != nullptr ? &mesh.texCoords[v].u : &kNoCoordinate.u);
        glVertex3fv(&mesh.vertices[v].x);
      }
    }
  }
  glBindTexture(GL_TEXTURE_2D, GlContext.sceneTexture);
}

// A small tetrahedron around the light, red, green and blue at each
// triangle's corners, and for a round light its rim in yellow; hidden where
// the mesh is in front, writes no depth.
void LightMarker(Vec3 light, float size) {
  glDepthFunc(GL_LESS);
  glDepthMask(GL_FALSE);
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_CULL_FACE);
  const float h = kMarkerHalfSize;
  const Vec3 a = {light.x - h, light.y - h, light.z - h};
  const Vec3 b = {light.x + h, light.y - h, light.z - h};
  const Vec3 c = {light.x, light.y + h, light.z - h};
  const Vec3 d = {light.x, light.y, light.z + h};
  const Vec3 triangles[4][3] = {{a, b, c}, {d, b, c}, {a, d, c}, {a, b, d}};
  glBegin(GL_TRIANGLES);
  for (const auto& triangle : triangles) {
    glColor3f(1, 0, 0);
    glVertex3f(triangle[0].x, triangle[0].y, triangle[0].z);
    glColor3f(0, 1, 0);
    glVertex3f(triangle[1].x, triangle[1].y, triangle[1].z);
    glColor3f(0, 0, 1);
    glVertex3f(triangle[2].x, triangle[2].y, triangle[2].z);
  }
  glEnd();
  if (size <= 0) return;
  Vec3 u, v;
  LightDiscAxes(light, &u, &v);
  constexpr int kRimPoints = 48;
  glBegin(GL_LINE_LOOP);
  for (int k = 0; k < kRimPoints; ++k) {
    const float angle = 2.0f * static_cast<float>(M_PI) * k / kRimPoints;
    const float cu = size * std::cos(angle), cv = size * std::sin(angle);
    glColor3f(1.0f, 0.85f, 0.0f);
    glVertex3f(light.x + cu * u.x + cv * v.x, light.y + cu * u.y + cv * v.y,
               light.z + cu * u.z + cv * v.z);
  }
  glEnd();
}

// The shadow step of a point light, after the depth pass it needs (face
// ids for traced mode and the truth view): the mode's own darkening, and
// for the truth view the shadow it drew.
void HardShadows(ShadowMode mode, const MeshObject& mesh, ShadowVolume* blendVolume,
                 ExactShadowVolume* exactVolume, ShadowTracer* tracer, bool truth, Vec3 light,
                 Vec3 eye, const RECT& client) {
  const int width = client.right - client.left, height = client.bottom - client.top;
  if (mode == ShadowMode::kTraced || truth) {
    FaceIdPass(mesh, *tracer, light, width, height);
  } else {
    DepthPass(mesh);
  }
  if (mode == ShadowMode::kBlend) {
    ShadowPasses(*blendVolume, light, eye);
    if (truth) ReadBlendShadow(width, height);
  } else if (mode == ShadowMode::kExact) {
    int scissor[4];
    const bool counted = ExactShadows(*exactVolume, light, client, static_cast<float>(width),
                                      static_cast<float>(height), scissor);
    if (truth) ReadStencilShadow(width, height, counted ? scissor : nullptr);
  } else if (mode == ShadowMode::kTraced) {
    TracedShadowPass(width, height);
    if (truth) TakeTracedShadow(width, height);
  } else if (truth) {
    TakeNoShadow(width, height);
  }
}

}  // namespace

void RenderFrame(HWND window) {
  LastTruth = TruthCount();
  RECT client;
  GetClientRect(window, &client);
  const float clientWidth = static_cast<float>(client.right - client.left);
  const float clientHeight = static_cast<float>(client.bottom - client.top);

  glClearColor(1, 1, 1, 1);
  // glClear honours the depth write mask, and the previous frame ended with
  // depth writes off (light marker): without this the depth buffer would keep
  // the last frame's depths, and any view that moves away from the viewer
  // would fail the depth pass's GL_LESS test and lose the mesh.
  glDepthMask(GL_TRUE);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  AnimateScene(&LoadedScene);
  if (LoadedScene.mesh != nullptr) {
    const MeshObject& mesh = *LoadedScene.mesh;
    // The light and the eye as they stand at the start of the frame; only
    // the motion step after the swap changes them.
    const Vec3 light = LightPosition;
    const Vec3 eye = EyePosition();
    // Exact mode needs the stencil buffer and its volume; without them the
    // blended passes stand in. Each mode's structures are made when it is
    // first drawn.
    ShadowMode mode = Shadows.mode;
    ExactShadowVolume* exactVolume = nullptr;
    ShadowVolume* blendVolume = nullptr;
    if (mode == ShadowMode::kExact) {
      if (Shadows.stencilAvailable)
        exactVolume = ExactVolumeOf(LoadedScene, RequestedScene.modelPath);
      if (exactVolume == nullptr) mode = ShadowMode::kBlend;
    }
    if (mode == ShadowMode::kBlend) {
      blendVolume = BlendVolumeOf(LoadedScene, RequestedScene.modelPath);
      if (blendVolume == nullptr) mode = ShadowMode::kOff;
    }
    // Traced mode and the truth view need the model's tracer.
    ShadowTracer* tracer = mode == ShadowMode::kTraced || Shadows.truth
                               ? TracerOf(LoadedScene, RequestedScene.modelPath)
                               : nullptr;
    if (mode == ShadowMode::kTraced && tracer == nullptr) {
      mode = ShadowMode::kBlend;
      blendVolume = BlendVolumeOf(LoadedScene, RequestedScene.modelPath);
      if (blendVolume == nullptr) mode = ShadowMode::kOff;
    }
    const bool truth = Shadows.truth && tracer != nullptr;
    const int width = client.right - client.left, height = client.bottom - client.top;
    if (mode == ShadowMode::kExact) {
      // Every pass of the frame uses the same matrix, so the later passes'
      // GL_EQUAL still admits what the depth pass stored.
      float projection[16];
      glMatrixMode(GL_PROJECTION);
      glGetFloatv(GL_PROJECTION_MATRIX, projection);
      glPushMatrix();
      MakeFarPlaneInfinite(projection);
      glLoadMatrixf(projection);
      glMatrixMode(GL_MODELVIEW);
    }
    // A round light's shadows, while nothing moves, take more samples each
    // frame until all are in; the face ids say which face each pixel's
    // samples must stand in front of.
    const bool soft = !truth && SoftShadowsApply(mode, mesh);
    NoteHardShadowsOfRoundLight(mode, truth, soft);
    const int softSamples =
        soft ? BeginSoftFrame(mode, mesh, LoadedScene.poseCount, width, height) : 0;
    if (soft) {
      if (softSamples > 0) {
        DrawFaceIds(mesh, width, height);
      } else {
        DepthPass(mesh);
      }
      if (mode == ShadowMode::kExact) {
        TakeExactSoftSamples(mesh, *exactVolume, softSamples, Shadows.showVolumes);
      } else if (softSamples > 0) {
        TakeTracedSoftSamples(mesh, *tracer, softSamples);
      }
      DrawSoftShadow(width, height);
    } else {
      HardShadows(mode, mesh, blendVolume, exactVolume, tracer, truth, light, eye, client);
    }
    LitPass(mesh, light);
    AmbientPass(clientWidth, clientHeight);
    if (LoadedScene.materialLooks.empty()) {
      TexturePass(mesh, LoadedScene.texturedFaceCount, LoadedScene.textureUploaded);
    } else {
      MaterialTexturePass(mesh, LoadedScene.materialLooks);
    }
    LightMarker(light, Shadows.lightSize);
    if (Shadows.showVolumes) {
      if (mode == ShadowMode::kExact) {
        DrawExactVolumes(*exactVolume, Shadows.streamIndices);
      } else if (mode == ShadowMode::kBlend) {
        DrawBlendVolumes(*blendVolume, light, eye);
      }
    }
    if (truth) LastTruth = DrawTruthMarks(mode, width, height);
    if (mode == ShadowMode::kExact) {
      glMatrixMode(GL_PROJECTION);
      glPopMatrix();
    }
  }
}
