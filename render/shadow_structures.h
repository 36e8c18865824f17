// Each shadow mode's structures for the scene's mesh, built when that mode is
// first drawn rather than at every load: a model shown with shadows off, or
// only ever blended, never pays for the other mode's. Built once per scene;
// a scene replaced by a new model starts without them again.
#pragma once

#include <string>

#include "render/render_state.h"

// The blend mode's silhouette volume over `scene`'s mesh (with the mesh's
// edge list), built on the first call. Null when it cannot be built (memory
// ran out): one line on standard error naming `modelPath` said so, once, and
// the frames are then drawn without shadows.
ShadowVolume* BlendVolumeOf(SceneGlobals& scene, const std::string& modelPath);

// The exact mode's volume over `scene`'s mesh, built on the first call. Null
// when it cannot be built (too many faces, memory ran out): one line on
// standard error naming `modelPath` said so, once, and the frames then draw
// blended shadows in its place.
ExactShadowVolume* ExactVolumeOf(SceneGlobals& scene, const std::string& modelPath);

// The traced mode's (and the truth view's) tracer over `scene`'s mesh, built
// on the first call. Null without Embree, or when it cannot be built: one
// line on standard error naming `modelPath` said so, once, and the frames
// then draw blended shadows in its place.
ShadowTracer* TracerOf(SceneGlobals& scene, const std::string& modelPath);
