// The frame-rate title: every tenth frame, ten frames divided by the
// milliseconds they took, written as a bare "%f" number into the window title.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct FrameRateState {
  float frameCount = 0;         // frames since the last title update
  uint32_t lastUpdateTime = 0;  // timeGetTime() at the last update, ms; 0 = not yet set
  float framesPerSecond = 0;    // the last measured rate
};

// The program's one frame-rate state.
extern FrameRateState frameRate;

// Called once per frame after the buffer swap; updates the title of `window`
// on every tenth call.
void UpdateFrameRate(HWND window);
