// Render-specific support for the end-to-end tests of the real demo: the
// projection and lighting rules that say what a pixel must show. Spawning the
// demo and its scratch folders are sv_demo_runner's job, the test-made meshes
// sv_test_meshes' and reading its captures sv_png_reader's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/scene.h"
#include "tests/support/demo_runner.h"
#include "tests/support/png_reader.h"
#include "tests/support/test_meshes.h"

// Runs `shadow_volume --headless` with the extra arguments in `folder`,
// waits for it and collects its exit code and output.
DemoRun RunDemo(const std::string& folder, const std::vector<std::string>& arguments);

// The first frame's camera: eye at (0, 0, 200) looking down -z, 45 degree
// vertical field of view, the image's aspect. Also later cameras that only
// moved along z.
struct View {
  int width = 800;
  int height = 600;
  float eyeZ = 200.0f;
};

// The model-space point where the sight ray through the centre of pixel
// (px, py) (top row 0) meets the plane z = planeZ.
Vec3 PointOnPlane(const View& view, int px, int py, float planeZ);

// The pixel (column, top-first row) where model point p projects, as floats.
void Project(const View& view, Vec3 p, float* px, float* py);

// The light's colour at a point of the test wall as the lit pass interpolates
// it: LightVertex at the corners of the wall triangle holding the point (all
// normals (0, 0, -1)), blended by barycentric weights.
float WallLight(const TestWall& wall, Vec3 light, Vec3 point);

// Whether the segment from a to b passes through the box (slab test).
bool SegmentHitsBox(Vec3 a, Vec3 b, Vec3 low, Vec3 high);

// How many pixels of a first-frame capture show the model: those that are
// neither background (white, or the 0.64 grey behind first-pass shadow quads
// alone) nor within the light marker's projected bounds for a light at
// `light`.
int ModelPixels(const RgbImage& image, Vec3 light);

// The fraction of pixels of `a` whose colour differs from `b`'s by more than
// `levels` in some channel; 1 when the sizes differ or either is empty.
double DifferingFraction(const RgbImage& a, const RgbImage& b, int levels);

// The lines of a run's standard error other than a headless run's "title: "
// lines.
std::vector<std::string> MessageLines(const std::string& err);

// 0..255 from a colour in 0..1.
inline int Level(double value) {
  return static_cast<int>(value <= 0 ? 0 : value >= 1 ? 255 : value * 255.0 + 0.5);
}
