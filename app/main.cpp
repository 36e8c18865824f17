// The executable's entry: reads the run options, configures the platform
// layer and the scene's files, then hands over to WinMain, which ignores its
// command line.
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/controls.h"
#include "app/run_options.h"
#include "app/win_main.h"
#include "platform/platform.h"
#include "render/render_state.h"

int main(int argc, char** argv) {
  RunOptions options;
  std::string error;
  switch (ParseRunOptions(argc, argv, &options, &error)) {
    case RunAction::kHelp:
      std::fputs(RunUsage(), stdout);
      std::fputs("Keys and mouse (held keys act once per frame):\n", stdout);
      for (const std::string& line : ControlsText(80, false, BuildControlsHost()))
        std::printf("%s\n", line.c_str());
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
  ConfigurePlatform(options.platform);
  const SceneSettings& scene = options.scene;
  if (!scene.modelPath.empty()) RequestedScene.modelPath = scene.modelPath;
  if (!scene.texturePath.empty()) RequestedScene.texturePath = scene.texturePath;
  RequestedScene.textureGiven = !scene.texturePath.empty();
  RequestedScene.fit = scene.fit;
  Viewer.watch = scene.watch;
  RequestedScene.stage = scene.stage;
  RequestedScene.animation = scene.animation;
  RequestedScene.time = scene.time;
  RequestedScene.paused = scene.paused;
  Shadows.mode = scene.shadows;
  Shadows.showVolumes = scene.showVolumes;
  Shadows.truth = scene.truth;
  Shadows.lightSize = scene.lightSize;
  std::string commandLine;
  for (int i = 1; i < argc; ++i) commandLine += std::string(i > 1 ? " " : "") + argv[i];
  const int code = WinMain(PlatformInstance(), nullptr, commandLine.data(), SW_SHOWDEFAULT);
  // Each failed capture was reported when it happened; a run that lost one
  // must not end as a success.
  if (code == 0 && FailedCaptureCount() > 0) return 1;
  return code;
}
