// End-to-end tests of the frame passes: the real demo runs headless in a
// scratch folder holding a test-made model (a finely tessellated open wall
// and a box between it and the light) and texture, and its captures are
// checked pixel by pixel against the lighting and shadow rules:
// a visible wall pixel is texel x min(1, S x lit + 0.12) with S = 0.52 in the
// box's shadow and 1 elsewhere, within 3 levels out of 255.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "tests/support/tiff_helpers.h"
#include "tools/chunk_writer.h"

namespace {

const Vec3 kLight = {20.0f, 20.0f, 70.0f};
const Vec3 kEye = {0.0f, 0.0f, 200.0f};
const Vec3 kBoxLow = {-5.0f, -5.0f, 10.0f};
const Vec3 kBoxHigh = {15.0f, 15.0f, 25.0f};
constexpr float kFarZ = 200.0f - 1000.0f;  // the far plane seen from the first eye
constexpr int kTolerance = 3;              // levels out of 255

Vec3 Grow(Vec3 v, float by) {
  return Vec3{v.x + by, v.y + by, v.z + by};
}

// The box grown (margin > 0) or shrunk (margin < 0) on every side.
bool HitsBox(Vec3 a, Vec3 b, float margin) {
  return SegmentHitsBox(a, b, Grow(kBoxLow, -margin), Grow(kBoxHigh, margin));
}

TestMesh WallAndBox(bool withTexCoords) {
  TestMesh mesh;
  AddWall(mesh, TestWall{});
  AddBox(mesh, kBoxLow, kBoxHigh);
  if (!withTexCoords) mesh.texCoords.clear();
  return mesh;
}

void WriteTexture(const std::string& folder, int width, int height, int samples,
                  const std::vector<uint8_t>& pixels) {
  TiffLayout layout;
  layout.width = width;
  layout.height = height;
  layout.samples = samples;
  layout.compression = 5;
  layout.predictor = 2;
  ASSERT_TRUE(WriteTiffWithLibtiff(folder + "/txt.tif", layout, pixels));
}

void WriteWhiteTexture(const std::string& folder) {
  WriteTexture(folder, 8, 8, 3, std::vector<uint8_t>(8 * 8 * 3, 255));
}

// A run of the demo over `mesh` in a new folder named `name`, capturing the
// frames listed; the texture is written by `texture` when given.
struct Captured {
  DemoRun run;
  std::vector<RgbImage> frames;
};

Captured RunScene(const std::string& folder, const TestMesh& mesh, std::vector<int> frames,
                  const std::string& keys = "", const std::vector<std::string>& extra = {}) {
  Captured result;
  EXPECT_TRUE(WriteTestModel(folder + "/shadow2.3DS", mesh));
  std::vector<std::string> args = {"--frames", std::to_string(frames.back())};
  args.insert(args.end(), extra.begin(), extra.end());
  for (int f : frames) {
    args.push_back("--capture");
    args.push_back(std::to_string(f) + ":frame" + std::to_string(f) + ".png");
  }
  if (!keys.empty()) {
    args.push_back("--keys");
    args.push_back(keys);
  }
  result.run = RunDemo(folder, args);
  EXPECT_EQ(result.run.exitCode, 0) << result.run.err;
  for (int f : frames) {
    result.frames.push_back(ReadPng(folder + "/frame" + std::to_string(f) + ".png"));
    EXPECT_GT(result.frames.back().width, 0) << "frame " << f << " not captured";
  }
  return result;
}

// What a wall pixel must show, given the texel in 0..255 per channel.
enum class WallPixel { kHidden, kUnsure, kLit, kShadowed };

// Classifies the wall point under pixel (px, py) of the first frame:
// hidden behind the box or off the wall, too near a shadow edge to call,
// lit, or in the box's shadow.
WallPixel Classify(const View& view, int px, int py, Vec3* point) {
  const TestWall wall;
  *point = PointOnPlane(view, px, py, wall.z);
  const float edge = wall.x0 + wall.cell * wall.n;
  if (point->x < wall.x0 + 1 || point->x > edge - 1 || point->y < wall.y0 + 1 ||
      point->y > edge - 1)
    return WallPixel::kHidden;
  const Vec3 eye = {0, 0, view.eyeZ};
  if (HitsBox(eye, *point, 1.5f)) return WallPixel::kHidden;
  // The light marker covers the wall where it projects.
  const float h = 5.0f + 1.0f;
  const Vec3 near = {kLight.x, kLight.y, kLight.z + h};
  if (SegmentHitsBox(eye, *point, Vec3{kLight.x - h, kLight.y - h, kLight.z - h},
                     Vec3{kLight.x + h, kLight.y + h, near.z}))
    return WallPixel::kHidden;
  if (HitsBox(kLight, *point, -1.5f)) return WallPixel::kShadowed;
  if (!HitsBox(kLight, *point, 1.5f)) return WallPixel::kLit;
  return WallPixel::kUnsure;
}

// Checks the first frame's visible wall pixels (every `step`-th) against
// texel x min(1, S x lit + 0.12); `texel` gives the texel colour of a wall
// point. Returns how many lit and shadowed pixels were checked. The eye may
// have moved along z to `eyeZ`; without `shadows`, S is 1 everywhere.
void CheckWallPixels(const RgbImage& image, int step,
                     const std::function<void(Vec3, double[3])>& texel, int* litCount,
                     int* shadowCount, float eyeZ = 200.0f, bool shadows = true) {
  const View view{image.width, image.height, eyeZ};
  const TestWall wall;
  *litCount = *shadowCount = 0;
  int failures = 0;
  for (int py = step / 2; py < image.height; py += step) {
    for (int px = step / 2; px < image.width; px += step) {
      Vec3 p;
      const WallPixel kind = Classify(view, px, py, &p);
      if (kind != WallPixel::kLit && kind != WallPixel::kShadowed) continue;
      const double s = kind == WallPixel::kShadowed && shadows ? 0.52 : 1.0;
      const double factor = std::min(1.0, s * WallLight(wall, kLight, p) + 0.12);
      double t[3];
      texel(p, t);
      for (int k = 0; k < 3; ++k) {
        const int expected = Level(t[k] / 255.0 * factor);
        const int got = image.At(px, py)[k];
        if (std::abs(got - expected) > kTolerance && ++failures <= 10)
          ADD_FAILURE() << "pixel (" << px << ", " << py << ") channel " << k << " is " << got
                        << ", expected " << expected << (s < 1 ? " (shadowed)" : " (lit)");
      }
      ++(kind == WallPixel::kShadowed ? *shadowCount : *litCount);
    }
  }
  EXPECT_EQ(failures, 0);
}

void White(Vec3, double t[3]) {
  t[0] = t[1] = t[2] = 255.0;
}

// The pixel a fraction `f` of the way from the projection of `corner` towards
// the projected centre of the marker.
void TowardsMarkerCentre(const View& view, Vec3 light, Vec3 corner, float f, int* px, int* py) {
  const float h = 5.0f;
  const Vec3 corners[4] = {{light.x - h, light.y - h, light.z - h},
                           {light.x + h, light.y - h, light.z - h},
                           {light.x, light.y + h, light.z - h},
                           {light.x, light.y, light.z + h}};
  float cx = 0, cy = 0;
  for (const Vec3& c : corners) {
    float x, y;
    Project(view, c, &x, &y);
    cx += x / 4;
    cy += y / 4;
  }
  float x, y;
  Project(view, corner, &x, &y);
  *px = static_cast<int>(x + (cx - x) * f);
  *py = static_cast<int>(y + (cy - y) * f);
}

TEST(RenderE2e, FirstFrameFollowsTheLightingAndShadowRules) {
  const std::string folder = ScratchFolder("rules");
  WriteWhiteTexture(folder);
  const Captured c = RunScene(folder, WallAndBox(true), {1});
  ASSERT_GT(c.frames[0].width, 0);
  const RgbImage& image = c.frames[0];
  const View view{image.width, image.height, 200.0f};

  int lit = 0, shadowed = 0;
  CheckWallPixels(image, 3, White, &lit, &shadowed);
  EXPECT_GT(lit, 2000);
  EXPECT_GT(shadowed, 300);

  // Background: white, except where only quads of the first shadow pass lie
  // in front of the cleared depth: 0.52 + 0.12 grey. The far end of the
  // sight ray decides: inside the box's shadow cone means first-pass only.
  int white = 0, grey = 0, failures = 0;
  for (int py = 2; py < image.height; py += 5) {
    for (int px = 2; px < image.width; px += 5) {
      const Vec3 onWall = PointOnPlane(view, px, py, -40.0f);
      if (std::fabs(onWall.x) < 62 && std::fabs(onWall.y) < 62) continue;
      const Vec3 far = PointOnPlane(view, px, py, kFarZ + 5);
      int expected;
      if (HitsBox(kLight, far, -1.5f)) {
        expected = Level(0.64);
        ++grey;
      } else if (!HitsBox(kLight, far, 1.5f)) {
        expected = 255;
        ++white;
      } else {
        continue;
      }
      for (int k = 0; k < 3; ++k)
        if (std::abs(image.At(px, py)[k] - expected) > kTolerance && ++failures <= 10)
          ADD_FAILURE() << "background (" << px << ", " << py << ") is " << int(image.At(px, py)[k])
                        << ", expected " << expected;
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(white, 1000);
  EXPECT_GT(grey, 100);

  // The light marker: red, green and blue towards its corners A, B and C.
  const Vec3 a = {kLight.x - 5, kLight.y - 5, kLight.z - 5};
  const Vec3 b = {kLight.x + 5, kLight.y - 5, kLight.z - 5};
  const Vec3 cc = {kLight.x, kLight.y + 5, kLight.z - 5};
  const Vec3 corners[3] = {a, b, cc};
  for (int k = 0; k < 3; ++k) {
    int px, py;
    TowardsMarkerCentre(view, kLight, corners[k], 0.15f, &px, &py);
    const uint8_t* pixel = image.At(px, py);
    EXPECT_GT(pixel[k], 170) << "marker corner " << k << " at (" << px << ", " << py << ")";
    EXPECT_LT(pixel[(k + 1) % 3], 90) << "marker corner " << k;
    EXPECT_LT(pixel[(k + 2) % 3], 90) << "marker corner " << k;
  }
}

TEST(RenderE2e, ModelWithoutTextureCoordinatesIsLitAsUsual) {
  const std::string folder = ScratchFolder("no-texcoords");
  WriteWhiteTexture(folder);
  const Captured c = RunScene(folder, WallAndBox(false), {1});
  ASSERT_GT(c.frames[0].width, 0);
  int lit = 0, shadowed = 0;
  CheckWallPixels(c.frames[0], 7, White, &lit, &shadowed);
  EXPECT_GT(lit, 200);
  EXPECT_GT(shadowed, 30);
}

// Four-coloured textures of odd size, a colour per quadrant, so a texture
// drawn upside down, mirrored, sheared or misread shows as wrong colours.
std::vector<uint8_t> QuadrantsTexture(int width, int height, int samples) {
  static const uint8_t kColours[2][2][4] = {{{200, 60, 30, 77}, {30, 90, 220, 123}},
                                            {{40, 180, 60, 200}, {230, 200, 40, 10}}};
  std::vector<uint8_t> pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* colour = kColours[y < height / 2 ? 0 : 1][x < width / 2 ? 0 : 1];
      pixels.insert(pixels.end(), colour, colour + samples);
    }
  return pixels;
}

TEST(RenderE2e, TexturesAreUprightUnshearedAndScaledDownToTheSizeLimit) {
  // The wall's texture coordinates run from (0, 0) at its lower-left corner
  // to (1, 1) at its upper-right: an upright texture shows the image's top
  // left quadrant at the wall's upper left. The widest texture is above
  // OpenGL's size limit (16384 on Mesa) and must come out the same, scaled.
  struct Case {
    int width, height, samples;
  };
  for (const Case& t : {Case{33, 17, 3}, Case{33, 17, 4}, Case{16411, 33, 3}}) {
    SCOPED_TRACE(std::to_string(t.width) + " x " + std::to_string(t.height) + " x " +
                 std::to_string(t.samples));
    const std::string folder = ScratchFolder("upright-" + std::to_string(t.width) + "-" +
                                             std::to_string(t.samples));
    const std::vector<uint8_t> pixels = QuadrantsTexture(t.width, t.height, t.samples);
    WriteTexture(folder, t.width, t.height, t.samples, pixels);
    const Captured c = RunScene(folder, WallAndBox(true), {1});
    ASSERT_GT(c.frames[0].width, 0);
    const std::vector<std::string> notes = LinesWithPrefix(c.run.err, "txt.tif: ");
    if (t.width > 16384) {
      ASSERT_EQ(notes.size(), 1u) << c.run.err;
      EXPECT_NE(notes[0].find("scaled down to "), std::string::npos) << notes[0];
    } else {
      EXPECT_EQ(c.run.err, "");
    }
    const RgbImage& image = c.frames[0];
    const View view{image.width, image.height, 200.0f};
    int checked = 0;
    std::set<int> quadrants;
    for (int py = 3; py < image.height; py += 6) {
      for (int px = 3; px < image.width; px += 6) {
        Vec3 p;
        const WallPixel kind = Classify(view, px, py, &p);
        if (kind != WallPixel::kLit && kind != WallPixel::kShadowed) continue;
        const double u = (p.x + 60.0) / 120.0, v = (p.y + 60.0) / 120.0;
        double texel[3];
        // Scaling moves the quadrants' border by up to a texel or two.
        const int margin = t.width > 16384 ? 2 : 0;
        if (!SampleUpright(pixels, t.width, t.height, t.samples, u, v, margin, texel)) continue;
        const double s = kind == WallPixel::kShadowed ? 0.52 : 1.0;
        const double factor = std::min(1.0, s * WallLight(TestWall{}, kLight, p) + 0.12);
        for (int k = 0; k < 3; ++k)
          ASSERT_NEAR(image.At(px, py)[k], Level(texel[k] / 255.0 * factor), kTolerance)
              << "pixel (" << px << ", " << py << ") channel " << k << ", u " << u << " v " << v;
        quadrants.insert((v > 0.5) * 2 + (u > 0.5));
        ++checked;
      }
    }
    EXPECT_GT(checked, 500);
    EXPECT_EQ(quadrants.size(), 4u);
  }
}

// Writes a one-sample (grey) TIFF: the reader gives no pixels for it.
void WriteGreyTiff(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "wl");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 8);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 8);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
  std::vector<uint8_t> row(8, 200);
  for (uint32_t y = 0; y < 8; ++y) TIFFWriteScanline(tif, row.data(), y, 0);
  TIFFClose(tif);
}

TEST(RenderE2e, WithoutUsableTextureTheMeshIsDrawnUntexturedAndGreyIsReadThroughLibtiff) {
  // No texture file at all: the run goes on untextured, every wall pixel
  // keeping its lit colour as if the texel were white.
  const std::string missing = ScratchFolder("no-texture");
  const Captured c = RunScene(missing, WallAndBox(true), {1});
  ASSERT_GT(c.frames[0].width, 0);
  int lit = 0, shadowed = 0;
  CheckWallPixels(
      c.frames[0], 7, [](Vec3, double t[3]) { t[0] = t[1] = t[2] = 255; }, &lit, &shadowed);
  EXPECT_GT(lit, 200);
  EXPECT_GT(shadowed, 30);

  // A texture no reader decodes is not uploaded: the very same picture, not
  // undefined texels.
  const std::string foreign = ScratchFolder("foreign-texture");
  std::ofstream(foreign + "/txt.tif") << "not an image";
  const Captured f = RunScene(foreign, WallAndBox(true), {1});
  ASSERT_GT(f.frames[0].width, 0);
  EXPECT_TRUE(f.frames[0].rgb == c.frames[0].rgb);

  // A grayscale TIFF, which the own reader declines, is read through libtiff:
  // the wall shows its grey (200 of 255) texels, lit and shadowed as usual.
  const std::string grey = ScratchFolder("grey-texture");
  WriteGreyTiff(grey + "/txt.tif");
  const Captured g = RunScene(grey, WallAndBox(true), {1});
  ASSERT_GT(g.frames[0].width, 0);
  lit = shadowed = 0;
  CheckWallPixels(
      g.frames[0], 7, [](Vec3, double t[3]) { t[0] = t[1] = t[2] = 200; }, &lit, &shadowed);
  EXPECT_GT(lit, 200);
  EXPECT_GT(shadowed, 30);
}

// The first non-white column of row `row`, or -1.
int FirstNonWhiteColumn(const RgbImage& image, int row) {
  for (int x = 0; x < image.width; ++x) {
    const uint8_t* p = image.At(x, row);
    if (p[0] < 250 || p[1] < 250 || p[2] < 250) return x;
  }
  return -1;
}

// The first non-white row of column `column`, or -1.
int FirstNonWhiteRow(const RgbImage& image, int column) {
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* p = image.At(column, y);
    if (p[0] < 250 || p[1] < 250 || p[2] < 250) return y;
  }
  return -1;
}

// The first pixel whose centre lies past an edge at `edge` (a pixel
// coordinate, growing the way the scan goes).
int FirstCovered(double edge) {
  return static_cast<int>(std::floor(edge + 0.5));
}

TEST(RenderE2e, UpHeldForTenFramesBringsTheWallNearer) {
  const std::string folder = ScratchFolder("keys-up");
  WriteWhiteTexture(folder);
  // Pressed before frame 1, released before frame 11: ten steps, applied at
  // the ends of frames 1 .. 10, shown from frame 2 to frame 11.
  const Captured c = RunScene(folder, WallAndBox(true), {1, 2, 11, 12}, "1:down:UP,11:up:UP");
  ASSERT_EQ(c.frames.size(), 4u);
  const int row = c.frames[0].height / 4;  // above the box's shadow cone
  const int eyeZ[4] = {200, 199, 190, 190};
  for (int i = 0; i < 4; ++i) {
    ASSERT_GT(c.frames[i].width, 0);
    const View view{c.frames[i].width, c.frames[i].height, static_cast<float>(eyeZ[i])};
    float left, y;
    Project(view, Vec3{-60.0f, 0.0f, -40.0f}, &left, &y);
    EXPECT_EQ(FirstNonWhiteColumn(c.frames[i], row), FirstCovered(left))
        << "capture " << i << ", eye at z = " << eyeZ[i];
  }
  EXPECT_TRUE(c.frames[2].rgb == c.frames[3].rgb) << "motion went on after the release";
}

TEST(RenderE2e, TabThenHomeTiltsTheViewUp) {
  const std::string folder = ScratchFolder("keys-tab-home");
  WriteWhiteTexture(folder);
  const Captured c =
      RunScene(folder, WallAndBox(true), {1, 2, 11}, "1:down:TAB,1:up:TAB,1:down:HOME,11:up:HOME");
  ASSERT_EQ(c.frames.size(), 3u);
  const int turns[3] = {0, 1, 10};
  const int column = c.frames[0].width * 3 / 8;  // left of the marker and the box
  for (int i = 0; i < 3; ++i) {
    ASSERT_GT(c.frames[i].width, 0);
    // The wall's top edge, turned about the eye's x axis by -turns degrees.
    const double a = -turns[i] * 3.14159265358979323846 / 180.0;
    const double y = 60.0, z = -240.0;  // eye space before the turn
    const double yTurned = y * std::cos(a) - z * std::sin(a);
    const double zTurned = y * std::sin(a) + z * std::cos(a);
    const double yNdc = yTurned / (-zTurned * std::tan(22.5 * 3.14159265358979323846 / 180.0));
    const double edgeRow = (1.0 - yNdc) * c.frames[i].height / 2.0;
    EXPECT_EQ(FirstNonWhiteRow(c.frames[i], column), FirstCovered(edgeRow))
        << "capture " << i << " after " << turns[i] << " degrees";
  }
}

// The topmost row holding a saturated (marker) pixel, or -1. The test wall
// is white-textured, so only the marker has colour.
int MarkerTopRow(const RgbImage& image) {
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* p = image.At(x, y);
      if (std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 80) return y;
    }
  return -1;
}

TEST(RenderE2e, HomeInLightModeMovesTheMarkerUpFromTheNextFrame) {
  const std::string folder = ScratchFolder("keys-home-light");
  WriteWhiteTexture(folder);
  // Held for frame 1 only: one step of 2 units at the end of frame 1.
  const Captured c = RunScene(folder, WallAndBox(true), {1, 2, 3}, "1:down:HOME,2:up:HOME");
  ASSERT_EQ(c.frames.size(), 3u);
  const float lightY[3] = {20.0f, 22.0f, 22.0f};
  int top[3];
  for (int i = 0; i < 3; ++i) {
    ASSERT_GT(c.frames[i].width, 0);
    const View view{c.frames[i].width, c.frames[i].height, 200.0f};
    float x, apex;  // the marker's top corner C
    Project(view, Vec3{kLight.x, lightY[i] + 5.0f, kLight.z - 5.0f}, &x, &apex);
    top[i] = MarkerTopRow(c.frames[i]);
    // Near the apex the triangle is thinner than a pixel: allow two rows.
    EXPECT_GE(top[i], FirstCovered(apex)) << "capture " << i;
    EXPECT_LE(top[i], FirstCovered(apex) + 2) << "capture " << i;
  }
  EXPECT_LT(top[1], top[0] - 5);
  EXPECT_EQ(top[2], top[1]);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// A model with no faces and one whose second face names a vertex it lacks.
std::vector<TestObject> UndrawableObjects() {
  TestMesh triangle;
  triangle.vertices = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}};
  TestMesh broken = triangle;
  broken.faces = {{0, 1, 2}, {0, 2, 99}};
  return {{"Empty", triangle}, {"Broken", broken}};
}

TEST(RenderE2e, UnusableModelStopsWithExitCode2NamingTheFileOnEveryLine) {
  struct Case {
    const char* name;
    std::string model;  // --model, or "" for the default
    std::function<void(const std::string&)> write;
    std::vector<const char*> lines;  // what each line must hold, in order
  };
  const std::vector<Case> cases = {
      {"missing", "", [](const std::string&) {}, {"No such file or directory (current directory: /"}},
      {"other-case", "",
       [](const std::string& folder) { WriteTestModel(folder + "/shadow2.3ds", WallAndBox(true)); },
       {"there is shadow2.3ds, which differs only in letter case"}},
      {"other-case-in-a-folder", "models/Room.3DS",
       [](const std::string& folder) {
         std::filesystem::create_directory(folder + "/models");
         WriteTestModel(folder + "/models/room.3ds", WallAndBox(true));
       },
       {"there is models/room.3ds, which differs"}},
      {"not-3ds", "",
       [](const std::string& folder) {
         std::ofstream(folder + "/shadow2.3DS") << "solid cube\nendsolid cube\n";
       },
       {"not a 3DS"}},
      {"no-mesh", "",
       [](const std::string& folder) {
         // Editor data with a material and an empty named object, no mesh.
         ChunkWriter w;
         w.Begin(0x4D4D);
         w.Begin(0x3D3D);
         w.Begin(0xAFFF);
         w.Begin(0xA000);
         w.Name("Paint");
         w.End();
         w.End();
         w.Begin(0x4000);
         w.Name("Nothing");
         w.End();
         w.End();
         w.End();
         w.Save((folder + "/shadow2.3DS").c_str());
       },
       {"no mesh"}},
      {"nothing-drawable", "parts.3ds",
       [](const std::string& folder) {
         WriteTestModel(folder + "/parts.3ds", UndrawableObjects());
       },
       {"object 0 \"Empty\" is left out: it has no faces",
        "object 1 \"Broken\" is left out: face 1 names vertex 99 but it has 3 vertices",
        "nothing to draw"}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string folder = ScratchFolder(std::string("model-") + test.name);
    WriteWhiteTexture(folder);
    test.write(folder);
    std::vector<std::string> args = {"--frames", "3", "--capture", "1:frame1.png"};
    if (!test.model.empty()) args.insert(args.end(), {"--model", test.model});
    const DemoRun run = RunDemo(folder, args);
    EXPECT_EQ(run.exitCode, 2);
    const std::vector<std::string> lines = Lines(run.err);
    ASSERT_EQ(lines.size(), test.lines.size()) << run.err;
    const std::string path = test.model.empty() ? "shadow2.3DS" : test.model;
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind(path + ": ", 0), 0u) << lines[i];
      EXPECT_NE(lines[i].find(test.lines[i]), std::string::npos) << lines[i];
    }
    // Stopped before the loop: no frame was drawn.
    EXPECT_EQ(ReadPng(folder + "/frame1.png").width, 0);
  }
}

TEST(RenderE2e, EveryDrawableObjectIsDrawnAndTheOthersLeftOutWithAWarning) {
  // The wall and the box as objects of their own, with the undrawable
  // objects between and after them: merged in file order they are the
  // one-object model's mesh, so the picture is the same to the last pixel.
  const std::string single = ScratchFolder("merge-single");
  WriteWhiteTexture(single);
  const Captured reference = RunScene(single, WallAndBox(true), {1});
  ASSERT_GT(reference.frames[0].width, 0);

  TestMesh wall, box;
  AddWall(wall, TestWall{});
  AddBox(box, kBoxLow, kBoxHigh);
  box.texCoords.assign(box.vertices.size(), TexCoord{0.5f, 0.5f});
  const std::vector<TestObject> undrawable = UndrawableObjects();
  const std::string folder = ScratchFolder("merge-objects");
  WriteWhiteTexture(folder);
  ASSERT_TRUE(WriteTestModel(folder + "/scene.3ds",
                             {{"Wall", wall}, undrawable[0], {"Box", box}, undrawable[1]}));
  const DemoRun run =
      RunDemo(folder, {"--model", "scene.3ds", "--frames", "1", "--capture", "1:frame1.png"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.err), (std::vector<std::string>{
                                "scene.3ds: object 1 \"Empty\" is left out: it has no faces",
                                "scene.3ds: object 3 \"Broken\" is left out: face 1 names vertex "
                                "99 but it has 3 vertices"}));
  const RgbImage merged = ReadPng(folder + "/frame1.png");
  ASSERT_GT(merged.width, 0);
  EXPECT_TRUE(merged.rgb == reference.frames[0].rgb);
}

TEST(RenderE2e, AModelOutOfViewGetsAHintAndFitBringsItIntoView) {
  TestMesh mesh;
  AddBox(mesh, Vec3{1000, 1000, -500}, Vec3{1040, 1020, -470});
  const std::string folder = ScratchFolder("fit");
  WriteWhiteTexture(folder);
  ASSERT_TRUE(WriteTestModel(folder + "/far.3ds", mesh));
  for (bool fit : {false, true}) {
    SCOPED_TRACE(fit ? "--fit" : "as stored");
    std::vector<std::string> args = {"--model", "far.3ds", "--texture", "txt.tif", "--frames",
                                     "1",       "--capture", "1:frame1.png"};
    if (fit) args.push_back("--fit");
    const DemoRun run = RunDemo(folder, args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const RgbImage image = ReadPng(folder + "/frame1.png");
    ASSERT_GT(image.width, 0);
    const int covered = ModelPixels(image, kLight);
    if (fit) {
      EXPECT_EQ(run.err, "");
      // A 100 x 50 x 75 box centred 200 units in front of the eye.
      EXPECT_GT(covered, image.width * image.height / 10);
    } else {
      const std::vector<std::string> lines = Lines(run.err);
      ASSERT_EQ(lines.size(), 1u) << run.err;
      EXPECT_EQ(lines[0].rfind("far.3ds: no vertex of the model lies in the first frame's view", 0),
                0u)
          << lines[0];
      EXPECT_NE(lines[0].find("--fit"), std::string::npos) << lines[0];
      EXPECT_EQ(covered, 0);
    }
  }
}

// Background pixels (off the wall and not behind the box) of a first-eye
// frame that are not white; also how many were looked at.
int DarkBackgroundPixels(const RgbImage& image, float eyeZ, int* seen) {
  const View view{image.width, image.height, eyeZ};
  int dark = 0;
  *seen = 0;
  for (int py = 1; py < image.height; py += 3) {
    for (int px = 1; px < image.width; px += 3) {
      const Vec3 onWall = PointOnPlane(view, px, py, -40.0f);
      if (std::fabs(onWall.x) < 62 && std::fabs(onWall.y) < 62) continue;
      if (HitsBox(Vec3{0, 0, eyeZ}, PointOnPlane(view, px, py, kFarZ), 2.0f)) continue;
      ++*seen;
      for (int k = 0; k < 3; ++k) dark += image.At(px, py)[k] < 255 - kTolerance;
    }
  }
  return dark;
}

TEST(RenderE2e, ShadowModesBlendIsTheDefaultExactCountsRightOffHasNone) {
  const std::string folder = ScratchFolder("shadow-modes");
  WriteWhiteTexture(folder);
  // Frame 1 from the start, frame 30 after a short tour; in exact mode
  // also frame 201, with the eye moved 200 units forward to (0, 0, 0), which
  // lies inside the box's shadow volume (a smaller frame keeps it quick).
  const std::string tour = "2:down:UP,20:up:UP,21:down:TAB,21:up:TAB,21:down:HOME,29:up:HOME";
  const Captured plain = RunScene(folder, WallAndBox(true), {1, 30}, tour);
  const Captured blend = RunScene(folder, WallAndBox(true), {1, 30}, tour, {"--shadows", "blend"});
  const Captured exact = RunScene(folder, WallAndBox(true), {1}, "", {"--shadows=exact"});
  const Captured inside = RunScene(folder, WallAndBox(true), {201}, "1:down:UP,201:up:UP",
                                   {"--shadows=exact", "--size", "400x300"});
  const Captured off = RunScene(folder, WallAndBox(true), {1}, "", {"--shadows", "off"});
  ASSERT_FALSE(HasFailure());
  for (int k = 0; k < 2; ++k) EXPECT_TRUE(plain.frames[k].rgb == blend.frames[k].rgb);
  EXPECT_EQ(exact.run.err.find("shadow_volume:"), std::string::npos) << exact.run.err;
  int lit = 0, shadowed = 0, seen = 0;
  CheckWallPixels(exact.frames[0], 3, White, &lit, &shadowed);
  EXPECT_GT(lit, 2000);
  EXPECT_GT(shadowed, 300);
  EXPECT_EQ(DarkBackgroundPixels(exact.frames[0], 200.0f, &seen), 0);
  EXPECT_GT(seen, 1000);
  EXPECT_GT(DarkBackgroundPixels(blend.frames[0], 200.0f, &seen), 100) << "blended quads show";
  CheckWallPixels(inside.frames[0], 2, White, &lit, &shadowed, 0.0f);
  EXPECT_GT(lit, 1000);
  EXPECT_GT(shadowed, 300);
  CheckWallPixels(off.frames[0], 3, White, &lit, &shadowed, 200.0f, false);
  EXPECT_GT(shadowed, 300);
}

// The S key cycles blend, exact and off, shown after the frame rate in the
// title (nothing in blend mode); V draws the volumes over the picture.
TEST(RenderE2e, KeysSAndVCycleTheModesAndShowTheVolumes) {
  const std::string folder = ScratchFolder("mode-keys");
  WriteWhiteTexture(folder);
  const Captured c =
      RunScene(folder, WallAndBox(true), {10, 20, 30, 40, 50, 51},
               "11:down:S,11:up:S,21:down:S,21:up:S,31:down:S,31:up:S,41:down:S,41:up:S,51:down:V",
               {"--clock-step", "10"});
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(c.run.err,
            "title: 111.111115\ntitle: 100.000000 - exact shadows\n"
            "title: 100.000000 - traced shadows\ntitle: 100.000000 - no shadows\n"
            "title: 100.000000\n");
  // Traced and exact shadows darken the same pixels by the same step.
  EXPECT_LT(DifferingFraction(c.frames[1], c.frames[2], 2), 0.001);
  EXPECT_FALSE(c.frames[1].rgb == c.frames[3].rgb);
  EXPECT_FALSE(c.frames[4].rgb == c.frames[5].rgb);  // the volumes over the picture
  const Captured shown =
      RunScene(folder, WallAndBox(true), {1}, "", {"--show-volumes", "--shadows", "exact"});
  const Captured hidden = RunScene(folder, WallAndBox(true), {1}, "", {"--shadows", "exact"});
  EXPECT_FALSE(shown.frames[0].rgb == hidden.frames[0].rgb);
}

}  // namespace
