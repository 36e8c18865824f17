// The keyboard handlers: one held flag per motion key, the Tab switch, and
// the animation's keys (on the press, or its auto-repeat for the steps) and
// the light's size.
// Nothing moves here; the end-of-frame motion step reads the flags.
#include "app/keyboard.h"

#include <cmath>

#include "app/app_state.h"
#include "platform/win32.h"
#include "render/render_state.h"
#include "render/scene_animation.h"

namespace {

// The flag a motion key holds, or null for Tab and every other key.
bool* FlagOfKey(uintptr_t virtualKey) {
  switch (virtualKey) {
    case VK_UP:
      return &Keyboard.keyUp;
    case VK_DOWN:
      return &Keyboard.keyDown;
    case VK_LEFT:
      return &Keyboard.keyLeft;
    case VK_RIGHT:
      return &Keyboard.keyRight;
    case VK_HOME:
      return &Keyboard.keyHome;
    case VK_END:
      return &Keyboard.keyEnd;
    case VK_DELETE:
      return &Keyboard.keyDelete;
    case VK_NEXT:
      return &Keyboard.keyPageDown;
    case VK_PRIOR:
      return &Keyboard.keyPageUp;
    case VK_INSERT:
      return &Keyboard.keyInsert;
    default:
      return nullptr;
  }
}

}  // namespace

void OnKeyDown(uintptr_t virtualKey, bool repeat) {
  if (virtualKey == VK_TAB) {
    Keyboard.lightMode = !Keyboard.lightMode;
    return;
  }
  // A step of 1/30 s, the length of a frame of film.
  if (virtualKey == VK_OEM_COMMA || virtualKey == VK_OEM_PERIOD) {
    StepAnimation(virtualKey == VK_OEM_PERIOD ? 1.0 / 30 : -1.0 / 30);
    return;
  }
  // The light's size, 1 unit a press or auto-repeat, from 0 to 20.
  if (virtualKey == VK_OEM_PLUS || virtualKey == VK_ADD) {
    Shadows.lightSize = std::fmin(kMaxLightSize, std::floor(Shadows.lightSize) + 1.0f);
    return;
  }
  if (virtualKey == VK_OEM_MINUS || virtualKey == VK_SUBTRACT) {
    Shadows.lightSize = std::fmax(0.0f, std::ceil(Shadows.lightSize) - 1.0f);
    return;
  }
  if ((virtualKey == 'S' || virtualKey == 'V' || virtualKey == VK_SPACE || virtualKey == VK_OEM_4 ||
       virtualKey == VK_OEM_6) &&
      repeat)
    return;
  if (virtualKey == VK_SPACE) {
    ToggleAnimationPause();
    return;
  }
  if (virtualKey == VK_OEM_4 || virtualKey == VK_OEM_6) {
    SelectNextClip(virtualKey == VK_OEM_6 ? 1 : -1);
    return;
  }
  if (virtualKey == 'S') {
    // blend -> exact -> traced -> off -> blend, passing over what cannot run.
    const ShadowMode cycle[] = {ShadowMode::kBlend, ShadowMode::kExact, ShadowMode::kTraced,
                                ShadowMode::kOff};
    const bool runs[] = {true, Shadows.stencilAvailable, Shadows.traceAvailable, true};
    int now = 0;
    while (cycle[now] != Shadows.mode) ++now;
    do now = (now + 1) % 4;
    while (!runs[now]);
    Shadows.mode = cycle[now];
    return;
  }
  if (virtualKey == 'V') {
    Shadows.showVolumes = !Shadows.showVolumes;
    return;
  }
  if (bool* flag = FlagOfKey(virtualKey)) *flag = true;
}

void OnKeyUp(uintptr_t virtualKey) {
  if (bool* flag = FlagOfKey(virtualKey)) *flag = false;
}
