// Traced against exact shadows on a heavy model, headless at 800 x 600 on
// Mesa's software renderer: whole frames in each mode (waited for with
// glFinish), and a traced frame's steps one by one: the face ids drawn and
// read back, the rays, the mask written into the stencil, and the darkening
// composite. The model is assimp's 2CylinderEngine fitted into view, or the
// file SV_BENCH_MODEL names. Real time: Mesa's and the tracer's threads work
// beside the calling one.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "bench/frame/bench_window.h"
#include "platform/platform.h"
#include "render/camera.h"
#include "render/exact_shadows.h"
#include "render/frame.h"
#include "render/render_state.h"
#include "render/scene_setup.h"
#include "render/shadow_structures.h"
#include "render/traced_shadows.h"
#include "trace/shadow_tracer.h"

namespace {

HWND window = nullptr;

bool OpenScene() {
  window = OpenBenchWindow("traced_bench", "Traced bench");
  if (window == nullptr) return false;
  const char* model = std::getenv("SV_BENCH_MODEL");
  RequestedScene.modelPath =
      model != nullptr ? model
                       : "/usr/share/assimp/models/glTF2/2CylinderEngine-glTF-Binary/"
                         "2CylinderEngine.glb";
  RequestedScene.fit = true;
  if (SetupScene(window) != SetupResult::kReady) return false;
  // The tracer is made when traced mode is first drawn; the steps need it now.
  const ShadowTracer* tracer =
      Shadows.traceAvailable ? TracerOf(LoadedScene, RequestedScene.modelPath) : nullptr;
  if (tracer == nullptr || !tracer->Ready()) {
    std::fprintf(stderr, "traced_bench: traced shadows are unavailable\n");
    return false;
  }
  return true;
}

void BM_Frame(benchmark::State& state) {
  Shadows.mode = static_cast<ShadowMode>(state.range(0));
  for (auto _ : state) {
    RenderFrame(window);
    glFinish();
  }
  state.SetLabel(ShadowModeName(Shadows.mode));
}

// The steps run in a frame's order and state; each is timed alone, the
// others run paused.
void BM_TracedStep(benchmark::State& state) {
  const int step = static_cast<int>(state.range(0));
  const MeshObject& mesh = *LoadedScene.mesh;
  const char* names[] = {"face ids", "rays", "mask", "composite"};
  for (auto _ : state) {
    state.PauseTiming();
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glFinish();
    if (step == 0) state.ResumeTiming();
    DrawFaceIds(mesh, kBenchWidth, kBenchHeight);
    if (step == 0) state.PauseTiming();
    if (step == 1) state.ResumeTiming();
    TraceFaceIds(*LoadedScene.tracer, LightPosition, kBenchWidth, kBenchHeight);
    if (step == 1) state.PauseTiming();
    if (step == 2) state.ResumeTiming();
    WriteMaskToStencil(kBenchWidth, kBenchHeight);
    glFinish();
    if (step == 2) state.PauseTiming();
    if (step == 3) state.ResumeTiming();
    DarkenWhereStencilled(kBenchWidth, kBenchHeight);
    glFinish();
    if (step != 3) state.ResumeTiming();
  }
  state.SetLabel(names[step]);
}

BENCHMARK(BM_Frame)
    ->Arg(static_cast<int>(ShadowMode::kExact))
    ->Arg(static_cast<int>(ShadowMode::kTraced))
    ->Arg(static_cast<int>(ShadowMode::kOff))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_TracedStep)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!OpenScene()) return 1;
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
