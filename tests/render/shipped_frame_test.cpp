// The shipped scene's first frame, from the real demo run headless on the
// files make-scene writes: the casters' shadows darken the wall by the shadow
// factor, the marker shows, and nothing outside the model is darker than the
// background rule allows. Which wall points are hidden is decided by casting
// segments against the scene's caster triangles; which are darkened, by the
// rule of the two shadow passes: a first-pass quad and no second-pass quad
// between the eye and the point. With a torus and overlapping volumes that
// rule is not the geometric shadow, so it is the rule the test applies.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "shadow/edges.h"
#include "shadow/shadow_volume.h"
#include "tests/support/tiff_helpers.h"
#include "tools/scene_geometry.h"

namespace {

struct Triangle {
  Vec3 a, b, c;
};

// Caster triangles in runs of neighbours with one bounding box per run, so a
// segment skips most of them with one box test.
struct Casters {
  struct Run {
    Vec3 low, high;
    std::vector<Triangle> triangles;
  };
  std::vector<Run> runs;

  explicit Casters(const SceneMesh& mesh) {
    for (const Face& f : mesh.faces) {
      const Vec3 p = mesh.vertices[f.index0], q = mesh.vertices[f.index1],
                 r = mesh.vertices[f.index2];
      // Wall vertices lie on its two faces; everything else is a caster.
      const bool wall = (p.z == kWallFront || p.z == kWallBack) &&
                        (q.z == kWallFront || q.z == kWallBack) &&
                        (r.z == kWallFront || r.z == kWallBack);
      if (wall) continue;
      if (runs.empty() || runs.back().triangles.size() == 32) runs.push_back(Run{p, p, {}});
      Run& run = runs.back();
      for (const Vec3& v : {p, q, r}) {
        run.low = {std::min(run.low.x, v.x), std::min(run.low.y, v.y), std::min(run.low.z, v.z)};
        run.high = {std::max(run.high.x, v.x), std::max(run.high.y, v.y),
                    std::max(run.high.z, v.z)};
      }
      run.triangles.push_back(Triangle{p, q, r});
    }
  }

  // Whether the open segment from `from` to `to` crosses a caster triangle.
  bool Blocks(Vec3 from, Vec3 to) const {
    for (const Run& run : runs)
      if (SegmentHitsBox(from, to, run.low, run.high) && Crosses(run.triangles, from, to))
        return true;
    return false;
  }

  // Whether the open segment from `from` to `to` crosses any of `triangles`.
  static bool Crosses(const std::vector<Triangle>& triangles, Vec3 from, Vec3 to) {
    const double d[3] = {to.x - from.x, to.y - from.y, to.z - from.z};
    {
      for (const Triangle& t : triangles) {
        // Moller-Trumbore, in double precision.
        const double e1[3] = {t.b.x - t.a.x, t.b.y - t.a.y, t.b.z - t.a.z};
        const double e2[3] = {t.c.x - t.a.x, t.c.y - t.a.y, t.c.z - t.a.z};
        const double p[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2],
                             d[0] * e2[1] - d[1] * e2[0]};
        const double det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
        if (std::fabs(det) < 1e-12) continue;
        const double s[3] = {from.x - t.a.x, from.y - t.a.y, from.z - t.a.z};
        const double u = (s[0] * p[0] + s[1] * p[1] + s[2] * p[2]) / det;
        if (u < 0 || u > 1) continue;
        const double q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2],
                             s[0] * e1[1] - s[1] * e1[0]};
        const double v = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) / det;
        if (v < 0 || u + v > 1) continue;
        const double hit = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) / det;
        if (hit > 1e-6 && hit < 1 - 1e-6) return true;
      }
    }
    return false;
  }

  // 1 when every segment from `from` to `to` nudged by `spread` in x and y is
  // blocked, 0 when none is, -1 when they disagree (too near an edge).
  int BlocksAround(Vec3 from, Vec3 to, float spread) const {
    const float offsets[5][2] = {{0, 0}, {spread, 0}, {-spread, 0}, {0, spread}, {0, -spread}};
    int blocked = 0;
    for (const auto& o : offsets) blocked += Blocks(from, Vec3{to.x + o[0], to.y + o[1], to.z});
    return blocked == 5 ? 1 : blocked == 0 ? 0 : -1;
  }
};

// The shadow quads of the first frame, split by pass, as triangles.
struct ShadowQuads {
  std::vector<Triangle> firstPass, secondPass;

  ShadowQuads(const SceneMesh& scene, Vec3 light, Vec3 eye) {
    MeshObject* mesh = NewMesh(scene.vertices, scene.faces);
    BuildEdgeList(mesh);
    ShadowVolume volume;
    volume.BindVertexArray(mesh->vertices, mesh->vertexCount, sizeof(Vec3), 0);
    volume.BindEdgeArray(mesh->edges, mesh->edgeCount, sizeof(EdgeRecord), 0);
    volume.SetExtrusion(3000.0f);
    for (bool separating : {true, false}) {
      std::vector<Triangle>& out = separating ? firstPass : secondPass;
      volume.VisitShadowQuads(
          light, eye, separating ? QuadClass::kSeparating : QuadClass::kFacing,
          [&](int32_t, const Vec3& v0, const Vec3& v1, const Vec3& e0, const Vec3& e1) {
            out.push_back(Triangle{v0, v1, e0});
            out.push_back(Triangle{e0, e1, v1});
          });
    }
    FreeMeshObject(mesh);
  }

  // 1 when the two passes darken the wall at `to` and at it nudged by
  // `spread` in x and y, 0 when at none of them, -1 when they disagree.
  int DarkenedAround(Vec3 eye, Vec3 to, float spread) const {
    const float offsets[5][2] = {{0, 0}, {spread, 0}, {-spread, 0}, {0, spread}, {0, -spread}};
    int darkened = 0;
    for (const auto& o : offsets) {
      const Vec3 p = {to.x + o[0], to.y + o[1], to.z};
      darkened += Casters::Crosses(firstPass, eye, p) && !Casters::Crosses(secondPass, eye, p);
    }
    return darkened == 5 ? 1 : darkened == 0 ? 0 : -1;
  }
};

TEST(ShippedScene, FirstFrameShowsShadowsTheMarkerAndAPlainBackground) {
  const std::string folder = ScratchFolder("shipped");
  const DemoRun make = RunProgram(MAKE_SCENE_PATH, {folder}, folder);
  ASSERT_EQ(make.exitCode, 0) << make.err;
  const DemoRun run = RunDemo(folder, {"--frames", "1", "--capture", "1:first.png"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const RgbImage image = ReadPng(folder + "/first.png");
  ASSERT_GT(image.width, 0);

  const SceneMesh mesh = BuildShippedMesh();
  const SceneTexture texture = BuildShippedTexture();
  const Casters casters(mesh);
  ASSERT_FALSE(casters.runs.empty());
  const View view{image.width, image.height, 200.0f};
  const Vec3 eye = {0, 0, 200}, light = {20, 20, 70};
  const ShadowQuads quads(mesh, light, eye);
  ASSERT_FALSE(quads.firstPass.empty());
  // The shipped wall's front as the lit pass interpolates it; cells next to
  // the rim are left out (their corners' normals lean towards the sides).
  TestWall wall;
  wall.x0 = wall.y0 = -kWallHalfSize;
  wall.n = 32;
  wall.cell = 2 * kWallHalfSize / wall.n;
  wall.z = kWallFront;
  const float inner = kWallHalfSize - wall.cell - 1;
  const float h = 6.0f;  // around the marker's half-size of 5

  int lit = 0, shadowed = 0, background = 0, failures = 0;
  for (int py = 2; py < image.height; py += 5) {
    for (int px = 2; px < image.width; px += 5) {
      const Vec3 p = PointOnPlane(view, px, py, kWallFront);
      const uint8_t* got = image.At(px, py);
      if (std::fabs(p.x) > kWallHalfSize + 1 || std::fabs(p.y) > kWallHalfSize + 1) {
        // Off the model: white, or 0.52 + 0.12 behind first-pass quads alone.
        ++background;
        const int target = got[0] > 210 ? 255 : Level(0.64);
        for (int k = 0; k < 3; ++k)
          if (std::abs(got[k] - target) > 3 && ++failures <= 10)
            ADD_FAILURE() << "background (" << px << ", " << py << ") channel " << k << " is "
                          << int(got[k]);
        continue;
      }
      if (std::fabs(p.x) > inner || std::fabs(p.y) > inner) continue;
      if (SegmentHitsBox(eye, p, Vec3{light.x - h, light.y - h, light.z - h},
                         Vec3{light.x + h, light.y + h, light.z + h}))
        continue;                                             // the marker
      if (casters.BlocksAround(eye, p, 0.8f) != 0) continue;  // hidden by a caster
      const int shadow = quads.DarkenedAround(eye, p, 0.8f);
      if (shadow < 0) continue;
      double texel[3];
      if (!SampleUpright(texture.rgb, texture.width, texture.height, 3,
                         (p.x + kWallHalfSize) / kWallHalfSize,
                         (p.y + kWallHalfSize) / kWallHalfSize, 0, texel))
        continue;
      const double factor = std::min(1.0, (shadow ? 0.52 : 1.0) * WallLight(wall, light, p) + 0.12);
      for (int k = 0; k < 3; ++k) {
        const int expected = Level(texel[k] / 255.0 * factor);
        if (std::abs(got[k] - expected) > 3 && ++failures <= 10)
          ADD_FAILURE() << "wall (" << px << ", " << py << ") channel " << k << " is "
                        << int(got[k]) << ", expected " << expected
                        << (shadow ? " in shadow" : " lit");
      }
      ++(shadow ? shadowed : lit);
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(shadowed, 200) << "the casters' shadows should fall clearly on the wall";
  EXPECT_GT(lit, 1000);
  EXPECT_GT(background, 100);

  // The marker: mostly red, green and blue near its first three corners.
  const Vec3 corners[3] = {{light.x - 5, light.y - 5, light.z - 5},
                           {light.x + 5, light.y - 5, light.z - 5},
                           {light.x, light.y + 5, light.z - 5}};
  float cx = 0, cy = 0;
  for (const Vec3& c : {corners[0], corners[1], corners[2], Vec3{light.x, light.y, light.z + 5}}) {
    float x, y;
    Project(view, c, &x, &y);
    cx += x / 4;
    cy += y / 4;
  }
  for (int k = 0; k < 3; ++k) {
    float x, y;
    Project(view, corners[k], &x, &y);
    const uint8_t* pixel =
        image.At(static_cast<int>(x + (cx - x) * 0.15f), static_cast<int>(y + (cy - y) * 0.15f));
    EXPECT_GT(pixel[k], 170) << "marker corner " << k;
    EXPECT_LT(pixel[(k + 1) % 3], 90) << "marker corner " << k;
    EXPECT_LT(pixel[(k + 2) % 3], 90) << "marker corner " << k;
  }
}

}  // namespace
