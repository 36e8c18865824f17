// Soft shadows: the disc's sample points, the counts kept between frames,
// and the two modes' ways of taking samples; see soft_shadows.h.
#include "render/soft_shadows.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "render/exact_shadows.h"
#include "render/frame.h"
#include "render/traced_shadows.h"
#include "shadow/exact_volume.h"
#include "trace/shadow_tracer.h"

namespace {

constexpr int kRings = 16;
constexpr int kSectors = 16;
static_assert(kRings * kSectors == kSoftSampleCount, "one sample per cell");
static_assert(kSoftSampleCount <= 0xFFFF, "the counts are 16-bit");

// The notes NoteHardShadowsOfRoundLight gives, one at a time.
enum Note { kNoNote, kBlendNote, kTruthNote, kUnavailableNote };

int ReverseFourBits(int x) {
  return ((x & 1) << 3) | ((x & 2) << 1) | ((x & 4) >> 1) | ((x & 8) >> 3);
}

Vec3 Normalised(Vec3 v) {
  const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return Vec3{v.x / length, v.y / length, v.z / length};
}

Vec3 Cross(Vec3 a, Vec3 b) {
  return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

size_t PixelCount(int width, int height) {
  return width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
}

// The face a pixel of Traced.faceIds shows, or -1.
int32_t FaceAt(size_t pixel, int32_t faceCount) {
  const uint8_t* rgba = Traced.faceIds.data() + 4 * pixel;
  const int32_t id = rgba[0] | rgba[1] << 8 | rgba[2] << 16;
  return id >= 1 && id <= faceCount ? id - 1 : -1;
}

// Adds this frame's samples of one pixel to its counts: sample j is hidden
// where bit j of `hiddenBits` is set; only samples in front of the pixel's
// face count. Then the pixel's shade.
void CountPixel(const MeshObject& mesh, size_t pixel, const Vec3* samples, int count,
                uint32_t hiddenBits) {
  const int32_t f = FaceAt(pixel, mesh.faceCount);
  if (f < 0) return;
  // The stored normal points to the face's back; the corner puts the plane.
  const Vec3 n = mesh.faceNormals[f];
  const Vec3 corner = mesh.vertices[mesh.faces[f].index0];
  const float d = n.x * corner.x + n.y * corner.y + n.z * corner.z;
  uint32_t front = Soft.front[pixel], hidden = Soft.hidden[pixel];
  for (int j = 0; j < count; ++j) {
    const Vec3& s = samples[j];
    if (n.x * s.x + n.y * s.y + n.z * s.z - d >= 0) continue;
    ++front;
    hidden += (hiddenBits >> j) & 1u;
  }
  Soft.front[pixel] = static_cast<uint16_t>(front);
  Soft.hidden[pixel] = static_cast<uint16_t>(hidden);
  const float seen = front == 0 ? 1.0f : 1.0f - static_cast<float>(hidden) / front;
  Soft.shade[pixel] =
      static_cast<uint8_t>(std::lround(255.0f * (1.0f - (1.0f - kShadowGrey) * (1.0f - seen))));
}

// Adds the samples whose bits Soft.bits holds for the pixels of `rect`
// (x, y, width, height; Soft.bits rows of its width) to their counts.
void CountRect(const MeshObject& mesh, const int rect[4], const Vec3* samples, int count) {
  for (int y = 0; y < rect[3]; ++y)
    for (int x = 0; x < rect[2]; ++x)
      CountPixel(mesh, static_cast<size_t>(rect[1] + y) * Soft.width + (rect[0] + x), samples,
                 count, Soft.bits[static_cast<size_t>(y) * rect[2] + x]);
}

// The sample points this frame takes, from Soft.samples on.
void NextSamples(int count, Vec3* samples) {
  for (int j = 0; j < count; ++j) samples[j] = LightSample(Soft.light, Soft.size, Soft.samples + j);
}

}  // namespace

void LightDiscAxes(Vec3 centre, Vec3* u, Vec3* v) {
  const float length = std::sqrt(centre.x * centre.x + centre.y * centre.y + centre.z * centre.z);
  const Vec3 n = length > 1e-6f ? Vec3{-centre.x / length, -centre.y / length, -centre.z / length}
                                : Vec3{0, 0, 1};
  // Any direction not along the normal gives the first axis; y unless the
  // light stands right above or below the origin.
  const Vec3 up = std::fabs(n.y) < 0.9f ? Vec3{0, 1, 0} : Vec3{1, 0, 0};
  *u = Normalised(Cross(up, n));
  *v = Cross(n, *u);
}

Vec3 LightSample(Vec3 centre, float radius, int k) {
  // Sector from the low four bits reversed: any eight in a row cover the
  // circle every 45 degrees. Ring from the high four bits reversed, shifted
  // by five per sector: any eight in a row take eight different rings, and
  // over all 256 every ring meets every sector once.
  const int a = k & 15, b = (k >> 4) & 15;
  const int sector = ReverseFourBits(a);
  const int ring = (ReverseFourBits(b) + 5 * a) & 15;
  // The middle of the ring's area; within the sector, a fixed offset per
  // ring so that the points do not line up along 16 spokes.
  const double r = radius * std::sqrt((ring + 0.5) / kRings);
  const double within = std::fmod((ring + 0.5) * 0.6180339887, 1.0);
  const double angle = 2.0 * M_PI * (sector + within) / kSectors;
  Vec3 u, v;
  LightDiscAxes(centre, &u, &v);
  const float cu = static_cast<float>(r * std::cos(angle)), cv = static_cast<float>(r * std::sin(angle));
  return Vec3{centre.x + cu * u.x + cv * v.x, centre.y + cu * u.y + cv * v.y,
              centre.z + cu * u.z + cv * v.z};
}

bool SoftShadowsApply(ShadowMode mode, const MeshObject& mesh) {
  return Shadows.lightSize > 0 && Shadows.softAvailable &&
         (mode == ShadowMode::kExact || mode == ShadowMode::kTraced) &&
         mesh.faceCount <= kMaxTracedFaces && mesh.faceNormals != nullptr;
}

int BeginSoftFrame(ShadowMode mode, const MeshObject& mesh, uint64_t poseStamp, int width,
                   int height) {
  float projection[16], modelview[16];
  int viewport[4];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  glGetIntegerv(GL_VIEWPORT, viewport);
  const Vec3 light = LightPosition;
  const size_t pixels = PixelCount(width, height);
  const bool same = Soft.mode == mode && Soft.light.x == light.x && Soft.light.y == light.y &&
                    Soft.light.z == light.z && Soft.size == Shadows.lightSize &&
                    std::memcmp(Soft.projection, projection, sizeof projection) == 0 &&
                    std::memcmp(Soft.modelview, modelview, sizeof modelview) == 0 &&
                    std::memcmp(Soft.viewport, viewport, sizeof viewport) == 0 &&
                    Soft.width == width && Soft.height == height &&
                    Soft.mesh == &mesh && Soft.generation == LoadedScene.generation &&
                    Soft.pose == poseStamp;
  if (!same) {
    Soft.mode = mode;
    Soft.light = light;
    Soft.size = Shadows.lightSize;
    std::memcpy(Soft.projection, projection, sizeof projection);
    std::memcpy(Soft.modelview, modelview, sizeof modelview);
    std::memcpy(Soft.viewport, viewport, sizeof viewport);
    Soft.width = width;
    Soft.height = height;
    Soft.mesh = &mesh;
    Soft.generation = LoadedScene.generation;
    Soft.pose = poseStamp;
    Soft.samples = 0;
    // assign keeps the storage: the same size allocates nothing.
    Soft.front.assign(pixels, 0);
    Soft.hidden.assign(pixels, 0);
    Soft.shade.assign(pixels, 255);
  }
  // A frame that starts again may be one of many while something moves:
  // it takes fewer samples and stays quick.
  return same ? std::min(kSoftSamplesPerFrame, kSoftSampleCount - Soft.samples)
              : kSoftSamplesOnChange;
}

void TakeExactSoftSamples(const MeshObject& mesh, ExactShadowVolume& volume, int count,
                          bool forView) {
  if (count == 0 && !forView) return;
  float projection[16], modelview[16], planes[5][4];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  ViewPlanes(projection, modelview, planes);
  const Vec3 light = Soft.light;
  // What the lit pass lights from the centre is reached from every sample
  // point by the sample's distance from the centre more.
  const float reach = volume.LitReach(light, kLightRadius);
  const int width = Soft.width, height = Soft.height;
  int rect[4] = {0, 0, width, height};
  const bool inView =
      !(reach < INFINITY) || SphereScreenRect(projection, modelview, light, reach, width, height, rect);
  if (count > 0 && inView && Traced.faceIds.size() == 4 * PixelCount(width, height)) {
    Vec3 samples[kSoftSamplesPerFrame];
    NextSamples(count, samples);
    // The red channel of the rectangle gathers one bit per sample.
    glEnable(GL_SCISSOR_TEST);
    glScissor(rect[0], rect[1], rect[2], rect[3]);
    glColorMask(GL_TRUE, GL_FALSE, GL_FALSE, GL_FALSE);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(1, 1, 1, 1);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    for (int j = 0; j < count; ++j) {
      volume.Update(samples[j], reach + Soft.size, planes, 5);
      CountShadowVolumes(volume, Shadows.stencilWraps, Shadows.stencilTwoSided,
                         Shadows.streamIndices, rect);
      MarkWhereStencilled(static_cast<float>(1 << j) / 255.0f, static_cast<float>(width),
                          static_cast<float>(height));
    }
    Soft.bits.resize(static_cast<size_t>(rect[2]) * static_cast<size_t>(rect[3]));
    ReadClientRect(rect[0], rect[1], rect[2], rect[3], GL_RED, Soft.bits.data());
    glClear(GL_COLOR_BUFFER_BIT);  // white again, as the depth pass leaves it
    glDisable(GL_SCISSOR_TEST);
    CountRect(mesh, rect, samples, count);
  }
  Soft.samples += count;
  if (forView) volume.Update(light, reach, planes, 5);
}

void TakeTracedSoftSamples(const MeshObject& mesh, ShadowTracer& tracer, int count) {
  const int width = Soft.width, height = Soft.height;
  const size_t pixels = PixelCount(width, height);
  if (Traced.mask.size() != pixels) return;
  Vec3 samples[kSoftSamplesPerFrame];
  NextSamples(count, samples);
  // The same bits as exact mode's, one trace each, over the whole client.
  Soft.bits.assign(pixels, 0);
  for (int j = 0; j < count; ++j) {
    TraceFaceIds(tracer, samples[j], width, height);
    for (size_t pixel = 0; pixel < pixels; ++pixel)
      if ((Traced.mask[pixel] & kTraceShadowed) != 0) Soft.bits[pixel] |= static_cast<uint8_t>(1u << j);
  }
  const int whole[4] = {0, 0, width, height};
  CountRect(mesh, whole, samples, count);
  Soft.samples += count;
}

void DrawSoftShadow(int width, int height) {
  if (Soft.shade.size() != PixelCount(width, height) || Soft.shade.empty()) return;
  glDisable(GL_DEPTH_TEST);  // nor is the depth buffer written
  glDisable(GL_STENCIL_TEST);
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_CULL_FACE);
  DrawClientPixels(width, height, GL_LUMINANCE, Soft.shade.data());
  glEnable(GL_DEPTH_TEST);
}

void NoteHardShadowsOfRoundLight(ShadowMode mode, bool truth, bool soft) {
  int note = kNoNote;
  if (Shadows.lightSize > 0 && !soft) {
    if (mode == ShadowMode::kBlend) {
      note = kBlendNote;
    } else if (mode == ShadowMode::kExact || mode == ShadowMode::kTraced) {
      note = truth ? kTruthNote : kUnavailableNote;
    }
  }
  if (note == Soft.noted) return;
  Soft.noted = note;
  const char* line = note == kBlendNote
                         ? "the light's size is used in exact and traced modes only; blend mode "
                           "keeps a point light"
                     : note == kTruthNote
                         ? "the truth view compares hard shadows: a point light while it is on"
                     : note == kUnavailableNote ? "soft shadows are unavailable here; the light "
                                                  "casts hard shadows"
                                                : nullptr;
  if (line == nullptr) return;
  std::fprintf(stderr, "shadow_volume: %s\n", line);
  std::fflush(stderr);
}

std::string LightStatus() {
  if (Shadows.lightSize <= 0) return "a point (+ gives it a size)";
  char text[96];
  const bool sampled = Shadows.mode == ShadowMode::kExact || Shadows.mode == ShadowMode::kTraced;
  if (!sampled || !Shadows.softAvailable || Shadows.truth) {
    std::snprintf(text, sizeof text, "radius %g, %s", Shadows.lightSize,
                  !sampled        ? "soft shadows in exact and traced modes only"
                  : Shadows.truth ? "hard shadows while the truth view is on"
                                  : "hard shadows here");
  } else {
    std::snprintf(text, sizeof text, "radius %g, soft: %d of %d samples", Shadows.lightSize,
                  Soft.size == Shadows.lightSize && Soft.mode == Shadows.mode ? Soft.samples : 0,
                  kSoftSampleCount);
  }
  return text;
}
