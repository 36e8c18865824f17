// Replacing the model or the texture during the run, through the scene
// set-up's own LoadModelIntoScene, which builds everything aside and swaps
// it in only when the model can be drawn. A texture is decoded once first,
// so a file no reader decodes never leaves the model untextured.
#include "render/scene_reload.h"

#include "render/camera.h"
#include "render/render_state.h"
#include "render/scene_setup.h"
#include "texture/texture_loader.h"

bool ReplaceModel(const std::string& path, bool keepView, std::string* why) {
  SceneRequest request = RequestedScene;
  request.modelPath = path;
  why->clear();
  if (LoadModelIntoScene(request, why) != SetupResult::kReady) {
    if (why->empty()) *why = path + ": cannot be used";
    *why += "; keeping the current model";
    return false;
  }
  RequestedScene.modelPath = path;
  if (!keepView) PlaceStartView();
  return true;
}

bool ReplaceTexture(const std::string& path, std::string* why) {
  const TextureImage image = LoadTexture(path.c_str());
  if (image.pixels == nullptr) {
    const std::string note = DescribeTextureLoad(path.c_str(), image);
    *why = (note.empty() ? path + ": no pixels" : note) + "; keeping the current texture";
    return false;
  }
  SceneRequest request = RequestedScene;
  request.texturePath = path;
  request.textureGiven = true;  // as --texture: it overrides the model's materials
  why->clear();
  if (LoadModelIntoScene(request, why) != SetupResult::kReady) {
    // The model file changed under us and cannot be read now: keep all.
    *why += "; keeping the current texture";
    return false;
  }
  RequestedScene.texturePath = path;
  RequestedScene.textureGiven = true;
  return true;
}
