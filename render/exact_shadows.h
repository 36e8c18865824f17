// The exact shadow mode's passes and the volume view. The counting pass
// takes the place of the two blended shadow passes: it counts the volumes
// in front of every visible point in the stencil buffer (z-fail, so an eye
// inside a volume or a volume cut by the near plane is counted right) and
// then writes kShadowGrey into the colour buffer where the count is not
// zero, which is what the blended passes leave in a shadowed pixel. The
// passes after it are shared by both modes.
#pragma once

#include "model/scene.h"
#include "shadow/exact_volume.h"
#include "shadow/shadow_volume.h"

// What the context offers the counting pass; read once after it is made.
struct StencilSupport {
  int bits = 0;           // stencil bits of the frame buffer; 0: exact mode cannot run
  bool wrapping = false;  // GL_INCR_WRAP / GL_DECR_WRAP are there
  bool twoSided = false;  // glStencilOpSeparate is there (OpenGL 2.0)
  // A WebGL context (Emscripten's emulation of this OpenGL): its client-side
  // index arrays are read as 16-bit, so indexed volumes are sent one vertex
  // at a time instead.
  bool streamIndices = false;
};

// Queries the current context.
StencilSupport QueryStencilSupport();

// The projection in effect with its far plane moved to infinity, so the
// volumes' back caps are never clipped; near plane, field and aspect kept.
// `projection` is column-major as OpenGL returns it; the result replaces it.
void MakeFarPlaneInfinite(float projection[16]);

// The view's left, right, bottom, top and near planes in model coordinates
// under the column-major matrices given, as ExactShadowVolume::Update takes
// them (unit normals pointing into the view).
void ViewPlanes(const float projection[16], const float modelview[16], float planes[5][4]);

// The pixel rectangle (x, y, width, height, from the bottom left) that a
// sphere of `radius` about `centre` covers in a viewport of `width` x
// `height`, under the column-major matrices given; the whole viewport when
// the sphere reaches behind the near plane. False when it lies wholly
// outside the view.
bool SphereScreenRect(const float projection[16], const float modelview[16], Vec3 centre,
                      float radius, int width, int height, int rect[4]);

// The counting pass over `volume` (already updated for the frame), limited
// to `scissor`, ending with kShadowGrey written where the count is not zero;
// `wrapping`: GL_INCR_WRAP and GL_DECR_WRAP may be used; with `twoSided`
// too, both faces are counted in one draw through glStencilOpSeparate;
// `streamIndices`: the triangles go vertex by vertex
// (StencilSupport::streamIndices).
// The depth buffer holds the frame's nearest surfaces; neither it nor the
// modelview changes. Leaves the stencil test off and the colour mask open.
void ExactShadowPass(const ExactShadowVolume& volume, bool wrapping, bool twoSided, bool streamIndices,
                     const int scissor[4], float clientWidth, float clientHeight);

// The counting alone: the stencil buffer holds, within `scissor`, the count
// of volumes in front of each visible point. Leaves the scissor and stencil
// tests on and colour writes off.
void CountShadowVolumes(const ExactShadowVolume& volume, bool wrapping, bool twoSided,
                        bool streamIndices, const int scissor[4]);

// Adds `red` (undithered) to the red channel of every pixel whose stencil
// value is not zero, within the scissor rectangle if one is on; the other
// channels are kept. Leaves the stencil test off and the depth test on.
void MarkWhereStencilled(float red, float clientWidth, float clientHeight);

// The darkening step shared by the stencil-based modes: writes kShadowGrey
// (times the destination alpha, 1) over every pixel of the client area whose
// stencil value is not zero, within the scissor rectangle if one is on.
// Leaves the stencil test off and the depth test on.
void DarkenWhereStencilled(float clientWidth, float clientHeight);

// Draws the volumes translucent over the finished picture: the exact
// volume's sides and caps, or the blend mode's two quad classes in two
// tints. Depth-tested against the scene, writes no depth.
void DrawExactVolumes(const ExactShadowVolume& volume, bool streamIndices);
void DrawBlendVolumes(const ShadowVolume& volume, Vec3 light, Vec3 eye);
