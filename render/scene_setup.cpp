// Scene set-up, for now only its OpenGL part: the context of the window.
// Loading the model and the texture joins it with the renderer.
#include "render/scene_setup.h"

#include <cstdio>
#include <cstdlib>

#include "app/platform/platform.h"
#include "render/gl_context.h"

void SetupScene(HWND window) {
  if (!InitOpenGL(window)) {
    std::fprintf(stderr, "shadow_volume: no OpenGL context: %s\n", PlatformFailureReason());
    std::exit(1);
  }
}
