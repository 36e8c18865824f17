// The command line and the key script: what is accepted, what each value
// becomes, and that every malformed value is a usage error naming itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/run_options.h"

namespace {

RunAction Parse(std::vector<const char*> args, PlatformOptions* options, std::string* error) {
  args.insert(args.begin(), "shadow_volume");
  return ParseRunOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(RunOptions, EveryOptionTakesEffect) {
  PlatformOptions o;
  std::string error;
  ASSERT_EQ(Parse({"--headless", "--frames", "30", "--clock-step=10", "--capture", "3:a.png",
                   "--capture=7:dir/b.png", "--keys", "2:down:TAB,2:up:TAB", "--model",
                   "models/a.3ds", "--texture=b.tif", "--fit"},
                  &o, &error),
            RunAction::kRun)
      << error;
  EXPECT_TRUE(o.headless);
  EXPECT_EQ(o.frameLimit, 30u);
  EXPECT_TRUE(o.virtualClock);
  EXPECT_EQ(o.clockStep, 10u);
  ASSERT_EQ(o.captures.size(), 2u);
  EXPECT_EQ(o.captures[0].frame, 3u);
  EXPECT_EQ(o.captures[0].path, "a.png");
  EXPECT_EQ(o.captures[1].frame, 7u);
  EXPECT_EQ(o.captures[1].path, "dir/b.png");
  EXPECT_EQ(o.keys.size(), 2u);
  EXPECT_EQ(o.modelPath, "models/a.3ds");
  EXPECT_EQ(o.texturePath, "b.tif");
  EXPECT_TRUE(o.fit);

  ASSERT_EQ(Parse({}, &o, &error), RunAction::kRun);
  EXPECT_FALSE(o.headless);
  EXPECT_EQ(o.modelPath, "");  // the renderer's defaults
  EXPECT_EQ(o.texturePath, "");
  EXPECT_FALSE(o.fit);
  EXPECT_EQ(o.frameLimit, 0u);
  EXPECT_FALSE(o.virtualClock);
  EXPECT_TRUE(o.keys.empty());
  ASSERT_EQ(Parse({"--clock-step", "0"}, &o, &error), RunAction::kRun);
  EXPECT_TRUE(o.virtualClock);

  EXPECT_EQ(Parse({"--frames", "3", "--help"}, &o, &error), RunAction::kHelp);
  EXPECT_EQ(Parse({"--version"}, &o, &error), RunAction::kVersion);
}

TEST(RunOptions, MalformedCommandLinesAreRefused) {
  const std::vector<std::vector<const char*>> bad = {{"--bogus"},
                                                     {"scene.3ds"},
                                                     {"--frames"},
                                                     {"--frames", "0"},
                                                     {"--frames", "-1"},
                                                     {"--frames", "12x"},
                                                     {"--frames", ""},
                                                     {"--frames", "4294967296"},
                                                     {"--clock-step", "ten"},
                                                     {"--capture", "a.png"},
                                                     {"--capture", "0:a.png"},
                                                     {"--capture", "3:"},
                                                     {"--keys", "1:down"},
                                                     {"--headless=yes"},
                                                     {"--model"},
                                                     {"--texture="},
                                                     {"--fit=yes"},
                                                     {"--help=1"}};
  for (const auto& args : bad) {
    PlatformOptions o;
    std::string error;
    EXPECT_EQ(Parse(args, &o, &error), RunAction::kBadCommandLine) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
  PlatformOptions o;
  std::string error;
  Parse({"--frames", "4294967295"}, &o, &error);
  EXPECT_EQ(o.frameLimit, 4294967295u);
  Parse({"--frames", "2x"}, &o, &error);
  EXPECT_NE(error.find("'2x'"), std::string::npos) << error;
}

TEST(KeyScript, NamesNumbersAltAndFrameOrder) {
  std::vector<ScriptedKey> keys;
  std::string error;
  ASSERT_TRUE(ParseKeyScript(
      "5:down:ALT+HOME,2:down:UP,2:up:UP,3:down:0x41,3:up:65,1:down:PAGEDOWN,1:down:PAGEUP,"
      "1:down:INSERT,1:down:DELETE,1:down:END,1:down:LEFT,1:down:RIGHT,1:down:DOWN,1:down:TAB",
      &keys, &error))
      << error;
  ASSERT_EQ(keys.size(), 14u);
  // Stable by frame: frame 1's eight in script order, then 2, 3, 5.
  const uint32_t codes[] = {0x22, 0x21, 0x2D, 0x2E, 0x23, 0x25, 0x27,
                            0x28, 0x09, 0x26, 0x26, 0x41, 0x41, 0x24};
  const uint32_t frames[] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 3, 5};
  for (size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i].virtualKey, codes[i]) << i;
    EXPECT_EQ(keys[i].frame, frames[i]) << i;
    EXPECT_EQ(keys[i].alt, i == 13) << i;
  }
  EXPECT_TRUE(keys[9].down);
  EXPECT_FALSE(keys[10].down);
}

TEST(KeyScript, BadItemsNameThemselvesAndAddNothing) {
  const char* bad[] = {"",           "0:down:UP",  "1:press:UP",        "1:down:SPACEBAR",
                       "1:down:255", "1:down:0",   "1:down:0x",         "1:down:alt+UP",
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
}

}  // namespace
