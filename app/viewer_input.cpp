// The viewer's mouse, keys and dropped files.
#include "app/viewer_input.h"

#include <strings.h>

#include <cstdio>
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

// Whether the name ends in one of the image suffixes, in any letter case.
bool IsImageName(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  const std::string suffix = path.substr(dot + 1);
  for (const char* image : {"tif", "tiff", "png", "jpg", "jpeg"})
    if (strcasecmp(suffix.c_str(), image) == 0) return true;
  return false;
}

// The lines of the help overlay: the controls, then what is loaded.
std::vector<std::string> HelpLines() {
  std::vector<std::string> lines = {"Shadow Volume: keys and mouse (H or F1 hides this)", ""};
  for (const std::string& line : ControlsText(64, true)) lines.push_back(line);
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
  if (replaced) {
    Viewer.watching = false;  // the watch follows the new file
    return true;
  }
  std::fprintf(stderr, "%s\n", why.c_str());
  std::fflush(stderr);
  ShowNotice(window, "Shadow Volume - " + why);
  return false;
}

void OnDropFiles(HWND window, HDROP drop) {
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFFu, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileA(drop, i, nullptr, 0);
    std::string path(length + 1, '\0');
    DragQueryFileA(drop, i, path.data(), length + 1);
    path.resize(length);
    if (!path.empty() && HasContext()) OpenSceneFile(window, path);
  }
  DragFinish(drop);
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
  if (!Viewer.watching) {
    Viewer.watching = true;
    std::string error;
    if (!WatchFiles({RequestedScene.modelPath, RequestedScene.texturePath}, "--watch", &error))
      std::fprintf(stderr, "%s\n", error.c_str());
    return;
  }
  for (const std::string& path : ChangedWatchedFiles()) {
    std::string why;
    const bool model = path == RequestedScene.modelPath;
    const bool reloaded = model ? ReplaceModel(path, true, &why) : ReplaceTexture(path, &why);
    if (reloaded && model) {
      std::fprintf(stderr, "%s: reloaded, %d faces\n", path.c_str(), LoadedScene.texturedFaceCount);
    } else if (reloaded) {
      std::fprintf(stderr, "%s: reloaded\n", path.c_str());
    } else {
      std::fprintf(stderr, "%s\n", why.c_str());
      ShowNotice(window, "Shadow Volume - " + why);
    }
    std::fflush(stderr);
  }
}
