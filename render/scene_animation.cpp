// The scene's animation: posing before the merge, the per-frame update of
// the merged mesh and its derived arrays, and the keys' actions.
#include "render/scene_animation.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "render/render_state.h"
#include "shadow/exact_volume.h"
#include "shadow/normals.h"
#include "trace/shadow_tracer.h"

SceneAnimation* StartAnimation(Scene* scene, const SceneRequest& request) {
  if (scene == nullptr || scene->rig == nullptr || !HasAnimation(*scene->rig)) return nullptr;
  auto animation = std::make_unique<SceneAnimation>();
  animation->rig = scene->rig;
  animation->player = std::make_unique<AnimationPlayer>(*animation->rig);
  AnimationPlayer& player = *animation->player;
  player.SelectClip(request.animation);
  animation->baseSeconds = request.time;
  player.SetTimeSeconds(request.time);
  player.SetPaused(request.paused);
  player.Pose();
  ApplyPose(player, *animation->rig, scene);
  animation->posedClip = player.Clip();
  animation->posedTicks = player.TimeTicks();
  return animation.release();
}

void PlaceAnimation(SceneAnimation* animation, const Scene& scene, const MeshObject& mesh,
                    const MeshFit& fit) {
  if (animation == nullptr) return;
  // The merge takes the drawable objects in order, one after another.
  std::vector<int32_t> objectStart(static_cast<size_t>(scene.objectCount), -1);
  int32_t next = 0;
  for (int i = 0; i < scene.objectCount; ++i) {
    if (!WhyNotDrawable(*scene.objects[i]).empty()) continue;
    objectStart[i] = next;
    next += scene.objects[i]->vertexCount;
  }
  animation->meshStart.clear();
  for (const RigMesh& rigMesh : animation->rig->meshes)
    animation->meshStart.push_back(next <= mesh.vertexCount ? objectStart[rigMesh.object] : -1);
  animation->fit = fit;
}

std::vector<int32_t> MoveGroups(const SceneAnimation& animation, const MeshObject& mesh) {
  std::vector<int32_t> groups(static_cast<size_t>(mesh.vertexCount), 0);
  std::map<std::pair<size_t, std::vector<std::pair<int32_t, float>>>, int32_t> ids;
  std::vector<std::pair<int32_t, float>> weights;
  for (size_t m = 0; m < animation.meshStart.size(); ++m) {
    const int32_t start = animation.meshStart[m];
    if (start < 0) continue;
    const RigMesh& rigMesh = animation.rig->meshes[m];
    const size_t count = rigMesh.bindPositions.size();
    for (size_t v = 0; v < count; ++v) {
      weights.clear();
      if (!rigMesh.bones.empty())
        for (uint32_t k = rigMesh.influenceStart[v]; k < rigMesh.influenceStart[v + 1]; ++k)
          weights.emplace_back(rigMesh.influences[k].bone, rigMesh.influences[k].weight);
      std::sort(weights.begin(), weights.end());
      const auto found = ids.emplace(std::make_pair(m, weights), static_cast<int32_t>(ids.size()) + 1);
      groups[start + v] = found.first->second;
    }
  }
  return groups;
}

void AnimateScene(SceneGlobals* scene) {
  SceneAnimation* animation = scene->animation;
  if (animation == nullptr || scene->mesh == nullptr) return;
  AnimationPlayer& player = *animation->player;
  const DWORD now = timeGetTime();
  if (animation->clockStarted && !player.Paused())
    animation->playedMs += static_cast<DWORD>(now - animation->lastTime);  // modulo 2^32
  animation->clockStarted = true;
  animation->lastTime = now;
  player.SetTimeSeconds(animation->baseSeconds + static_cast<double>(animation->playedMs) / 1000.0);
  if (player.Clip() == animation->posedClip && player.TimeTicks() == animation->posedTicks) return;
  player.Pose();
  animation->posedClip = player.Clip();
  animation->posedTicks = player.TimeTicks();
  ++scene->poseCount;
  MeshObject& mesh = *scene->mesh;
  for (size_t m = 0; m < animation->meshStart.size(); ++m) {
    const int32_t start = animation->meshStart[m];
    if (start < 0) continue;
    const std::vector<Vec3>& positions = player.Positions(m);
    for (size_t v = 0; v < positions.size(); ++v)
      mesh.vertices[start + v] = animation->fit.Apply(positions[v]);
  }
  // Sized once, for the mesh with its stage.
  if (animation->counters.size() != static_cast<size_t>(mesh.vertexCount))
    animation->counters.assign(static_cast<size_t>(mesh.vertexCount), 0);
  RecomputeFaceNormals(&mesh);
  RecomputeVertexNormals(&mesh, animation->counters.data());
  if (scene->exactVolume != nullptr)
    scene->exactVolume->UpdatePositions(mesh.vertices, mesh.vertexCount);
  if (scene->tracer != nullptr) scene->tracer->UpdatePositions(mesh.vertices);
}

void ToggleAnimationPause() {
  if (SceneAnimation* animation = LoadedScene.animation)
    animation->player->SetPaused(!animation->player->Paused());
}

void SelectNextClip(int step) {
  if (SceneAnimation* animation = LoadedScene.animation) {
    animation->player->SelectClip(animation->player->Clip() + step);
    animation->baseSeconds = 0;
    animation->playedMs = 0;
  }
}

void StepAnimation(double seconds) {
  SceneAnimation* animation = LoadedScene.animation;
  if (animation != nullptr && animation->player->Paused()) animation->baseSeconds += seconds;
}

std::string AnimationStatus() {
  const SceneAnimation* animation = LoadedScene.animation;
  if (animation == nullptr) return std::string();
  const AnimationPlayer& player = *animation->player;
  const AnimClip& clip = animation->rig->clips[player.Clip()];
  char text[160];
  std::snprintf(text, sizeof text, "clip %d/%d \"%.60s\"  %.2f / %.2f s%s", player.Clip() + 1,
                player.ClipCount(), clip.name.c_str(), player.TimeSeconds(),
                clip.duration / clip.ticksPerSecond, player.Paused() ? "  paused" : "");
  return text;
}
