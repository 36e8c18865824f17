// Start-up and per-frame costs of the shadow volumes: building the edge list
// of closed tori of about 1k, 8k, 32k and 65k faces (and the quadratic
// reference up to 8k), and one frame's silhouette walk (both calls) per edge
// record, through the quad visitor so no OpenGL context is needed; the exact
// mode's volume: its one-time build and one frame's update.
#include <benchmark/benchmark.h>

#include <vector>

#include "shadow/edges.h"
#include "shadow/exact_volume.h"
#include "shadow/shadow_volume.h"
#include "tests/shadow/reference_edges.h"
#include "tests/support/test_meshes.h"

namespace {

// Torus grid sizes giving 1024, 8192, 32768 and 65280 faces.
MeshObject* TorusOfFaces(int faces) {
  const int u = faces >= 65280 ? 255 : faces >= 32768 ? 128 : faces >= 8192 ? 64 : 32;
  const int v = faces / (2 * u);
  return MakeTorus(u, v, 40.0f, 15.0f, false);
}

void BM_BuildEdgeList(benchmark::State& state) {
  MeshObject* mesh = TorusOfFaces(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    BuildEdgeList(mesh);
    benchmark::DoNotOptimize(mesh->edges);
  }
  state.counters["faces"] = mesh->faceCount;
  state.counters["edgeCount"] = mesh->edgeCount;
  FreeMeshObject(mesh);
}
BENCHMARK(BM_BuildEdgeList)
    ->Arg(1024)
    ->Arg(8192)
    ->Arg(32768)
    ->Arg(65280)
    ->Unit(benchmark::kMillisecond);

void BM_ReferenceBuildEdgeList(benchmark::State& state) {
  MeshObject* mesh = TorusOfFaces(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ReferenceEdgeList list = ReferenceBuildEdgeList(*mesh);
    benchmark::DoNotOptimize(list.edges.data());
  }
  state.counters["faces"] = mesh->faceCount;
  FreeMeshObject(mesh);
}
BENCHMARK(BM_ReferenceBuildEdgeList)->Arg(1024)->Arg(8192)->Unit(benchmark::kMillisecond);

// One frame: the separating call and the facing call, as the two shadow passes
// make them, with a visitor that only accumulates what it is given. Range 1
// selects the layout: 0 packed vertices (the vector path where the processor
// has one), 1 vertices padded to 16 bytes (the plain path).
void BM_SilhouetteWalk(benchmark::State& state) {
  MeshObject* mesh = TorusOfFaces(static_cast<int>(state.range(0)));
  BuildEdgeList(mesh);
  std::vector<float> padded;
  for (int i = 0; i < mesh->vertexCount; ++i) {
    const Vec3& p = mesh->vertices[i];
    padded.insert(padded.end(), {p.x, p.y, p.z, 0.0f});
  }
  ShadowVolume volume;
  if (state.range(1) == 0) {
    volume.BindVertexArray(mesh->vertices, mesh->vertexCount, 12, 0);
  } else {
    volume.BindVertexArray(reinterpret_cast<const Vec3*>(padded.data()), mesh->vertexCount, 16, 0);
  }
  volume.BindEdgeArray(mesh->edges, mesh->edgeCount, 16, 0);
  volume.SetExtrusion(3000.0f);
  const Vec3 light{20.0f, 20.0f, 70.0f}, eye{0.0f, 0.0f, 200.0f};
  int64_t quads = 0;
  for (auto _ : state) {
    float sink = 0.0f;
    for (QuadClass which : {QuadClass::kSeparating, QuadClass::kFacing}) {
      volume.VisitShadowQuads(
          light, eye, which,
          [&](int32_t, const Vec3& v0, const Vec3&, const Vec3& v0x, const Vec3&) {
            sink += v0.x + v0x.y;
            ++quads;
          });
    }
    benchmark::DoNotOptimize(sink);
  }
  state.counters["edgeCount"] = mesh->edgeCount;
  state.counters["quadsPerFrame"] =
      benchmark::Counter(static_cast<double>(quads), benchmark::Counter::kAvgIterations);
  state.counters["timePerRecord"] = benchmark::Counter(
      mesh->edgeCount, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  FreeMeshObject(mesh);
}
BENCHMARK(BM_SilhouetteWalk)
    ->ArgNames({"faces", "padded"})
    ->Args({8192, 0})
    ->Args({65280, 0})
    ->Args({65280, 1})
    ->Unit(benchmark::kMicrosecond);

// The exact volume of a closed torus (a solid: light-facing faces cast) and
// of the same torus as an open soup (every face casts on its own, turned to
// the light), light at (20, 20, 70) outside it, reach 210.
void BM_ExactVolumeBuild(benchmark::State& state) {
  MeshObject* mesh = TorusOfFaces(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ExactShadowVolume volume;
    volume.Build(mesh->vertices, mesh->vertexCount, mesh->faces, mesh->faceCount);
    benchmark::DoNotOptimize(volume.Vertices());
  }
  state.counters["faces"] = mesh->faceCount;
  FreeMeshObject(mesh);
}
BENCHMARK(BM_ExactVolumeBuild)->Arg(65280)->Unit(benchmark::kMillisecond);

void BM_ExactVolumeUpdate(benchmark::State& state) {
  MeshObject* mesh = TorusOfFaces(static_cast<int>(state.range(0)));
  if (state.range(1) != 0) {
    // Open: drop every 17th face, so no part is closed.
    int kept = 0;
    for (int f = 0; f < mesh->faceCount; ++f)
      if (f % 17 != 0) mesh->faces[kept++] = mesh->faces[f];
    mesh->faceCount = kept;
  }
  ExactShadowVolume volume;
  volume.Build(mesh->vertices, mesh->vertexCount, mesh->faces, mesh->faceCount);
  for (auto _ : state) {
    volume.Update(Vec3{20.0f, 20.0f, 70.0f}, 210.0f);
    benchmark::DoNotOptimize(volume.Indices());
  }
  state.counters["faces"] = mesh->faceCount;
  state.counters["sideTriangles"] = volume.SideIndexCount() / 3;
  state.counters["capTriangles"] = volume.CapIndexCount() / 3;
  FreeMeshObject(mesh);
}
BENCHMARK(BM_ExactVolumeUpdate)
    ->ArgNames({"faces", "open"})
    ->Args({65280, 0})
    ->Args({65280, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
