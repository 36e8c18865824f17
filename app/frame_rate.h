// The frame-rate title: every tenth frame, ten frames divided by the
// milliseconds they took, written as a "%f" number into the window title,
// followed by " - exact shadows" or " - no shadows" outside the blend mode.
// Its counters are FrameRate (app_state.h). While a notice of the viewer
// stands (Viewer.noticeUntil) the title is left to it.
#pragma once

#include "platform/win32.h"

// Called once per frame after the buffer swap; updates the title of `window`
// on every tenth call.
void UpdateFrameRate(HWND window);
