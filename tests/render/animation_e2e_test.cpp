// A model that moves, through the real demo: the program's clock drives the
// pose, so a run of virtual clock steps shows what --time shows; Space
// stops the picture, and a playing model's picture changes. The model is a
// glTF (read through assimp) of a box sliding in front of a wall.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "tests/support/skinned_gltf.h"

namespace {

// Writes the sliding box into a new folder; returns the folder, "" on failure.
std::string SlidingFolder(const std::string& tag) {
  const std::string folder = ScratchFolder(tag);
  if (folder.empty()) return folder;
  if (WriteSlidingBoxGltf(folder, "slide").empty()) return std::string();
  return folder;
}

// Captures of one run: frame numbers to the images, in the order asked.
std::vector<RgbImage> Captures(const std::string& folder, std::vector<std::string> args,
                          const std::vector<int>& frames) {
  int last = 1;
  for (int frame : frames) {
    args.insert(args.end(), {"--capture", std::to_string(frame) + ":f" + std::to_string(frame) + ".png"});
    last = std::max(last, frame);
  }
  args.insert(args.end(), {"--model", "slide.gltf", "--shadows", "exact",
                           "--size", "160x120", "--frames", std::to_string(last)});
  const DemoRun run = RunDemo(folder, args);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::vector<RgbImage> images;
  for (int frame : frames) images.push_back(ReadPng(folder + "/f" + std::to_string(frame) + ".png"));
  return images;
}

TEST(AnimationDemo, ClockStepsLandWhereTimeDoes) {
  const std::string folder = SlidingFolder("anim-clock");
  ASSERT_FALSE(folder.empty());
  const RgbImage stepped = Captures(folder, {"--clock-step", "40"}, {26})[0];
  const RgbImage placed = Captures(folder, {"--time", "1.0", "--paused"}, {1})[0];
  const RgbImage start = Captures(folder, {"--paused"}, {1})[0];
  ASSERT_GT(stepped.width, 0);
  EXPECT_EQ(stepped.rgb, placed.rgb);
  EXPECT_NE(stepped.rgb, start.rgb);  // the box did move
}

// Frames 2 and 12 of a run at 40 ms a frame: the same when Space paused it
// before frame 2, different when it plays.
class AnimationPause : public testing::TestWithParam<bool> {};

TEST_P(AnimationPause, SpaceStopsThePicture) {
  const bool space = GetParam();
  const std::string folder = SlidingFolder(space ? "anim-space" : "anim-play");
  ASSERT_FALSE(folder.empty());
  std::vector<std::string> args = {"--clock-step", "40"};
  if (space) args.insert(args.end(), {"--keys", "2:down:SPACE,2:up:SPACE"});
  const std::vector<RgbImage> frames = Captures(folder, args, {2, 12});
  ASSERT_GT(frames[0].width, 0);
  ASSERT_GT(frames[1].width, 0);
  EXPECT_EQ(frames[0].rgb == frames[1].rgb, space);
}

INSTANTIATE_TEST_SUITE_P(Keys, AnimationPause, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Paused" : "Playing");
                         });

}  // namespace
