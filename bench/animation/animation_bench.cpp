// A moving model's per-frame work on a skinned torus of about 60,000 faces
// (a chain of four bones along it, two weights a vertex, one clip turning
// them): posing (skinning), the face and vertex normals recomputed in place,
// and the exact volume's new positions with its update for a light. With
// --write-gltf PATH it writes instead a glTF of the same skinned torus (the
// same bones and weights, the bones turning while their root slides it
// across a wall behind it), for the demo's frame rate playing and paused
// (bench/frame/run-shadow-modes).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/animation.h"
#include "shadow/exact_volume.h"
#include "shadow/normals.h"
#include "tests/support/skinned_gltf.h"
#include "tests/support/test_meshes.h"

namespace {

constexpr int kRings = 200, kSides = 150;  // 2 x 200 x 150 = 60,000 faces
constexpr int kBones = 4;

// The two bones nearest a vertex by its angle around the torus, and their
// weights.
struct TwoBones {
  int first, second;
  float firstWeight, secondWeight;
};

TwoBones BonesOf(const Vec3& p) {
  const float turn = (std::atan2(p.y, p.x) + 3.14159265f) / (2 * 3.14159265f) * kBones;
  const int first = static_cast<int>(turn) % kBones;
  const float share = turn - std::floor(turn);
  return TwoBones{first, (first + 1) % kBones, 1 - share, share};
}

// Bone b's turn about x at key k (0, 1, 2): there and back, neighbours
// turning opposite ways.
Quaternion TurnOf(int b, int k) {
  const float half = 0.15f * (k % 2) * (b % 2 ? -1 : 1);
  return Quaternion{std::cos(half), std::sin(half), 0, 0};
}

struct SkinnedTorus {
  Scene* scene = new Scene();  // released with its object
  std::shared_ptr<Rig> rig = std::make_shared<Rig>();
  MeshObject* mesh = nullptr;  // the scene's one object

  SkinnedTorus() {
    mesh = MakeTorus(kRings, kSides, 40.0f, 12.0f, false);
    scene->objects = new MeshObject*[kMaxObjects]();
    scene->objects[0] = mesh;
    scene->objectCount = 1;
    scene->materials = new Material*[kMaxMaterials]();
    rig->nodes.push_back(AnimNode{-1, "Root", Matrix34{}});
    for (int b = 0; b < kBones; ++b) rig->nodes.push_back(AnimNode{static_cast<int32_t>(b), "Bone" + std::to_string(b), Matrix34{}});
    RigMesh skinned;
    skinned.object = 0;
    skinned.node = 0;
    skinned.bindPositions.assign(mesh->vertices, mesh->vertices + mesh->vertexCount);
    for (int b = 0; b < kBones; ++b) skinned.bones.push_back(Bone{b + 1, "Bone" + std::to_string(b), Matrix34{}});
    skinned.influenceStart.push_back(0);
    for (int v = 0; v < mesh->vertexCount; ++v) {
      const TwoBones bones = BonesOf(mesh->vertices[v]);
      skinned.influences.push_back(Influence{bones.first, bones.firstWeight});
      skinned.influences.push_back(Influence{bones.second, bones.secondWeight});
      skinned.influenceStart.push_back(static_cast<uint32_t>(skinned.influences.size()));
    }
    rig->meshes.push_back(std::move(skinned));
    AnimClip clip;
    clip.name = "Wave";
    clip.duration = 50;
    for (int b = 0; b < kBones; ++b) {
      NodeChannel channel;
      channel.node = b + 1;
      channel.nodeName = "Bone" + std::to_string(b);
      for (int k = 0; k <= 2; ++k) channel.rotations.push_back(RotationKey{25.0 * k, TurnOf(b, k)});
      clip.channels.push_back(std::move(channel));
    }
    rig->clips.push_back(std::move(clip));
    CheckRig(*scene, LimitsForFileSize(uint64_t{1} << 30), rig.get());
    if (!HasAnimation(*rig)) std::fprintf(stderr, "the bench rig did not pass its check\n");
    ComputeFaceNormals(mesh);
    ComputeVertexNormals(mesh);
  }
  ~SkinnedTorus() { FreeScene(scene); }
};

void BM_Skinning(benchmark::State& state) {
  SkinnedTorus torus;
  AnimationPlayer player(*torus.rig);
  double t = 0;
  for (auto _ : state) {
    player.SetTimeSeconds(t += 0.04);
    player.Pose();
    benchmark::DoNotOptimize(player.Positions(0).data());
  }
  state.counters["faces"] = torus.mesh->faceCount;
}
BENCHMARK(BM_Skinning)->Unit(benchmark::kMillisecond);

void BM_NormalsInPlace(benchmark::State& state) {
  SkinnedTorus torus;
  std::vector<int32_t> counters(static_cast<size_t>(torus.mesh->vertexCount));
  for (auto _ : state) {
    RecomputeFaceNormals(torus.mesh);
    RecomputeVertexNormals(torus.mesh, counters.data());
    benchmark::DoNotOptimize(torus.mesh->vertexNormals);
  }
}
BENCHMARK(BM_NormalsInPlace)->Unit(benchmark::kMillisecond);

void BM_ExactVolumeUpdate(benchmark::State& state) {
  SkinnedTorus torus;
  AnimationPlayer player(*torus.rig);
  ExactShadowVolume volume;
  volume.Build(torus.mesh->vertices, torus.mesh->vertexCount, torus.mesh->faces, torus.mesh->faceCount);
  player.SetTimeSeconds(0.7);
  player.Pose();
  for (auto _ : state) {
    volume.UpdatePositions(player.Positions(0).data(), torus.mesh->vertexCount);
    volume.Update(Vec3{20, 20, 70}, 210.0f);
    benchmark::DoNotOptimize(volume.IndexCount());
  }
}
BENCHMARK(BM_ExactVolumeUpdate)->Unit(benchmark::kMillisecond);

// The skinned torus for the demo: a wall behind it, the bones turning there
// and back while their root slides the torus across the wall in 4 s.
int WriteGltf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 5 && name.compare(name.size() - 5, 5, ".gltf") == 0) name.resize(name.size() - 5);
  MeshObject* torus = MakeTorus(kRings, kSides, 40.0f, 12.0f, false);
  TestMesh wall;
  AddWall(wall, TestWall{});
  SkinnedMeshLayout layout;
  layout.stillVertices = wall.vertices;
  layout.stillFaces = wall.faces;
  layout.vertices.assign(torus->vertices, torus->vertices + torus->vertexCount);
  layout.faces.assign(torus->faces, torus->faces + torus->faceCount);
  FreeMeshObject(torus);
  layout.boneCount = kBones;
  for (const Vec3& p : layout.vertices) {
    const TwoBones bones = BonesOf(p);
    layout.joints.push_back({static_cast<uint8_t>(bones.first), static_cast<uint8_t>(bones.second), 0, 0});
    layout.weights.push_back({bones.firstWeight, bones.secondWeight, 0, 0});
  }
  layout.times = {0.0f, 2.0f, 4.0f};
  layout.rootTranslations = {Vec3{-30, 0, 20}, Vec3{30, 10, 40}, Vec3{-30, 0, 20}};
  layout.boneTurns.resize(kBones);
  for (int b = 0; b < kBones; ++b) {
    for (int k = 0; k <= 2; ++k) {
      const Quaternion q = TurnOf(b, k);
      layout.boneTurns[b].push_back({q.x, q.y, q.z, q.w});
    }
  }
  const std::string written = WriteSkinnedMeshGltf(folder, name, layout);
  if (written.empty()) return 1;
  std::printf("%s\n", written.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-gltf") == 0) return WriteGltf(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
