// The end-of-frame motion step: turns held keys into camera steps and light
// steps, once per frame after the buffer swap, so that motion requested
// during one frame shows in the next.
#include "render/key_motion.h"

#include <GL/gl.h>

#include "render/camera.h"

void ApplyHeldKeyMotion(const KeyState& keys) {
  if (keys.keyUp) TranslateCamera(0.0f, 0.0f, 1.0f);
  if (keys.keyDown) TranslateCamera(0.0f, 0.0f, -1.0f);
  if (keys.keyLeft) TranslateCamera(1.0f, 0.0f, 0.0f);
  if (keys.keyRight) TranslateCamera(-1.0f, 0.0f, 0.0f);

  if (keys.lightMode) {
    Vec3 d = {0.0f, 0.0f, 0.0f};
    if (keys.keyHome) d.y = 2.0f;
    if (keys.keyEnd) d.y = d.y - 2.0f;
    if (keys.keyDelete) d.x = -2.0f;
    if (keys.keyPageDown) d.x = d.x + 2.0f;
    if (keys.keyPageUp) d.z = -2.0f;
    if (keys.keyInsert) d.z = d.z + 2.0f;
    // The step is in eye space, so the light moves as the viewer sees it
    // now, after this frame's translations.
    float m[16];
    glMatrixMode(GL_MODELVIEW);
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    const Vec3 step = EyeDirectionToModel(m, d);
    LightPosition.x += step.x;
    LightPosition.y += step.y;
    LightPosition.z += step.z;
  } else {
    if (keys.keyHome) RotateCameraX(-1.0f);
    if (keys.keyEnd) RotateCameraX(1.0f);
    if (keys.keyDelete) RotateCameraY(-1.0f);
    if (keys.keyPageDown) RotateCameraY(1.0f);
    if (keys.keyPageUp) RotateCameraZ(-1.0f);
    if (keys.keyInsert) RotateCameraZ(1.0f);
  }
}
