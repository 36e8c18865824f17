// Every file of Debian's assimp-testmodels package through the model loader,
// in this process: whatever libassimp does with a file (some crash it, some
// abort in its post-processing), the loader returns, with a scene or one
// line saying why there is none. Split into chunks that run in parallel.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/load_model.h"
#include "model/merge.h"
#include "tests/support/assimp_models.h"

namespace {

constexpr int kChunks = 4;

class EveryPackageFile : public ::testing::TestWithParam<int> {};

TEST_P(EveryPackageFile, LoadsOrGetsOneLine) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::vector<std::string> files = AssimpModelFiles({""}, {""});
  ASSERT_GE(files.size(), 400u);
  for (size_t i = GetParam(); i < files.size(); i += kChunks) {
    const ModelLoad load = LoadModel(files[i]);
    if (load.scene == nullptr) {
      EXPECT_FALSE(load.problem.empty()) << files[i];
      EXPECT_EQ(load.problem.find('\n'), std::string::npos) << files[i] << ": " << load.problem;
      continue;
    }
    FreeMeshObject(MergeMeshObjects(*load.scene, nullptr));
    FreeScene(load.scene);
  }
}

INSTANTIATE_TEST_SUITE_P(Chunks, EveryPackageFile, ::testing::Range(0, kChunks));

}  // namespace
