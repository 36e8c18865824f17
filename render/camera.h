// The camera and the light's motion. The camera is the OpenGL modelview
// matrix itself: translations and rotations are multiplied onto it along the
// viewer's own axes, and CameraPivot remembers where the eye is so rotations
// turn about the eye, not the model's origin. The light is a point in model
// coordinates moved along the viewer's current screen axes. Motion is per
// frame (1 unit, 1 degree, 2 units), never scaled by elapsed time.
// Every call needs a current OpenGL context except EyeDirectionToModel,
// EyePosition and EyeElevation. CameraPivot and LightPosition are declared
// in render_state.h.
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

// ---- The viewer's camera: orbit, pan and zoom about the orbit centre ----
// The orbit centre is the model origin, the point the start view looks at.
// Every operation takes an explicit amount, keeps CameraPivot the negated
// eye, and leaves the modelview matrix selected.

// Where scene set-up and the reset key put the camera and the light: the
// modelview becomes a step of 200 units back from the identity (the eye at
// (0, 0, 200) looking towards -z) and the light returns to kStartLight.
constexpr Vec3 kStartLight = {20.0f, 20.0f, 70.0f};
void PlaceStartView();

// The eye's elevation above the horizontal plane through the orbit centre,
// degrees in [-90, 90]; 0 when the eye is at the centre.
float EyeElevation();

// Orbits the camera about the orbit centre: `yaw` degrees about the model's
// vertical (y) axis, positive moving the eye counter-clockwise seen from
// above, then `pitch` degrees about the horizontal axis across the line of
// sight, positive raising the eye. The elevation stops at kMaxElevation (or
// where it already was, if beyond, so the eye only ever moves back towards
// the horizon); with the eye straight above or below the centre, or at it,
// the pitch does nothing. Non-finite amounts do nothing.
constexpr float kMaxElevation = 89.0f;  // degrees
void OrbitCamera(float yaw, float pitch);

// Pans in the view plane by a cursor motion of (dx, dy) pixels (x right, y
// down) in a client area `clientHeight` pixels tall: the scene point at the
// orbit centre's depth under the cursor stays under it. The depth is taken
// as at least the near plane's 15 units (a centre behind or at the eye) and
// at most kMaxOrbitDistance. The
// pixel size comes from the current projection matrix; nothing happens
// without a perspective one or for a client without height.
void PanCamera(float dx, float dy, int clientHeight);

// Moves the eye along the line to the orbit centre: each of `notches`
// (positive: nearer) takes 10% of the distance off, each negative one adds
// 10%. The distance stays within [kMinOrbitDistance, kMaxOrbitDistance] (or
// moves back towards it when the keys took it outside), so the eye never
// reaches or passes the centre; an eye at the centre stays.
constexpr float kMinOrbitDistance = 1.0f;       // model units
constexpr float kMaxOrbitDistance = 100000.0f;  // model units
void ZoomCamera(float notches);
