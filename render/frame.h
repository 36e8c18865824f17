// One frame of the main loop: draw, present, then the end-of-frame step.
#pragma once

#include "app/platform/win32.h"

// Draws and presents one frame of `window`, then updates the frame-rate
// title and applies the held keys.
void RenderFrame(HWND window);
