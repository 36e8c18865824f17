// The one-time preparation between showing the window and the message loop.
#pragma once

#include "app/platform/win32.h"

// Prepares everything the frames draw, with the OpenGL context of `window`
// made current. Stops the program with exit code 1 and one line on stderr
// when no OpenGL context can be made.
void SetupScene(HWND window);
