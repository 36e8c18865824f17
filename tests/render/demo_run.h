// Render-specific support for the end-to-end tests of the real demo: named
// scratch folders kept after a failure, test-made meshes, and the projection
// and lighting rules that say what a pixel must show. Spawning the demo is
// sv_demo_runner's job and reading its captures sv_png_reader's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/scene.h"
#include "tests/e2e/demo_runner.h"
#include "tests/support/png_reader.h"

// A fresh, empty folder under the test temporary directory, its name
// starting "render-e2e-NAME-". It is removed at the end of a run in which
// every test passed and kept after a failure, for a look at the captures.
std::string ScratchFolder(const std::string& name);

// Runs `shadow_volume --headless` with the extra arguments in `folder`,
// waits for it and collects its exit code and output.
DemoRun RunDemo(const std::string& folder, const std::vector<std::string>& arguments);

// A mesh to write as a test model: vertices, faces, optional texture
// coordinates (one per vertex when not empty).
struct TestMesh {
  std::vector<Vec3> vertices;
  std::vector<Face> faces;
  std::vector<TexCoord> texCoords;
};

// Writes `mesh` as the one object of a 3DS file at `path`.
bool WriteTestModel(const std::string& path, const TestMesh& mesh);

// A flat wall facing the viewer at depth z, from (x0, y0) with n x n square
// cells of size `cell`, each split along the diagonal from its lower-left to
// its upper-right corner, counter-clockwise seen from +z. Texture coordinates
// run from 0 to 1 across it. Open: its border casts no shadow quads.
struct TestWall {
  float x0 = -60.0f;
  float y0 = -60.0f;
  float cell = 2.0f;
  int n = 60;
  float z = -40.0f;
};
void AddWall(TestMesh& mesh, const TestWall& wall);

// A closed box from `low` to `high`, counter-clockwise seen from outside.
void AddBox(TestMesh& mesh, Vec3 low, Vec3 high);

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

// 0..255 from a colour in 0..1.
inline int Level(double value) {
  return static_cast<int>(value <= 0 ? 0 : value >= 1 ? 255 : value * 255.0 + 0.5);
}
