// The executable's entry: reads the run options, configures the platform
// layer and the scene's files, then hands over to WinMain, which ignores its
// command line.
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/controls.h"
#include "app/win_main.h"
#include "platform/platform.h"
#include "platform/run_options.h"
#include "render/render_state.h"

int main(int argc, char** argv) {
  PlatformOptions options;
  std::string error;
  switch (ParseRunOptions(argc, argv, &options, &error)) {
    case RunAction::kHelp:
      std::fputs(RunUsage(), stdout);
      std::fputs("Keys and mouse (held keys act once per frame):\n", stdout);
      for (const std::string& line : ControlsText(80)) std::printf("%s\n", line.c_str());
      return 0;
    case RunAction::kVersion:
      std::fputs(RunVersion(), stdout);
      return 0;
    case RunAction::kBadCommandLine:
      std::fprintf(stderr, "shadow_volume: %s\n%s", error.c_str(), RunUsage());
      return 64;
    case RunAction::kRun:
      break;
  }
  ConfigurePlatform(options);
  if (!options.modelPath.empty()) RequestedScene.modelPath = options.modelPath;
  if (!options.texturePath.empty()) RequestedScene.texturePath = options.texturePath;
  RequestedScene.textureGiven = !options.texturePath.empty();
  RequestedScene.fit = options.fit;
  Viewer.watch = options.watch;
  RequestedScene.stage = options.stage;
  Shadows.mode = options.shadows;
  Shadows.showVolumes = options.showVolumes;
  Shadows.truth = options.truth;
  std::string commandLine;
  for (int i = 1; i < argc; ++i) commandLine += std::string(i > 1 ? " " : "") + argv[i];
  const int code = WinMain(PlatformInstance(), nullptr, commandLine.data(), SW_SHOWDEFAULT);
  // Each failed capture was reported when it happened; a run that lost one
  // must not end as a success.
  if (code == 0 && FailedCaptureCount() > 0) return 1;
  return code;
}
