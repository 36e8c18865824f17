// The platform layer's own controls, beside the Windows-shaped services of
// win32.h: how a run is configured (headless, scripted keys, captures, frame
// limit, virtual clock), why a window or context could not be made, and the
// run's own steps around each SwapBuffers (capture, virtual clock, frame
// limit), which the program's end-of-frame step calls where a reader sees
// them. Configure before the first window is created; one thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

// What a scripted event stands for.
enum class ScriptedKind : uint8_t {
  kKey,        // a key press or release
  kDrag,       // a whole left-button drag: down, one move by (dx, dy), up
  kRightDrag,  // the same with the right button
  kWheel,      // dx wheel notches, positive away from the user
  kDrop,       // the file `path` dropped on the window
};

// One scripted event: queued as the messages of the real input right before
// frame `frame` (1-based) is drawn. A drag starts at the client area's centre.
struct ScriptedKey {
  uint32_t frame = 0;       // 1-based frame number
  bool down = false;        // key: press (true) or release
  bool alt = false;         // key: Alt held, the system-key form of the message
  uint32_t virtualKey = 0;  // key: Windows virtual-key code, 1..254
  ScriptedKind kind = ScriptedKind::kKey;
  int32_t dx = 0;    // drag: pixels right (-10000..10000); wheel: notches (-1000..1000)
  int32_t dy = 0;    // drag: pixels down (-10000..10000)
  std::string path = "";  // drop: the file, as given
};

// One capture: the image of frame `frame`, read back before its swap.
struct CaptureRequest {
  uint32_t frame = 0;  // 1-based frame number
  std::string path;    // PNG file to write
};

// How a run is driven: the surface, the frame limit, scripted input,
// captures and the clock. The command line (app/) fills it.
struct PlatformOptions {
  bool headless = false;          // offscreen driver, EGL, no display needed
  uint32_t frameLimit = 0;        // WM_CLOSE after this many frames; 0 = none
  std::vector<ScriptedKey> keys;  // in script order
  std::vector<CaptureRequest> captures;
  bool virtualClock = false;  // timeGetTime starts at 1 and steps per frame
  uint32_t clockStep = 0;     // ms added at every presented frame
  uint32_t windowWidth = 800;   // --size: initial window and headless surface size, pixels
  uint32_t windowHeight = 600;  // (both 1..16384)
  bool vsync = true;            // a window's swap waits for the display's refresh
};

// Replaces the run's options and restarts the frame count, the key script
// and the virtual clock. Windows already open keep working.
void ConfigurePlatform(const PlatformOptions& options);

// The options ConfigurePlatform was given (the defaults before that).
const PlatformOptions& ConfiguredPlatformOptions();

// How many captures of this run could not be written (each was reported on
// stderr when it failed); the program's exit code must not claim success
// while this is above 0.
uint32_t FailedCaptureCount();

// Why the last failing service failed, one line (no trailing newline), with
// the hint to use --headless when no display could be opened; "" if none.
const char* PlatformFailureReason();

// The instance handle WinMain receives.
HINSTANCE PlatformInstance();

// Frames presented with SwapBuffers since ConfigurePlatform (or start).
uint32_t PresentedFrameCount();

// ---- The run's steps around SwapBuffers, in the order a frame calls them ----

// Before the swap: writes every capture asked for the frame about to be
// presented (number PresentedFrameCount() + 1), read back from the buffer the
// frame was drawn into, as an upright RGB PNG of the drawable size. A capture
// that cannot be written is reported on stderr at once, counted in
// FailedCaptureCount, and the run goes on; a device context without a live
// window does nothing.
void CaptureFrame(HDC dc);

// After a successful swap: advances the virtual clock by its step; nothing
// when the clock is the real one.
void StepVirtualClock();

// After a successful swap: when the frame just presented is the --frames
// limit, posts WM_CLOSE to `window`, exactly as its close button would.
// Nothing without a limit or before it.
void CloseAtFrameLimit(HWND window);

// ---- The frame loop ----

// Calls `frame` once per frame until it returns false, then returns the exit
// code it left in *exitCode. A backend that may block (SDL) runs a plain
// loop; the web page's backend hands `frame` to the browser's animation
// frames and never returns: when `frame` returns false the loop stops and the
// page is told the exit code.
int RunFrameLoop(bool (*frame)(int* exitCode));

// ---- The viewer's services ----

// Writes the frame just drawn into `window` (read back before its swap, as
// CaptureFrame does) as an upright RGB PNG named shadow-volume-NNNN.png in
// the current directory: the first number from the run's count on whose name
// no file exists yet, never overwriting one. Prints the name on standard
// output and returns true with it in `path`; otherwise prints one line on
// standard error (a read-only folder, say) and returns false. The run goes on
// either way.
bool SaveScreenshot(HWND window, std::string* path);

// Switches `window` between fullscreen (the desktop's size, no frame) and its
// windowed size; the size change arrives as WM_SIZE. Returns whether the
// window is fullscreen afterwards; a surface that cannot change (headless)
// stays as it is.
bool ToggleFullscreen(HWND window);
