// The end-of-frame step: everything that follows RenderFrame's passes, in the
// order the program relies on. The help overlay, when shown, is drawn over
// the frame first; the run's capture and the screenshot key read the drawn
// frame back before the swap; the swap presents it; the virtual clock and the frame
// limit act on the frame just presented; then the frame-rate title, then the
// held-key motion, which therefore shows from the next frame on, and last
// the --watch reload.
#pragma once

#include "platform/win32.h"

// Runs the step for the frame just drawn into `window`, presenting it on the
// OpenGL context's device context. When the swap fails (the window is gone)
// the clock and the frame limit skip this frame; the title and the motion
// still run.
void FinishFrame(HWND window);
