// Keyboard controls: which of the ten motion keys are held, and whether the
// six turning keys move the light or turn the camera, kept in Keyboard
// (app_state.h); S and V change the renderer's Shadows (render_state.h). The window procedure writes it through OnKeyDown/OnKeyUp;
// the end-of-frame motion step reads it.
#pragma once

#include <cstdint>

// A WM_KEYDOWN's virtual-key code: sets the key's flag, or flips lightMode for
// Tab (every repeat flips again), cycles the shadow mode for S and toggles the
// volume view for V. `repeat` is the message's previous-state bit (bit 30 of
// lParam: the key was already down): S and V act on the press only, so a held
// key changes the mode once, not at the auto-repeat rate. Codes of other
// keys are ignored.
void OnKeyDown(uintptr_t virtualKey, bool repeat = false);

// A WM_KEYUP's virtual-key code: clears the key's flag. Tab and other keys
// change nothing.
void OnKeyUp(uintptr_t virtualKey);
