// A model that moves, played in the scene: the loaded scene keeps one
// AnimationPlayer (model/animation.h), posed at the requested clip and time
// before the merge, so --fit and --stage frame that start pose. Each frame
// the player advances by the program's clock (timeGetTime: under a virtual
// clock frame k shows the start time plus k - 1 steps), and when the pose
// changes its positions go into the merged mesh in place (fitted as the
// start pose was), the face and vertex normals are recomputed in place and
// the exact volume and the tracer take the new positions; the blend mode's
// silhouette walk reads the mesh's vertices itself. Topology stays as built. Nothing is
// allocated per frame after the first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/animation.h"
#include "model/merge.h"
#include "model/scene.h"
#include "platform/win32.h"

struct SceneGlobals;
struct SceneRequest;

struct SceneAnimation {
  std::shared_ptr<const Rig> rig;          // the scene's; kept alive with the player
  std::unique_ptr<AnimationPlayer> player;
  std::vector<int32_t> meshStart;          // per rig mesh: its first vertex in the merged mesh, -1 when left out
  MeshFit fit;                             // --fit's transform of the start pose (identity without --fit)
  std::vector<int32_t> counters;           // scratch for the vertex normals
  // The time shown is baseSeconds + playedMs / 1000, looped by the player:
  // counted in whole milliseconds, so a run of clock steps lands exactly
  // where --time would put it.
  double baseSeconds = 0;                  // --time, then the steps; 0 at a new clip
  uint64_t playedMs = 0;                   // milliseconds played since
  bool clockStarted = false;
  DWORD lastTime = 0;                      // timeGetTime() at the last frame
  int posedClip = -1;                      // what the merged mesh shows now
  double posedTicks = -1;
};

// For a scene whose rig has a clip: a new animation at clip
// request.animation (modulo the clip count) and time request.time, paused
// when request.paused, with the scene's objects posed there. Null otherwise.
SceneAnimation* StartAnimation(Scene* scene, const SceneRequest& request);

// Records where the rig's objects landed in `mesh`, the merge of `scene`,
// and --fit's transform.
void PlaceAnimation(SceneAnimation* animation, const Scene& scene, const MeshObject& mesh,
                    const MeshFit& fit);

// Per vertex of `mesh`: a group number shared only by vertices that always
// move together (the same rig mesh and the same bone weights; 0 for those
// that never move), for the exact volume's adjacency.
std::vector<int32_t> MoveGroups(const SceneAnimation& animation, const MeshObject& mesh);

// Advances the clock and, when the pose changed, moves `scene`'s mesh and
// updates its normals and exact volume. Nothing without an animation.
void AnimateScene(SceneGlobals* scene);

// The keys' actions on the scene's animation; nothing without one.
void ToggleAnimationPause();
void SelectNextClip(int step);            // +1 next, -1 previous, each at time 0
void StepAnimation(double seconds);       // only while paused

// "clip 1/3 \"Walk\"  0.52 / 2.00 s  paused" for the help overlay; "" without an animation.
std::string AnimationStatus();
