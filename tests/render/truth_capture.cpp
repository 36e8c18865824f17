// The shadow tests' shared captures; see truth_capture.h.
#include "truth_capture.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/support/demo_runner.h"

namespace {

// Whether two truth pixels lie on different sides of a shadow or object edge.
bool Differ(const RayCaster& caster, const TruthPixel& a, const TruthPixel& b) {
  if (a.marker != b.marker || (a.face < 0) != (b.face < 0)) return true;
  if (a.face < 0) return false;
  if (a.surface != b.surface || a.shadowed != b.shadowed) return true;
  const Vec3 n = caster.NormalOf(a.face), m = caster.NormalOf(b.face);
  return n.x * m.x + n.y * m.y + n.z * m.z < 0.999f;
}

}  // namespace

int Grey(const RgbImage& image, int x, int y) {
  const uint8_t* p = image.At(x, y);
  return (p[0] + p[1] + p[2] + 1) / 3;
}

RgbImage Capture(const std::string& folder, const SceneCase& c, const std::string& mode,
                 const std::vector<std::string>& extra, std::string* out) {
  const std::string frame = std::to_string(c.frame);
  std::string name = mode;
  for (const std::string& e : extra) name += e;
  std::vector<std::string> args = {
      "--size",    std::to_string(kWidth) + "x" + std::to_string(kHeight),
      "--frames",  frame,
      "--capture", frame + ":" + name + ".png",
      "--shadows", mode};
  args.insert(args.end(), extra.begin(), extra.end());
  if (!c.keys.empty()) args.insert(args.end(), {"--keys", c.keys});
  const DemoRun run = RunDemo(folder, args);
  EXPECT_EQ(run.exitCode, 0) << mode << ": " << run.err;
  const size_t titles = LinesWithPrefix(run.err, "title: ").size();
  EXPECT_EQ(static_cast<size_t>(std::count(run.err.begin(), run.err.end(), '\n')), titles)
      << mode << ": " << run.err;
  if (out != nullptr) *out = run.out;
  return ReadPng(folder + "/" + name + ".png");
}

std::vector<char> EdgeBands(const RayCaster& caster, const std::vector<TruthPixel>& truth) {
  std::vector<char> edge(truth.size(), 0);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int dy = 0; dy <= 1; ++dy)
        for (int dx = dy == 0 ? 1 : -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || nx >= kWidth || ny >= kHeight) continue;
          if (!Differ(caster, truth[y * kWidth + x], truth[ny * kWidth + nx])) continue;
          for (int by = std::max(0, y - kBand); by <= std::min(kHeight - 1, ny + kBand); ++by)
            for (int bx = std::max(0, std::min(x, nx) - kBand);
                 bx <= std::min(kWidth - 1, std::max(x, nx) + kBand); ++bx)
              edge[by * kWidth + bx] = 1;
        }
  return edge;
}
