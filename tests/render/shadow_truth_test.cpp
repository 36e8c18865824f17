// Shadows of the real demo against ray casting. Each scene (a finely
// tessellated wall behind casters of awkward shapes, white texture) is
// captured headless with shadows off and in each shadow mode; a pixel shows
// a shadow when it is clearly darker than with shadows off. The truth is the
// ray caster's: the nearest front face under the pixel and whether the
// segment from it to the light crosses any triangle. Counted are only pixels
// where a shadow would show (lit clearly above the ambient grey) and that lie
// more than 3 pixels from a shadow edge, an object edge or the light marker.
// Exact mode must agree on 99.5% of them, traced mode on 99.9%, and neither
// may darken a background pixel; the blend mode's figures are printed beside
// them and held to today's. The truth view, which marks where the drawn mode
// disagrees with the demo's own trace, must mark what this comparison finds
// wrong.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "ray_caster.h"
#include "render/frame.h"
#include "tests/support/skinned_gltf.h"
#include "tests/support/tiff_helpers.h"
#include "truth_capture.h"
#include "truth_scenes.h"

namespace {

constexpr int kVisibleLit = 24;  // levels above ambient: S then changes the pixel by 11 or more

struct Agreement {
  int counted = 0;             // pixels where a shadow would show, away from edges
  int agreed = 0;              // of those, shadowed in the capture exactly where the truth says
  int background = 0;          // background pixels away from edges
  int darkenedBackground = 0;  // of those, darker than with shadows off
  int misplaced = 0;           // background in one of truth and shadowless capture only
  double Percent() const { return counted == 0 ? 0.0 : 100.0 * agreed / counted; }
};

// Compares a capture in some shadow mode with the shadowless one over the
// pixels the truth can call.
// With `verdict`, each counted pixel is set to 1 where they agree, 2 where
// they disagree.
Agreement Compare(const RayCaster& caster, const std::vector<TruthPixel>& truth,
                  const RgbImage& off, const RgbImage& shadowed,
                  std::vector<char>* verdict = nullptr) {
  const int ambient = Level(kAmbientQuadGrey);
  const std::vector<char> edge = EdgeBands(caster, truth);
  Agreement a;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const TruthPixel& t = truth[y * kWidth + x];
      if (edge[y * kWidth + x] || t.marker) continue;
      const int lit = Grey(off, x, y) - ambient, now = Grey(shadowed, x, y) - ambient;
      // The shadowless capture is white exactly where nothing is drawn.
      if ((t.face < 0) != (Grey(off, x, y) == 255)) ++a.misplaced;
      if (t.face < 0) {
        ++a.background;
        if (now < lit - 2) ++a.darkenedBackground;
      } else if (lit >= kVisibleLit) {
        ++a.counted;
        // Halfway between S = 0.52 and S = 1.
        const bool agreed = (now < 0.76 * lit) == t.shadowed;
        a.agreed += agreed;
        if (verdict != nullptr) (*verdict)[y * kWidth + x] = agreed ? 1 : 2;
      }
    }
  return a;
}

class ShadowTruth : public testing::TestWithParam<SceneCase> {};

TEST_P(ShadowTruth, ExactAndTracedModesAgreeWithRayCastingAndBlendModeKeepsItsFigure) {
  const SceneCase& c = GetParam();
  const std::string folder = ScratchFolder(c.name);
  ASSERT_FALSE(folder.empty());
  const TruthScene scene = c.build();
  ASSERT_TRUE(WriteTruthScene(folder, scene));

  const RayCaster caster(scene.mesh.vertices, scene.mesh.faces, scene.surfaces);
  const std::vector<TruthPixel> truth =
      CastView(caster, View{kWidth, kHeight, c.eyeZ}, kLight, kMarkerHalfSize);
  const RgbImage off = Capture(folder, c, "off");
  ASSERT_EQ(off.width, kWidth);
  Agreement modes[3];
  const char* names[3] = {"exact", "blend", "traced"};
  for (int k = 0; k < 3; ++k) {
    const RgbImage image = Capture(folder, c, names[k]);
    ASSERT_EQ(image.width, kWidth) << names[k];
    modes[k] = Compare(caster, truth, off, image);
    RecordProperty(std::string(names[k]) + "_agreement_percent",
                   std::to_string(modes[k].Percent()));
  }
  std::printf(
      "%-24s %6d pixels  exact %6.2f%%  blend %6.2f%%  traced %6.2f%%  background darkened: "
      "exact %d, blend %d, traced %d of %d\n",
      c.name, modes[0].counted, modes[0].Percent(), modes[1].Percent(), modes[2].Percent(),
      modes[0].darkenedBackground, modes[1].darkenedBackground, modes[2].darkenedBackground,
      modes[0].background);
  std::fflush(stdout);
  // The truth's camera is the demo's, and enough pixels of both kinds count.
  EXPECT_EQ(modes[0].misplaced, 0);
  EXPECT_GT(modes[0].counted, kWidth * kHeight / 20);
  EXPECT_GT(modes[0].background, kWidth * kHeight / 20);
  EXPECT_GE(modes[0].Percent(), 99.5);
  EXPECT_EQ(modes[0].darkenedBackground, 0);
  EXPECT_NEAR(modes[1].Percent(), c.blendPercent, 0.5);
  EXPECT_GE(modes[2].Percent(), 99.9);
  EXPECT_EQ(modes[2].darkenedBackground, 0);
}

// A model that moves: a box slides and rises in front of the wall through a
// glTF clip, read through assimp. At a moment of the clip, the exact and
// traced shadows agree with ray casting over the box where the clip
// puts it then.
class AnimatedShadowTruth : public testing::TestWithParam<double> {};

TEST_P(AnimatedShadowTruth, ExactAndTracedModesFollowThePose) {
  const double seconds = GetParam();
  // Played there from 0 s at 50 ms a frame: the volumes and the tracer
  // follow the mesh moved frame by frame.
  const SceneCase c = {"Sliding", nullptr, "", 1 + static_cast<int>(seconds * 20 + 0.5), 200, 0};
  const std::string folder = ScratchFolder("Sliding");
  ASSERT_FALSE(folder.empty());
  TestMesh wall, box;
  AddWall(wall, TestWall{});
  AddBox(box, Vec3{-10, -10, 0}, Vec3{5, 5, 15});
  const Vec3 from{-15, -5, 0}, to{25, 15, 10};
  ASSERT_FALSE(WriteSlidingGltf(folder, "slide", wall.vertices, wall.faces, box.vertices, box.faces,
                                {0.0f, 2.0f}, {from, to})
                   .empty());
  TiffLayout white;
  white.width = white.height = 4;
  ASSERT_TRUE(
      WriteTiffWithLibtiff(folder + "/txt.tif", white, std::vector<uint8_t>(4 * 4 * 3, 255)));
  // The pose by hand: the box moved by the clip's linear translation.
  const float f = static_cast<float>(seconds / 2);
  const Vec3 shift{from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f, from.z + (to.z - from.z) * f};
  TruthScene posed;
  posed.Part([&](TestMesh& m) { m = wall; });
  posed.Part([&](TestMesh& m) {
    const int base = static_cast<int>(m.vertices.size());
    for (const Vec3& v : box.vertices) m.vertices.push_back(Vec3{v.x + shift.x, v.y + shift.y, v.z + shift.z});
    for (const Face& face : box.faces)
      m.faces.push_back(Face{face.index0 + base, face.index1 + base, face.index2 + base});
  });
  const RayCaster caster(posed.mesh.vertices, posed.mesh.faces, posed.surfaces);
  const std::vector<TruthPixel> truth = CastView(caster, View{kWidth, kHeight, 200}, kLight, kMarkerHalfSize);
  const std::vector<std::string> moment = {"--model", "slide.gltf", "--clock-step", "50"};
  const RgbImage off = Capture(folder, c, "off", moment);
  ASSERT_EQ(off.width, kWidth);
  for (const char* mode : {"exact", "traced"}) {
    const RgbImage image = Capture(folder, c, mode, moment);
    ASSERT_EQ(image.width, kWidth) << mode;
    const Agreement a = Compare(caster, truth, off, image);
    std::printf("Sliding at %.2f s %-6s %6d pixels  %6.2f%%\n", seconds, mode, a.counted, a.Percent());
    EXPECT_EQ(a.misplaced, 0) << mode;
    EXPECT_GT(a.counted, kWidth * kHeight / 20) << mode;
    EXPECT_GE(a.Percent(), 99.5) << mode;
    EXPECT_EQ(a.darkenedBackground, 0) << mode;
  }
}

INSTANTIATE_TEST_SUITE_P(Moments, AnimatedShadowTruth, testing::Values(0.5, 1.5),
                         [](const testing::TestParamInfo<double>& info) {
                           return info.param < 1 ? std::string("QuarterWay") : std::string("ThreeQuarters");
                         });

INSTANTIATE_TEST_SUITE_P(Scenes, ShadowTruth, testing::ValuesIn(kTruthScenes),
                         [](const testing::TestParamInfo<SceneCase>& info) {
                           return std::string(info.param.name);
                         });

bool IsMark(const uint8_t* p) {
  return (p[0] == 255 && p[1] == 0 && p[2] == 0) || (p[0] == 0 && p[1] == 0 && p[2] == 255);
}

// The W of the run's "truth: frame N MODE P% right, W wrong pixels" line;
// -1 without exactly one such line for `mode`.
long TruthLineWrong(const std::string& out, int frame, const std::string& mode) {
  const std::vector<std::string> lines = LinesWithPrefix(out, "truth: ");
  long wrong = -1;
  double percent = 0;
  char name[16] = "";
  int n = 0;
  if (lines.size() != 1 ||
      std::sscanf(lines[0].c_str(), "frame %d %15s %lf%% right, %ld wrong pixels", &n, name,
                  &percent, &wrong) != 4 ||
      n != frame || mode != name)
    return -1;
  return wrong;
}

// The truth view over the three modes on a scene the blend mode gets wrong
// in many places: in blend mode its marks are this test's own wrong pixels,
// in exact mode there are almost none, in traced mode none, and the picture
// under the marks is the mode's own.
TEST(TruthView, MarksWhatTheModeGetsWrong) {
  const SceneCase& c = TruthSceneNamed("VolumeCrossingNearPlane");
  const std::string folder = ScratchFolder("truth-view");
  ASSERT_FALSE(folder.empty());
  const TruthScene scene = c.build();
  ASSERT_TRUE(WriteTruthScene(folder, scene));
  const RayCaster caster(scene.mesh.vertices, scene.mesh.faces, scene.surfaces);
  const std::vector<TruthPixel> truth =
      CastView(caster, View{kWidth, kHeight, c.eyeZ}, kLight, kMarkerHalfSize);
  const RgbImage off = Capture(folder, c, "off");
  ASSERT_EQ(off.width, kWidth);

  for (const std::string mode : {"blend", "exact", "traced"}) {
    SCOPED_TRACE(mode);
    const RgbImage plain = Capture(folder, c, mode);
    std::vector<char> verdict(static_cast<size_t>(kWidth) * kHeight, 0);
    const Agreement agreement = Compare(caster, truth, off, plain, &verdict);
    std::string out;
    const RgbImage marked = Capture(folder, c, mode, {"--truth"}, &out);
    ASSERT_EQ(marked.width, kWidth);
    const long reported = TruthLineWrong(out, c.frame, mode);
    ASSERT_GE(reported, 0) << out;
    int marks = 0, marksOnWrong = 0, marksOnRight = 0, wrongCount = 0, changedUnmarked = 0,
        darkBackground = 0, darkBackgroundRed = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const size_t i = static_cast<size_t>(y) * kWidth + x;
        const bool mark = IsMark(marked.At(x, y));
        marks += mark;
        wrongCount += verdict[i] == 2;
        marksOnWrong += mark && verdict[i] == 2;
        marksOnRight += mark && verdict[i] == 1;
        if (!mark && !std::equal(plain.At(x, y), plain.At(x, y) + 3, marked.At(x, y)))
          ++changedUnmarked;
        // Background the mode darkened: the trace lights it, so it is red.
        if (truth[i].face < 0 && !truth[i].marker && Grey(plain, x, y) < Grey(off, x, y) - 2) {
          ++darkBackground;
          darkBackgroundRed += marked.At(x, y)[0] == 255 && marked.At(x, y)[2] == 0;
        }
      }
    std::printf("truth view %-6s: %ld reported, %d marked; %d of the %d counted pixels wrong, %d "
                "of them marked, %d right ones marked\n",
                mode.c_str(), reported, marks, wrongCount, agreement.counted, marksOnWrong,
                marksOnRight);
    std::fflush(stdout);
    // Every mark is a reported pixel (the light marker may add a pure one).
    EXPECT_GE(marks, reported);
    EXPECT_LE(marks, reported + 8);
    EXPECT_EQ(changedUnmarked, 0);
    EXPECT_EQ(darkBackgroundRed, darkBackground);
    if (mode == "blend") {
      ASSERT_GT(wrongCount, agreement.counted / 20);
      EXPECT_GE(marksOnWrong, 0.98 * wrongCount);
      EXPECT_LE(marksOnRight, 0.02 * wrongCount);
    } else {
      EXPECT_LE(reported, agreement.counted / 500) << "almost none";
    }
    if (mode == "traced") {
      EXPECT_EQ(reported, 0);
    }
  }
}

// Traced mode and the truth view on models that give the tracer little or
// bad to work with: a corner that is not a number, no faces at all, and a
// lone triangle whose shadow only the stage catches. Each run ends as any
// other would; the sanitizer build runs the same.
struct OddModel {
  const char* name;
  TestMesh mesh;
  std::vector<std::string> extra;
  int exitCode;
  const char* message;  // in the last line on standard error; "" for no line at all
};

std::vector<OddModel> OddModels() {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  TestMesh nanWall;
  AddWall(nanWall, TestWall{});
  const int32_t base = static_cast<int32_t>(nanWall.vertices.size());
  nanWall.vertices.insert(nanWall.vertices.end(), {Vec3{nan, 0, 20}, Vec3{10, 0, 20}, Vec3{0, 10, 20}});
  nanWall.texCoords.resize(nanWall.vertices.size(), TexCoord{0, 0});
  nanWall.faces.push_back(Face{base, base + 1, base + 2});
  TestMesh empty;
  empty.vertices = {Vec3{0, 0, 0}, Vec3{1, 0, 0}, Vec3{0, 1, 0}};
  TestMesh lone;
  lone.vertices = {Vec3{-10, 0, 0}, Vec3{10, 0, 0}, Vec3{0, 15, 5}};
  lone.faces = {Face{0, 1, 2}};
  return {{"NonFiniteCorner", nanWall, {}, 0, ""},
          {"NoFaces", empty, {}, 2, "nothing to draw"},
          {"StageCatchesTheShadow", lone, {"--fit", "--stage"}, 0, ""}};
}

TEST(TracedRuns, OddModelsEndAsUsual) {
  for (const OddModel& model : OddModels()) {
    SCOPED_TRACE(model.name);
    const std::string folder = ScratchFolder(std::string("odd-") + model.name);
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(WriteTestModel(folder + "/model.3ds", model.mesh));
    std::vector<std::string> args = {"--model", "model.3ds", "--shadows", "traced", "--truth",
                                     "--frames", "2", "--keys", "1:down:S,1:up:S", "--capture",
                                     "2:frame.png", "--size", "160x120"};
    args.insert(args.end(), model.extra.begin(), model.extra.end());
    const DemoRun run = RunDemo(folder, args);
    EXPECT_EQ(run.exitCode, model.exitCode) << run.err;
    std::vector<std::string> messages;
    for (const std::string& line : MessageLines(run.err))
      if (line.find("txt.tif") == std::string::npos) messages.push_back(line);
    if (model.message[0] == '\0') {
      EXPECT_TRUE(messages.empty()) << run.err;
      // S moved on from traced to off: the truth line says what was drawn.
      EXPECT_EQ(LinesWithPrefix(run.out, "truth: frame 2 off ").size(), 1u) << run.out;
    } else {
      ASSERT_FALSE(messages.empty());
      EXPECT_NE(messages.back().find(model.message), std::string::npos) << run.err;
    }
  }
}

}  // namespace
