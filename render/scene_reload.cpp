// Replacing the model or the texture during the run. Everything is read and
// built aside first; only a complete result is swapped into LoadedScene,
// and what it replaces is released.
#include "render/scene_reload.h"

#include <cstdio>
#include <vector>

#include "model/load3ds.h"
#include "model/merge.h"
#include "render/camera.h"
#include "render/render_state.h"
#include "render/texture_upload.h"
#include "shadow/edges.h"
#include "shadow/normals.h"
#include "shadow/shadow_volume.h"
#include "texture/texture_loader.h"

namespace {

constexpr float kReloadExtrusion = 3000.0f;  // as at set-up: far beyond the far plane

// Why the model at `path` read as `scene` (null: not read) cannot replace the
// current one, or "" when it can.
std::string WhyNotUsable(const std::string& path, const Scene* scene, int openError,
                         FileFailure failure) {
  if (scene == nullptr) {
    if (failure != FileFailure::kNone)
      return path + ": " + DescribeFileFailure(failure, openError, kModelFileLimits);
    return path + ": not a 3DS file (it does not start with the main chunk 4D 4D)";
  }
  // A save still being written looks cut off: the last good model stays.
  const std::string cutOff = DescribeCutOff(*scene);
  if (!cutOff.empty()) return path + ": " + cutOff;
  if (scene->objectCount < 1) return path + ": the file holds no mesh object";
  return "";
}

}  // namespace

bool ReplaceModel(const std::string& path, bool keepView, std::string* why) {
  int openError = 0;
  FileFailure failure = FileFailure::kNone;
  Scene* scene = Load3dsScene(path.c_str(), true, &openError, &failure);
  *why = WhyNotUsable(path, scene, openError, failure);
  std::vector<LeftOutObject> leftOut;
  MeshObject* mesh = why->empty() ? MergeMeshObjects(*scene, &leftOut) : nullptr;
  if (why->empty() && mesh == nullptr)
    *why = path + ": nothing to draw: none of its " + std::to_string(scene->objectCount) +
           " mesh objects can be drawn";
  if (!why->empty()) {
    *why += "; keeping the current model";
    FreeScene(scene);
    return false;
  }
  for (const LeftOutObject& object : leftOut)
    std::fprintf(stderr, "%s: object %d %s is left out: %s\n", path.c_str(), object.index,
                 object.name.c_str(), object.reason.c_str());
  if (RequestedScene.fit) FitMesh(mesh, kFitHalfExtent);
  ComputeFaceNormals(mesh);
  ComputeVertexNormals(mesh);
  BuildEdgeList(mesh);
  auto* volume = new ShadowVolume();
  volume->BindVertexArray(mesh->vertices, mesh->vertexCount, sizeof(Vec3), 0);
  volume->BindEdgeArray(mesh->edges, mesh->edgeCount, sizeof(EdgeRecord), 0);
  volume->SetExtrusion(kReloadExtrusion);

  delete LoadedScene.shadowVolume;
  FreeMeshObject(LoadedScene.mesh);
  FreeScene(LoadedScene.scene);
  LoadedScene.scene = scene;
  LoadedScene.mesh = mesh;
  LoadedScene.shadowVolume = volume;
  RequestedScene.modelPath = path;
  if (!keepView) PlaceStartView();
  return true;
}

bool ReplaceTexture(const std::string& path, std::string* why) {
  auto* image = new TextureImage(LoadTexture(path.c_str()));
  const std::string note = DescribeTextureLoad(path.c_str(), *image);
  if (image->pixels == nullptr) {
    *why = (note.empty() ? path + ": no pixels" : note) + "; keeping the current texture";
    delete image;
    return false;
  }
  if (!note.empty()) std::fprintf(stderr, "%s\n", note.c_str());
  if (!UploadTexture(*image, path)) {
    *why = path + ": OpenGL refused the texture; keeping the current one";
    delete image;
    // The refused upload left the texture incomplete: put the old one back.
    if (LoadedScene.textureImage != nullptr && LoadedScene.textureUploaded)
      UploadTexture(*LoadedScene.textureImage, RequestedScene.texturePath);
    return false;
  }
  delete LoadedScene.textureImage;
  LoadedScene.textureImage = image;
  LoadedScene.textureUploaded = true;
  RequestedScene.texturePath = path;
  return true;
}
