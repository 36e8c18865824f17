// What the program is asked to show and how: the scene's files and framing,
// the shadows, the truth view and the volume view. The command line fills it
// (app/), the program hands it to the renderer's state at start; the
// platform layer never sees it.
#pragma once

#include <string>

// How shadows are drawn: the blended volumes of the original design, volumes
// counted in the stencil buffer, ray-traced, or none.
enum class ShadowMode { kBlend, kExact, kOff, kTraced };

// The largest radius of a round light, model units: --light-size and the +
// key stop there.
constexpr float kMaxLightSize = 20.0f;

struct SceneSettings {
  // Empty paths mean the renderer's own defaults (kModelFileName,
  // kTextureFileName).
  std::string modelPath;    // --model FILE
  std::string texturePath;  // --texture FILE
  bool fit = false;         // --fit
  bool stage = false;       // --stage
  bool watch = false;       // --watch: reload the model and texture when they change
  ShadowMode shadows = ShadowMode::kBlend;  // --shadows blend|exact|traced|off
  bool truth = false;                       // --truth
  bool showVolumes = false;                 // --show-volumes
  int animation = 0;                        // --animation N: a moving model's clip, from 0
  double time = 0;                          // --time SECONDS into it
  bool paused = false;                      // --paused
  float lightSize = 0;                      // --light-size R: the light a disc of radius R
};
