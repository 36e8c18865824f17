// Vertex lighting: the frame's light (radius 210, colour 0.7, ambient 0) and
// the edge cases of the diffuse term, the attenuation and degenerate input.
#include "render/lighting.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

struct Rgb {
  float red, green, blue;
};

Rgb Light(Vec3 normal, Vec3 position) {
  Rgb c;
  LightVertex(normal.x, normal.y, normal.z, position.x, position.y, position.z, c.red, c.green,
              c.blue);
  return c;
}

void UseFrameLight() {
  SetLightPosition(20.0f, 20.0f, 70.0f, 210.0f);
  SetLightColour(0.7f, 0.7f, 0.7f);
  SetLightAmbient(0.0f, 0.0f, 0.0f);
}

TEST(LightVertex, FrameLightAtHalfRadiusFacingStraightAway) {
  UseFrameLight();
  // 105 units below the light along -y, normal along the light's ray.
  const Rgb c = Light({0, -1, 0}, {20, 20 - 105, 70});
  EXPECT_NEAR(c.red, 0.51975f, 1e-6f);
  EXPECT_NEAR(c.green, 0.51975f, 1e-6f);
  EXPECT_NEAR(c.blue, 0.51975f, 1e-6f);

  // A normal facing the light (against its rays) is not lit.
  const Rgb back = Light({0, 1, 0}, {20, 20 - 105, 70});
  EXPECT_EQ(back.red, 0.0f);
}

TEST(LightVertex, MatchesTheDiffuseAndAttenuationLawOffAxis) {
  UseFrameLight();
  // Vertex 50 units away along (3, 4, 0)/5; the normal makes cosine 0.6 with it.
  const Vec3 p = {20 + 30, 20 + 40, 70};
  // Unit D = (0.6, 0.8, 0); N is D turned by acos(0.6) about z, so D.N = 0.6.
  const Vec3 normal = {0.36f - 0.64f, 0.48f + 0.48f, 0};
  const double expected = 0.7 * ((0.6 - 0.1) * 1.1) * (1.0 - (50.0 * 50.0) / (210.0 * 210.0));
  const Rgb c = Light(normal, p);
  EXPECT_NEAR(c.red, expected, 2e-6);
  EXPECT_EQ(c.red, c.green);
  EXPECT_EQ(c.red, c.blue);
}

TEST(LightVertex, RadiusCutsTheLightOff) {
  UseFrameLight();
  SetLightAmbient(0.05f, 0.1f, 0.15f);
  const Vec3 down = {0, -1, 0};
  // At the radius and beyond: exactly ambient, even facing straight away.
  for (float dist : {210.0f, 211.0f, 400.0f}) {
    const Rgb c = Light(down, {20, 20 - dist, 70});
    EXPECT_EQ(c.red, 0.05f) << dist;
    EXPECT_EQ(c.green, 0.1f) << dist;
    EXPECT_EQ(c.blue, 0.15f) << dist;
  }
  // Just inside, a little light gets through.
  const Rgb inside = Light(down, {20, 20 - 209, 70});
  EXPECT_GT(inside.red, 0.05f);
  EXPECT_LT(inside.red, 0.06f);

  // A radius of 0 lights nothing and does not divide by zero.
  SetLightPosition(20, 20, 70, 0.0f);
  const Rgb none = Light(down, {20, 0, 70});
  EXPECT_EQ(none.red, 0.05f);
  EXPECT_EQ(none.blue, 0.15f);
}

TEST(LightVertex, CosineThresholdAtOneTenth) {
  UseFrameLight();
  SetLightPosition(0, 0, 0, 210.0f);
  // D = (1, y, 0) with |D| rounding to exactly 10, so D.x / d is 0.1f and the
  // cosine against the normal (1, 0, 0) is exactly 0.1.
  const float y = std::sqrt(99.0f);
  ASSERT_EQ(std::sqrt(1.0f + y * y), 10.0f);
  const Rgb at = Light({1, 0, 0}, {1, y, 0});
  EXPECT_EQ(at.red, 0.0f);

  // A cosine slightly above 0.1 gives a small positive term.
  const Rgb above = Light({1, 0, 0}, {1.05f, y, 0});
  EXPECT_GT(above.red, 0.0f);
  EXPECT_LT(above.red, 0.01f);

  // Perpendicular and grazing normals stay dark.
  EXPECT_EQ(Light({0, 0, 1}, {1, y, 0}).red, 0.0f);
}

TEST(LightVertex, NormalLengthDoesNotMatter) {
  UseFrameLight();
  const Vec3 p = {-30, -15, -40};
  const Rgb unitish = Light({0.2f, -0.3f, -0.9f}, p);
  const Rgb twice = Light({0.4f, -0.6f, -1.8f}, p);
  const Rgb tiny = Light({0.002f, -0.003f, -0.009f}, p);
  ASSERT_GT(unitish.red, 0.0f);
  EXPECT_EQ(unitish.red, twice.red);
  EXPECT_EQ(unitish.green, twice.green);
  EXPECT_NEAR(unitish.red, tiny.red, 1e-6f);
}

TEST(LightVertex, DegenerateInputGivesAmbient) {
  UseFrameLight();
  SetLightAmbient(0.25f, 0.5f, 0.75f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Rgb cases[] = {
      Light({0, 0, 0}, {20, 0, 70}),     // zero normal
      Light({nan, -1, 0}, {20, 0, 70}),  // NaN normal
      Light({0, -1, 0}, {20, nan, 70}),  // NaN position
      Light({0, -1, 0}, {20, 20, 70}),   // vertex at the light
  };
  for (const Rgb& c : cases) {
    EXPECT_EQ(c.red, 0.25f);
    EXPECT_EQ(c.green, 0.5f);
    EXPECT_EQ(c.blue, 0.75f);
  }
}

TEST(LightVertex, ChannelBelowAmbientStaysAtAmbient) {
  SetLightPosition(0, 0, 0, 210.0f);
  SetLightColour(0.1f, 0.7f, 0.9f);
  SetLightAmbient(0.3f, 0.2f, 0.0f);
  const Rgb c = Light({0, 0, -1}, {0, 0, -105});
  EXPECT_EQ(c.red, 0.3f);  // colour below ambient: no excess to add
  EXPECT_NEAR(c.green, 0.5f * 0.99f * 0.75f + 0.2f, 1e-6f);
  EXPECT_NEAR(c.blue, 0.9f * 0.99f * 0.75f, 1e-6f);
}

}  // namespace
