// The shadow tests' scenes: a finely tessellated wall (or a coarse one)
// behind casters of awkward shapes, each face numbered by the surface it
// belongs to, so a test can leave out the pixels near a surface's edge; and
// how each is viewed (the eye on the z axis, moved by a key script).
#pragma once

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/test_meshes.h"

// A test model with a surface number per face for the edge bands.
struct TruthScene {
  TestMesh mesh;
  std::vector<int> surfaces;

  // Adds what `add` puts into the mesh as the next surface, winding every
  // `flipEvery`th added face (from the first) the other way; 0 flips none.
  template <typename Add>
  TruthScene& Part(Add&& add, int flipEvery = 0) {
    const size_t first = mesh.faces.size();
    const int surface = surfaces.empty() ? 0 : surfaces.back() + 1;
    add(mesh);
    for (size_t f = first; f < mesh.faces.size(); ++f) {
      if (flipEvery > 0 && (f - first) % flipEvery == 0)
        std::swap(mesh.faces[f].index1, mesh.faces[f].index2);
      surfaces.push_back(surface);
    }
    return *this;
  }
};

struct SceneCase {
  const char* name;
  TruthScene (*build)();
  std::string keys;     // --keys script, "" for none
  int frame;            // the frame captured (and the last one)
  float eyeZ;           // where the eye stands in that frame
  double blendPercent;  // the blend mode's agreement today
};

inline void PrintTo(const SceneCase& c, std::ostream* out) {
  *out << c.name;
}

// Every scene, with the blend mode's agreement with the ray caster today.
extern const std::vector<SceneCase> kTruthScenes;

// The scene of kTruthScenes called `name` (which must be there).
const SceneCase& TruthSceneNamed(const std::string& name);

// A white 4 x 4 texture and the scene's model, written into `folder` as the
// demo's default files; false when either cannot be written.
bool WriteTruthScene(const std::string& folder, const TruthScene& scene);
