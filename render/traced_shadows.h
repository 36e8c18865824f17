// The traced shadow mode's passes and the truth view. The face-id pass takes
// the depth pass's place: it stores the same depths and writes each face's
// number + 1 as its colour (a visibility buffer), which is read back and
// traced (trace/shadow_tracer.h) into a mask of the pixels the light does
// not reach; the colour is then white again, as after the depth pass. The
// traced shadow step writes the mask into the stencil buffer and darkens as
// exact mode does, so everything after it is shared. The truth view reads
// the drawn mode's own shadow from its buffers and, on the finished
// picture, overwrites the pixels where it disagrees with the trace: red
// where the mode darkens what the trace lights, blue where it leaves lit
// what the trace shadows. Pixels beyond the light's reach, whose lit colour
// is zero whatever the shadow, are left alone and not counted.
#pragma once

#include <cstdint>

#include "model/scene.h"
#include "render/render_state.h"

class ShadowTracer;

// In place of the depth pass: depths and face ids, read back and traced
// into Traced.mask for a light at `light` under the current matrices and
// viewport; the colour buffer ends white. The buffers follow the client
// size `width` x `height`.
void FaceIdPass(const MeshObject& mesh, ShadowTracer& tracer, Vec3 light, int width, int height);

// FaceIdPass's two halves: the ids drawn and read back into Traced.faceIds
// (the colour left white), then traced into Traced.mask.
void DrawFaceIds(const MeshObject& mesh, int width, int height);
void TraceFaceIds(ShadowTracer& tracer, Vec3 light, int width, int height);

// The traced shadow step: Traced.mask's shadowed pixels into the stencil
// buffer, then kShadowGrey where it is set (DarkenWhereStencilled). Leaves
// the stencil test off.
void TracedShadowPass(int width, int height);

// TracedShadowPass's first half: the stencil cleared and the mask's shadow
// bit written into it.
void WriteMaskToStencil(int width, int height);

// The drawn mode's own shadow into Traced.modeShadow: after the blended
// passes, the pixels closer to the shadow grey than to white; after the
// counting pass, the stencil count not zero within `scissor` (null: the
// pass did not run, nothing is shadowed); in traced mode the trace itself;
// with shadows off, nothing.
void ReadBlendShadow(int width, int height);
void ReadStencilShadow(int width, int height, const int* scissor);
void TakeTracedShadow(int width, int height);
void TakeNoShadow(int width, int height);

// Compares Traced.modeShadow with Traced.mask, overwrites the disagreeing
// pixels of the finished picture and returns the count for `mode`.
TruthCount DrawTruthMarks(ShadowMode mode, int width, int height);

// The share of counted pixels the mode gets right, percent; 100 when no
// pixel is counted.
double TruthPercent(const TruthCount& count);

// Images between OpenGL and the processor, in window coordinates, rows
// bottom first and tightly packed, one byte per component of `format` (an
// OpenGL pixel format). DrawClientPixels draws `pixels` over the client
// area from its lower left corner with the state in effect (matrices and
// packing put back after); ReadClientRect reads a rectangle of the frame.
// The page draws only GL_LUMINANCE and GL_RGBA images (texturing left off,
// the scene's texture bound after) and reads only GL_RGBA and GL_RED.
void DrawClientPixels(int width, int height, unsigned int format, const void* pixels);
void ReadClientRect(int x, int y, int width, int height, unsigned int format, uint8_t* out);

// "blend", "exact", "traced" or "off", as --shadows takes them.
const char* ShadowModeName(ShadowMode mode);
