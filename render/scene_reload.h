// The scene's lifetime after set-up: what LoadedScene holds is released and
// replaced as a whole, and the model or the texture is replaced while the
// program runs (a dropped file, --watch). A file that cannot be used never
// disturbs what is drawn.
#pragma once

#include <string>
#include <vector>

#include "render/render_state.h"

// Releases what `scene` holds (null pointers allowed; the material looks'
// texture objects too, once each) and leaves it empty. Needs the scene's
// OpenGL context current when it holds texture objects.
void ReleaseSceneGlobals(SceneGlobals* scene);

// Makes `loaded`, built aside, the scene every frame draws, taking what it
// holds and leaving it empty: what LoadedScene held is released, and when
// `loaded` has no texture of its own the default texture is emptied so the
// new model shows untextured.
void ReplaceLoadedScene(SceneGlobals* loaded);

// Reads `path` as the model (any format the program reads) and, when it can
// be drawn whole, puts it in place of the current one through
// LoadModelIntoScene: the merged mesh, its normals, edge lists and shadow
// volumes are made again, --fit and --stage apply as at start, the texture is
// read again, RequestedScene.modelPath becomes `path`, and the camera and the
// light go back to their start unless `keepView`. Anything short of that,
// including a file cut off inside a chunk, keeps the current model and
// returns false with the reason, one line naming the path, in `why`. Needs
// the scene set up.
bool ReplaceModel(const std::string& path, bool keepView, std::string* why);

// Reads `path` as the texture and, when some reader decodes it, makes it the
// scene's texture (the model is read again with it) and
// RequestedScene.texturePath `path`; else keeps the current texture and
// returns false with the reason, one line naming the path, in `why`.
bool ReplaceTexture(const std::string& path, std::string* why);

// The files the scene drawn now was read from, by what a new save of one
// replaces.
struct SceneFiles {
  // The model and the second files its reader opened (a glTF's buffers, an
  // OBJ's material library): a save reloads the model.
  std::vector<std::string> model;
  // The textures in use: RequestedScene.texturePath when one texture lies
  // over the model, else the material textures read from files (never the
  // default texture the materials left unread). A save reloads that texture
  // alone.
  std::vector<std::string> textures;
};
SceneFiles FilesOfScene();

// Reads `path`, one of FilesOfScene().textures, again and shows the new image
// where the old one was shown; the model is not read again and nothing else
// changes (a texture file does not become the texture over every material).
// A file that no longer decodes keeps the current image and returns false
// with the reason, one line naming the path, in `why`.
bool ReloadTextureFile(const std::string& path, std::string* why);
