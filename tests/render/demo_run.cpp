// Support code of the end-to-end tests; see demo_run.h.
#include "demo_run.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "render/lighting.h"
#include "tests/support/mesh_writer.h"

namespace {

// Removes the scratch folders after a run in which every test passed; after a
// failure they stay for a look at the captures.
class ScratchFolders : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!::testing::UnitTest::GetInstance()->Passed()) return;
    for (const std::string& folder : folders) RemoveScratchFolder(folder);
  }
  std::vector<std::string> folders;
};

ScratchFolders* const scratchFolders =
    static_cast<ScratchFolders*>(::testing::AddGlobalTestEnvironment(new ScratchFolders));

}  // namespace

std::string ScratchFolder(const std::string& name) {
  const std::string folder = MakeEmptyScratchFolder("render-e2e-" + name);
  EXPECT_FALSE(folder.empty()) << "no scratch folder for " << name;
  scratchFolders->folders.push_back(folder);
  return folder;
}

DemoRun RunDemo(const std::string& folder, const std::vector<std::string>& arguments) {
  std::vector<std::string> args = {"--headless"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  return RunProgram(SHADOW_VOLUME_PATH, args, folder);
}

bool WriteTestModel(const std::string& path, const TestMesh& mesh) {
  MeshFileLayout layout;
  layout.objectName = "TestMesh";
  return WriteMeshModel(path, layout, mesh.vertices, mesh.texCoords, mesh.faces);
}

void AddWall(TestMesh& mesh, const TestWall& wall) {
  const int base = static_cast<int>(mesh.vertices.size());
  const int side = wall.n + 1;
  for (int j = 0; j <= wall.n; ++j) {
    for (int i = 0; i <= wall.n; ++i) {
      mesh.vertices.push_back(Vec3{wall.x0 + wall.cell * i, wall.y0 + wall.cell * j, wall.z});
      mesh.texCoords.push_back(
          TexCoord{static_cast<float>(i) / wall.n, static_cast<float>(j) / wall.n});
    }
  }
  for (int j = 0; j < wall.n; ++j) {
    for (int i = 0; i < wall.n; ++i) {
      const int a = base + j * side + i, b = a + 1, c = a + side + 1, d = a + side;
      mesh.faces.push_back(Face{a, b, c});
      mesh.faces.push_back(Face{a, c, d});
    }
  }
}

void AddBox(TestMesh& mesh, Vec3 low, Vec3 high) {
  const int base = static_cast<int>(mesh.vertices.size());
  for (int k = 0; k < 8; ++k) {
    mesh.vertices.push_back(
        Vec3{(k & 1) ? high.x : low.x, (k & 2) ? high.y : low.y, (k & 4) ? high.z : low.z});
    if (!mesh.texCoords.empty()) mesh.texCoords.push_back(TexCoord{0.5f, 0.5f});
  }
  // Corner k has bit 0 for x, bit 1 for y, bit 2 for z; each side's corners
  // are listed counter-clockwise seen from outside.
  const int sides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  for (const auto& s : sides) {
    mesh.faces.push_back(Face{base + s[0], base + s[1], base + s[2]});
    mesh.faces.push_back(Face{base + s[0], base + s[2], base + s[3]});
  }
}

namespace {
const double kTanHalfFov = std::tan(22.5 * 3.14159265358979323846 / 180.0);
}

Vec3 PointOnPlane(const View& view, int px, int py, float planeZ) {
  const double aspect = static_cast<double>(view.width) / view.height;
  const double xNdc = 2.0 * (px + 0.5) / view.width - 1.0;
  const double yNdc = 1.0 - 2.0 * (py + 0.5) / view.height;
  const double dx = xNdc * aspect * kTanHalfFov, dy = yNdc * kTanHalfFov;
  const double t = view.eyeZ - planeZ;  // the ray's direction has z = -1
  return Vec3{static_cast<float>(dx * t), static_cast<float>(dy * t), planeZ};
}

void Project(const View& view, Vec3 p, float* px, float* py) {
  const double aspect = static_cast<double>(view.width) / view.height;
  const double depth = view.eyeZ - p.z;
  const double xNdc = p.x / (depth * kTanHalfFov * aspect);
  const double yNdc = p.y / (depth * kTanHalfFov);
  *px = static_cast<float>((xNdc + 1.0) * view.width / 2.0);
  *py = static_cast<float>((1.0 - yNdc) * view.height / 2.0);
}

float WallLight(const TestWall& wall, Vec3 light, Vec3 point) {
  SetLightPosition(light.x, light.y, light.z, 210.0f);
  SetLightColour(0.7f, 0.7f, 0.7f);
  SetLightAmbient(0.0f, 0.0f, 0.0f);
  const double fx = (point.x - wall.x0) / wall.cell, fy = (point.y - wall.y0) / wall.cell;
  const int i = static_cast<int>(std::floor(fx)), j = static_cast<int>(std::floor(fy));
  const double s = fx - i, t = fy - j;
  auto lit = [&](int ci, int cj) {
    float r, g, b;
    LightVertex(0, 0, -1, wall.x0 + wall.cell * ci, wall.y0 + wall.cell * cj, wall.z, r, g, b);
    return static_cast<double>(r);
  };
  // Lower-right triangle (s >= t): corners (0,0), (1,0), (1,1); else (0,0), (1,1), (0,1).
  if (s >= t)
    return static_cast<float>((1 - s) * lit(i, j) + (s - t) * lit(i + 1, j) +
                              t * lit(i + 1, j + 1));
  return static_cast<float>((1 - t) * lit(i, j) + s * lit(i + 1, j + 1) + (t - s) * lit(i, j + 1));
}

bool SegmentHitsBox(Vec3 a, Vec3 b, Vec3 low, Vec3 high) {
  double t0 = 0.0, t1 = 1.0;
  const double from[3] = {a.x, a.y, a.z}, to[3] = {b.x, b.y, b.z};
  const double lo[3] = {low.x, low.y, low.z}, hi[3] = {high.x, high.y, high.z};
  for (int k = 0; k < 3; ++k) {
    const double d = to[k] - from[k];
    if (std::fabs(d) < 1e-12) {
      if (from[k] < lo[k] || from[k] > hi[k]) return false;
      continue;
    }
    double ta = (lo[k] - from[k]) / d, tb = (hi[k] - from[k]) / d;
    if (ta > tb) std::swap(ta, tb);
    t0 = std::max(t0, ta);
    t1 = std::min(t1, tb);
    if (t0 > t1) return false;
  }
  return true;
}
