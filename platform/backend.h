// The seam between the platform layer's shared core (win32_core.cpp: classes,
// window records, the message queues, the Windows-shaped entry points; with
// run_harness.cpp beside it: the key script, captures, the virtual clock, the
// frame limit) and one backend
// file per target that owns the window system and the OpenGL binding:
// backend_sdl.cpp (SDL2, Linux) or backend_html5.cpp (Emscripten's HTML5
// API, the web page). CMake links exactly one backend; nothing outside
// platform/ includes this header.
//
// A backend supplies every function in the first list and nothing else;
// the core supplies the second list for the backend's event pump. One
// thread; a backend's records stay private to its file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

// The backend's drawable (an SDL window, a canvas) and its OpenGL context.
// Defined by the backend alone; the core only holds pointers to them.
struct BackendSurface;
struct BackendContext;

// The OpenGL attributes one pixel format stands for.
struct GlFormat {
  int doubleBuffer = 1;  // 0 or 1
  int depthBits = 24;    // 32, 24, 16 or 0
  int alphaBits = 0;     // 0 or 8
  int stencilBits = 0;   // 0 or 8
};

// Whether two formats ask for the same OpenGL configuration.
inline bool SameFormat(const GlFormat& a, const GlFormat& b) {
  return a.doubleBuffer == b.doubleBuffer && a.depthBits == b.depthBits &&
         a.alphaBits == b.alphaBits && a.stencilBits == b.stencilBits;
}

// What CreateWindowExA asks of a new surface.
struct SurfaceRequest {
  std::string title;
  bool defaultPlace = true;  // CW_USEDEFAULT: the window system places it
  int x = 0;                 // else this position
  int y = 0;
  int clientWidth = 640;  // pixels
  int clientHeight = 480;
  bool resizable = false;  // WS_THICKFRAME
  bool visible = false;    // WS_VISIBLE
};

// ---- Supplied by every backend ----

// Starts the window system once per run (later calls return true at once);
// false, with the reason given to PlatformFail, when it cannot.
bool BackendStart();

// Makes a surface with the default format GlFormat{}; null, with the reason
// given to PlatformFail, when it cannot.
BackendSurface* BackendMakeSurface(const SurfaceRequest& request);

// Destroys a surface made by BackendMakeSurface; null does nothing.
void BackendDestroySurface(BackendSurface* surface);

// Shows or hides the surface. `firstShow`: it was hidden until now, and a
// window system that reports a frame shrinks the client to fit the size
// asked for as the outer size.
void BackendShowSurface(BackendSurface* surface, bool visible, bool firstShow);

// Whether `format` can be had for `surface` (its own format counts without a
// probe).
bool BackendFormatAvailable(BackendSurface* surface, const GlFormat& format);

// Gives the surface `format` for its contexts, remaking what must be
// remade; false, with the reason given to PlatformFail, when it cannot.
bool BackendSetSurfaceFormat(BackendSurface* surface, const GlFormat& format);

// An OpenGL context for the surface (legacy fixed-function calls work); null,
// with the reason given to PlatformFail, when none can be made.
BackendContext* BackendCreateContext(BackendSurface* surface);

// Makes `context` current on `surface`; false, with the reason given to
// PlatformFail, when it cannot.
bool BackendMakeCurrent(BackendSurface* surface, BackendContext* context);

// Releases the thread's current context, if any.
void BackendReleaseCurrent();

// Deletes a context (released first when current).
void BackendDeleteContext(BackendContext* context);

// Presents the surface's back buffer.
void BackendSwap(BackendSurface* surface);

// The surface's drawable size in pixels.
void BackendDrawableSize(BackendSurface* surface, int* width, int* height);

// Reads the frame just drawn (before its swap) as bottom-up 8-bit RGB rows,
// width * 3 bytes each, into `rgb`, which holds width * height * 3 bytes.
void BackendReadFrame(BackendSurface* surface, int width, int height, uint8_t* rgb);

// Shows `title` as the surface's title.
void BackendSetTitle(BackendSurface* surface, const std::string& title);

// Turns waiting window-system events into queued messages through the
// core's list below; false while the window system has not been started.
bool BackendPollEvents();

// A millisecond clock, unsigned 32-bit, wrapping.
uint32_t BackendMilliseconds();

// RunFrameLoop (platform.h): calls `frame` until it returns false. A plain
// loop returning the code; the web backend's never returns.
int BackendRunFrames(bool (*frame)(int* exitCode));

// Switches the surface between fullscreen and its windowed size; returns
// whether it is fullscreen afterwards (unchanged when it cannot switch, as
// an offscreen surface cannot). The size change arrives as an event.
bool BackendToggleFullscreen(BackendSurface* surface);

// ---- Supplied by the core, for a backend's event pump ----

// Keeps `reason` for PlatformFailureReason.
void PlatformFail(const std::string& reason);

// The live window whose surface is `surface`; null for none.
HWND WindowOfSurface(const BackendSurface* surface);

// The first live window: where events that name no window go.
HWND PlatformFocusWindow();

// Queues a message for the window procedure of `window`.
void QueueWindowMessage(HWND window, UINT code, WPARAM wParam = 0, LPARAM lParam = 0);

// Queues the message of one key event (the system form with Alt held, for
// F10 and for Alt itself, as Windows sends them).
void QueueKeyMessage(HWND window, WPARAM virtualKey, bool down, bool repeat, bool alt);

// Queues a mouse message (WM_MOUSEMOVE, WM_LBUTTONDOWN, ...) with the
// client position (x, y) packed into lParam as Windows packs it and
// `buttons`, the MK_ bits held after the event, as wParam.
void QueueMouseMessage(HWND window, UINT code, WPARAM buttons, int x, int y);

// Queues WM_MOUSEWHEEL: `delta` in 1/WHEEL_DELTA notches, positive away
// from the user (cut to a 16-bit value), with the buttons held and the
// cursor's position.
void QueueWheelMessage(HWND window, int delta, WPARAM buttons, int x, int y);

// Queues WM_DROPFILES for the files `paths`, dropped together.
void QueueDroppedFiles(HWND window, std::vector<std::string> paths);

// Every live window is gone from outside (the window system lost it): they
// are marked dead without WM_DESTROY, `reason` is printed and the run ends
// with WM_QUIT(1). Nothing when no window is live.
void LoseAllWindows(const std::string& reason);
