// The run harness of the platform layer: what drives and records a run
// around the Windows-shaped services (platform.h's controls): the options
// ConfigurePlatform keeps, the key script queued as real input before each
// frame, the frame count, captures and screenshots read back before the
// swap, the virtual clock and the frame limit. The core (win32_core.cpp)
// calls in through run_harness.h; this file sees no window record.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/png_writer.h"
#include "platform/run_harness.h"
#include "platform/win32.h"

namespace {

// What the harness keeps for the run; lives until the process ends.
struct HarnessState {
  PlatformOptions options;
  uint32_t presentedFrames = 0;
  size_t nextScriptedKey = 0;  // first options.keys entry not yet queued
  bool scriptHeld[256] = {};   // scripted keys currently down
  uint32_t virtualNow = 1;     // the virtual clock, ms
  uint32_t failedCaptures = 0;
};

// The one harness record, made on first use.
HarnessState& Harness() {
  static HarnessState state;
  return state;
}

// The next screenshot number to try: the layer's count for the run, so a
// run never tries a name twice.
uint32_t NextScreenshotNumber = 1;
constexpr uint32_t kLastScreenshotNumber = 99999;

// The frame just drawn into `surface`, read back before its swap, as upright
// RGB rows; empty (width and height 0) when the window has no pixels.
std::vector<uint8_t> ReadFrameUpright(BackendSurface* surface, int* width, int* height) {
  *width = 0;
  *height = 0;
  BackendDrawableSize(surface, width, height);
  if (*width <= 0 || *height <= 0) return {};
  size_t rowBytes = static_cast<size_t>(*width) * 3;
  std::vector<uint8_t> bottomUp(rowBytes * *height);
  BackendReadFrame(surface, *width, *height, bottomUp.data());
  std::vector<uint8_t> upright(bottomUp.size());
  for (int y = 0; y < *height; ++y) {
    std::memcpy(&upright[static_cast<size_t>(y) * rowBytes],
                &bottomUp[static_cast<size_t>(*height - 1 - y) * rowBytes], rowBytes);
  }
  return upright;
}

// Reads the back buffer of `surface` and writes it as an upright PNG.
void WriteCapture(BackendSurface* surface, const std::string& path) {
  int width = 0;
  int height = 0;
  const std::vector<uint8_t> upright = ReadFrameUpright(surface, &width, &height);
  std::string error;
  if (upright.empty()) {
    std::fprintf(stderr, "capture: %s: the window has no pixels\n", path.c_str());
    return;
  }
  if (!WritePngRgb(path, width, height, upright.data(), &error)) {
    std::fprintf(stderr, "capture: %s\n", error.c_str());
    Harness().failedCaptures += 1;
  }
}

// Queues the messages of a scripted mouse or drop event for `window`: a
// drag from the client area's centre, with the button held, one move and the
// release; wheel notches in messages of at most 100 notches each; a drop.
void QueueScriptedPointerEvent(HWND window, const ScriptedKey& event) {
  if (event.kind == ScriptedKind::kDrop) {
    QueueDroppedFiles(window, {event.path});
    return;
  }
  RECT client{};
  GetClientRect(window, &client);
  const int x = (client.right - client.left) / 2, y = (client.bottom - client.top) / 2;
  if (event.kind == ScriptedKind::kWheel) {
    for (int left = event.dx; left != 0;) {
      const int notches = std::max(-100, std::min(100, left));
      left -= notches;
      QueueWheelMessage(window, notches * WHEEL_DELTA, 0, x, y);
    }
    return;
  }
  const bool leftButton = event.kind == ScriptedKind::kDrag;
  const WPARAM bit = leftButton ? MK_LBUTTON : MK_RBUTTON;
  QueueMouseMessage(window, leftButton ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, bit, x, y);
  QueueMouseMessage(window, WM_MOUSEMOVE, bit, x + event.dx, y + event.dy);
  QueueMouseMessage(window, leftButton ? WM_LBUTTONUP : WM_RBUTTONUP, 0, x + event.dx, y + event.dy);
}

}  // namespace

void QueueScriptedInput() {
  HarnessState& state = Harness();
  uint32_t nextFrame = state.presentedFrames + 1;
  while (state.nextScriptedKey < state.options.keys.size() &&
         state.options.keys[state.nextScriptedKey].frame <= nextFrame) {
    const ScriptedKey& key = state.options.keys[state.nextScriptedKey++];
    HWND window = PlatformFocusWindow();
    if (window == nullptr) continue;
    if (key.kind != ScriptedKind::kKey) {
      QueueScriptedPointerEvent(window, key);
      continue;
    }
    uint32_t code = key.virtualKey & 0xFF;
    bool wasDown = state.scriptHeld[code];
    state.scriptHeld[code] = key.down;
    QueueKeyMessage(window, key.virtualKey, key.down, wasDown, key.alt);
  }
}

void CountPresentedFrame() {
  Harness().presentedFrames += 1;
}

// ---- The run's controls ----

void ConfigurePlatform(const PlatformOptions& options) {
  HarnessState& state = Harness();
  state.options = options;
  state.presentedFrames = 0;
  state.nextScriptedKey = 0;
  std::memset(state.scriptHeld, 0, sizeof state.scriptHeld);
  state.virtualNow = 1;
  state.failedCaptures = 0;
}

const PlatformOptions& ConfiguredPlatformOptions() {
  return Harness().options;
}

uint32_t PresentedFrameCount() {
  return Harness().presentedFrames;
}

uint32_t FailedCaptureCount() {
  return Harness().failedCaptures;
}

// ---- The run's steps around SwapBuffers ----

void CaptureFrame(HDC dc) {
  HWND window = WindowOfDeviceContext(dc);
  if (window == nullptr) return;
  const uint32_t frame = Harness().presentedFrames + 1;
  for (const CaptureRequest& capture : Harness().options.captures) {
    if (capture.frame == frame) WriteCapture(LiveSurface(window), capture.path);
  }
}

void StepVirtualClock() {
  HarnessState& state = Harness();
  if (state.options.virtualClock) state.virtualNow += state.options.clockStep;
}

void CloseAtFrameLimit(HWND window) {
  HarnessState& state = Harness();
  if (state.options.frameLimit == 0 || state.presentedFrames != state.options.frameLimit) return;
  PostWindowMessage(window, WM_CLOSE);
}

DWORD timeGetTime() {
  if (Harness().options.virtualClock) return Harness().virtualNow;
  return BackendMilliseconds();
}

// ---- Screenshots ----

bool SaveScreenshot(HWND window, std::string* path) {
  int width = 0, height = 0;
  BackendSurface* surface = LiveSurface(window);
  const std::vector<uint8_t> rgb =
      surface != nullptr ? ReadFrameUpright(surface, &width, &height) : std::vector<uint8_t>{};
  std::string error = "the window has no pixels";
  while (!rgb.empty() && NextScreenshotNumber <= kLastScreenshotNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "shadow-volume-%04u.png", NextScreenshotNumber);
    // Names taken by files already there are skipped without opening them.
    const PngCreation made = WritePngRgbNewFile(name, static_cast<uint32_t>(width),
                                                static_cast<uint32_t>(height), rgb.data(), &error);
    if (made == PngCreation::kExists) {
      ++NextScreenshotNumber;
      continue;
    }
    if (made == PngCreation::kFailed) break;
    ++NextScreenshotNumber;
    *path = name;
    std::printf("%s\n", name);
    std::fflush(stdout);
    return true;
  }
  if (NextScreenshotNumber > kLastScreenshotNumber)
    error = "shadow-volume-0001.png to shadow-volume-99999.png all exist";
  std::fprintf(stderr, "shadow_volume: screenshot not saved: %s\n", error.c_str());
  return false;
}
