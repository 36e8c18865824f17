// Every process-wide variable of the application, in one place: what it
// holds, who writes it and who reads it. All of it lives until the process
// ends; one thread only, no locks. Process-wide variables are named in
// CapitalisedWords throughout the program; the renderer's are listed in
// render/render_state.h, and the platform layer keeps its own inside itself.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "render/key_motion.h"

// The frame-rate title's counters.
struct FrameRateState {
  float frameCount = 0;         // frames since the last title update
  uint32_t lastUpdateTime = 0;  // timeGetTime() at the last update, ms; 0 = not yet set
  float framesPerSecond = 0;    // the last measured rate
};

// The application window; set once by WinMain, right after it is created.
extern HWND MainWindow;

// The keyboard: written only by OnKeyDown and OnKeyUp (from the window
// procedure), read by the end-of-frame motion step.
extern KeyState Keyboard;

// Written and read only by UpdateFrameRate.
extern FrameRateState FrameRate;
