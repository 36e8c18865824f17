// The keyboard handlers: one held flag per motion key and the Tab switch.
// Nothing moves here; the end-of-frame motion step reads the flags.
#include "app/keyboard.h"

#include "platform/win32.h"

KeyState keyState;

namespace {

// The flag a motion key holds, or null for Tab and every other key.
bool* FlagOfKey(uintptr_t virtualKey) {
  switch (virtualKey) {
    case VK_UP:
      return &keyState.keyUp;
    case VK_DOWN:
      return &keyState.keyDown;
    case VK_LEFT:
      return &keyState.keyLeft;
    case VK_RIGHT:
      return &keyState.keyRight;
    case VK_HOME:
      return &keyState.keyHome;
    case VK_END:
      return &keyState.keyEnd;
    case VK_DELETE:
      return &keyState.keyDelete;
    case VK_NEXT:
      return &keyState.keyPageDown;
    case VK_PRIOR:
      return &keyState.keyPageUp;
    case VK_INSERT:
      return &keyState.keyInsert;
    default:
      return nullptr;
  }
}

}  // namespace

void OnKeyDown(uintptr_t virtualKey) {
  if (virtualKey == VK_TAB) {
    keyState.lightMode = !keyState.lightMode;
    return;
  }
  if (bool* flag = FlagOfKey(virtualKey)) *flag = true;
}

void OnKeyUp(uintptr_t virtualKey) {
  if (bool* flag = FlagOfKey(virtualKey)) *flag = false;
}
