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

// On a stage, exact shadows fall on the floor or the wall and nowhere else:
// against the same frame without shadows, some pixels are darker and no
// background pixel (white without shadows) is; the stage itself is
// untextured, an even grey.
TEST_P(AssimpModelWithFit, CastsExactShadowsOnTheStage) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::string folder = MakeScratchFolder();
  ASSERT_FALSE(folder.empty());
  RgbImage images[2];
  const char* modes[2] = {"exact", "off"};
  for (int m = 0; m < 2; ++m) {
    const std::string file = std::string(modes[m]) + ".png";
    const DemoRun run = RunDemo(folder, {"--model", GetParam(), "--fit", "--stage", "--shadows",
                                         modes[m], "--frames", "1", "--capture", "1:" + file});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    images[m] = ReadPng(folder + "/" + file);
    ASSERT_GT(images[m].width, 0);
  }
  int darker = 0, darkerBackground = 0, backgroundCount = 0;
  for (int y = 0; y < images[1].height; ++y) {
    for (int x = 0; x < images[1].width; ++x) {
      const uint8_t* shadowed = images[0].At(x, y);
      const uint8_t* plain = images[1].At(x, y);
      const bool background = plain[0] == 255 && plain[1] == 255 && plain[2] == 255;
      const bool isDarker = shadowed[0] + 3 < plain[0] || shadowed[1] + 3 < plain[1] ||
                            shadowed[2] + 3 < plain[2];
      darker += isDarker;
      backgroundCount += background;
      darkerBackground += isDarker && background;
    }
  }
  EXPECT_GT(darker, 200);
  EXPECT_EQ(darkerBackground, 0);
  EXPECT_GT(backgroundCount, 1000);  // beside the stage
  const uint8_t* floor = images[1].At(4, images[1].height - 4);
  EXPECT_EQ(floor[0], floor[1]);
  EXPECT_EQ(floor[1], floor[2]);
  if (!HasFailure()) RemoveScratchFolder(folder);
}

INSTANTIATE_TEST_SUITE_P(Every3dsFile, AssimpModelWithFit, ::testing::ValuesIn(Files()), TestName);

}  // namespace
