// Where a frame's time goes, on the shipped scene at 800 x 600, headless on
// Mesa's software renderer: the processor work of the frame (per-vertex
// lighting, the two silhouette walks, the immediate-mode calls and the
// driver's vertex processing, measured with rasterization discarded) against
// the whole frame (with rasterization, waited for with glFinish).
// Run from anywhere: it reads the scene from the build tree's scene folder
// (or the folder given as SV_SCENE_DIR).
#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "bench/frame/bench_window.h"
#include "platform/platform.h"
#include "render/camera.h"
#include "render/frame.h"
#include "render/lighting.h"
#include "render/render_state.h"
#include "render/shadow_structures.h"
#include "render/scene_setup.h"
#include "shadow/shadow_volume.h"

namespace {

HWND window = nullptr;

// Opens the headless window and sets the scene up; false with a message when
// that fails.
bool OpenScene() {
  window = OpenBenchWindow("frame_bench", "Frame bench");
  if (window == nullptr) return false;
  const char* folder = std::getenv("SV_SCENE_DIR");
  if (chdir(folder != nullptr ? folder : SV_SCENE_DIR) != 0) {
    std::perror("frame_bench: scene folder");
    return false;
  }
  return SetupScene(window) == SetupResult::kReady;
}

const MeshObject& Mesh() {
  return *LoadedScene.mesh;
}

// The lit pass's LightVertex calls, three per face, without OpenGL.
void BM_Lighting(benchmark::State& state) {
  const MeshObject& mesh = Mesh();
  for (auto _ : state) {
    SetLightPosition(LightPosition.x, LightPosition.y, LightPosition.z, kLightRadius);
    SetLightColour(kLightColour, kLightColour, kLightColour);
    SetLightAmbient(0, 0, 0);
    float sum = 0;
    for (int f = 0; f < mesh.faceCount; ++f) {
      for (int32_t v : mesh.faces[f].Corners()) {
        float r, g, b;
        LightVertex(mesh.vertexNormals[v], mesh.vertices[v], r, g, b);
        sum += r;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["vertices"] = 3.0 * mesh.faceCount;
}

// The two silhouette walks of the shadow passes, without OpenGL.
void BM_Silhouettes(benchmark::State& state) {
  const ShadowVolume& volume = *BlendVolumeOf(LoadedScene, RequestedScene.modelPath);
  const Vec3 light = LightPosition, eye = EyePosition();
  int quads = 0;
  for (auto _ : state) {
    quads = 0;
    for (QuadClass which : {QuadClass::kSeparating, QuadClass::kFacing})
      volume.VisitShadowQuads(
          light, eye, which,
          [&](int32_t, const Vec3&, const Vec3&, const Vec3&, const Vec3&) { ++quads; });
    benchmark::DoNotOptimize(quads);
  }
  state.counters["quads"] = quads;
}

// A whole frame with rasterization discarded: lighting, silhouettes, every
// immediate-mode call and the driver's vertex work, then the swap.
void BM_FrameWithoutRasterization(benchmark::State& state) {
  glEnable(GL_RASTERIZER_DISCARD);
  for (auto _ : state) {
    RenderFrame(window);
    SwapBuffers(GlContext.deviceContext);
    glFinish();
  }
  glDisable(GL_RASTERIZER_DISCARD);
}

// A whole frame as the demo draws it, waited for to the last pixel.
void BM_Frame(benchmark::State& state) {
  for (auto _ : state) {
    RenderFrame(window);
    SwapBuffers(GlContext.deviceContext);
    glFinish();
  }
}

BENCHMARK(BM_Lighting)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Silhouettes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithoutRasterization)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!OpenScene()) return 1;
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
