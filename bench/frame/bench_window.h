// The frame benchmarks' window: headless, 800 x 600, through the platform
// layer as the demo opens its own.
#pragma once

#include "platform/win32.h"

constexpr int kBenchWidth = 800, kBenchHeight = 600;

// Opens a headless window of the bench size titled `name`; null, with a
// line on standard error naming `program`, when that fails.
HWND OpenBenchWindow(const char* program, const char* name);
