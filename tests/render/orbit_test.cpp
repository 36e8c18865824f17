// The viewer's camera operations checked against the matrices Mesa's OpenGL
// holds afterwards: orbit, pan and zoom about the origin, the reset, and a
// long random mix with the keys that must leave every number finite.
#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "render/camera.h"
#include "render/key_motion.h"
#include "surfaceless_gl.h"

namespace {

double Length(Vec3 v) {
  return std::sqrt(static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y +
                   static_cast<double>(v.z) * v.z);
}

class OrbitGl : public ::testing::Test {
 protected:
  void SetUp() override {
    gl_ = std::make_unique<SurfacelessGl>();
    ASSERT_TRUE(gl_->Ok()) << "no headless OpenGL context";
    // The program's projection for an 800 x 600 client.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, 800.0 / 600.0, 15.0, 1000.0);
    PlaceStartView();
  }
  void TearDown() override {
    LightPosition = kStartLight;
    gl_.reset();
  }

  // Where model point p lands in eye space.
  static Vec3 ToEye(Vec3 p) {
    float m[16];
    glMatrixMode(GL_MODELVIEW);
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    return Vec3{m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
                m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
                m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
  }
  // The window pixel (x right, y down) of model point p for an 800 x 600 client.
  static void ToPixel(Vec3 p, double* x, double* y) {
    const Vec3 e = ToEye(p);
    const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
    *x = 400.0 + 400.0 * (f / (800.0 / 600.0)) * e.x / -e.z;
    *y = 300.0 - 300.0 * f * e.y / -e.z;
  }

  std::unique_ptr<SurfacelessGl> gl_;
};

TEST_F(OrbitGl, OrbitKeepsTheDistanceAndLooksAtTheOrigin) {
  OrbitCamera(90.0f, 0.0f);  // the eye goes from +z round to +x
  EXPECT_NEAR(EyePosition().x, 200.0f, 1e-3f);
  EXPECT_NEAR(EyePosition().z, 0.0f, 1e-3f);
  OrbitCamera(-37.0f, 30.0f);
  OrbitCamera(200.0f, -12.5f);
  EXPECT_NEAR(Length(EyePosition()), 200.0, 1e-3);
  EXPECT_NEAR(EyeElevation(), 17.5f, 1e-3f);
  // The pivot and the matrix agree on the eye, and the origin stays
  // straight ahead.
  const Vec3 eye = ToEye(EyePosition()), origin = ToEye(Vec3{0, 0, 0});
  EXPECT_NEAR(Length(eye), 0.0, 1e-3);
  EXPECT_NEAR(origin.x, 0.0f, 1e-3f);
  EXPECT_NEAR(origin.y, 0.0f, 1e-3f);
  EXPECT_NEAR(origin.z, -200.0f, 1e-3f);
}

TEST_F(OrbitGl, TiltStopsShortOfStraightUpAndDown) {
  OrbitCamera(0.0f, 200.0f);
  EXPECT_NEAR(EyeElevation(), kMaxElevation, 1e-3f);
  OrbitCamera(0.0f, 5.0f);
  EXPECT_NEAR(EyeElevation(), kMaxElevation, 1e-3f);
  OrbitCamera(0.0f, -500.0f);
  EXPECT_NEAR(EyeElevation(), -kMaxElevation, 1e-3f);
  EXPECT_NEAR(Length(EyePosition()), 200.0, 1e-3);
  // An eye the keys took straight above the centre is not tilted at all.
  PlaceStartView();
  TranslateCamera(0, 0, 200);   // to the centre
  TranslateCamera(0, -100, 0);  // then up 100
  const Vec3 before = EyePosition();
  OrbitCamera(0.0f, 10.0f);
  EXPECT_EQ(EyePosition().y, before.y);
}

TEST_F(OrbitGl, PanKeepsThePointUnderTheCursor) {
  OrbitCamera(30.0f, 20.0f);
  double x0, y0, x1, y1;
  ToPixel(Vec3{0, 0, 0}, &x0, &y0);
  PanCamera(37.0f, -21.0f, 600);
  ToPixel(Vec3{0, 0, 0}, &x1, &y1);
  EXPECT_NEAR(x1 - x0, 37.0, 0.01);
  EXPECT_NEAR(y1 - y0, -21.0, 0.01);
  PanCamera(1.0f, 1.0f, 0);  // no client: nothing
  double x2, y2;
  ToPixel(Vec3{0, 0, 0}, &x2, &y2);
  EXPECT_EQ(x2, x1);
}

TEST_F(OrbitGl, EachNotchIsTenPercentOfTheDistanceNeverThroughTheCentre) {
  ZoomCamera(1.0f);
  EXPECT_NEAR(Length(EyePosition()), 180.0, 1e-3);
  ZoomCamera(-1.0f);
  EXPECT_NEAR(Length(EyePosition()), 198.0, 1e-3);
  ZoomCamera(1000.0f);
  EXPECT_NEAR(Length(EyePosition()), kMinOrbitDistance, 1e-4);
  EXPECT_GT(EyePosition().z, 0.0f);  // still on the near side
  ZoomCamera(-1000.0f);
  EXPECT_NEAR(Length(EyePosition()), kMaxOrbitDistance, 1.0);
  ZoomCamera(std::nanf(""));
  OrbitCamera(std::nanf(""), 1.0f);
  EXPECT_NEAR(Length(EyePosition()), kMaxOrbitDistance, 1.0);
}

TEST_F(OrbitGl, PlaceStartViewPutsCameraAndLightBack) {
  float start[16], after[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, start);
  OrbitCamera(12.0f, 34.0f);
  PanCamera(5.0f, 6.0f, 600);
  ZoomCamera(2.0f);
  LightPosition = Vec3{1, 2, 3};
  PlaceStartView();
  glGetFloatv(GL_MODELVIEW_MATRIX, after);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(after[i], start[i]) << i;
  EXPECT_EQ(EyePosition().z, 200.0f);
  EXPECT_EQ(LightPosition.x, kStartLight.x);
  EXPECT_EQ(LightPosition.z, kStartLight.z);
}

TEST_F(OrbitGl, TenThousandRandomMovesLeaveEveryNumberFinite) {
  std::mt19937 rng(18);
  std::uniform_real_distribution<float> amount(-3000.0f, 3000.0f);
  KeyState keys;
  for (int i = 0; i < 10000; ++i) {
    switch (rng() % 6) {
      case 0:
        OrbitCamera(amount(rng), amount(rng));
        break;
      case 1:
        PanCamera(amount(rng), amount(rng), 1 + static_cast<int>(rng() % 2000));
        break;
      case 2:
        ZoomCamera(amount(rng) / 30.0f);
        break;
      case 3:
        // Every key held or not, either mode: one frame's motion.
        keys.keyUp = rng() % 2;
        keys.keyDown = rng() % 2;
        keys.keyLeft = rng() % 2;
        keys.keyRight = rng() % 2;
        keys.keyHome = rng() % 2;
        keys.keyEnd = rng() % 2;
        keys.keyDelete = rng() % 2;
        keys.keyPageDown = rng() % 2;
        keys.keyPageUp = rng() % 2;
        keys.keyInsert = rng() % 2;
        keys.lightMode = rng() % 2;
        ApplyHeldKeyMotion(keys);
        break;
      case 4:
        if (rng() % 50 == 0) PlaceStartView();
        break;
      default:
        OrbitCamera(0.0f, amount(rng) / 10.0f);
        break;
    }
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    for (float value : m) ASSERT_TRUE(std::isfinite(value)) << "step " << i;
    const Vec3 eye = EyePosition();
    ASSERT_TRUE(std::isfinite(eye.x) && std::isfinite(eye.y) && std::isfinite(eye.z)) << i;
    ASSERT_TRUE(std::isfinite(EyeElevation())) << i;
  }
}

}  // namespace
