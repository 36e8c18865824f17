// The process entry of the program proper and its window procedure: one
// window class, one window (MainWindow, app_state.h), a message loop that
// draws whenever no message is waiting, and key messages passed to the
// keyboard handlers.
#pragma once

#include "platform/win32.h"

// Registers "My App", opens "Shadow Volume" at the configured size (--size,
// default 800 x 600), runs SetupScene and the loop.
// Returns WM_QUIT's wParam; 1 (with one line on stderr giving the reason)
// when the class or the window cannot be made.
int WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);

// Key messages go to OnKeyDown (with lParam's previous-state bit as its
// repeat flag) and OnKeyUp and return 0, except Escape's
// WM_KEYDOWN, which is handled as WM_CLOSE, and the viewer's keys (R, P, H,
// F1, F11, F12), which go to OnViewerKey; mouse messages go to
// OnMouseMessage and WM_DROPFILES to OnDropFiles; WM_SIZE makes the viewport and
// projection follow the client area; WM_DESTROY posts WM_QUIT with code 0;
// everything else is DefWindowProcA's.
LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
