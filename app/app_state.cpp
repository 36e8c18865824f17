// The application's process-wide variables with their starting values; see
// app_state.h for who writes and reads each.
#include "app/app_state.h"

HWND MainWindow = nullptr;
KeyState Keyboard;
FrameRateState FrameRate;
MouseState Mouse;
ViewerState Viewer;
