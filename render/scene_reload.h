// The scene's lifetime after set-up: what LoadedScene holds is released and
// replaced as a whole, and the model or the texture is replaced while the
// program runs (a dropped file, --watch). A file that cannot be used never
// disturbs what is drawn.
#pragma once

#include <string>

#include "render/render_state.h"

// Releases what `scene` holds (null pointers allowed; the material looks'
// texture objects too, once each) and leaves it empty. Needs the scene's
// OpenGL context current when it holds texture objects.
void ReleaseSceneGlobals(SceneGlobals* scene);

// Makes `loaded`, built aside, the scene every frame draws: what LoadedScene
// held is released, and when `loaded` has no texture of its own the default
// texture is emptied so the new model shows untextured.
void ReplaceLoadedScene(const SceneGlobals& loaded);

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
