// The seam between the platform layer's shared core (win32_core.cpp: the
// Windows-shaped services) and the run harness beside it (run_harness.cpp:
// the key script, captures, the virtual clock, the frame limit and the
// screenshots' names). Private to platform/; the backends see neither side.
// One thread.
#pragma once

#include "platform/backend.h"
#include "platform/win32.h"

// ---- Supplied by the harness, called by the core ----

// Queues the scripted input of the frame about to be drawn (and of any
// earlier frame not yet reached), in script order; PeekMessageA calls it
// before polling the window system.
void QueueScriptedInput();

// Counts one presented frame; SwapBuffers calls it after every swap.
void CountPresentedFrame();

// ---- Supplied by the core, called by the harness ----

// The surface of `window` while it is live; null for null, foreign or
// destroyed windows (never dereferenced) and for a window without one.
BackendSurface* LiveSurface(HWND window);

// The live window `dc` belongs to when it has a surface to draw in; null
// otherwise.
HWND WindowOfDeviceContext(HDC dc);

// Queues `code` for `window` in the posted queue, which PeekMessageA reads
// before any input.
void PostWindowMessage(HWND window, UINT code);
