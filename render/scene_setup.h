// The one-time scene set-up between showing the window and the message loop:
// reads the texture, makes the OpenGL context, reads the model, merges its
// drawable objects into one mesh (fitted into view with --fit, with a stage
// around it with --stage), derives that mesh's normals, sets the fixed
// texture state, uploads the texture upright and places the camera. The
// shadow modes' structures come later, when each mode is first drawn
// (shadow_structures.h).
// What it reads lives in LoadedScene (render_state.h) until LoadModelIntoScene
// replaces it. The files come from RequestedScene.
#pragma once

#include <string>

#include "platform/win32.h"
#include "render/render_state.h"

// How SetupScene ended; each value is the exit code WinMain stops with.
enum class SetupResult {
  kReady = 0,         // the scene is in place; run the loop
  kNoContext = 1,     // no OpenGL context could be made; one line went to stderr
  kModelUnusable = 2  // the model file is missing or unusable; one line went to stderr
};

// Prepares the scene for `window` from the files RequestedScene names. A
// missing or unreadable texture is not an error: the mesh is then drawn
// untextured (the textured pass multiplies by white instead of a texel); a
// texture above the OpenGL size limit is scaled down with a note, and one
// OpenGL refuses is reported and left out. Each object that cannot be drawn
// is left out with one warning line naming it. A model that is missing, not
// a 3DS file, or holds nothing drawable is reported with one line on standard
// error naming the file, and kModelUnusable is returned; a context that
// cannot be made is reported the same way with kNoContext. When no vertex
// lies in the first frame's view, a line suggests --fit. The caller must not
// draw frames unless kReady comes back.
SetupResult SetupScene(HWND window);

// Reads the model and the texture `request` names and makes them the scene
// every frame draws: the merged mesh (fitted with request.fit), its normals
// and the uploaded texture, all in place of what
// LoadedScene held, which is released. Needs the OpenGL context SetupScene
// made; the camera and the light are left where they are. Reports as
// SetupScene does; on kModelUnusable LoadedScene is left as it was, so the
// previous model stays drawn. With `refusal` (a replacement during the run)
// a file cut off inside a chunk is refused too, and the one line saying why
// the model is not used goes there instead of to standard error. Memory
// running out is such a refusal: what was built by then is released.
SetupResult LoadModelIntoScene(const SceneRequest& request, std::string* refusal = nullptr);
