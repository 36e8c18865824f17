// The point light of the lit pass. All values are float32; comparisons with
// NaN fail, and the lighting relies on that to turn degenerate input (zero
// normal, vertex at the light) into the ambient colour.
#include "render/lighting.h"

#include <cmath>

void SetLightPosition(float x, float y, float z, float radius) {
  PointLight.position = Vec3{x, y, z};
  PointLight.radius = radius;
}

void SetLightColour(float red, float green, float blue) {
  PointLight.colour[0] = red;
  PointLight.colour[1] = green;
  PointLight.colour[2] = blue;
}

void SetLightAmbient(float red, float green, float blue) {
  PointLight.ambient[0] = red;
  PointLight.ambient[1] = green;
  PointLight.ambient[2] = blue;
}

void LightVertex(Vec3 normal, Vec3 position, float& red, float& green, float& blue) {
  const LightParams& light = PointLight;
  // Vertex normals are unnormalised averages, so normalise here.
  const float n = std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
  // The ray runs from the light to the vertex: a face turned towards the light
  // has its (back-pointing) normal along the ray and a positive cosine.
  const Vec3 ray{position.x - light.position.x, position.y - light.position.y,
                 position.z - light.position.z};
  const float d = std::sqrt(ray.x * ray.x + ray.y * ray.y + ray.z * ray.z);
  const float cosine = (ray.x / d) * (normal.x / n) + (ray.y / d) * (normal.y / n) +
                       (ray.z / d) * (normal.z / n);
  // Shifted so the light fades out before grazing incidence (cosine 0.1,
  // about 84 degrees); 0.99 at most.
  const float t = (cosine - 0.1f) * 1.1f;
  const float r = light.radius;
  // Tested as r - d > 0 so that a radius of 0 never divides.
  const float a = (r - d > 0.0f) ? (r * r - d * d) / (r * r) : 0.0f;

  float out[3];
  if (!(t > 0.0f)) {
    for (int k = 0; k < 3; ++k) out[k] = light.ambient[k];
  } else {
    for (int k = 0; k < 3; ++k) {
      const float excess =
          light.colour[k] >= light.ambient[k] ? light.colour[k] - light.ambient[k] : 0.0f;
      out[k] = (excess * t) * a + light.ambient[k];
    }
  }
  red = out[0];
  green = out[1];
  blue = out[2];
}

void LightVertex(float nx, float ny, float nz, float px, float py, float pz, float& red,
                 float& green, float& blue) {
  LightVertex(Vec3{nx, ny, nz}, Vec3{px, py, pz}, red, green, blue);
}
