// The command line and the key script: what is accepted, what each value
// becomes, and that every malformed value is a usage error naming itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_options.h"

namespace {

RunAction Parse(std::vector<const char*> args, RunOptions* options, std::string* error) {
  args.insert(args.begin(), "shadow_volume");
  return ParseRunOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(RunOptions, EveryOptionTakesEffect) {
  RunOptions o;
  std::string error;
  ASSERT_EQ(Parse({"--headless", "--frames", "30", "--clock-step=10", "--capture", "3:a.png",
                   "--capture=7:dir/b.png", "--keys", "2:down:TAB,2:up:TAB", "--size", "640x360",
                   "--no-vsync", "--model", "models/a.3ds", "--texture=b.tif", "--fit",
                   "--shadows", "exact", "--show-volumes", "--stage", "--animation", "2",
                   "--time=1.25", "--paused", "--light-size", "6.5"},
                  &o, &error),
            RunAction::kRun)
      << error;
  EXPECT_TRUE(o.platform.headless);
  EXPECT_EQ(o.platform.frameLimit, 30u);
  EXPECT_TRUE(o.platform.virtualClock);
  EXPECT_EQ(o.platform.clockStep, 10u);
  ASSERT_EQ(o.platform.captures.size(), 2u);
  EXPECT_EQ(o.platform.captures[0].frame, 3u);
  EXPECT_EQ(o.platform.captures[0].path, "a.png");
  EXPECT_EQ(o.platform.captures[1].frame, 7u);
  EXPECT_EQ(o.platform.captures[1].path, "dir/b.png");
  EXPECT_EQ(o.platform.keys.size(), 2u);
  EXPECT_EQ(o.scene.modelPath, "models/a.3ds");
  EXPECT_EQ(o.scene.texturePath, "b.tif");
  EXPECT_TRUE(o.scene.fit);
  EXPECT_EQ(o.platform.windowWidth, 640u);
  EXPECT_EQ(o.platform.windowHeight, 360u);
  EXPECT_FALSE(o.platform.vsync);
  EXPECT_EQ(o.scene.shadows, ShadowMode::kExact);
  EXPECT_TRUE(o.scene.showVolumes);
  EXPECT_TRUE(o.scene.stage);
  EXPECT_EQ(o.scene.animation, 2);
  EXPECT_EQ(o.scene.time, 1.25);
  EXPECT_TRUE(o.scene.paused);
  EXPECT_EQ(o.scene.lightSize, 6.5f);
  EXPECT_FALSE(o.scene.truth);
  ASSERT_EQ(Parse({"--shadows=off"}, &o, &error), RunAction::kRun);
  EXPECT_EQ(o.scene.shadows, ShadowMode::kOff);
  ASSERT_EQ(Parse({"--shadows", "traced", "--truth"}, &o, &error), RunAction::kRun);
  EXPECT_EQ(o.scene.shadows, ShadowMode::kTraced);
  EXPECT_TRUE(o.scene.truth);

  ASSERT_EQ(Parse({}, &o, &error), RunAction::kRun);
  EXPECT_EQ(o.scene.shadows, ShadowMode::kBlend);
  EXPECT_FALSE(o.scene.showVolumes);
  EXPECT_FALSE(o.scene.stage);
  EXPECT_EQ(o.scene.animation, 0);
  EXPECT_EQ(o.scene.time, 0.0);
  EXPECT_FALSE(o.scene.paused);
  EXPECT_EQ(o.scene.lightSize, 0.0f);
  EXPECT_FALSE(o.platform.headless);
  EXPECT_EQ(o.scene.modelPath, "");  // the renderer's defaults
  EXPECT_EQ(o.scene.texturePath, "");
  EXPECT_FALSE(o.scene.fit);
  EXPECT_EQ(o.platform.frameLimit, 0u);
  EXPECT_FALSE(o.platform.virtualClock);
  EXPECT_TRUE(o.platform.keys.empty());
  EXPECT_EQ(o.platform.windowWidth, 800u);
  EXPECT_EQ(o.platform.windowHeight, 600u);
  EXPECT_TRUE(o.platform.vsync);
  // The last frame may be captured and take keys; the frame limit may come
  // after them on the line.
  EXPECT_EQ(Parse({"--capture", "3:a.png", "--keys", "3:down:UP", "--frames", "3"}, &o, &error),
            RunAction::kRun)
      << error;

  for (const char* help : {"--help", "-h"}) {
    EXPECT_EQ(Parse({"--frames", "3", help}, &o, &error), RunAction::kHelp);
  }
  EXPECT_EQ(Parse({"--version"}, &o, &error), RunAction::kVersion);
  EXPECT_EQ(Parse({"-V"}, &o, &error), RunAction::kVersion);
}

TEST(RunOptions, MalformedCommandLinesAreRefused) {
  // Each line, and the text its error must contain.
  struct Bad {
    std::vector<const char*> args;
    const char* says;
  };
  const Bad bad[] = {
      {{"--bogus"}, "'--bogus'"},
      {{"scene.3ds"}, "'scene.3ds'"},
      {{"-v"}, "'-v'"},
      {{"--frames"}, "needs a value"},
      {{"--frames", "0"}, "--frames '0'"},
      {{"--frames", "-1"}, "--frames"},
      {{"--frames", "12x"}, "'12x'"},
      {{"--frames", ""}, "--frames"},
      {{"--frames", "4294967296"}, "--frames"},
      {{"--clock-step", "ten"}, "--clock-step 'ten'"},
      {{"--clock-step", "0"}, "from 1"},  // a clock that stands still gives "inf" titles
      {{"--capture", "a.png"}, "--capture"},
      {{"--capture", "0:a.png"}, "--capture"},
      {{"--capture", "3:"}, "--capture"},
      {{"--frames", "2", "--capture", "3:a.png"}, "after frame 2"},
      {{"--capture", "5:x.png", "--frames", "2"}, "after frame 2"},
      {{"--frames", "2", "--keys", "2:down:UP,3:up:UP"}, "at frame 3"},
      {{"--keys", "1:down"}, "--keys"},
      {{"--size", "800"}, "--size '800'"},
      {{"--size", "0x600"}, "--size"},
      {{"--size", "800x16385"}, "--size"},
      {{"--size", "800x600x2"}, "--size"},
      {{"--headless=yes"}, "--headless=yes"},
      {{"--no-vsync=1"}, "--no-vsync=1"},
      {{"--model"}, "--model needs a value"},
      {{"--texture="}, "--texture: expected a file name"},
      {{"--fit=yes"}, "--fit=yes"},
      {{"--shadows", "stencil"}, "--shadows 'stencil': expected blend, exact, traced or off"},
      {{"--shadows"}, "--shadows needs a value"},
      {{"--stage=1"}, "--stage=1"},
      {{"--animation", "-1"}, "--animation '-1': expected a clip number from 0"},
      {{"--time", "nan"}, "--time 'nan': expected seconds, a number from 0"},
      {{"--time", "1e400"}, "--time '1e400': expected seconds, a number from 0"},
      {{"--time=2s"}, "--time '2s': expected seconds, a number from 0"},
      {{"--paused=1"}, "--paused=1"},
      {{"--light-size", "20.5"}, "--light-size '20.5': expected a radius from 0 to 20"},
      {{"--light-size=-1"}, "--light-size '-1': expected a radius from 0 to 20"},
      {{"--help=1"}, "--help=1"}};
  for (const Bad& line : bad) {
    RunOptions o;
    std::string error;
    EXPECT_EQ(Parse(line.args, &o, &error), RunAction::kBadCommandLine) << line.says;
    EXPECT_NE(error.find(line.says), std::string::npos) << error;
  }
  RunOptions o;
  std::string error;
  Parse({"--frames", "4294967295"}, &o, &error);
  EXPECT_EQ(o.platform.frameLimit, 4294967295u);
  Parse({"--frames", "2x"}, &o, &error);
  EXPECT_NE(error.find("'2x'"), std::string::npos) << error;
}

TEST(KeyScript, NamesNumbersAltAndFrameOrder) {
  std::vector<ScriptedKey> keys;
  std::string error;
  ASSERT_TRUE(ParseKeyScript(
      "5:down:alt+Home,2:down:UP,2:up:UP,3:down:0x41,3:up:65,1:down:PAGEDOWN,1:down:PAGEUP,"
      "1:down:INSERT,1:down:DELETE,1:down:END,1:down:LEFT,1:down:RIGHT,1:down:DOWN,1:Down:tab,"
      "4:down:Escape,4:UP:ESCAPE,6:down:s,6:down:V",
      &keys, &error))
      << error;
  ASSERT_EQ(keys.size(), 18u);
  EXPECT_EQ(keys[16].virtualKey, static_cast<uint32_t>('S'));
  EXPECT_EQ(keys[17].virtualKey, static_cast<uint32_t>('V'));
  // Stable by frame: frame 1's nine in script order, then 2, 3, 4, 5.
  const uint32_t codes[] = {0x22, 0x21, 0x2D, 0x2E, 0x23, 0x25, 0x27, 0x28,
                            0x09, 0x26, 0x26, 0x41, 0x41, 0x1B, 0x1B, 0x24};
  const uint32_t frames[] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 3, 4, 4, 5};
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(keys[i].virtualKey, codes[i]) << i;
    EXPECT_EQ(keys[i].frame, frames[i]) << i;
    EXPECT_EQ(keys[i].alt, i == 15) << i;
  }
  EXPECT_FALSE(keys[14].down);
  EXPECT_TRUE(keys[9].down);
  EXPECT_FALSE(keys[10].down);
}

TEST(KeyScript, BadItemsNameThemselvesAndAddNothing) {
  const char* bad[] = {"",           "0:down:UP",  "1:press:UP",        "1:down:SPACEBAR",
                       "1:down:255", "1:down:0",   "1:down:0x",         "1:down:ALT+",
                       "x:down:UP",  "1:down:UP,", "1:down:UP,,2:up:UP"};
  for (const char* script : bad) {
    std::vector<ScriptedKey> keys;
    std::string error;
    EXPECT_FALSE(ParseKeyScript(script, &keys, &error)) << script;
    EXPECT_TRUE(keys.empty()) << script;
    EXPECT_EQ(error.rfind("--keys: item ", 0), 0u) << error;
  }
  std::vector<ScriptedKey> keys;
  std::string error;
  ParseKeyScript("1:down:UP,2:down:SPACEBAR", &keys, &error);
  EXPECT_NE(error.find("item 2 '2:down:SPACEBAR'"), std::string::npos) << error;
  // The error lists every name the script takes.
  EXPECT_NE(error.find("UP DOWN LEFT RIGHT HOME END DELETE PAGEDOWN PAGEUP INSERT TAB ESCAPE"),
            std::string::npos)
      << error;
}

}  // namespace

namespace {

TEST(KeyScript, MouseAndDropItemsAndTheViewerKeys) {
  std::vector<ScriptedKey> keys;
  std::string error;
  ASSERT_TRUE(ParseKeyScript("2:drag:720:-5,3:RDRAG:-10000:+2,4:wheel:-3,5:drop:a b:c.3ds,"
                             "6:down:f12,6:up:r,6:down:H,6:down:p,6:down:F1,6:down:F11",
                             &keys, &error))
      << error;
  ASSERT_EQ(keys.size(), 10u);
  EXPECT_EQ(keys[0].kind, ScriptedKind::kDrag);
  EXPECT_EQ(keys[0].dx, 720);
  EXPECT_EQ(keys[0].dy, -5);
  EXPECT_EQ(keys[1].kind, ScriptedKind::kRightDrag);
  EXPECT_EQ(keys[1].dx, -10000);
  EXPECT_EQ(keys[1].dy, 2);
  EXPECT_EQ(keys[2].kind, ScriptedKind::kWheel);
  EXPECT_EQ(keys[2].dx, -3);
  EXPECT_EQ(keys[3].kind, ScriptedKind::kDrop);
  EXPECT_EQ(keys[3].path, "a b:c.3ds");  // everything after the action
  EXPECT_EQ(keys[4].kind, ScriptedKind::kKey);
  EXPECT_EQ(keys[4].virtualKey, 0x7Bu);
  EXPECT_EQ(keys[5].virtualKey, static_cast<uint32_t>('R'));
  EXPECT_EQ(keys[6].virtualKey, static_cast<uint32_t>('H'));
  EXPECT_EQ(keys[7].virtualKey, static_cast<uint32_t>('P'));
  EXPECT_EQ(keys[8].virtualKey, 0x70u);
  EXPECT_EQ(keys[9].virtualKey, 0x7Au);

  for (const char* bad : {"1:drag:5", "1:drag:x:1", "1:drag:10001:0", "1:rdrag:1:-10001",
                          "1:wheel:1001", "1:wheel:", "1:wheel:1.5", "1:drop:", "1:spin:1"}) {
    keys.clear();
    EXPECT_FALSE(ParseKeyScript(bad, &keys, &error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
    EXPECT_TRUE(keys.empty());
  }

  RunOptions options;
  EXPECT_EQ(Parse({"--watch"}, &options, &error), RunAction::kRun);
  EXPECT_TRUE(options.scene.watch);
  EXPECT_EQ(Parse({"--watch=yes"}, &options, &error), RunAction::kBadCommandLine);
}

}  // namespace
