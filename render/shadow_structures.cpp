// What is built fails whole: a half-built structure is released before the
// failure is reported, so the scene holds either a usable one or none.
#include "render/shadow_structures.h"

#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "render/scene_animation.h"
#include "shadow/edges.h"
#include "shadow/exact_volume.h"
#include "shadow/shadow_volume.h"
#include "trace/shadow_tracer.h"

namespace {

// Extruded silhouette points lie this many times as far from the light as
// the points they come from: far beyond the far plane at 1000.
constexpr float kSceneExtrusion = 3000.0f;

}  // namespace

ShadowVolume* BlendVolumeOf(SceneGlobals& scene, const std::string& modelPath) {
  if (scene.shadowVolume != nullptr || scene.blendUnavailable || scene.mesh == nullptr)
    return scene.shadowVolume;
  MeshObject* mesh = scene.mesh;
  try {
    auto volume = std::make_unique<ShadowVolume>();
    // A model that moves pairs only faces whose shared edge moves as one;
    // the silhouette walk then reads the posed vertices each frame.
    const std::vector<int32_t> groups = scene.animation != nullptr
                                            ? MoveGroups(*scene.animation, *mesh)
                                            : std::vector<int32_t>();
    BuildEdgeList(mesh, groups.empty() ? nullptr : groups.data());
    volume->BindVertexArray(mesh->vertices, mesh->vertexCount, sizeof(Vec3), 0);
    volume->BindEdgeArray(mesh->edges, mesh->edgeCount, sizeof(EdgeRecord), 0);
    volume->SetExtrusion(kSceneExtrusion);
    scene.shadowVolume = volume.release();
  } catch (const std::bad_alloc&) {
    scene.blendUnavailable = true;
    std::fprintf(stderr,
                 "%s: not enough memory for the blended shadows' edge list; drawing no shadows\n",
                 modelPath.c_str());
  }
  return scene.shadowVolume;
}

ExactShadowVolume* ExactVolumeOf(SceneGlobals& scene, const std::string& modelPath) {
  if (scene.exactVolume != nullptr || scene.exactUnavailable || scene.mesh == nullptr)
    return scene.exactVolume;
  const MeshObject& mesh = *scene.mesh;
  try {
    auto volume = std::make_unique<ExactShadowVolume>();
    // A model that moves merges only vertices that move together.
    const std::vector<int32_t> groups = scene.animation != nullptr
                                            ? MoveGroups(*scene.animation, mesh)
                                            : std::vector<int32_t>();
    volume->Build(mesh.vertices, mesh.vertexCount, mesh.faces, mesh.faceCount,
                  groups.empty() ? nullptr : groups.data());
    scene.exactVolume = volume.release();
  } catch (const std::bad_alloc&) {
    scene.exactUnavailable = true;
    std::fprintf(stderr,
                 "%s: not enough memory for the exact shadow volume of %d faces; drawing "
                 "blended shadows\n",
                 modelPath.c_str(), mesh.faceCount);
  } catch (const std::length_error& error) {
    scene.exactUnavailable = true;
    std::fprintf(stderr, "%s: no exact shadow volume for %d faces (%s); drawing blended shadows\n",
                 modelPath.c_str(), mesh.faceCount, error.what());
  }
  return scene.exactVolume;
}

ShadowTracer* TracerOf(SceneGlobals& scene, const std::string& modelPath) {
  if (scene.tracer != nullptr || scene.tracerUnavailable || scene.mesh == nullptr ||
      !Shadows.traceAvailable)
    return scene.tracer;
  const MeshObject& mesh = *scene.mesh;
  try {
    auto tracer = std::make_unique<ShadowTracer>(mesh.vertices, mesh.vertexCount, mesh.faces,
                                                 mesh.faceCount);
    if (!tracer->Ready()) {
      scene.tracerUnavailable = true;
      std::fprintf(stderr, "%s: no traced shadows: %s\n", modelPath.c_str(),
                   tracer->Problem().c_str());
      return nullptr;
    }
    scene.tracer = tracer.release();
  } catch (const std::bad_alloc&) {
    scene.tracerUnavailable = true;
    std::fprintf(stderr, "%s: not enough memory to trace %d faces; drawing blended shadows\n",
                 modelPath.c_str(), mesh.faceCount);
  }
  return scene.tracer;
}
