// Soft shadows of the real demo against the ray caster sampling the light's
// disc at points of its own, on a wall with a torus, a plate with a hole and
// a cube; a light of size 0 drawing today's pictures; and the counts starting
// again when the light moves, converging while it stands still.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render/frame.h"
#include "shadow/shadow_volume.h"
#include "tests/support/demo_runner.h"
#include "truth_capture.h"

namespace {

constexpr float kRadius = 6.0f;
constexpr int kConverged = 33;  // 8 samples a frame: all 256 are in after frame 32
constexpr int kBrightLit = 80;  // levels above ambient: one level is 1/80 of the shade

const SceneCase& TorusPlateAndCube() {
  return TruthSceneNamed("TorusPlateAndCube");
}

bool Same(const RgbImage& a, const RgbImage& b) {
  return a.width > 0 && a.width == b.width && a.height == b.height && a.rgb == b.rgb;
}

TEST(SoftShadows, ConvergeToTheRayCastersShareOfTheDisc) {
  SceneCase c = TorusPlateAndCube();
  c.frame = kConverged;
  const std::string folder = ScratchFolder("soft-truth");
  ASSERT_FALSE(folder.empty());
  const TruthScene scene = c.build();
  ASSERT_TRUE(WriteTruthScene(folder, scene));
  const RayCaster caster(scene.mesh.vertices, scene.mesh.faces, scene.surfaces);
  const std::vector<TruthPixel> truth =
      CastView(caster, View{kWidth, kHeight, c.eyeZ}, kLight, kMarkerHalfSize, kRadius);
  const std::vector<char> edge = EdgeBands(caster, truth);
  const RgbImage off = Capture(folder, c, "off");
  ASSERT_EQ(off.width, kWidth);
  const int ambient = Level(kAmbientQuadGrey);
  for (const char* mode : {"exact", "traced"}) {
    SCOPED_TRACE(mode);
    const RgbImage image = Capture(folder, c, mode, {"--light-size", "6"});
    ASSERT_EQ(image.width, kWidth);
    // The shade S the capture shows, from lit x S + ambient against lit + ambient.
    double shadowedError = 0;
    int shadowed = 0, penumbra = 0, penumbraClose = 0, umbra = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const TruthPixel& t = truth[static_cast<size_t>(y) * kWidth + x];
        const int lit = Grey(off, x, y) - ambient;
        if (edge[static_cast<size_t>(y) * kWidth + x] || t.marker || t.face < 0 || lit < kBrightLit)
          continue;
        if (t.seen >= 1.0) continue;
        const double expected = 1.0 - (1.0 - kShadowGrey) * (1.0 - t.seen);
        const double shown = static_cast<double>(Grey(image, x, y) - ambient) / lit;
        const double error = std::fabs(shown - expected);
        shadowedError += error;
        ++shadowed;
        if (t.seen > 0) {
          ++penumbra;
          penumbraClose += error <= 0.06;
        } else {
          ++umbra;
        }
      }
    std::printf("soft %-6s: %d shadowed pixels (%d penumbra, %d umbra), mean error %.4f, "
                "penumbra within 0.06: %.2f%%\n",
                mode, shadowed, penumbra, umbra, shadowed ? shadowedError / shadowed : 0.0,
                penumbra ? 100.0 * penumbraClose / penumbra : 0.0);
    std::fflush(stdout);
    ASSERT_GT(penumbra, 1000);
    ASSERT_GT(umbra, 200);
    EXPECT_LE(shadowedError / shadowed, 0.02);
    EXPECT_GE(penumbraClose, 0.9 * penumbra);
  }
}

// A light of size 0 is today's point light in every mode, and blend mode
// keeps the point light whatever the size, saying so in one line.
TEST(SoftShadows, SizeZeroAndBlendModeDrawThePointLightsPicture) {
  const SceneCase& c = TorusPlateAndCube();
  const std::string folder = ScratchFolder("soft-zero");
  ASSERT_FALSE(folder.empty());
  ASSERT_TRUE(WriteTruthScene(folder, c.build()));
  for (const char* mode : {"blend", "exact", "traced"}) {
    SCOPED_TRACE(mode);
    const RgbImage point = Capture(folder, c, mode);
    EXPECT_TRUE(Same(point, Capture(folder, c, mode, {"--light-size", "0"})));
  }
  const DemoRun blend = RunDemo(folder, {"--size", "320x240", "--frames", "2", "--light-size", "6",
                                         "--capture", "2:blend6.png"});
  EXPECT_EQ(blend.exitCode, 0) << blend.err;
  const std::vector<std::string> lines = MessageLines(blend.err);
  ASSERT_EQ(lines.size(), 1u) << blend.err;
  EXPECT_NE(lines[0].find("exact and traced modes only"), std::string::npos) << lines[0];
  // The same picture but for the marker, which shows the light's rim.
  const TruthScene scene = c.build();
  const RayCaster caster(scene.mesh.vertices, scene.mesh.faces, scene.surfaces);
  const std::vector<TruthPixel> near =
      CastView(caster, View{kWidth, kHeight, c.eyeZ}, kLight, kRadius);
  const RgbImage round = ReadPng(folder + "/blend6.png"), point = ReadPng(folder + "/blend.png");
  ASSERT_EQ(round.width, kWidth);
  ASSERT_EQ(point.width, kWidth);
  int changedNearLight = 0, changedElsewhere = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const bool changed = !std::equal(round.At(x, y), round.At(x, y) + 3, point.At(x, y));
      (near[static_cast<size_t>(y) * kWidth + x].marker ? changedNearLight : changedElsewhere) +=
          changed;
    }
  EXPECT_EQ(changedElsewhere, 0);
  EXPECT_GT(changedNearLight, 20);
}

// The light moved by Home for one frame after the picture converged: the
// next frame starts the counts again, and equals the first frame of a run
// whose light stands there from the start (with + making the size 6 there).
// Converged frames stay as they are; a still light's frames gain samples.
TEST(SoftShadows, AMovingLightStartsAgainAndAStillOneConverges) {
  const std::string folder = ScratchFolder("soft-motion");
  ASSERT_FALSE(folder.empty());
  ASSERT_TRUE(WriteTruthScene(folder, TorusPlateAndCube().build()));
  const DemoRun moved = RunDemo(
      folder, {"--size", "320x240", "--shadows", "exact", "--light-size", "6", "--frames", "37",
               "--keys", "34:down:HOME,35:up:HOME", "--capture", "33:a33.png", "--capture",
               "34:a34.png", "--capture", "35:a35.png", "--capture", "36:a36.png"});
  ASSERT_EQ(moved.exitCode, 0) << moved.err;
  const DemoRun start = RunDemo(
      folder, {"--size", "320x240", "--shadows", "exact", "--light-size", "5", "--frames", "2",
               "--keys", "1:down:HOME,1:down:PLUS,1:up:PLUS,2:up:HOME", "--capture", "2:b2.png"});
  ASSERT_EQ(start.exitCode, 0) << start.err;
  auto frame = [&folder](const char* name) { return ReadPng(folder + "/" + name + ".png"); };
  EXPECT_TRUE(Same(frame("a33"), frame("a34")));
  EXPECT_FALSE(Same(frame("a34"), frame("a35")));
  EXPECT_TRUE(Same(frame("a35"), frame("b2")));
  EXPECT_FALSE(Same(frame("a35"), frame("a36")));
}

}  // namespace
