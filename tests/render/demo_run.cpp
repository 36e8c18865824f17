// Support code of the end-to-end tests; see demo_run.h.
#include "demo_run.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "render/lighting.h"

DemoRun RunDemo(const std::string& folder, const std::vector<std::string>& arguments) {
  std::vector<std::string> args = {"--headless"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  return RunProgram(SHADOW_VOLUME_PATH, args, folder);
}

namespace {
const double kTanHalfFov = std::tan(22.5 * 3.14159265358979323846 / 180.0);
}

Vec3 PointOnPlane(const View& view, int px, int py, float planeZ) {
  const double aspect = static_cast<double>(view.width) / view.height;
  const double xNdc = 2.0 * (px + 0.5) / view.width - 1.0;
  const double yNdc = 1.0 - 2.0 * (py + 0.5) / view.height;
  const double dx = xNdc * aspect * kTanHalfFov, dy = yNdc * kTanHalfFov;
  const double t = view.eyeZ - planeZ;  // the ray's direction has z = -1
  return Vec3{static_cast<float>(dx * t), static_cast<float>(dy * t), planeZ};
}

void Project(const View& view, Vec3 p, float* px, float* py) {
  const double aspect = static_cast<double>(view.width) / view.height;
  const double depth = view.eyeZ - p.z;
  const double xNdc = p.x / (depth * kTanHalfFov * aspect);
  const double yNdc = p.y / (depth * kTanHalfFov);
  *px = static_cast<float>((xNdc + 1.0) * view.width / 2.0);
  *py = static_cast<float>((1.0 - yNdc) * view.height / 2.0);
}

float WallLight(const TestWall& wall, Vec3 light, Vec3 point) {
  SetLightPosition(light.x, light.y, light.z, 210.0f);
  SetLightColour(0.7f, 0.7f, 0.7f);
  SetLightAmbient(0.0f, 0.0f, 0.0f);
  const double fx = (point.x - wall.x0) / wall.cell, fy = (point.y - wall.y0) / wall.cell;
  const int i = static_cast<int>(std::floor(fx)), j = static_cast<int>(std::floor(fy));
  const double s = fx - i, t = fy - j;
  auto lit = [&](int ci, int cj) {
    float r, g, b;
    LightVertex(0, 0, -1, wall.x0 + wall.cell * ci, wall.y0 + wall.cell * cj, wall.z, r, g, b);
    return static_cast<double>(r);
  };
  // Lower-right triangle (s >= t): corners (0,0), (1,0), (1,1); else (0,0), (1,1), (0,1).
  if (s >= t)
    return static_cast<float>((1 - s) * lit(i, j) + (s - t) * lit(i + 1, j) +
                              t * lit(i + 1, j + 1));
  return static_cast<float>((1 - t) * lit(i, j) + s * lit(i + 1, j + 1) + (t - s) * lit(i, j + 1));
}

bool SegmentHitsBox(Vec3 a, Vec3 b, Vec3 low, Vec3 high) {
  double t0 = 0.0, t1 = 1.0;
  const double from[3] = {a.x, a.y, a.z}, to[3] = {b.x, b.y, b.z};
  const double lo[3] = {low.x, low.y, low.z}, hi[3] = {high.x, high.y, high.z};
  for (int k = 0; k < 3; ++k) {
    const double d = to[k] - from[k];
    if (std::fabs(d) < 1e-12) {
      if (from[k] < lo[k] || from[k] > hi[k]) return false;
      continue;
    }
    double ta = (lo[k] - from[k]) / d, tb = (hi[k] - from[k]) / d;
    if (ta > tb) std::swap(ta, tb);
    t0 = std::max(t0, ta);
    t1 = std::min(t1, tb);
    if (t0 > t1) return false;
  }
  return true;
}

int ModelPixels(const RgbImage& image, Vec3 light) {
  const View view{image.width, image.height, 200.0f};
  float left = 1e9f, right = -1e9f, top = 1e9f, bottom = -1e9f;
  for (int k = 0; k < 8; ++k) {
    const float h = 6.0f;  // around the marker's half-size of 5
    float x, y;
    Project(view, Vec3{light.x + (k & 1 ? h : -h), light.y + (k & 2 ? h : -h),
                       light.z + (k & 4 ? h : -h)},
            &x, &y);
    left = std::min(left, x), right = std::max(right, x);
    top = std::min(top, y), bottom = std::max(bottom, y);
  }
  const int grey = Level(0.64);
  int count = 0;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      if (x >= left && x <= right && y >= top && y <= bottom) continue;
      const uint8_t* p = image.At(x, y);
      const bool white = p[0] >= 252 && p[1] >= 252 && p[2] >= 252;
      const bool background = std::abs(p[0] - grey) <= 3 && std::abs(p[1] - grey) <= 3 &&
                              std::abs(p[2] - grey) <= 3;
      if (!white && !background) ++count;
    }
  return count;
}

double DifferingFraction(const RgbImage& a, const RgbImage& b, int levels) {
  if (a.width == 0 || a.width != b.width || a.height != b.height || a.samples != b.samples) return 1;
  size_t differing = 0;
  for (size_t i = 0; i < a.rgb.size(); i += a.samples) {
    for (int c = 0; c < a.samples; ++c) {
      if (std::abs(a.rgb[i + c] - b.rgb[i + c]) > levels) {
        ++differing;
        break;
      }
    }
  }
  return static_cast<double>(differing) / (static_cast<double>(a.width) * a.height);
}

std::vector<std::string> MessageLines(const std::string& err) {
  std::vector<std::string> lines;
  for (const std::string& line : LinesWithPrefix(err, ""))
    if (line.rfind("title: ", 0) != 0) lines.push_back(line);
  return lines;
}
