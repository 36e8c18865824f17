// The viewer's controls: mouse drags and the wheel move the camera, the keys
// R (reset), P and F12 (screenshot), H and F1 (help overlay) and F11
// (fullscreen), and files dropped on the window. The window procedure hands
// the messages over; what they change shows in the next frame drawn. Their
// state is Mouse and Viewer (app_state.h); the table that documents them is
// controls.h.
#pragma once

#include <string>

#include "platform/win32.h"

// Degrees the camera orbits per pixel of a left-drag: 720 pixels turn it
// once around.
constexpr float kOrbitDegreesPerPixel = 0.5f;

// WM_MOUSEMOVE, WM_LBUTTONDOWN/UP, WM_RBUTTONDOWN/UP, WM_MOUSEWHEEL. A
// left-drag orbits (right: the eye moves left around the origin, so the model
// turns with the cursor; down: the eye rises), a right-drag pans, a wheel
// notch away from the user zooms in. A move whose wParam no longer holds the
// drag's button ends that drag. Nothing moves before the OpenGL context
// exists.
void OnMouseMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// WM_KEYDOWN of a viewer key: true when `virtualKey` is one (then handled),
// false for every other key. A key repeat (bit 30 of lParam) does nothing
// more: every viewer key acts on the press only.
bool OnViewerKey(HWND window, WPARAM virtualKey, LPARAM lParam);

// WM_DROPFILES: each dropped path in turn is opened as a texture when its
// name ends in an image suffix (.tif .tiff .png .jpg .jpeg), else as the
// model. A file that cannot be used leaves the current one in place, with
// one line on standard error and the reason in the title for a few seconds.
// Releases the drop.
void OnDropFiles(HWND window, HDROP drop);

// Opens one file as OnDropFiles does; the scripted and the watched reloads
// use it too. True when it replaced the model or the texture.
bool OpenSceneFile(HWND window, const std::string& path);

// Puts `text` in the title of `window` for kNoticeMilliseconds; the frame
// rate takes the title back at its first update after that.
constexpr uint32_t kNoticeMilliseconds = 4000;
void ShowNotice(HWND window, const std::string& text);

// The end-of-frame step's last part with --watch: the first call starts
// watching the model and texture files; each call then reloads those written
// anew since the last (the view stays where it is). A file that cannot be
// used keeps the last good one, with one line on standard error; a reload
// says so in one line. Nothing without --watch.
void ReloadWatchedFiles(HWND window);

// The end-of-frame step's viewer part before the swap: the help overlay
// drawn over the frame when shown, then the screenshot when asked for.
void DrawViewerOverlay(HWND window);
void SaveScreenshotIfAsked(HWND window);
