// Scene set-up when memory runs out: every allocation of a model load, and
// of each shadow mode's structures, is made to fail in turn (this program
// replaces operator new), and after each failure the live allocations must
// be what they were before, the scene drawn must stay, and the failure must
// be reported. Allocations through malloc (Mesa, libtiff) are not counted
// (tests/support/allocation_counter.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "render/render_state.h"
#include "render/scene_setup.h"
#include "render/shadow_structures.h"
#include "surfaceless_gl.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/scratch.h"
#include "tests/support/test_meshes.h"
#include "tests/support/tiff_helpers.h"

namespace {

// Runs `step` with allocation `n` failing; true when it failed (the step
// made at least n allocations).
template <typename Step>
bool FailingAt(long long n, Step&& step) {
  const long long start = AllOperatorNewCalls();
  FailOperatorNewCall(start + n);
  step();
  FailOperatorNewCall(0);
  return AllOperatorNewCalls() - start >= n;
}

class SceneSetupFaults : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gl_.Ok());
    folder_ = ScratchFolder("scene-setup-faults");
    ASSERT_FALSE(folder_.empty());
    TestMesh mesh;
    AddBox(mesh, Vec3{-10, -10, 0}, Vec3{10, 10, 20});
    request_.modelPath = folder_ + "/box.3DS";
    request_.texturePath = folder_ + "/white.tif";
    request_.stage = true;
    ASSERT_TRUE(WriteTestModel(request_.modelPath, mesh));
    TiffLayout white;
    white.width = white.height = 4;
    ASSERT_TRUE(WriteTiffWithLibtiff(request_.texturePath, white,
                                     std::vector<uint8_t>(4 * 4 * 3, 255)));
    std::string why;
    ASSERT_EQ(LoadModelIntoScene(request_, &why), SetupResult::kReady) << why;
  }

  SurfacelessGl gl_;
  std::string folder_;
  SceneRequest request_;
};

TEST_F(SceneSetupFaults, ALoadThatRunsOutOfMemoryLosesNothingAndKeepsTheScene) {
  const long long baseline = LiveBlocks();
  int failures = 0;
  for (long long n = 1;; ++n) {
    const MeshObject* drawn = LoadedScene.mesh;
    SetupResult result = SetupResult::kReady;
    bool failed = false, named = false;
    {
      std::string why;
      failed = FailingAt(n, [&] { result = LoadModelIntoScene(request_, &why); });
      named = why.find(request_.modelPath) != std::string::npos;
    }
    // The first difference ends the test: a failure's own report takes
    // memory that stays.
    if (!failed) {
      ASSERT_EQ(LiveBlocks(), baseline) << "allocation " << n;
      EXPECT_EQ(result, SetupResult::kReady);
      break;
    }
    ++failures;
    if (result != SetupResult::kReady) {
      ASSERT_EQ(LiveBlocks(), baseline) << "allocation " << n;
      EXPECT_EQ(LoadedScene.mesh, drawn) << "allocation " << n;
      EXPECT_TRUE(named) << "allocation " << n;
    } else {
      // Set up without something it could do without (the texture, say):
      // a clean load in its place must bring the count back.
      std::string why;
      ASSERT_EQ(LoadModelIntoScene(request_, &why), SetupResult::kReady);
      why = std::string();
      ASSERT_EQ(LiveBlocks(), baseline) << "allocation " << n;
    }
  }
  EXPECT_GT(failures, 10);
}

TEST_F(SceneSetupFaults, ShadowStructuresThatCannotBeBuiltLoseNothingAndAreNotRetried) {
  // The box alone: every allocation of its structures is tried in turn.
  request_.stage = false;
  std::string why;
  ASSERT_EQ(LoadModelIntoScene(request_, &why), SetupResult::kReady) << why;
  why = std::string();
  testing::internal::CaptureStderr();  // its first use keeps some memory for good
  testing::internal::GetCapturedStderr();
  const long long baseline = LiveBlocks();
  int exactFailures = 0, blendFailures = 0;
  for (long long n = 1;; ++n) {
    ExactShadowVolume* volume = nullptr;
    bool failed = false, said = false;
    {
      testing::internal::CaptureStderr();
      failed = FailingAt(n, [&] { volume = ExactVolumeOf(LoadedScene, "box.3DS"); });
      const std::string text = testing::internal::GetCapturedStderr();
      said = text.find("box.3DS: not enough memory for the exact shadow volume") == 0 &&
             std::count(text.begin(), text.end(), '\n') == 1;
    }
    if (volume != nullptr) break;
    ASSERT_EQ(LiveBlocks(), baseline) << "allocation " << n;
    ASSERT_TRUE(failed);
    ++exactFailures;
    EXPECT_TRUE(said) << "allocation " << n;
    // Once failed, it is not tried again: the frames draw blended shadows.
    EXPECT_EQ(ExactVolumeOf(LoadedScene, "box.3DS"), nullptr);
    LoadedScene.exactUnavailable = false;
  }
  const long long withExact = LiveBlocks();
  for (long long n = 1;; ++n) {
    ShadowVolume* volume = nullptr;
    bool said = false;
    {
      testing::internal::CaptureStderr();
      FailingAt(n, [&] { volume = BlendVolumeOf(LoadedScene, "box.3DS"); });
      const std::string text = testing::internal::GetCapturedStderr();
      said = text.find("box.3DS: not enough memory") == 0;
    }
    if (volume != nullptr) break;
    ASSERT_EQ(LiveBlocks(), withExact) << "allocation " << n;
    ++blendFailures;
    EXPECT_TRUE(said) << "allocation " << n;
    EXPECT_EQ(LoadedScene.mesh->edges, nullptr) << "allocation " << n;
    LoadedScene.blendUnavailable = false;
  }
  EXPECT_GT(exactFailures, 5);
  EXPECT_GT(blendFailures, 3);
}

}  // namespace
