// The real shadow_volume binary, headless, each run in a scratch folder:
// the frame limit ends the run through the normal quit path, the virtual
// clock makes the titles exact, real-clock titles count drawn frames,
// captures are real PNG files, Escape quits, the command line is checked, and
// without a display the program says to use --headless.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/demo_runner.h"
#include "tests/support/png_reader.h"

namespace {

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeScratchFolder();
    ASSERT_FALSE(folder.empty());
  }
  void TearDown() override { RemoveScratchFolder(folder); }
  DemoRun Run(const std::vector<std::string>& args, const std::vector<std::string>& unset = {},
              const std::vector<std::pair<std::string, std::string>>& set = {}) {
    return RunProgram(SV_DEMO_PATH, args, folder, unset, set);
  }
  std::string folder;
};

using Lines = std::vector<std::string>;

TEST_F(DemoTest, FrameLimitEndsTheRunNormally) {
  // Exit code 0 comes only from WM_QUIT's wParam, after WM_CLOSE destroyed
  // the window; 30 frames give exactly three title updates.
  DemoRun run = Run({"--headless", "--frames", "30"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LinesWithPrefix(run.err, "title: ").size(), 3u) << run.err;
  EXPECT_EQ(run.out, "");
  run = Run({"--headless", "--frames=29"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LinesWithPrefix(run.err, "title: ").size(), 2u) << run.err;
}

TEST_F(DemoTest, VirtualClockGivesExactTitles) {
  // The clock starts at 1 and gains 10 ms per frame. The first title, after
  // frame 10, covers nine 10-ms intervals divided as ten frames:
  // 10000 / 90 = 111.111115 in float32; later ones 10000 / 100.
  DemoRun run = Run({"--headless", "--frames", "30", "--clock-step", "10"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LinesWithPrefix(run.err, "title: "), (Lines{"111.111115", "100.000000", "100.000000"}));
  run = Run({"--headless", "--frames", "9", "--clock-step", "10"});
  EXPECT_EQ(LinesWithPrefix(run.err, "title: "), Lines{});
  run = Run({"--headless", "--frames", "10", "--clock-step", "10"});
  EXPECT_EQ(LinesWithPrefix(run.err, "title: "), Lines{"111.111115"});
}

TEST_F(DemoTest, CapturesAreRgbPngsOfTheClientArea) {
  DemoRun run = Run({"--headless", "--frames", "3", "--capture", "1:first.png", "--capture",
                     "3:last.png"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* name : {"first.png", "last.png"}) {
    const RgbImage image = ReadPng(folder + "/" + name);
    ASSERT_GT(image.width, 0) << name;
    EXPECT_TRUE(image.storedAsRgb8) << name;
    EXPECT_EQ(image.width, 800) << name;
    EXPECT_EQ(image.height, 600) << name;
    const std::vector<uint8_t>& rgb = image.rgb;
    // The corners show the background beside the shipped scene's wall:
    // white, or 0.52 + 0.12 grey where only first-pass shadow quads lie in
    // front of it; grey either way.
    for (size_t offset : {size_t{0}, rgb.size() - 3}) {
      EXPECT_TRUE(rgb[offset] == 255 || std::abs(rgb[offset] - 163) <= 3)
          << name << ": " << int(rgb[offset]);
      EXPECT_EQ(rgb[offset + 1], rgb[offset]) << name;
      EXPECT_EQ(rgb[offset + 2], rgb[offset]) << name;
    }
  }
  // --size sets the surface; a capture that cannot be written is reported
  // when it fails, the run goes on (frame 3 is still written) and ends with 1.
  run = Run({"--headless", "--size", "320x200", "--frames", "3", "--capture", "2:no-folder/a.png",
             "--capture", "3:small.png"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(LinesWithPrefix(run.err, "capture: no-folder/a.png").size(), 1u) << run.err;
  const RgbImage small = ReadPng(folder + "/small.png");
  EXPECT_EQ(small.width, 320);
  EXPECT_EQ(small.height, 200);
}

TEST_F(DemoTest, ScriptedKeysRunThrough) {
  DemoRun run = Run({"--headless", "--frames", "6", "--keys",
                     "2:down:TAB,3:up:TAB,3:down:ALT+HOME,4:up:ALT+HOME,5:down:0x26,6:up:UP"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // Escape before frame 5 closes the window as its close button would: exit
  // 0, frame 4 was the last one drawn.
  run = Run({"--headless", "--frames", "30", "--keys", "5:down:escape", "--capture", "4:4.png",
             "--capture", "5:5.png"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_GT(ReadPng(folder + "/4.png").width, 0);
  EXPECT_EQ(ReadPng(folder + "/5.png").width, 0);
}

TEST_F(DemoTest, CommandLineErrorsHelpAndVersion) {
  // Which values are refused is the parser's own test; here, what the
  // program does with a refusal.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--bogus"},
        {"--keys", "1:down:SPACEBAR"},
        {"--frames", "2", "--capture", "5:x.png"}}) {
    DemoRun run = Run(args);
    EXPECT_EQ(run.exitCode, 64) << args[0];
    EXPECT_NE(run.err.find("usage: shadow_volume"), std::string::npos) << args[0];
    EXPECT_EQ(run.out, "") << args[0];
  }
  DemoRun help = Run({"-h"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: shadow_volume", 0), 0u);
  EXPECT_NE(help.out.find("--clock-step"), std::string::npos);
  EXPECT_NE(help.out.find("Escape, Alt+F4, the window's close button: quit"), std::string::npos);
  EXPECT_EQ(help.err, "");
  DemoRun version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "shadow_volume 1.0.0\n");
}

TEST_F(DemoTest, WithoutADisplayTheProgramSaysToUseHeadless) {
  DemoRun run = Run({"--frames", "3"}, {"DISPLAY", "WAYLAND_DISPLAY"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(LinesWithPrefix(run.err, "").size(), 1u) << run.err;
  EXPECT_NE(run.err.find("use --headless"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

TEST_F(DemoTest, NoOpenGLMeansExitCodeOne) {
  // An EGL library that cannot be loaded: no window with OpenGL can be made.
  DemoRun run = Run({"--headless", "--frames", "3"}, {},
                    {{"SDL_VIDEO_EGL_DRIVER", "/nonexistent/libEGL.so.1"}});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(run.err.rfind("shadow_volume: ", 0), 0u) << run.err;
  EXPECT_EQ(run.err.find("use --headless"), std::string::npos) << run.err;
}

}  // namespace
