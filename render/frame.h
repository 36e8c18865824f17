// One frame of the demo: seven passes over one colour and one depth buffer
// (depth only, two shadow passes, lit, ambient, textured, light marker), the
// buffer swap, then the frame-rate title and the held-key motion, which shows
// from the next frame on. A visible mesh pixel ends as
// texel x min(1, S x lit + 0.12), S = 0.52 in a shadow and 1 elsewhere.
#pragma once

#include "platform/win32.h"

// The frame's fixed values.
constexpr float kLightRadius = 210.0f;     // model units
constexpr float kLightColour = 0.7f;       // red = green = blue
constexpr float kAmbientQuadGrey = 0.12f;  // added to every pixel
constexpr float kMarkerHalfSize = 5.0f;    // model units

// Draws and presents one frame in `window` from what SetupScene made, then
// applies one step of motion for every held key. Without a scene (set-up
// failed) it only clears and presents.
void RenderFrame(HWND window);
