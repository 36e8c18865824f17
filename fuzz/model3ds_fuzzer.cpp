// Fuzz harness for the 3DS reader and everything a loaded mesh goes through
// before the first frame: the bytes are read as a model with and without
// texture coordinates, every mesh is checked with ValidateMesh, and every
// sound mesh gets its face and vertex normals, its edge list and both
// silhouette walks, once with a light and eye read raw from the input's last
// 24 bytes (any float, NaN and infinities included) and once with a light and
// eye placed near the mesh by the input, where silhouettes actually occur.
// Load3dsScene is ReadWholeFile (io/) plus Load3dsSceneFromBytes; the harness calls
// the latter directly so no file is written per input. An input that is no
// 3DS file goes through the assimp reader as the demo sends it there, named
// for the format its first bytes show (GLB, glTF, PLY, STL, DAE, X, FBX,
// MD2, MS3D, OFF; OBJ otherwise), in a folder that does not exist, and then
// through the same merge and mesh work.
// A scene that moves (a keyframer with tracks, an animated GLB) is posed
// first, every clip at a time read from the input, so the merge and the
// mesh work see posed positions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "model/animation.h"
#include "model/load3ds.h"
#include "model/isolated_load.h"
#include "model/load_assimp.h"
#include "model/merge.h"
#include "shadow/edges.h"
#include "shadow/normals.h"
#include "shadow/shadow_volume.h"

namespace {

// A property the code promises was broken: stop so the fuzzer keeps the input.
void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Six floats from 24 bytes.
void ReadFloats(const uint8_t* bytes, float out[6]) {
  std::memcpy(out, bytes, 6 * sizeof(float));
}

// Both silhouette walks of one light and eye; every quad visited is a live
// record, visited in increasing order, and no record is in both classes.
void WalkBothClasses(const ShadowVolume& volume, const MeshObject& object, const float le[6]) {
  int32_t lastSeparating = -1;
  int32_t separatingCount = 0;
  volume.VisitShadowQuads(Vec3{le[0], le[1], le[2]}, Vec3{le[3], le[4], le[5]}, QuadClass::kSeparating,
                          [&](int32_t i, const Vec3&, const Vec3&, const Vec3&, const Vec3&) {
                            Require(i > lastSeparating && i < object.edgeCount);
                            lastSeparating = i;
                            ++separatingCount;
                          });
  int32_t last = -1;
  int32_t count = 0;
  volume.VisitShadowQuads(Vec3{le[0], le[1], le[2]}, Vec3{le[3], le[4], le[5]}, QuadClass::kFacing,
                          [&](int32_t i, const Vec3&, const Vec3&, const Vec3&, const Vec3&) {
                            Require(i > last && i < object.edgeCount);
                            last = i;
                            ++count;
                          });
  Require(separatingCount + count <= object.edgeCount);
}

void ExerciseMesh(MeshObject* object, const uint8_t* data, size_t size) {
  ComputeFaceNormals(object);
  ComputeVertexNormals(object);
  BuildEdgeList(object);
  Require(object->edgeCount >= 0 && object->edgeCount <= 3 * object->faceCount);

  ShadowVolume volume;
  volume.BindVertexArray(object->vertices, object->vertexCount, sizeof(Vec3), 0);
  volume.BindEdgeArray(object->edges, object->edgeCount, sizeof(EdgeRecord), 0);
  volume.SetExtrusion(3000.0f);

  float raw[6] = {20.0f, 20.0f, 70.0f, 0.0f, 0.0f, 200.0f};
  if (size >= 24) ReadFloats(data + size - 24, raw);
  WalkBothClasses(volume, *object, raw);

  // Light and eye near the mesh: vertex 0 plus small offsets from the input.
  if (object->vertexCount > 0 && size >= 6) {
    const Vec3 v = object->vertices[0];
    const uint8_t* b = data + size - 6;
    const float near[6] = {
        v.x + static_cast<int8_t>(b[0]),     v.y + static_cast<int8_t>(b[1]),
        v.z + static_cast<int8_t>(b[2]),     v.x + 4 * static_cast<int8_t>(b[3]),
        v.y + 4 * static_cast<int8_t>(b[4]), v.z + 4 * static_cast<int8_t>(b[5])};
    WalkBothClasses(volume, *object, near);
  }
}

// Poses every clip (up to 8) at a time from the input's first bytes, any
// float, and leaves the last pose in the scene's objects.
void ExercisePose(Scene* scene, const uint8_t* data, size_t size) {
  if (scene->rig == nullptr || !HasAnimation(*scene->rig)) return;
  const Rig& rig = *scene->rig;
  float seconds = 0.5f;
  if (size >= 8) std::memcpy(&seconds, data + 4, sizeof seconds);
  AnimationPlayer player(rig);
  for (int clip = 0; clip < player.ClipCount() && clip < 8; ++clip) {
    player.SelectClip(clip);
    player.SetTimeSeconds(seconds);
    Require(player.TimeTicks() >= 0);
    player.Pose();
    for (size_t m = 0; m < rig.meshes.size(); ++m)
      Require(player.Positions(m).size() ==
              static_cast<size_t>(scene->objects[rig.meshes[m].object]->vertexCount));
  }
  ApplyPose(player, rig, scene);
}

}  // namespace

// The name the input is given, so that assimp picks the importer the file's
// own name would: its format sniffed from the first bytes, OBJ otherwise.
std::string NameFor(const uint8_t* data, size_t size) {
  static const struct {
    const char* start;
    const char* name;
  } kFormats[] = {{"glTF", "fuzz.glb"},         {"{", "fuzz.gltf"},       {"ply", "fuzz.ply"},
                  {"solid", "fuzz.stl"},        {"<", "fuzz.dae"},        {"xof ", "fuzz.x"},
                  {"Kaydara FBX", "fuzz.fbx"},  {"; FBX", "fuzz.fbx"},    {"IDP2", "fuzz.md2"},
                  {"MS3D000000", "fuzz.ms3d"},  {"OFF", "fuzz.off"},      {"COFF", "fuzz.off"}};
  for (const auto& format : kFormats) {
    const size_t length = std::strlen(format.start);
    if (size >= length && std::memcmp(data, format.start, length) == 0)
      return std::string("fuzz-none/") + format.name;
  }
  // A binary STL: an 80-byte header, then a triangle count that fills the rest.
  if (size >= 84) {
    uint32_t triangles = 0;
    std::memcpy(&triangles, data + 80, 4);
    if (size == 84 + uint64_t{50} * triangles) return "fuzz-none/fuzz.stl";
  }
  return "fuzz-none/fuzz.obj";
}

// SV_FUZZ_ISOLATED=1 sends the assimp path through the child process the
// program reads with (model/isolated_load.h). Coverage inside the child is
// not seen, so the long runs leave it unset; the smoke sets it, so the
// stream the child sends and its decoding are run on every input. A
// crash, the time or the memory limit inside libassimp is then an outcome,
// not a finding; anything else the child does wrong (a sanitizer report in
// our own code there, a malformed stream) is one.
bool Isolated() {
  static const bool isolated = [] {
    const char* value = std::getenv("SV_FUZZ_ISOLATED");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  return isolated;
}

// The assimp path: whatever assimp makes of the bytes, the scene's objects
// reach the merge and the mesh work only when they are sound.
void ExerciseAssimp(const uint8_t* data, size_t size) {
  const std::string name = NameFor(data, size);
  std::string error, failure;
  AssimpReport report;
  // The child gets half of the smoke's one-second budget per input: an input
  // on which assimp takes longer is its time limit at work, not a finding.
  Scene* scene = Isolated() ? LoadAssimpSceneIsolated(data, size, name, &report, &error, &failure, 500)
                            : LoadAssimpSceneFromBytes(data, size, name, &report, &error);
  if (scene == nullptr) {
    Require(!error.empty() || !failure.empty());
    Require(failure.empty() || failure.rfind("assimp's reader", 0) != 0);
    return;
  }
  Require(report.placedTriangles <= kMaxModelTriangles && report.placedVertices <= kMaxModelVertices);
  ExercisePose(scene, data, size);
  std::vector<LeftOutObject> leftOut;
  MeshObject* merged = MergeMeshObjects(*scene, &leftOut);
  if (merged != nullptr) {
    Require(ValidateMesh(*merged).face < 0);
    FitMesh(merged, kFitHalfExtent);
    ExerciseMesh(merged, data, size);
    FreeMeshObject(merged);
  }
  FreeScene(scene);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || data[0] != 0x4D || data[1] != 0x4D) ExerciseAssimp(data, size);
  for (bool readTexCoords : {true, false}) {
    Scene* scene = Load3dsSceneFromBytes(data, size, readTexCoords);
    if (scene == nullptr) {
      Require(size < 2 || data[0] != 0x4D || data[1] != 0x4D);
      continue;
    }
    Require(scene->objectCount >= 0 && scene->objectCount <= kMaxObjects);
    Require(scene->materialCount >= 0 && scene->materialCount <= kMaxMaterials);
    for (int i = 0; i < scene->objectCount; ++i) {
      MeshObject* object = scene->objects[i];
      Require(readTexCoords || object->texCoords == nullptr);
      const MeshDefect defect = ValidateMesh(*object);
      if (defect.face >= 0) {
        Require(!WhyNotDrawable(*object).empty());
        continue;
      }
      // Every sound object goes through the same code as the drawn mesh.
      if (readTexCoords) ExerciseMesh(object, data, size);
    }
    if (readTexCoords) ExercisePose(scene, data, size);
    // The mesh the demo draws: every drawable object merged, then fitted.
    std::vector<LeftOutObject> leftOut;
    MeshObject* merged = MergeMeshObjects(*scene, &leftOut);
    Require(leftOut.size() <= static_cast<size_t>(scene->objectCount));
    Require((merged == nullptr) == (leftOut.size() == static_cast<size_t>(scene->objectCount)));
    if (merged != nullptr) {
      Require(ValidateMesh(*merged).face < 0);
      FitMesh(merged, kFitHalfExtent);
      if (readTexCoords) ExerciseMesh(merged, data, size);
      FreeMeshObject(merged);
    }
    FreeScene(scene);
  }
  return 0;
}
