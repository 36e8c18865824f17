// What the shadow tests share around the ray caster's truth: the view they
// capture, headless runs of a scene, and the bands left out around edges.
#pragma once

#include <string>
#include <vector>

#include "demo_run.h"
#include "ray_caster.h"
#include "tests/support/png_reader.h"
#include "truth_scenes.h"

constexpr int kWidth = 320, kHeight = 240;
constexpr int kBand = 3;  // pixels left out around every edge
const Vec3 kLight = {20.0f, 20.0f, 70.0f};

// The mean of a pixel's three channels, rounded.
int Grey(const RgbImage& image, int x, int y);

// A headless run of scene `c` in `mode` capturing its last frame as
// NAME.png, NAME being the mode and any extra arguments; standard output
// lands in *out when given. The run must end with exit code 0 and write no
// line but the titles on standard error.
RgbImage Capture(const std::string& folder, const SceneCase& c, const std::string& mode,
                 const std::vector<std::string>& extra = {}, std::string* out = nullptr);

// Per pixel of the truth (kWidth x kHeight, top row first): 1 within kBand
// pixels of a shadow edge (TruthPixel::shadowed), an object edge or the
// light marker's outline.
std::vector<char> EdgeBands(const RayCaster& caster, const std::vector<TruthPixel>& truth);
