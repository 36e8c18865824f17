// Camera and light motion over the modelview matrix. Each operation selects
// the modelview matrix itself because the frame's full-window pass leaves the
// projection matrix selected. The matrix is read back from OpenGL on every
// step and never re-orthonormalised, so long runs of rotations drift within
// float32 rounding.
#include "render/camera.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

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

// ---- Orbit, pan and zoom ----

namespace {

// `v` turned by `degrees` about the unit axis `k` (counter-clockwise seen
// from the axis's positive end), in double precision: what glRotatef does
// to a point.
Vec3 Rotated(Vec3 v, double degrees, double kx, double ky, double kz) {
  const double r = degrees * 3.14159265358979323846 / 180.0;
  const double c = std::cos(r), s = std::sin(r);
  const double dot = kx * v.x + ky * v.y + kz * v.z;
  const double cx = ky * v.z - kz * v.y, cy = kz * v.x - kx * v.z, cz = kx * v.y - ky * v.x;
  return Vec3{static_cast<float>(v.x * c + cx * s + kx * dot * (1 - c)),
              static_cast<float>(v.y * c + cy * s + ky * dot * (1 - c)),
              static_cast<float>(v.z * c + cz * s + kz * dot * (1 - c))};
}

// Moves the camera rigidly about the model origin by `degrees` about the
// unit axis k: the eye goes to the turned eye, the view turns with it. The
// matrix takes the inverse turn on the model side (rotation about the
// origin); the pivot, the negated eye, takes the turn itself.
void TurnCameraAboutOrigin(double degrees, double kx, double ky, double kz) {
  glMatrixMode(GL_MODELVIEW);
  glRotatef(static_cast<float>(-degrees), static_cast<float>(kx), static_cast<float>(ky),
            static_cast<float>(kz));
  CameraPivot = Rotated(CameraPivot, degrees, kx, ky, kz);
}

}  // namespace

void PlaceStartView() {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  CameraPivot = Vec3{0.0f, 0.0f, 0.0f};
  TranslateCamera(0.0f, 0.0f, -200.0f);
  LightPosition = kStartLight;
}

float EyeElevation() {
  const Vec3 e = EyePosition();
  const double horizontal =
      std::sqrt(static_cast<double>(e.x) * e.x + static_cast<double>(e.z) * e.z);
  if (horizontal == 0.0 && e.y == 0.0f) return 0.0f;
  return static_cast<float>(std::atan2(static_cast<double>(e.y), horizontal) * 180.0 /
                            3.14159265358979323846);
}

void OrbitCamera(float yaw, float pitch) {
  if (!std::isfinite(yaw) || !std::isfinite(pitch)) return;
  if (yaw != 0.0f) TurnCameraAboutOrigin(yaw, 0.0, 1.0, 0.0);
  if (pitch == 0.0f) return;
  // The axis across the line of sight: eye x up, horizontal, so a positive
  // turn raises the eye.
  const Vec3 e = EyePosition();
  const double ax = -static_cast<double>(e.z), az = static_cast<double>(e.x);
  const double length = std::sqrt(ax * ax + az * az);
  if (!(length > 0.0)) return;
  const float elevation = EyeElevation();
  const float low = std::min(elevation, -kMaxElevation);
  const float high = std::max(elevation, kMaxElevation);
  const float turn = std::min(std::max(elevation + pitch, low), high) - elevation;
  if (turn != 0.0f) TurnCameraAboutOrigin(turn, ax / length, 0.0, az / length);
}

void PanCamera(float dx, float dy, int clientHeight) {
  if (clientHeight <= 0 || !std::isfinite(dx) || !std::isfinite(dy)) return;
  float projection[16], m[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  ReadModelview(m);
  // projection[5] is the cotangent of half the vertical field of view; a
  // perspective matrix has -1 in projection[11].
  const float focal = projection[5];
  if (!(focal > 0.0f) || projection[11] != -1.0f) return;
  // The eye-space distance of the centre's plane, bounded so that one drag
  // moves the camera a bounded step however far the keys took it.
  const float depth = std::min(std::max(-m[14], 15.0f), kMaxOrbitDistance);
  const float unitsPerPixel = 2.0f * depth / (focal * static_cast<float>(clientHeight));
  // The scene follows the cursor: right is +x, and a cursor moving down
  // moves the scene down (eye-space -y).
  TranslateCamera(dx * unitsPerPixel, -dy * unitsPerPixel, 0.0f);
}

void ZoomCamera(float notches) {
  if (!std::isfinite(notches) || notches == 0.0f) return;
  const Vec3 eye = EyePosition();
  const double distance =
      std::sqrt(static_cast<double>(eye.x) * eye.x + static_cast<double>(eye.y) * eye.y +
                static_cast<double>(eye.z) * eye.z);
  if (!(distance > 0.0)) return;
  const double factor = notches > 0 ? std::pow(0.9, notches) : std::pow(1.1, -notches);
  // An eye already outside the bounds (keys move it freely) may only move
  // back towards them.
  const double low = std::min(distance, double{kMinOrbitDistance});
  const double high = std::max(distance, double{kMaxOrbitDistance});
  const double scale = std::min(std::max(distance * factor, low), high) / distance;
  if (scale == 1.0) return;
  // The eye moves from e to scale * e: a model-side step of (1 - scale) e.
  const Vec3 t = {static_cast<float>((1.0 - scale) * eye.x),
                  static_cast<float>((1.0 - scale) * eye.y),
                  static_cast<float>((1.0 - scale) * eye.z)};
  glMatrixMode(GL_MODELVIEW);
  CameraPivot.x += t.x;
  CameraPivot.y += t.y;
  CameraPivot.z += t.z;
  glTranslatef(t.x, t.y, t.z);
}
