// The OpenGL context of the application window and the projection every
// frame uses: a double-buffered RGBA format with a depth buffer and, where
// offered, an 8-bit stencil buffer, a 45-degree perspective from 15 to 1000 units at the client
// area's aspect, over the whole client area.
// The context's state, GlContext and PixelFormatRequest, is declared in
// render_state.h.
#pragma once

#include "platform/win32.h"
#include "render/render_state.h"

// Fills `request` with the program's format: double buffer, window target,
// OpenGL, RGBA 5-6-5 colour, 32-bit depth, 8-bit stencil, no alpha or
// accumulation.
void FillPixelFormatRequest(PIXELFORMATDESCRIPTOR* request);

// The projection's aspect ratio for a client rectangle; 1 when the client
// has no height (a window started minimised), never a division by zero.
float ClientAspectRatio(const RECT& client);

// Creates the context for `window`, makes it current and sets depth test,
// face culling, the viewport and projection (FollowClientSize) and an
// identity modelview. False after a
// failed step, with ReleaseOpenGL already called (and its result ignored).
bool InitOpenGL(HWND window);

// After a size change: the viewport becomes the client area of `window` and
// the projection 45 degrees at its aspect, near 15, far 1000; the modelview
// matrix is left selected. Nothing before the context exists.
void FollowClientSize(HWND window);

// Undoes a partly made context: true only when both making current and
// deleting the stored context succeed. Clears the stored handles.
bool ReleaseOpenGL();
