// The viewer's mouse, keys and dropped files.
#include "app/viewer_input.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/controls.h"
#include "model/scene.h"
#include "platform/file_watch.h"
#include "platform/platform.h"
#include "render/camera.h"
#include "render/overlay.h"
#include "render/render_state.h"
#include "render/scene_animation.h"
#include "render/scene_reload.h"
#include "render/soft_shadows.h"
#include "render/traced_shadows.h"

namespace {

// The signed 16-bit cursor coordinates of a mouse message's lParam.
int CursorX(LPARAM lParam) {
  return static_cast<int16_t>(static_cast<uint32_t>(lParam) & 0xFFFF);
}
int CursorY(LPARAM lParam) {
  return static_cast<int16_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
}

bool HasContext() {
  return GlContext.renderingContext != nullptr;
}

bool IsRepeat(LPARAM lParam) {
  return (static_cast<uint32_t>(lParam) & (1u << 30)) != 0;
}

// Whether the name ends in one of `suffixes`, in any letter case.
bool HasSuffix(const std::string& path, std::initializer_list<const char*> suffixes) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  const std::string suffix = path.substr(dot + 1);
  for (const char* one : suffixes)
    if (strcasecmp(suffix.c_str(), one) == 0) return true;
  return false;
}

bool IsImageName(const std::string& path) {
  return HasSuffix(path, {"tif", "tiff", "png", "jpg", "jpeg", "bmp", "tga"});
}

// The files a model names that are neither a model nor an image: an OBJ's
// material library, a glTF's buffers.
bool IsSecondFileName(const std::string& path) {
  return HasSuffix(path, {"mtl", "bin"});
}

// The lines of the help overlay: the controls, then what is loaded.
std::vector<std::string> HelpLines() {
  std::vector<std::string> lines = {"Shadow Volume: keys and mouse (H or F1 hides this)", ""};
  for (const std::string& line : ControlsText(64, true, BuildControlsHost())) lines.push_back(line);
  lines.push_back("");
  const int faces =
      LoadedScene.mesh != nullptr ? LoadedScene.texturedFaceCount : 0;  // the stage left out
  lines.push_back("Model: " + RequestedScene.modelPath + ", " + std::to_string(faces) +
                  (faces == 1 ? " face" : " faces"));
  lines.push_back("Texture: " + RequestedScene.texturePath +
                  (LoadedScene.textureUploaded ? "" : " (not in use)"));
  const std::string cycle = std::string(" (S: blend") + (Shadows.stencilAvailable ? ", exact" : "") +
                            (Shadows.traceAvailable ? ", traced" : "") + ", off)";
  lines.push_back(std::string("Shadows: ") + ShadowModeName(Shadows.mode) + cycle +
                  (Shadows.showVolumes ? ", volumes shown" : ""));
  lines.push_back("Light: " + LightStatus());
  const std::string animation = AnimationStatus();
  if (!animation.empty()) lines.push_back("Animation: " + animation);
  if (LastTruth.measured) {
    char share[96];
    std::snprintf(share, sizeof share, "Truth: %.2f%% of shadowed pixels right, %lld wrong",
                  TruthPercent(LastTruth), static_cast<long long>(LastTruth.wrong));
    lines.push_back(share);
  }
  return lines;
}

}  // namespace

void OnMouseMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const int x = CursorX(lParam), y = CursorY(lParam);
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      (message == WM_LBUTTONDOWN ? Mouse.leftDown : Mouse.rightDown) = true;
      Mouse.x = x;
      Mouse.y = y;
      return;
    case WM_MOUSEWHEEL: {
      // The wheel's message carries screen coordinates; only the delta counts.
      const int delta = static_cast<int16_t>((wParam >> 16) & 0xFFFF);
      if (HasContext()) ZoomCamera(static_cast<float>(delta) / WHEEL_DELTA);
      return;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
      break;
    default:
      return;
  }
  // A move or a release: the drag so far moves the camera.
  if (message == WM_MOUSEMOVE) {
    Mouse.leftDown = Mouse.leftDown && (wParam & MK_LBUTTON) != 0;
    Mouse.rightDown = Mouse.rightDown && (wParam & MK_RBUTTON) != 0;
  }
  const int dx = x - Mouse.x, dy = y - Mouse.y;
  Mouse.x = x;
  Mouse.y = y;
  if (HasContext() && (dx != 0 || dy != 0)) {
    if (Mouse.leftDown) OrbitCamera(-kOrbitDegreesPerPixel * dx, kOrbitDegreesPerPixel * dy);
    if (Mouse.rightDown) {
      RECT client{};
      GetClientRect(window, &client);
      PanCamera(static_cast<float>(dx), static_cast<float>(dy), client.bottom - client.top);
    }
  }
  if (message == WM_LBUTTONUP) Mouse.leftDown = false;
  if (message == WM_RBUTTONUP) Mouse.rightDown = false;
}

bool OnViewerKey(HWND window, WPARAM virtualKey, LPARAM lParam) {
  switch (virtualKey) {
    case 'R':
      if (HasContext() && !IsRepeat(lParam)) PlaceStartView();
      return true;
    case 'P':
    case VK_F12:
      if (!IsRepeat(lParam)) Viewer.screenshotPending = true;
      return true;
    case 'T':
      if (IsRepeat(lParam)) return true;
      if (!Shadows.traceAvailable) {
        const std::string why = "Shadow Volume - no truth view: traced shadows are unavailable here";
        std::fprintf(stderr, "%s\n", why.c_str());
        ShowNotice(window, why);
        return true;
      }
      Shadows.truth = !Shadows.truth;
      return true;
    case 'H':
    case VK_F1:
      if (!IsRepeat(lParam)) Viewer.helpShown = !Viewer.helpShown;
      return true;
    case VK_F11:
      if (!IsRepeat(lParam)) Viewer.fullscreen = ToggleFullscreen(window);
      return true;
    default:
      return false;
  }
}

bool OpenSceneFile(HWND window, const std::string& path) {
  std::string why;
  const bool image = IsImageName(path);
  const bool replaced = image ? ReplaceTexture(path, &why) : ReplaceModel(path, false, &why);
  if (replaced) return true;  // the watch follows the new files at the frame's end
  std::fprintf(stderr, "%s\n", why.c_str());
  std::fflush(stderr);
  ShowNotice(window, "Shadow Volume - " + why);
  return false;
}

// A drop holding a model is that model with the files it names (the page
// puts them all in one folder): only the model is opened, and it finds the
// others beside it. A drop of images alone replaces the texture with each.
void OnDropFiles(HWND window, HDROP drop) {
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFFu, nullptr, 0);
  std::vector<std::string> paths;
  bool holdsModel = false;
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileA(drop, i, nullptr, 0);
    std::string path(length + 1, '\0');
    DragQueryFileA(drop, i, path.data(), length + 1);
    path.resize(length);
    if (path.empty()) continue;
    holdsModel = holdsModel || (!IsImageName(path) && !IsSecondFileName(path));
    paths.push_back(std::move(path));
  }
  DragFinish(drop);
  for (const std::string& path : paths) {
    if (holdsModel && (IsImageName(path) || IsSecondFileName(path))) continue;
    if (HasContext()) OpenSceneFile(window, path);
  }
  ReleaseDroppedFiles({RequestedScene.modelPath, RequestedScene.texturePath});
}

void ShowNotice(HWND window, const std::string& text) {
  Viewer.notice = text;
  // 0 means "no notice"; a clock reading of exactly that many steps back is
  // one millisecond longer.
  Viewer.noticeUntil = timeGetTime() + kNoticeMilliseconds;
  if (Viewer.noticeUntil == 0) Viewer.noticeUntil = 1;
  SetWindowTextA(window, text.c_str());
}

void DrawViewerOverlay(HWND window) {
  if (!Viewer.helpShown || !HasContext()) return;
  RECT client{};
  GetClientRect(window, &client);
  DrawTextPanel(&Viewer.helpPanel, HelpLines(), client.right - client.left,
                client.bottom - client.top);
}

void SaveScreenshotIfAsked(HWND window) {
  if (!Viewer.screenshotPending) return;
  Viewer.screenshotPending = false;
  std::string path;
  SaveScreenshot(window, &path);
}

void ReloadWatchedFiles(HWND window) {
  if (!Viewer.watch || !HasContext()) return;
  const SceneFiles files = FilesOfScene();
  std::vector<std::string> watched = files.model;
  watched.insert(watched.end(), files.textures.begin(), files.textures.end());
  // Watches are remade only when the scene's files change (a new model, a
  // model that now names other files): a change in between would be lost.
  if (watched != Viewer.watchedFiles) {
    Viewer.watchedFiles = watched;
    std::string error;
    if (!WatchFiles(watched, "--watch", &error)) std::fprintf(stderr, "%s\n", error.c_str());
  }
  const std::vector<std::string> changed = ChangedWatchedFiles();
  auto reported = [window](bool reloaded, const std::string& line, const std::string& why) {
    std::fprintf(stderr, "%s\n", reloaded ? line.c_str() : why.c_str());
    if (!reloaded) ShowNotice(window, "Shadow Volume - " + why);
    std::fflush(stderr);
  };
  // Any file the model was read from reads the whole model again, its
  // textures with it; else each texture saved is read again alone.
  for (const std::string& path : changed) {
    if (std::find(files.model.begin(), files.model.end(), path) == files.model.end()) continue;
    const std::string model = RequestedScene.modelPath;
    std::string why;
    const bool reloaded = ReplaceModel(model, true, &why);
    reported(reloaded,
             model + ": reloaded, " + std::to_string(LoadedScene.texturedFaceCount) + " faces" +
                 (path == model ? "" : " (" + path + " changed)"),
             why);
    return;
  }
  for (const std::string& path : changed) {
    std::string why;
    reported(ReloadTextureFile(path, &why), path + ": reloaded", why);
  }
}
