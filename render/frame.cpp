// The frame, for now without passes: a white clear, the buffer swap and the
// end-of-frame step (frame-rate title, then the held-key step, which reads
// the keyboard state and has nothing to move yet).
#include "render/frame.h"

#include <GL/gl.h>

#include "app/frame_rate.h"
#include "app/keyboard.h"
#include "render/gl_context.h"

namespace {

// The motion step's read of the held keys; there is no camera to move yet.
void ReadHeldKeys() {
  const KeyState& keys = keyState;
  (void)keys;
}

}  // namespace

void RenderFrame(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  SwapBuffers(glContext.deviceContext);
  UpdateFrameRate(window);
  ReadHeldKeys();
}
