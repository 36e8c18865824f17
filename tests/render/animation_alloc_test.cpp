// A playing model allocates nothing per frame once it has moved once: the
// per-frame work of an animated scene (AnimateScene's pose, normals, exact
// volume and tracer positions, then the exact volume's update and the blend
// mode's silhouette walk for a light) runs with every operator new counted
// (this program replaces it). Embree's commit makes short-lived allocations
// of its own at every refit (a builder and its name), which nothing outside
// it can avoid: those are counted apart and only shown. The model is a
// skinned glTF written here: a seamed torus on two bones, sliding and
// bending in front of a wall.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "render/render_state.h"
#include "render/scene_animation.h"
#include "render/scene_setup.h"
#include "render/shadow_structures.h"
#include "shadow/exact_volume.h"
#include "shadow/shadow_volume.h"
#include "surfaceless_gl.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/scratch.h"
#include "tests/support/skinned_gltf.h"
#include "tests/support/test_meshes.h"
#include "tests/support/tiff_helpers.h"
#include "trace/shadow_tracer.h"

namespace {

// The torus's vertices weighted between two bones by their x, the bones
// turning opposite ways about x while the root slides.
std::string WriteBendingTorus(const std::string& folder) {
  SkinnedMeshLayout layout;
  TestMesh wall;
  AddWall(wall, TestWall{});
  layout.stillVertices = wall.vertices;
  layout.stillFaces = wall.faces;
  MeshObject* torus = MakeTorus(16, 8, 20.0f, 6.0f, true);
  layout.vertices.assign(torus->vertices, torus->vertices + torus->vertexCount);
  layout.faces.assign(torus->faces, torus->faces + torus->faceCount);
  FreeMeshObject(torus);
  layout.boneCount = 2;
  for (const Vec3& p : layout.vertices) {
    const float share = std::min(1.0f, std::max(0.0f, (p.x + 26.0f) / 52.0f));
    layout.joints.push_back({0, 1, 0, 0});
    layout.weights.push_back({1 - share, share, 0, 0});
  }
  layout.times = {0.0f, 1.0f, 2.0f};
  layout.rootTranslations = {Vec3{-20, 0, 0}, Vec3{20, 10, 15}, Vec3{-20, 0, 0}};
  const float s = std::sin(0.3f), c = std::cos(0.3f);
  layout.boneTurns = {{{0, 0, 0, 1}, {s, 0, 0, c}, {0, 0, 0, 1}}, {{0, 0, 0, 1}, {-s, 0, 0, c}, {0, 0, 0, 1}}};
  return WriteSkinnedMeshGltf(folder, "bend", layout);
}

TEST(AnimationAllocation, FramesAfterTheFirstMoveAllocateNothing) {
  SurfacelessGl gl;
  ASSERT_TRUE(gl.Ok());
  const std::string folder = ScratchFolder("animation-allocation");
  ASSERT_FALSE(folder.empty());
  SceneRequest request;
  request.modelPath = WriteBendingTorus(folder);
  ASSERT_FALSE(request.modelPath.empty());
  request.texturePath = folder + "/white.tif";
  TiffLayout white;
  white.width = white.height = 4;
  ASSERT_TRUE(WriteTiffWithLibtiff(request.texturePath, white, std::vector<uint8_t>(4 * 4 * 3, 255)));

  PlatformOptions options;
  options.virtualClock = true;
  options.clockStep = 40;
  ConfigurePlatform(options);
  std::string why;
  ASSERT_EQ(LoadModelIntoScene(request, &why), SetupResult::kReady) << why;
  ASSERT_NE(LoadedScene.animation, nullptr);
  Shadows.traceAvailable = TracingAvailable();
  ShadowVolume* blend = BlendVolumeOf(LoadedScene, request.modelPath);
  ExactShadowVolume* exact = ExactVolumeOf(LoadedScene, request.modelPath);
  ASSERT_NE(blend, nullptr);
  ASSERT_NE(exact, nullptr);
  if (Shadows.traceAvailable) {
    ASSERT_NE(TracerOf(LoadedScene, request.modelPath), nullptr);
  }

  const MeshObject& mesh = *LoadedScene.mesh;
  std::vector<Vec3> before(static_cast<size_t>(mesh.vertexCount));
  const Vec3 light{10, 20, 120}, eye{0, -160, 60};
  long long quads = 0;
  auto countQuad = [&quads](int32_t, const Vec3&, const Vec3&, const Vec3&, const Vec3&) { ++quads; };
  int moved = 0;
  SetApartLibrary("libembree");
  const long long apartBefore = SetApartCalls();
  // Frame 1 starts the clock; frame 2 is the first to move the mesh.
  for (int frame = 1; frame <= 20; ++frame) {
    std::copy(mesh.vertices, mesh.vertices + mesh.vertexCount, before.begin());
    const long long start = OperatorNewCalls();
    AnimateScene(&LoadedScene);
    exact->Update(light, 400.0f);
    blend->VisitShadowQuads(light, eye, QuadClass::kSeparating, countQuad);
    blend->VisitShadowQuads(light, eye, QuadClass::kFacing, countQuad);
    const long long made = OperatorNewCalls() - start;
    StepVirtualClock();
    if (!std::equal(before.begin(), before.end(), mesh.vertices,
                    [](const Vec3& a, const Vec3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }))
      ++moved;
    if (frame > 2) {
      EXPECT_EQ(made, 0) << "frame " << frame;
    }
  }
  SetApartLibrary(nullptr);
  std::printf("Embree's own allocations over 20 frames: %lld\n", SetApartCalls() - apartBefore);
  EXPECT_EQ(moved, 19);  // every frame after the first moved the mesh
  EXPECT_GT(quads, 0);
  EXPECT_GT(exact->IndexCount(), 0);
}

}  // namespace
