// The scene's lifetime: releasing and swapping LoadedScene, and replacing
// the model or the texture during the run through the scene set-up's own
// LoadModelIntoScene, which builds everything aside and swaps
// it in only when the model can be drawn. A texture is decoded once first,
// so a file no reader decodes never leaves the model untextured.
#include "render/scene_reload.h"

#include <GL/gl.h>

#include <utility>

#include "render/camera.h"
#include "render/render_state.h"
#include "render/scene_animation.h"
#include "render/scene_setup.h"
#include "render/scene_textures.h"
#include "shadow/exact_volume.h"
#include "shadow/shadow_volume.h"
#include "texture/texture_loader.h"
#include "trace/shadow_tracer.h"

void ReleaseSceneGlobals(SceneGlobals* scene) {
  for (const MaterialLook& look : scene->materialLooks) {
    // Materials naming one file share one object: delete it once.
    GLuint texture = look.texture;
    if (texture != 0 && glIsTexture(texture)) glDeleteTextures(1, &texture);
  }
  delete scene->textureImage;
  FreeScene(scene->scene);
  FreeMeshObject(scene->mesh);
  delete scene->shadowVolume;
  delete scene->exactVolume;
  delete scene->animation;
  delete scene->tracer;
  *scene = SceneGlobals();
}

void ReplaceLoadedScene(SceneGlobals* loaded) {
  // The default texture keeps the last image defined for it: an empty one
  // makes it incomplete again, so the new model shows untextured.
  if (!loaded->textureUploaded && LoadedScene.textureUploaded)
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
  ReleaseSceneGlobals(&LoadedScene);
  LoadedScene = std::move(*loaded);  // moves never throw: nothing is owned twice
  *loaded = SceneGlobals();
  static uint64_t generations = 0;
  LoadedScene.generation = ++generations;
}

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

SceneFiles FilesOfScene() {
  SceneFiles files;
  files.model.push_back(RequestedScene.modelPath);
  for (const std::string& path : LoadedScene.modelFiles)
    if (path != RequestedScene.modelPath) files.model.push_back(path);
  if (LoadedScene.materialLooks.empty()) {
    files.textures.push_back(RequestedScene.texturePath);
  } else {
    for (const MaterialTextureFile& file : LoadedScene.textureFiles)
      files.textures.push_back(file.file.path);
  }
  return files;
}

bool ReloadTextureFile(const std::string& path, std::string* why) {
  for (size_t i = 0; i < LoadedScene.textureFiles.size(); ++i)
    if (LoadedScene.textureFiles[i].file.path == path && !LoadedScene.materialLooks.empty())
      return ReloadMaterialTexture(&LoadedScene, i, why);
  if (path != RequestedScene.texturePath || !LoadedScene.materialLooks.empty()) {
    *why = path + ": not a texture of the scene; nothing reloaded";
    return false;
  }
  TextureImage* image = new TextureImage(LoadTexture(path.c_str()));
  if (image->pixels == nullptr) {
    const std::string note = DescribeTextureLoad(path.c_str(), *image);
    *why = (note.empty() ? path + ": no pixels" : note) + "; keeping the current texture";
    delete image;
    return false;
  }
  glBindTexture(GL_TEXTURE_2D, GlContext.sceneTexture);
  if (!UploadTexture(*image, path)) {
    *why = path + ": keeping the current texture";  // the upload said why
    delete image;
    return false;
  }
  delete LoadedScene.textureImage;
  LoadedScene.textureImage = image;
  LoadedScene.textureUploaded = true;
  return true;
}
