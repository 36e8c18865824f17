// Shadows of the real demo against ray casting. Each scene (a finely
// tessellated wall behind casters of awkward shapes, white texture) is
// captured headless with shadows off and in each shadow mode; a pixel shows
// a shadow when it is clearly darker than with shadows off. The truth is the
// ray caster's: the nearest front face under the pixel and whether the
// segment from it to the light crosses any triangle. Counted are only pixels
// where a shadow would show (lit clearly above the ambient grey) and that lie
// more than 3 pixels from a shadow edge, an object edge or the light marker.
// Exact mode must agree on 99.5% of them and darken no background pixel; the
// blend mode's figures are printed beside them and held to today's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "ray_caster.h"
#include "render/frame.h"
#include "tests/support/skinned_gltf.h"
#include "tests/support/tiff_helpers.h"

namespace {

constexpr int kWidth = 320, kHeight = 240;
constexpr int kBand = 3;         // pixels left out around every edge
constexpr int kVisibleLit = 24;  // levels above ambient: S then changes the pixel by 11 or more
const Vec3 kLight = {20.0f, 20.0f, 70.0f};

// A test model with a surface number per face for the edge bands.
struct Scene {
  TestMesh mesh;
  std::vector<int> surfaces;

  // Adds what `add` puts into the mesh as the next surface, winding every
  // `flipEvery`th added face (from the first) the other way; 0 flips none.
  template <typename Add>
  Scene& Part(Add&& add, int flipEvery = 0) {
    const size_t first = mesh.faces.size();
    const int surface = surfaces.empty() ? 0 : surfaces.back() + 1;
    add(mesh);
    for (size_t f = first; f < mesh.faces.size(); ++f) {
      if (flipEvery > 0 && (f - first) % flipEvery == 0)
        std::swap(mesh.faces[f].index1, mesh.faces[f].index2);
      surfaces.push_back(surface);
    }
    return *this;
  }
};

void AddQuad(TestMesh& m, Vec3 a, Vec3 b, Vec3 c, Vec3 d) {
  const int base = static_cast<int>(m.vertices.size());
  for (Vec3 v : {a, b, c, d}) m.vertices.push_back(v);
  m.faces.push_back(Face{base, base + 1, base + 2});
  m.faces.push_back(Face{base, base + 2, base + 3});
}

// A square plate of half-side `outer` around (cx, cy) at depth z with a
// square hole of half-side `inner`, counter-clockwise seen from +z.
void AddFrame(TestMesh& m, float cx, float cy, float z, float outer, float inner) {
  const float sx[4] = {-1, 1, 1, -1}, sy[4] = {-1, -1, 1, 1};
  for (int k = 0; k < 4; ++k) {
    const int n = (k + 1) % 4;
    AddQuad(m, Vec3{cx + outer * sx[k], cy + outer * sy[k], z},
            Vec3{cx + outer * sx[n], cy + outer * sy[n], z},
            Vec3{cx + inner * sx[n], cy + inner * sy[n], z},
            Vec3{cx + inner * sx[k], cy + inner * sy[k], z});
  }
}

// Three pages of length 12 fanned around the spine x = 0, z = 10, y from -10
// to 10; each page's first triangle holds the whole spine, so the spine is
// an edge of three faces.
void AddBook(TestMesh& m) {
  for (float degrees : {0.0f, 120.0f, 240.0f}) {
    const float a = degrees * 3.14159265f / 180.0f;
    const float dx = 12 * std::cos(a), dz = 12 * std::sin(a);
    AddQuad(m, Vec3{0, 10, 10}, Vec3{0, -10, 10}, Vec3{dx, -10, 10 + dz}, Vec3{dx, 10, 10 + dz});
  }
}

Scene WallScene() {
  Scene s;
  s.Part([](TestMesh& m) { AddWall(m, TestWall{}); });
  s.mesh.texCoords.clear();
  return s;
}

void Cube(TestMesh& m) {
  AddBox(m, Vec3{-15, -10, 0}, Vec3{5, 10, 20});
}

// A small flat box between the light and the first eye: the eye starts 2
// units outside its volume, so the volume crosses the near plane, and after
// 30 frames forward the eye stands inside it.
void NearBox(TestMesh& m) {
  AddBox(m, Vec3{6, 6, 118}, Vec3{11, 11, 122});
}

// A closed torus (major radius 10, minor 3) around (x, y, z), axis along z.
void AddTorus(TestMesh& m, float x, float y, float z) {
  MeshObject* torus = MakeTorus(24, 12, 10, 3, false);
  const int base = static_cast<int>(m.vertices.size());
  for (int i = 0; i < torus->vertexCount; ++i) {
    const Vec3& v = torus->vertices[i];
    m.vertices.push_back(Vec3{v.x + x, v.y + y, v.z + z});
  }
  for (int f = 0; f < torus->faceCount; ++f) {
    const Face& face = torus->faces[f];
    m.faces.push_back(Face{face.index0 + base, face.index1 + base, face.index2 + base});
  }
  FreeMeshObject(torus);
}

struct SceneCase {
  const char* name;
  Scene (*build)();
  std::string keys;     // --keys script, "" for none
  int frame;            // the frame captured (and the last one)
  float eyeZ;           // where the eye stands in that frame
  double blendPercent;  // the blend mode's agreement today
};

const SceneCase kScenes[] = {
    {"ClosedCube", [] { return WallScene().Part(Cube); }, "", 1, 200, 100.00},
    {"PlateWithHole",
     [] { return WallScene().Part([](TestMesh& m) { AddFrame(m, 0, 0, 20, 12, 4); }); }, "", 1, 200,
     86.02},
    {"OverlappingVolumes",
     [] {
       return WallScene()
           .Part([](TestMesh& m) {
             AddBox(m, Vec3{-10, -10, 0}, Vec3{0, 0, 10});
           })
           .Part([](TestMesh& m) {
             AddBox(m, Vec3{-25, -15, -20}, Vec3{-15, -5, -10});
           });
     },
     "", 1, 200, 99.99},
    {"VolumeCrossingNearPlane", [] { return WallScene().Part(Cube).Part(NearBox); }, "", 1, 200,
     83.40},
    {"EyeInsideVolume", [] { return WallScene().Part(Cube).Part(NearBox); }, "1:down:UP", 31, 170,
     84.15},
    {"EdgeOfThreeFaces", [] { return WallScene().Part(AddBook); }, "", 1, 200, 89.98},
    {"InsideOutCaster", [] { return WallScene().Part(Cube, 1); }, "", 1, 200, 97.10},
    {"TorusPlateAndCube",
     [] {
       return WallScene()
           .Part([](TestMesh& m) { AddTorus(m, -5, 20, 5); })
           .Part([](TestMesh& m) { AddFrame(m, 20, -10, 15, 8, 3); })
           .Part([](TestMesh& m) {
             AddBox(m, Vec3{-25, -25, -10}, Vec3{-15, -15, 0});
           });
     },
     "", 1, 200, 95.73},
    {"MixedWindingCaster", [] { return WallScene().Part(Cube, 2); }, "", 1, 200, 99.99},
};

void PrintTo(const SceneCase& c, std::ostream* out) {
  *out << c.name;
}

int Grey(const RgbImage& image, int x, int y) {
  const uint8_t* p = image.At(x, y);
  return (p[0] + p[1] + p[2] + 1) / 3;
}

struct Agreement {
  int counted = 0;             // pixels where a shadow would show, away from edges
  int agreed = 0;              // of those, shadowed in the capture exactly where the truth says
  int background = 0;          // background pixels away from edges
  int darkenedBackground = 0;  // of those, darker than with shadows off
  int misplaced = 0;           // background in one of truth and shadowless capture only
  double Percent() const { return counted == 0 ? 0.0 : 100.0 * agreed / counted; }
};

// Whether two truth pixels lie on different sides of a shadow or object edge.
bool Differ(const RayCaster& caster, const TruthPixel& a, const TruthPixel& b) {
  if (a.marker != b.marker || (a.face < 0) != (b.face < 0)) return true;
  if (a.face < 0) return false;
  if (a.surface != b.surface || a.shadowed != b.shadowed) return true;
  const Vec3 n = caster.NormalOf(a.face), m = caster.NormalOf(b.face);
  return n.x * m.x + n.y * m.y + n.z * m.z < 0.999f;
}

// Compares a capture in some shadow mode with the shadowless one over the
// pixels the truth can call.
Agreement Compare(const RayCaster& caster, const std::vector<TruthPixel>& truth,
                  const RgbImage& off, const RgbImage& shadowed) {
  const int ambient = Level(kAmbientQuadGrey);
  std::vector<char> edge(truth.size(), 0);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int dy = 0; dy <= 1; ++dy)
        for (int dx = dy == 0 ? 1 : -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || nx >= kWidth || ny >= kHeight) continue;
          if (!Differ(caster, truth[y * kWidth + x], truth[ny * kWidth + nx])) continue;
          for (int by = std::max(0, y - kBand); by <= std::min(kHeight - 1, ny + kBand); ++by)
            for (int bx = std::max(0, std::min(x, nx) - kBand);
                 bx <= std::min(kWidth - 1, std::max(x, nx) + kBand); ++bx)
              edge[by * kWidth + bx] = 1;
        }
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
        if ((now < 0.76 * lit) == t.shadowed) ++a.agreed;
      }
    }
  return a;
}

RgbImage Capture(const std::string& folder, const SceneCase& c, const std::string& mode,
                 const std::vector<std::string>& extra = {}) {
  const std::string frame = std::to_string(c.frame);
  std::vector<std::string> args = {
      "--size",    std::to_string(kWidth) + "x" + std::to_string(kHeight),
      "--frames",  frame,
      "--capture", frame + ":" + mode + ".png",
      "--shadows", mode};
  if (!c.keys.empty()) args.insert(args.end(), {"--keys", c.keys});
  args.insert(args.end(), extra.begin(), extra.end());
  const DemoRun run = RunDemo(folder, args);
  EXPECT_EQ(run.exitCode, 0) << mode << ": " << run.err;
  const size_t titles = LinesWithPrefix(run.err, "title: ").size();
  EXPECT_EQ(static_cast<size_t>(std::count(run.err.begin(), run.err.end(), '\n')), titles)
      << mode << ": " << run.err;
  return ReadPng(folder + "/" + mode + ".png");
}

class ShadowTruth : public testing::TestWithParam<SceneCase> {};

TEST_P(ShadowTruth, ExactModeAgreesWithRayCastingAndBlendModeKeepsItsFigure) {
  const SceneCase& c = GetParam();
  const std::string folder = ScratchFolder(c.name);
  ASSERT_FALSE(folder.empty());
  const Scene scene = c.build();
  ASSERT_TRUE(WriteTestModel(folder + "/shadow2.3DS", scene.mesh));
  TiffLayout white;
  white.width = white.height = 4;
  ASSERT_TRUE(
      WriteTiffWithLibtiff(folder + "/txt.tif", white, std::vector<uint8_t>(4 * 4 * 3, 255)));

  const RayCaster caster(scene.mesh.vertices, scene.mesh.faces, scene.surfaces);
  const std::vector<TruthPixel> truth =
      CastView(caster, View{kWidth, kHeight, c.eyeZ}, kLight, kMarkerHalfSize);
  const RgbImage off = Capture(folder, c, "off");
  ASSERT_EQ(off.width, kWidth);
  Agreement modes[2];
  const char* names[2] = {"exact", "blend"};
  for (int k = 0; k < 2; ++k) {
    const RgbImage image = Capture(folder, c, names[k]);
    ASSERT_EQ(image.width, kWidth) << names[k];
    modes[k] = Compare(caster, truth, off, image);
    RecordProperty(std::string(names[k]) + "_agreement_percent",
                   std::to_string(modes[k].Percent()));
  }
  std::printf(
      "%-24s %6d pixels  exact %6.2f%%  blend %6.2f%%  background darkened: exact %d, "
      "blend %d of %d\n",
      c.name, modes[0].counted, modes[0].Percent(), modes[1].Percent(), modes[0].darkenedBackground,
      modes[1].darkenedBackground, modes[0].background);
  // The truth's camera is the demo's, and enough pixels of both kinds count.
  EXPECT_EQ(modes[0].misplaced, 0);
  EXPECT_GT(modes[0].counted, kWidth * kHeight / 20);
  EXPECT_GT(modes[0].background, kWidth * kHeight / 20);
  EXPECT_GE(modes[0].Percent(), 99.5);
  EXPECT_EQ(modes[0].darkenedBackground, 0);
  EXPECT_NEAR(modes[1].Percent(), c.blendPercent, 0.5);
}

// A model that moves: a box slides and rises in front of the wall through a
// glTF clip, read through assimp. Paused at a moment of the clip, the exact
// shadows agree with ray casting over the box where the clip puts it then.
class AnimatedShadowTruth : public testing::TestWithParam<double> {};

TEST_P(AnimatedShadowTruth, ExactModeFollowsThePose) {
  const double seconds = GetParam();
  const SceneCase c = {"Sliding", nullptr, "", 1, 200, 0};
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
  Scene posed;
  posed.Part([&](TestMesh& m) { m = wall; });
  posed.Part([&](TestMesh& m) {
    const int base = static_cast<int>(m.vertices.size());
    for (const Vec3& v : box.vertices) m.vertices.push_back(Vec3{v.x + shift.x, v.y + shift.y, v.z + shift.z});
    for (const Face& face : box.faces)
      m.faces.push_back(Face{face.index0 + base, face.index1 + base, face.index2 + base});
  });
  const RayCaster caster(posed.mesh.vertices, posed.mesh.faces, posed.surfaces);
  const std::vector<TruthPixel> truth = CastView(caster, View{kWidth, kHeight, 200}, kLight, kMarkerHalfSize);
  const std::vector<std::string> moment = {"--model", "slide.gltf", "--paused", "--time",
                                           std::to_string(seconds)};
  const RgbImage off = Capture(folder, c, "off", moment);
  const RgbImage exact = Capture(folder, c, "exact", moment);
  ASSERT_EQ(off.width, kWidth);
  ASSERT_EQ(exact.width, kWidth);
  const Agreement a = Compare(caster, truth, off, exact);
  std::printf("Sliding at %.2f s         %6d pixels  exact %6.2f%%\n", seconds, a.counted, a.Percent());
  EXPECT_EQ(a.misplaced, 0);
  EXPECT_GT(a.counted, kWidth * kHeight / 20);
  EXPECT_GE(a.Percent(), 99.5);
  EXPECT_EQ(a.darkenedBackground, 0);
}

INSTANTIATE_TEST_SUITE_P(Moments, AnimatedShadowTruth, testing::Values(0.5, 1.5),
                         [](const testing::TestParamInfo<double>& info) {
                           return info.param < 1 ? std::string("QuarterWay") : std::string("ThreeQuarters");
                         });

INSTANTIATE_TEST_SUITE_P(Scenes, ShadowTruth, testing::ValuesIn(kScenes),
                         [](const testing::TestParamInfo<SceneCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
