// The one-time scene set-up between showing the window and the message loop:
// reads the texture, makes the OpenGL context, reads the model, derives the
// first mesh's normals and edge list, binds the shadow volume, sets the fixed
// texture state, uploads the texture and places the camera. Everything it
// creates lives until the process ends, in LoadedScene (render_state.h).
#pragma once

#include <string>

#include "model/scene.h"
#include "platform/win32.h"
#include "render/render_state.h"
#include "shadow/shadow_volume.h"
#include "texture/tiff_image.h"

// The files the program reads from the current directory.
constexpr const char* kModelFileName = "shadow2.3DS";
constexpr const char* kTextureFileName = "txt.tif";

// How SetupScene ended; each value is the exit code WinMain stops with.
enum class SetupResult {
  kReady = 0,         // the scene is in place; run the loop
  kNoContext = 1,     // no OpenGL context could be made; one line went to stderr
  kModelUnusable = 2  // the model file is missing or unusable; one line went to stderr
};

// Prepares the scene for `window`. A missing or unreadable texture is not an
// error: the mesh is then drawn untextured (the textured pass multiplies by
// white instead of a texel). A model that is missing, not a 3DS
// file, holds no mesh object or whose first mesh names vertices it lacks is reported with one line
// on standard error naming the file, and kModelUnusable is returned; a context that cannot be made
// is reported the same way with kNoContext. The caller must not draw frames unless kReady comes
// back.
SetupResult SetupScene(HWND window);

// Checks the loaded model (null when Load3dsScene gave none) and says what is
// wrong with it in one line naming the file, or returns an empty string when
// its first mesh can be drawn. `openError` is errno from opening the file, 0
// when it opened.
std::string DescribeUnusableModel(const Scene* scene, int openError);
