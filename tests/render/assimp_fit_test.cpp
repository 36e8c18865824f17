// Models nobody here made: every 3DS file of Debian's assimp-testmodels,
// drawn by the real demo headless with --fit over the shipped texture, must
// show in the first frame, whatever its size and place as stored and however
// many objects it holds. One test per file.
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "tests/support/assimp_models.h"

namespace {

// The package's files, or one empty entry that skips naming what is missing.
std::vector<std::string> Files() {
  std::vector<std::string> files = Assimp3dsFiles();
  if (files.empty()) files.push_back("");
  return files;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(info.param.rfind('/') + 1);
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name.empty() ? "missing" : name;
}

class AssimpModelWithFit : public ::testing::TestWithParam<std::string> {};

TEST_P(AssimpModelWithFit, CoversAVisiblePartOfTheFirstFrame) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::string folder = MakeScratchFolder();  // with the shipped texture
  ASSERT_FALSE(folder.empty());
  const DemoRun run = RunDemo(
      folder, {"--model", GetParam(), "--fit", "--frames", "1", "--capture", "1:frame1.png"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const RgbImage image = ReadPng(folder + "/frame1.png");
  ASSERT_GT(image.width, 0);
  // Fitted, the model's largest extent is 100 units at 200 units from the
  // eye, where the view is 166 units high: a thin or oblique model still
  // covers a few percent of the frame.
  const int covered = ModelPixels(image, Vec3{20, 20, 70});
  EXPECT_GT(covered, image.width * image.height / 50);
  if (!HasFailure()) RemoveScratchFolder(folder);
}

INSTANTIATE_TEST_SUITE_P(Every3dsFile, AssimpModelWithFit, ::testing::ValuesIn(Files()), TestName);

}  // namespace
