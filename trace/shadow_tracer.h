// Ray-traced shadows: the one module that talks to Embree. A ShadowTracer
// holds one Embree scene over a mesh's triangles, built once and refitted
// when the positions move, and turns a face-id image (which face each pixel
// shows, as the renderer's visibility pass wrote it) into a shadow mask:
// for every pixel, the eye ray through its centre meets that face's plane,
// and one occlusion ray from there to the light says whether anything lies
// between. A face turned away from the light is in shadow without a ray.
// The rays run in packets of 16 on a few threads over rows, which live for
// the process, as does the one Embree device; no Embree type leaves the
// implementation. A build without Embree (the web page) has a stand-in whose
// TracingAvailable() is false and whose tracers are never Ready().
#pragma once

#include <cstdint>
#include <string>

#include "model/scene.h"

// Whether this build can trace at all.
bool TracingAvailable();

// What one pixel of a shadow mask says (bits).
constexpr uint8_t kTraceShadowed = 1;   // the light does not reach the point
constexpr uint8_t kTraceUnreached = 2;  // the point lies beyond the light's reach

// The largest face count a face-id image can name: ids are face + 1 in 24
// bits, and the all-ones value (a white clear colour) means no face.
constexpr int32_t kMaxTracedFaces = 0xFFFFFE;

// The camera and light a face-id image was drawn with.
struct TraceView {
  int width = 0;              // pixels of the image, rows bottom first
  int height = 0;
  int viewport[4] = {0, 0, 0, 0};  // x, y, width, height, as glViewport took them
  float projection[16] = {};  // column-major perspective projection
  float modelview[16] = {};   // column-major, model to eye coordinates
  Vec3 light = {0, 0, 0};     // point light, model coordinates
  float reach = 0;            // beyond this distance from the light nothing is lit
};

class ShadowTracer {
 public:
  // Builds the scene over the mesh's triangles. Faces naming a vertex
  // outside [0, vertexCount) or with a non-finite corner are left out (they
  // cast nothing; a pixel showing one is lit). The arrays are copied.
  ShadowTracer(const Vec3* vertices, int32_t vertexCount, const Face* faces, int32_t faceCount);
  ~ShadowTracer();
  ShadowTracer(const ShadowTracer&) = delete;
  ShadowTracer& operator=(const ShadowTracer&) = delete;

  // Whether the scene was built; otherwise Problem() says why in one line.
  bool Ready() const;
  const std::string& Problem() const;

  // The mesh's vertices moved (same count and faces as at construction):
  // refits the scene to them. Faces whose corners turn non-finite drop out,
  // and come back when they are finite again (rebuilding the geometry); a
  // refit with the same faces allocates nothing after the first.
  void UpdatePositions(const Vec3* vertices);

  // Fills `mask` (width x height bytes, rows bottom first) from `faceIds`
  // (width x height RGBA pixels, rows bottom first, face + 1 in red, green
  // and blue, low byte first; 0 or beyond the face count: no face). A pixel
  // without a face is lit. Nothing is allocated after the first call.
  void Trace(const TraceView& view, const uint8_t* faceIds, uint8_t* mask);

 private:
  struct State;
  State* state_;
};
