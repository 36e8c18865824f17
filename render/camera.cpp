// Camera and light motion over the modelview matrix. Each operation selects
// the modelview matrix itself because the frame's full-window pass leaves the
// projection matrix selected. The matrix is read back from OpenGL on every
// step and never re-orthonormalised, so long runs of rotations drift within
// float32 rounding.
#include "render/camera.h"

#include <GL/gl.h>

Vec3 EyeDirectionToModel(const float m[16], Vec3 d) {
  return Vec3{m[0] * d.x + m[1] * d.y + m[2] * d.z, m[4] * d.x + m[5] * d.y + m[6] * d.z,
              m[8] * d.x + m[9] * d.y + m[10] * d.z};
}

Vec3 EyePosition() {
  return Vec3{-CameraPivot.x, -CameraPivot.y, -CameraPivot.z};
}

// Selects the modelview matrix and copies it into m.
static void ReadModelview(float m[16]) {
  glMatrixMode(GL_MODELVIEW);
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
}

void TranslateCamera(float dx, float dy, float dz) {
  float m[16];
  ReadModelview(m);
  // glTranslatef multiplies on the right, in model coordinates; the step in
  // model coordinates shifts every eye-space point by exactly (dx, dy, dz).
  const Vec3 t = EyeDirectionToModel(m, Vec3{dx, dy, dz});
  CameraPivot.x += t.x;
  CameraPivot.y += t.y;
  CameraPivot.z += t.z;
  glTranslatef(t.x, t.y, t.z);
}

// Rotates about the eye-space axis whose model-space direction is row `row`
// of the matrix's rotation block, through the eye point -CameraPivot.
static void RotateCameraAboutRow(float angle, int row) {
  float m[16];
  ReadModelview(m);
  const Vec3 p = CameraPivot;
  glTranslatef(-p.x, -p.y, -p.z);
  glRotatef(angle, m[row], m[row + 4], m[row + 8]);
  glTranslatef(p.x, p.y, p.z);
}

void RotateCameraX(float angle) {
  RotateCameraAboutRow(angle, 0);
}
void RotateCameraY(float angle) {
  RotateCameraAboutRow(angle, 1);
}
void RotateCameraZ(float angle) {
  RotateCameraAboutRow(angle, 2);
}
