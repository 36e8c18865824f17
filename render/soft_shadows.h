// Soft shadows from a round light: a disc of radius R about the light's
// position, facing the origin (facing +z for a light at the origin). A
// visible point that sees the fraction v of the disc (only the part in front
// of its own face counts) is darkened to 1 - 0.48 x (1 - v): lit points keep
// their colour, hidden ones get kShadowGrey, the shade is linear between.
//
// The fraction is sampled at kSoftSampleCount fixed points of the disc, the
// same for every pixel: 16 rings of equal area times 16 sectors, one point
// at the middle of each cell, in an order whose every run of eight is spread
// over the whole disc. Each frame takes the next few samples (4 in a frame
// where something changed, else 8): exact mode
// counts the volumes of each sample point in the stencil buffer and adds
// one bit per sample to the colour buffer's red channel, traced mode shoots
// one ray per pixel and sample. The bits are read back and added per pixel
// to counts kept between frames (samples in front of the pixel's face, and
// of those the hidden ones), from which the shade image is made and drawn
// in place of the hard shadow step. Anything that changes the picture (the
// light, its size, the view, the window, the mode, the model or its pose)
// starts the counts again; while nothing changes, frames keep adding samples
// until all are in, and then only draw the finished image.
#pragma once

#include <cstdint>
#include <string>

#include "model/scene.h"
#include "render/render_state.h"

class ExactShadowVolume;
class ShadowTracer;

constexpr int kSoftSampleCount = 256;
constexpr int kSoftSamplesPerFrame = 8;  // one bit each in an 8-bit channel
// The samples of a frame that starts the counts again: while something
// moves, every frame does. So the last change's frame takes 4, the 31
// frames after it 8 each (252 in all), and the 32nd after it the last 4.
constexpr int kSoftSamplesOnChange = 4;

// Sample `k` (0 .. kSoftSampleCount - 1) of the disc of `radius` about
// `centre`.
Vec3 LightSample(Vec3 centre, float radius, int k);

// Two unit vectors spanning the disc's plane, at right angles to each other
// and to the direction from `centre` to the origin.
void LightDiscAxes(Vec3 centre, Vec3* u, Vec3* v);

// Whether this frame can draw soft shadows in `mode`: a round light, exact
// or traced mode (after any fallback), a context that can hold the bits, and
// a mesh whose faces fit the face ids.
bool SoftShadowsApply(ShadowMode mode, const MeshObject& mesh);

// Starts the frame's soft shadows under the current matrices and viewport:
// restarts the counts when what the picture depends on changed since the
// last frame. Returns how many samples this frame takes (0: the image is
// finished and only drawn). `poseStamp` changes whenever the mesh moves.
int BeginSoftFrame(ShadowMode mode, const MeshObject& mesh, uint64_t poseStamp, int width,
                   int height);

// The samples of exact mode: `volume` updated and counted for each sample
// point within the screen rectangle of the light's reach, the bits read
// back and added to the counts. Needs Traced.faceIds of this frame (the
// face-id pass) and the depth of the frame's surfaces; leaves the colour
// buffer white, the stencil test off, and `volume` updated for the
// light's centre when `forView` (the volume view shows it).
void TakeExactSoftSamples(const MeshObject& mesh, ExactShadowVolume& volume, int count, bool forView);

// The samples of traced mode: one trace per sample point from
// Traced.faceIds, added to the counts.
void TakeTracedSoftSamples(const MeshObject& mesh, ShadowTracer& tracer, int count);

// In place of the hard shadow step: the shade image over the client area.
// Leaves the depth test on and blending off.
void DrawSoftShadow(int width, int height);

// Says once, in one line, why a round light gives hard shadows in the frame
// about to be drawn in `mode` (blend mode, the truth view, a context without
// soft shadows); says nothing while soft shadows are drawn or R is 0.
void NoteHardShadowsOfRoundLight(ShadowMode mode, bool truth, bool soft);

// "radius 6, soft: 128 of 256 samples" for the help overlay; "a point (+
// gives it a size)" when R is 0.
std::string LightStatus();
