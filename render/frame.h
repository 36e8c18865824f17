// One frame of the demo: seven passes over one colour and one depth buffer
// (depth only, two shadow passes, lit, ambient, textured, light marker). A
// visible mesh pixel ends as texel x min(1, S x lit + 0.12), S = 0.52 in a
// shadow and 1 elsewhere. Traced shadows draw face ids in the depth pass
// and darken through the stencil instead of the shadow passes; the truth
// view's marks go over the finished frame (render/traced_shadows.h).
// Presenting the frame, and what follows the swap
// (frame-rate title, held-key motion), is the application's end-of-frame
// step, which runs right after RenderFrame.
#pragma once

#include "platform/win32.h"

// The frame's fixed values.
constexpr float kLightRadius = 210.0f;     // model units
constexpr float kLightColour = 0.7f;       // red = green = blue
constexpr float kAmbientQuadGrey = 0.12f;  // added to every pixel
constexpr float kMarkerHalfSize = 5.0f;    // model units

// Draws one frame into the back buffer of `window` from what SetupScene made,
// with the light and the eye as they stand now. Without a scene (set-up
// failed) it only clears. Nothing is presented here.
void RenderFrame(HWND window);
