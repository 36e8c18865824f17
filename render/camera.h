// The camera and the light's motion. The camera is the OpenGL modelview
// matrix itself: translations and rotations are multiplied onto it along the
// viewer's own axes, and CameraPivot remembers where the eye is so rotations
// turn about the eye, not the model's origin. The light is a point in model
// coordinates moved along the viewer's current screen axes. Motion is per
// frame (1 unit, 1 degree, 2 units), never scaled by elapsed time.
// Every call needs a current OpenGL context except EyeDirectionToModel and
// EyePosition. CameraPivot and LightPosition are declared in render_state.h.
#pragma once

#include "model/scene.h"
#include "render/render_state.h"

// Turns a direction given in eye coordinates into model coordinates with the
// transpose of the rotation block of the column-major modelview matrix m.
// The translation column is ignored.
Vec3 EyeDirectionToModel(const float m[16], Vec3 d);

// The eye's position in model coordinates: the negated CameraPivot.
Vec3 EyePosition();

// Moves the view by the eye-space step (dx, dy, dz) and records the step in
// CameraPivot; +1 along z brings the scene 1 unit nearer.
void TranslateCamera(float dx, float dy, float dz);

// Turn the view by `angle` degrees about the eye-space x, y or z axis through
// the eye; the eye keeps its place. Positive turns the scene counter-clockwise
// seen from the axis's positive end.
void RotateCameraX(float angle);
void RotateCameraY(float angle);
void RotateCameraZ(float angle);
