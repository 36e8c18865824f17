// Camera motion: the conversion of eye-space directions, and translations and
// rotations checked against the modelview matrix that Mesa's OpenGL holds
// afterwards.
#include "render/camera.h"

#include <GL/gl.h>

#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "render/key_motion.h"
#include "surfaceless_gl.h"

namespace {

struct Vec3d {
  double x, y, z;
};

// Column-major rotation by `degrees` about the unit axis (Rodrigues), with a
// translation column the conversion must ignore.
void RotationMatrix(double degrees, Vec3d a, float m[16]) {
  const double r = degrees * M_PI / 180.0, c = std::cos(r), s = std::sin(r), k = 1 - c;
  const double rows[3][3] = {{c + a.x * a.x * k, a.x * a.y * k - a.z * s, a.x * a.z * k + a.y * s},
                             {a.y * a.x * k + a.z * s, c + a.y * a.y * k, a.y * a.z * k - a.x * s},
                             {a.z * a.x * k - a.y * s, a.z * a.y * k + a.x * s, c + a.z * a.z * k}};
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) m[col * 4 + row] = static_cast<float>(rows[row][col]);
  m[3] = m[7] = m[11] = 0.0f;
  m[12] = 123.0f;
  m[13] = -45.0f;
  m[14] = 6.0f;
  m[15] = 1.0f;
}

TEST(EyeDirectionToModel, UndoesTheRotationAndIgnoresTheTranslation) {
  const double len = std::sqrt(1.0 + 4.0 + 9.0);
  float m[16];
  RotationMatrix(37.0, {1 / len, 2 / len, 3 / len}, m);
  const Vec3 model = {0.3f, -2.0f, 5.0f};
  // Eye-space image of the model direction: the rotation block times it.
  const Vec3 eye = {m[0] * model.x + m[4] * model.y + m[8] * model.z,
                    m[1] * model.x + m[5] * model.y + m[9] * model.z,
                    m[2] * model.x + m[6] * model.y + m[10] * model.z};
  const Vec3 back = EyeDirectionToModel(m, eye);
  EXPECT_NEAR(back.x, model.x, 1e-5f);
  EXPECT_NEAR(back.y, model.y, 1e-5f);
  EXPECT_NEAR(back.z, model.z, 1e-5f);
}

TEST(EyePosition, IsTheNegatedPivot) {
  const Vec3 saved = CameraPivot;
  CameraPivot = Vec3{1.5f, -2.0f, -200.0f};
  const Vec3 eye = EyePosition();
  EXPECT_EQ(eye.x, -1.5f);
  EXPECT_EQ(eye.y, 2.0f);
  EXPECT_EQ(eye.z, 200.0f);
  CameraPivot = saved;
}

// Each test starts from the state scene set-up leaves: identity projection
// aside, the modelview is the identity and the camera is moved back 200.
class CameraGl : public ::testing::Test {
 protected:
  void SetUp() override {
    gl_ = std::make_unique<SurfacelessGl>();
    ASSERT_TRUE(gl_->Ok()) << "no headless OpenGL context";
    PlaceCamera();
  }
  void TearDown() override { gl_.reset(); }

  static void PlaceCamera() {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    CameraPivot = Vec3{0, 0, 0};
    TranslateCamera(0, 0, -200);
  }

  static void Modelview(float m[16]) {
    glMatrixMode(GL_MODELVIEW);
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
  }
  // Where the model point p lands in eye space under the current modelview.
  static Vec3 ToEye(Vec3 p) {
    float m[16];
    Modelview(m);
    return Vec3{m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
                m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
                m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
  }

  std::unique_ptr<SurfacelessGl> gl_;
};

TEST_F(CameraGl, SetUpPlacesTheEyeAt200AlongZ) {
  float m[16];
  Modelview(m);
  EXPECT_EQ(m[12], 0.0f);
  EXPECT_EQ(m[13], 0.0f);
  EXPECT_EQ(m[14], -200.0f);
  EXPECT_EQ(EyePosition().z, 200.0f);
  // The eye point maps to the eye-space origin.
  const Vec3 origin = ToEye(EyePosition());
  EXPECT_NEAR(origin.z, 0.0f, 1e-4f);
}

TEST_F(CameraGl, RotationsKeepTheEyeWhereItIs) {
  TranslateCamera(7, -3, 11);
  const Vec3 eye = EyePosition();
  for (int i = 0; i < 50; ++i) {
    RotateCameraX(-1.0f);
    RotateCameraY(3.0f);
    RotateCameraZ(-7.0f);
  }
  EXPECT_EQ(EyePosition().x, eye.x);
  EXPECT_EQ(EyePosition().y, eye.y);
  EXPECT_EQ(EyePosition().z, eye.z);
  // And the matrix still maps the eye point to the origin, within rounding.
  const Vec3 origin = ToEye(eye);
  EXPECT_NEAR(origin.x, 0.0f, 1e-3f);
  EXPECT_NEAR(origin.y, 0.0f, 1e-3f);
  EXPECT_NEAR(origin.z, 0.0f, 1e-3f);
}

TEST_F(CameraGl, RotationDirectionsAsTheViewerSeesThem) {
  const Vec3 ahead = {0, 0, 0};  // straight ahead of the eye at (0, 0, 200)
  RotateCameraX(-1.0f);          // view tilts up: what was ahead goes down
  EXPECT_LT(ToEye(ahead).y, -1.0f);

  PlaceCamera();
  RotateCameraY(-1.0f);  // view turns left: what was ahead goes right
  EXPECT_GT(ToEye(ahead).x, 1.0f);

  PlaceCamera();
  const Vec3 right = {20, 0, 0};  // a point right of centre
  RotateCameraZ(-1.0f);           // the image turns clockwise: right goes down
  EXPECT_LT(ToEye(right).y, -0.1f);
  EXPECT_NEAR(ToEye(right).z, -200.0f, 1e-3f);

  // After a turn the axes are still the viewer's: tilting up moves what is
  // ahead straight down the screen, not sideways.
  PlaceCamera();
  RotateCameraY(30.0f);
  RotateCameraZ(20.0f);
  float m[16];
  Modelview(m);
  const Vec3 view = EyeDirectionToModel(m, Vec3{0, 0, -100});
  const Vec3 eye = EyePosition();
  const Vec3 target = {eye.x + view.x, eye.y + view.y, eye.z + view.z};
  RotateCameraX(-1.0f);
  EXPECT_NEAR(ToEye(target).x, 0.0f, 1e-3f);
  EXPECT_NEAR(ToEye(target).y, -100.0f * std::sin(M_PI / 180.0), 1e-3f);
}

TEST_F(CameraGl, ForwardFollowsTheCurrentViewDirection) {
  RotateCameraY(-90.0f);  // now looking along model -x
  const Vec3 before = EyePosition();
  TranslateCamera(0, 0, 1);
  const Vec3 after = EyePosition();
  EXPECT_NEAR(after.x - before.x, -1.0f, 1e-5f);
  EXPECT_NEAR(after.y - before.y, 0.0f, 1e-5f);
  EXPECT_NEAR(after.z - before.z, 0.0f, 1e-5f);
  // A model point is shifted in eye space by exactly the step asked for.
  const Vec3 p = {-50, 10, 200};
  const Vec3 eyeBefore = ToEye(p);
  TranslateCamera(2, -1, 0.5f);
  const Vec3 eyeAfter = ToEye(p);
  EXPECT_NEAR(eyeAfter.x - eyeBefore.x, 2.0f, 1e-4f);
  EXPECT_NEAR(eyeAfter.y - eyeBefore.y, -1.0f, 1e-4f);
  EXPECT_NEAR(eyeAfter.z - eyeBefore.z, 0.5f, 1e-4f);
}

TEST_F(CameraGl, OpposingTurnsCancel) {
  TranslateCamera(3, 4, 5);
  RotateCameraY(20.0f);
  float before[16], after[16];
  Modelview(before);
  RotateCameraX(-1.0f);
  RotateCameraX(1.0f);
  Modelview(after);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(after[i], before[i], 1e-4f) << i;
}

TEST_F(CameraGl, SelectsTheModelviewMatrixItself) {
  // The frame's full-window pass leaves the projection matrix selected.
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  TranslateCamera(0, 0, 1);
  float projection[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  EXPECT_EQ(projection[14], 0.0f);
  float m[16];
  Modelview(m);
  EXPECT_EQ(m[14], -199.0f);
}

// The end-of-frame step with the keys held as `keys` says.
class KeyMotionGl : public CameraGl {
 protected:
  void SetUp() override {
    CameraGl::SetUp();
    LightPosition = Vec3{20, 20, 70};
  }
  void TearDown() override {
    LightPosition = Vec3{20, 20, 70};
    CameraGl::TearDown();
  }
  KeyState keys;
};

TEST_F(KeyMotionGl, NothingHeldMovesNothing) {
  float before[16], after[16];
  Modelview(before);
  ApplyHeldKeyMotion(keys);
  Modelview(after);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(after[i], before[i]);
  EXPECT_EQ(LightPosition.x, 20.0f);
  EXPECT_EQ(LightPosition.y, 20.0f);
  EXPECT_EQ(LightPosition.z, 70.0f);
  EXPECT_EQ(EyePosition().z, 200.0f);
}

TEST_F(KeyMotionGl, LightStepsAlongTheCurrentScreenAxes) {
  // Turn the camera first (camera mode), then move the light (light mode).
  keys.lightMode = false;
  keys.keyPageUp = true;  // roll the image clockwise
  for (int i = 0; i < 30; ++i) ApplyHeldKeyMotion(keys);
  keys = KeyState{};
  const Vec3 light = LightPosition;
  EXPECT_EQ(light.x, 20.0f);  // turning leaves the light alone

  const Vec3 eyeBefore = ToEye(LightPosition);
  keys.keyHome = true;  // light mode: up on the screen
  ApplyHeldKeyMotion(keys);
  const Vec3 up = ToEye(LightPosition);
  EXPECT_NEAR(up.x - eyeBefore.x, 0.0f, 1e-4f);
  EXPECT_NEAR(up.y - eyeBefore.y, 2.0f, 1e-4f);
  EXPECT_NEAR(up.z - eyeBefore.z, 0.0f, 1e-4f);

  keys = KeyState{};
  keys.keyPageUp = true;  // light mode: away from the viewer
  ApplyHeldKeyMotion(keys);
  const Vec3 away = ToEye(LightPosition);
  EXPECT_NEAR(away.z - up.z, -2.0f, 1e-4f);

  keys = KeyState{};
  keys.keyDelete = true;  // light mode: left
  ApplyHeldKeyMotion(keys);
  EXPECT_NEAR(ToEye(LightPosition).x - away.x, -2.0f, 1e-4f);
}

TEST_F(KeyMotionGl, OpposingKeysCancelInBothModes) {
  keys.keyHome = keys.keyEnd = true;
  keys.keyDelete = keys.keyPageDown = true;
  keys.keyPageUp = keys.keyInsert = true;
  keys.keyUp = keys.keyDown = true;
  ApplyHeldKeyMotion(keys);
  EXPECT_EQ(LightPosition.x, 20.0f);
  EXPECT_EQ(LightPosition.y, 20.0f);
  EXPECT_EQ(LightPosition.z, 70.0f);
  EXPECT_EQ(EyePosition().z, 200.0f);

  keys.lightMode = false;
  float before[16], after[16];
  Modelview(before);
  ApplyHeldKeyMotion(keys);
  Modelview(after);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(after[i], before[i], 1e-4f) << i;
  EXPECT_EQ(LightPosition.y, 20.0f);
}

TEST_F(KeyMotionGl, ArrowsMoveTheCameraInLightModeToo) {
  ASSERT_TRUE(keys.lightMode);
  keys.keyUp = true;
  keys.keyLeft = true;
  ApplyHeldKeyMotion(keys);
  EXPECT_EQ(EyePosition().z, 199.0f);  // forward
  EXPECT_EQ(EyePosition().x, -1.0f);   // a step (+1, 0, 0) moves the scene right
  EXPECT_EQ(LightPosition.x, 20.0f);
}

}  // namespace
