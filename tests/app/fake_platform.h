// A recording stand-in for the platform layer, so the shell's own logic
// (WinMain's order of calls, the window procedure, the end-of-frame step, the
// frame-rate title, the context set-up) is tested without a window system:
// every service call is logged, its result is what the test sets, and the
// clock is the test's.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/win32.h"

struct FakePlatform {
  std::vector<std::string> calls;  // "Name(arguments)" per call, in order

  // Results the services give.
  WORD registerResult = 0xC000;
  bool createFails = false;
  int chooseResult = 7;
  BOOL setFormatResult = TRUE;
  bool contextFails = false;
  std::deque<BOOL> makeCurrentResults;  // consumed per call; TRUE when empty
  BOOL swapResult = TRUE;
  RECT clientRect{0, 0, 784, 561};
  std::string failureReason = "no display here";

  // The clock: queued readings first, then `now`.
  std::deque<uint32_t> clockReadings;
  uint32_t now = 0;
  std::vector<std::string> titles;  // texts given to SetWindowTextA

  // The message queue: PeekMessageA takes the front; an entry with
  // message == 0 means "queue found empty" (PeekMessageA returns 0 once).
  std::deque<MSG> queue;
  std::deque<MSG> posted;  // PostQuitMessage's WM_QUIT, taken first

  // Captured by the fakes.
  WNDCLASSEXA registeredClass{};
  PIXELFORMATDESCRIPTOR chosenRequest{};
  int framesRendered = 0;
  HWND setupWindow = nullptr;
};

// The one fake, reset by each test.
extern FakePlatform fake;
void ResetFake();

// The window and device-context handles the fake hands out.
HWND FakeWindow();
HDC FakeDc();
HGLRC FakeContext();

// A queued message for the fake's queue.
MSG FakeMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
