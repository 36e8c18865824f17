// Every process-wide variable of the application, in one place: what it
// holds, who writes it and who reads it. All of it lives until the process
// ends; one thread only, no locks. Process-wide variables are named in
// CapitalisedWords throughout the program; the renderer's are listed in
// render/render_state.h, and the platform layer keeps its own inside itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "render/key_motion.h"
#include "render/overlay.h"

// The frame-rate title's counters.
struct FrameRateState {
  float frameCount = 0;         // frames since the last title update
  uint32_t lastUpdateTime = 0;  // timeGetTime() at the last update, ms; 0 = not yet set
  float framesPerSecond = 0;    // the last measured rate
};

// The mouse as the window procedure last saw it: drags move the camera by
// the difference between two positions.
struct MouseState {
  bool leftDown = false;   // a left-drag is under way (orbit)
  bool rightDown = false;  // a right-drag is under way (pan)
  int x = 0;               // the last cursor position, client pixels, y down
  int y = 0;
};

// The viewer's switches and its notice in the window title.
struct ViewerState {
  bool helpShown = false;          // H / F1: the help overlay is drawn over each frame
  bool screenshotPending = false;  // P / F12: save the next frame drawn
  bool fullscreen = false;         // F11's state as the platform reported it
  bool watch = false;              // --watch, set by main
  std::vector<std::string> watchedFiles;  // what --watch watches now: the scene's files
  std::string notice;              // a message in the title, e.g. why a drop failed
  uint32_t noticeUntil = 0;        // timeGetTime() when the notice gives way to the rate
  TextPanel helpPanel;             // the overlay's laid-out quads, kept between frames
};

// The application window; set once by WinMain, right after it is created.
extern HWND MainWindow;

// The keyboard: written only by OnKeyDown and OnKeyUp (from the window
// procedure), read by the end-of-frame motion step.
extern KeyState Keyboard;

// Written and read only by UpdateFrameRate.
extern FrameRateState FrameRate;

// Written by the mouse handlers (viewer_input.cpp) only.
extern MouseState Mouse;

// Written by the viewer's key, drop and reload handlers; read by the
// end-of-frame step and the frame-rate title.
extern ViewerState Viewer;
