// The tracer alone, without OpenGL: the face-id image comes from the ray
// caster (which face each pixel's eye ray meets first), so the tracer's
// mask can be held against the caster's own verdict pixel by pixel. Faces
// turned away from the light are in shadow by the tracer's rule; the caster
// agrees for closed casters, so only open faces turned away are set apart.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "ray_caster.h"
#include "render/frame.h"
#include "trace/shadow_tracer.h"
#include "truth_scenes.h"

namespace {

constexpr int kWidth = 160, kHeight = 120;
const Vec3 kLight = {20.0f, 20.0f, 70.0f};

// The demo's first-frame camera moved to `eyeZ`, as OpenGL would hand it
// over: 45 degree field, identity rotation.
TraceView ViewAt(float eyeZ) {
  TraceView view;
  view.width = kWidth;
  view.height = kHeight;
  view.viewport[2] = kWidth;
  view.viewport[3] = kHeight;
  const double f = 1.0 / std::tan(22.5 * 3.14159265358979323846 / 180.0);
  view.projection[0] = static_cast<float>(f * kHeight / kWidth);
  view.projection[5] = static_cast<float>(f);
  view.projection[10] = -1.0f;
  view.projection[11] = -1.0f;
  view.projection[14] = -30.0f;
  for (int k : {0, 5, 10, 15}) view.modelview[k] = 1.0f;
  view.modelview[14] = -eyeZ;
  view.light = kLight;
  view.reach = kLightRadius;
  return view;
}

// The face-id image of the caster's truth, rows bottom first.
std::vector<uint8_t> FaceIds(const std::vector<TruthPixel>& truth) {
  std::vector<uint8_t> ids(4 * truth.size(), 0);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const int face = truth[static_cast<size_t>(y) * kWidth + x].face;
      uint8_t* p = &ids[4 * (static_cast<size_t>(kHeight - 1 - y) * kWidth + x)];
      const uint32_t id = face < 0 ? 0 : static_cast<uint32_t>(face) + 1;
      p[0] = id & 0xFF, p[1] = (id >> 8) & 0xFF, p[2] = (id >> 16) & 0xFF, p[3] = 255;
    }
  return ids;
}

struct Tally {
  int counted = 0, agreed = 0;
  int turnedAway = 0, turnedAwayShadowed = 0;
  int background = 0, backgroundShadowed = 0;
};

// Traces the caster's face ids with a tracer over `vertices` and `faces` and
// compares the mask with the caster's truth.
Tally TraceAndCompare(const std::vector<Vec3>& vertices, const std::vector<Face>& faces,
                      const RayCaster& caster, float eyeZ) {
  const std::vector<TruthPixel> truth = CastView(caster, View{kWidth, kHeight, eyeZ}, kLight, 5.0f);
  const std::vector<uint8_t> ids = FaceIds(truth);
  ShadowTracer tracer(vertices.data(), static_cast<int32_t>(vertices.size()), faces.data(),
                      static_cast<int32_t>(faces.size()));
  EXPECT_TRUE(tracer.Ready()) << tracer.Problem();
  std::vector<uint8_t> mask(truth.size(), 0xEE);
  tracer.Trace(ViewAt(eyeZ), ids.data(), mask.data());
  Tally tally;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const TruthPixel& t = truth[static_cast<size_t>(y) * kWidth + x];
      const bool shadowed =
          (mask[static_cast<size_t>(kHeight - 1 - y) * kWidth + x] & kTraceShadowed) != 0;
      if (t.face < 0) {
        ++tally.background;
        tally.backgroundShadowed += shadowed;
        continue;
      }
      const Vec3 n = caster.NormalOf(t.face);
      const Vec3 a = vertices[faces[t.face].index0];
      if (n.x * (kLight.x - a.x) + n.y * (kLight.y - a.y) + n.z * (kLight.z - a.z) <= 0) {
        ++tally.turnedAway;
        tally.turnedAwayShadowed += shadowed;
        continue;
      }
      ++tally.counted;
      tally.agreed += shadowed == t.shadowed;
    }
  return tally;
}

class TracerTruth : public testing::TestWithParam<SceneCase> {};

TEST_P(TracerTruth, MaskAgreesWithTheRayCaster) {
  if (!TracingAvailable()) GTEST_SKIP() << "built without Embree";
  const TruthScene scene = GetParam().build();
  const RayCaster caster(scene.mesh.vertices, scene.mesh.faces, scene.surfaces);
  const Tally t = TraceAndCompare(scene.mesh.vertices, scene.mesh.faces, caster, GetParam().eyeZ);
  EXPECT_GT(t.counted, kWidth * kHeight / 4);
  EXPECT_GE(t.agreed, 0.999 * t.counted) << t.counted - t.agreed << " of " << t.counted;
  EXPECT_EQ(t.turnedAwayShadowed, t.turnedAway);
  EXPECT_GT(t.background, 0);
  EXPECT_EQ(t.backgroundShadowed, 0);
}

INSTANTIATE_TEST_SUITE_P(Scenes, TracerTruth, testing::ValuesIn(kTruthScenes),
                         [](const testing::TestParamInfo<SceneCase>& info) {
                           return std::string(info.param.name);
                         });

// A wall and a cube, and a large triangle between them and the light whose
// first corner is not a number, and a face naming a vertex that does not
// exist: neither may cast, and a pixel naming either is lit. Moving the
// cube and making the corner finite refits and rebuilds the scene, and the
// mask follows.
TEST(Tracer, LeavesOutBadFacesAndFollowsMovedVertices) {
  if (!TracingAvailable()) GTEST_SKIP() << "built without Embree";
  TruthScene scene = kTruthScenes[0].build();  // the wall and a closed cube
  std::vector<Vec3> vertices = scene.mesh.vertices;
  std::vector<Face> faces = scene.mesh.faces;
  const int32_t cubeFirst = static_cast<int32_t>(vertices.size()) - 8;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const int32_t base = static_cast<int32_t>(vertices.size());
  vertices.insert(vertices.end(), {Vec3{nan, 0, 30}, Vec3{40, -40, 30}, Vec3{40, 40, 30}});
  faces.push_back(Face{base, base + 1, base + 2});
  faces.push_back(Face{0, 1, base + 7});
  std::vector<int> surfaces = scene.surfaces;
  surfaces.insert(surfaces.end(), {90, 91});
  {
    const RayCaster caster(vertices, faces, surfaces);
    const Tally t = TraceAndCompare(vertices, faces, caster, 200);
    EXPECT_GE(t.agreed, 0.999 * t.counted);
  }
  // Ids naming the bad faces, a face beyond the count, and white.
  ShadowTracer tracer(vertices.data(), static_cast<int32_t>(vertices.size()), faces.data(),
                      static_cast<int32_t>(faces.size()));
  const uint32_t names[] = {static_cast<uint32_t>(faces.size()) - 1,
                            static_cast<uint32_t>(faces.size()),
                            static_cast<uint32_t>(faces.size()) + 1, 0xFFFFFF};
  std::vector<uint8_t> ids(4 * kWidth * kHeight, 0);
  for (size_t i = 0; i < ids.size() / 4; ++i) {
    const uint32_t id = names[i % 4];
    ids[4 * i] = id & 0xFF, ids[4 * i + 1] = (id >> 8) & 0xFF, ids[4 * i + 2] = id >> 16;
  }
  std::vector<uint8_t> mask(kWidth * kHeight, 0xEE);
  tracer.Trace(ViewAt(200), ids.data(), mask.data());
  EXPECT_EQ(std::count(mask.begin(), mask.end(), 0), kWidth * kHeight);

  for (int32_t v = cubeFirst; v < cubeFirst + 8; ++v) vertices[v].x += 10;
  vertices[base].x = -40;
  faces.pop_back();
  surfaces.pop_back();
  const RayCaster moved(vertices, faces, surfaces);
  const std::vector<TruthPixel> truth = CastView(moved, View{kWidth, kHeight, 200}, kLight, 5.0f);
  const std::vector<uint8_t> movedIds = FaceIds(truth);
  ShadowTracer refitted(vertices.data(), static_cast<int32_t>(vertices.size()), faces.data(),
                        static_cast<int32_t>(faces.size()));
  // The same tracer, built before the move: only the refit brings it along.
  std::vector<Vec3> before = vertices;
  for (int32_t v = cubeFirst; v < cubeFirst + 8; ++v) before[v].x -= 10;
  before[base].x = nan;
  ShadowTracer updated(before.data(), static_cast<int32_t>(before.size()), faces.data(),
                       static_cast<int32_t>(faces.size()));
  updated.UpdatePositions(vertices.data());
  std::vector<uint8_t> fresh(kWidth * kHeight), refit(kWidth * kHeight);
  refitted.Trace(ViewAt(200), movedIds.data(), fresh.data());
  updated.Trace(ViewAt(200), movedIds.data(), refit.data());
  EXPECT_EQ(fresh, refit);
  int shadowed = 0, agreed = 0, counted = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const TruthPixel& t = truth[static_cast<size_t>(y) * kWidth + x];
      if (t.face < 0) continue;
      const bool s = refit[static_cast<size_t>(kHeight - 1 - y) * kWidth + x] & kTraceShadowed;
      shadowed += s;
      ++counted;
      agreed += s == t.shadowed;
    }
  EXPECT_GT(shadowed, counted / 10);  // the once-NaN triangle casts now
  EXPECT_GE(agreed, 0.995 * counted);
}

TEST(Tracer, EmptyMeshLightsEverything) {
  ShadowTracer tracer(nullptr, 0, nullptr, 0);
  EXPECT_EQ(tracer.Ready(), TracingAvailable()) << tracer.Problem();
  std::vector<uint8_t> ids(4 * kWidth * kHeight, 1), mask(kWidth * kHeight, 0xEE);
  tracer.Trace(ViewAt(200), ids.data(), mask.data());
  EXPECT_EQ(std::count(mask.begin(), mask.end(), 0), kWidth * kHeight);
}

}  // namespace
