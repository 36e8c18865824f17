// Keyboard state: which of the ten motion keys are held, and whether the six
// turning keys move the light or turn the camera. The window procedure writes
// it through OnKeyDown/OnKeyUp; the end-of-frame motion step reads it.
#pragma once

#include <cstdint>

struct KeyState {
  bool keyUp = false;        // Up arrow held
  bool keyDown = false;      // Down arrow held
  bool keyLeft = false;      // Left arrow held
  bool keyRight = false;     // Right arrow held
  bool keyHome = false;      // Home held
  bool keyEnd = false;       // End held
  bool keyDelete = false;    // Delete held
  bool keyPageDown = false;  // Page Down held
  bool keyPageUp = false;    // Page Up held
  bool keyInsert = false;    // Insert held
  bool lightMode = true;     // true: the six turning keys move the light
};

// The program's one keyboard state.
extern KeyState keyState;

// A WM_KEYDOWN's virtual-key code: sets the key's flag, or flips lightMode for
// Tab (every repeat flips again). Codes of other keys are ignored.
void OnKeyDown(uintptr_t virtualKey);

// A WM_KEYUP's virtual-key code: clears the key's flag. Tab and other keys
// change nothing.
void OnKeyUp(uintptr_t virtualKey);
