// The child process the assimp reader runs in, and the stream that carries
// its scene back: every way a child can end becomes one outcome, and the
// stream's decoder refuses every damaged copy without reading out of bounds.
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/isolated_run.h"
#include "io/whole_file.h"
#include "model/load3ds.h"
#include "model/animation.h"
#include "model/load_assimp.h"
#include "model/load_model.h"
#include "model/scene_wire.h"
#include "tests/support/assimp_models.h"
#include "tests/support/scratch.h"
#include "tests/support/skinned_gltf.h"

namespace {

struct ChildCase {
  const char* name;
  std::vector<uint8_t> (*work)();
  IsolatedOutcome outcome;
  int signal;
};

std::vector<uint8_t> Replies() { return {1, 2, 3}; }
std::vector<uint8_t> Segfaults() {
  raise(SIGSEGV);
  return {};
}
std::vector<uint8_t> Aborts() { abort(); }
std::vector<uint8_t> Sleeps() {
  while (true) pause();
}
std::vector<uint8_t> AllocatesForever() {
  std::vector<std::unique_ptr<uint8_t[]>> blocks;
  while (true) blocks.emplace_back(new uint8_t[1 << 24]);
}
std::vector<uint8_t> RepliesTooMuch() { return std::vector<uint8_t>(3 << 20, 7); }
std::vector<uint8_t> Throws() { throw std::runtime_error("no"); }

void PrintTo(const ChildCase& c, std::ostream* out) { *out << c.name; }

class IsolatedRun : public ::testing::TestWithParam<ChildCase> {};

TEST_P(IsolatedRun, EveryEndOfTheChildIsOneOutcome) {
  const ChildCase& c = GetParam();
  // Only the sleeping child should meet the deadline, on however busy a machine.
  const int64_t milliseconds = c.outcome == IsolatedOutcome::kTimedOut ? 200 : 60000;
  const IsolationLimits limits{uint64_t{512} << 20, milliseconds, uint64_t{2} << 20};
  const IsolatedResult result = RunIsolated(c.work, limits);
#ifdef __SANITIZE_ADDRESS__
  // AddressSanitizer's allocator reports a failed allocation itself and ends
  // the process with its exit status: the limit holds, the cause is not told.
  if (c.outcome == IsolatedOutcome::kOutOfMemory) {
    EXPECT_EQ(result.outcome, IsolatedOutcome::kExited);
    return;
  }
#endif
  EXPECT_EQ(result.outcome, c.outcome);
  EXPECT_EQ(result.signal, c.signal);
  if (c.outcome == IsolatedOutcome::kReplied)
    EXPECT_EQ(result.reply, Replies());
  else
    EXPECT_TRUE(result.reply.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Children, IsolatedRun,
    ::testing::Values(ChildCase{"Replies", Replies, IsolatedOutcome::kReplied, 0},
                      ChildCase{"Segfaults", Segfaults, IsolatedOutcome::kCrashed, SIGSEGV},
                      ChildCase{"Aborts", Aborts, IsolatedOutcome::kCrashed, SIGABRT},
                      ChildCase{"Sleeps", Sleeps, IsolatedOutcome::kTimedOut, 0},
                      ChildCase{"AllocatesForever", AllocatesForever, IsolatedOutcome::kOutOfMemory, 0},
                      ChildCase{"RepliesTooMuch", RepliesTooMuch, IsolatedOutcome::kReplyTooLarge, 0},
                      ChildCase{"Throws", Throws, IsolatedOutcome::kExited, 0}),
    [](const ::testing::TestParamInfo<ChildCase>& info) { return std::string(info.param.name); });

// A model read in this process, so the stream's round trip is checked field
// by field: `path`, or a real one with materials, texture coordinates and an
// embedded image.
Scene* ReadBoxInProcess(AssimpReport* report, std::string path = std::string()) {
  if (path.empty()) path = AssimpModelPath("glTF2/BoxTextured-glTF-Binary/BoxTextured.glb");
  const FileBytes file = ReadWholeFile(path.c_str(), kModelFileLimits);
  std::string error;
  Scene* scene = LoadAssimpSceneFromBytes(file.data, file.size, path, report, &error);
  EXPECT_NE(scene, nullptr) << error;
  return scene;
}

// The skinned strip the tests write (tests/support/skinned_gltf.h).
std::string SkinnedStrip() { return WriteSkinnedGltf(ScratchFolder("wire"), "strip"); }

TEST(SceneWire, RoundTripKeepsEveryFieldTheReaderFills) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  AssimpReport report;
  Scene* original = ReadBoxInProcess(&report);
  ASSERT_NE(original, nullptr);
  ASSERT_FALSE(original->embeddedTextures.empty());
  const std::vector<uint8_t> bytes = EncodeAssimpRead(original, report, "");
  Scene* copy = nullptr;
  AssimpReport copyReport;
  std::string error, problem;
  ASSERT_TRUE(DecodeAssimpRead(bytes.data(), bytes.size(), &copy, &copyReport, &error, &problem))
      << problem;
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copyReport.format, report.format);
  EXPECT_EQ(copyReport.nodes, report.nodes);
  EXPECT_EQ(copyReport.placedTriangles, report.placedTriangles);
  EXPECT_EQ(copy->totalVertexCount, original->totalVertexCount);
  EXPECT_EQ(copy->totalFaceCount, original->totalFaceCount);
  ASSERT_EQ(copy->materialCount, original->materialCount);
  for (int i = 0; i < copy->materialCount; ++i) {
    EXPECT_STREQ(copy->materials[i]->name, original->materials[i]->name);
    EXPECT_EQ(copy->materials[i]->diffuseColour, original->materials[i]->diffuseColour);
    EXPECT_EQ(copy->materials[i]->textureName, original->materials[i]->textureName);
  }
  ASSERT_EQ(copy->objectCount, original->objectCount);
  for (int i = 0; i < copy->objectCount; ++i) {
    const MeshObject &a = *original->objects[i], &b = *copy->objects[i];
    ASSERT_EQ(b.vertexCount, a.vertexCount);
    ASSERT_EQ(b.faceCount, a.faceCount);
    EXPECT_EQ(b.material, b.materialIndex >= 0 ? copy->materials[b.materialIndex] : nullptr);
    EXPECT_EQ(std::memcmp(b.vertices, a.vertices, sizeof(Vec3) * a.vertexCount), 0);
    EXPECT_EQ(std::memcmp(b.faces, a.faces, sizeof(Face) * a.faceCount), 0);
    ASSERT_EQ(b.texCoords != nullptr, a.texCoords != nullptr);
    if (a.texCoords != nullptr) {
      EXPECT_EQ(std::memcmp(b.texCoords, a.texCoords, sizeof(TexCoord) * a.vertexCount), 0);
    }
  }
  ASSERT_EQ(copy->embeddedTextures.size(), original->embeddedTextures.size());
  EXPECT_EQ(copy->embeddedTextures[0].bytes, original->embeddedTextures[0].bytes);
  FreeScene(copy);
  FreeScene(original);
}

// The second files the reader opened in the child come back with the
// scene, as located beside the model, so that --watch can follow them; a
// list longer than its bound is a malformed stream.
TEST(SceneWire, FilesTheChildReadComeBackWithinTheirBound) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::string path = AssimpModelPath("glTF2/BoxTextured-glTF/BoxTextured.gltf");
  const ModelLoad load = LoadModel(path);
  ASSERT_NE(load.scene, nullptr) << load.problem;
  FreeScene(load.scene);
  EXPECT_EQ(load.assimp.filesRead,
            std::vector<std::string>{AssimpModelPath("glTF2/BoxTextured-glTF/BoxTextured0.bin")});

  AssimpReport report;
  report.filesRead.assign(kMaxFilesRead + 1, "model.bin");
  const std::vector<uint8_t> bytes = EncodeAssimpRead(nullptr, report, "no scene");
  Scene* scene = nullptr;
  std::string error, problem;
  EXPECT_FALSE(DecodeAssimpRead(bytes.data(), bytes.size(), &scene, &report, &error, &problem));
  report.filesRead.resize(kMaxFilesRead);
  const std::vector<uint8_t> most = EncodeAssimpRead(nullptr, report, "no scene");
  AssimpReport back;
  EXPECT_TRUE(DecodeAssimpRead(most.data(), most.size(), &scene, &back, &error, &problem)) << problem;
  EXPECT_EQ(back.filesRead, report.filesRead);
}

// The rig crosses whole: the decoded copy poses every clip exactly as the
// reader's own scene does, and keeps the reader's notes.
TEST(SceneWire, RoundTripKeepsTheRig) {
  AssimpReport report;
  Scene* original = ReadBoxInProcess(&report, SkinnedStrip());
  ASSERT_NE(original, nullptr);
  ASSERT_NE(original->rig, nullptr);
  original->rig->notes.push_back("a note the reader made");
  const std::vector<uint8_t> bytes = EncodeAssimpRead(original, report, "");
  Scene* copy = nullptr;
  AssimpReport copyReport;
  std::string error, problem;
  ASSERT_TRUE(DecodeAssimpRead(bytes.data(), bytes.size(), &copy, &copyReport, &error, &problem))
      << problem;
  ASSERT_NE(copy->rig, nullptr);
  const Rig &a = *original->rig, &b = *copy->rig;
  EXPECT_EQ(b.notes, a.notes);
  ASSERT_EQ(b.nodes.size(), a.nodes.size());
  ASSERT_EQ(b.meshes.size(), a.meshes.size());
  ASSERT_EQ(b.clips.size(), a.clips.size());
  ASSERT_TRUE(HasAnimation(b));
  AnimationPlayer posedA(a), posedB(b);
  for (double seconds : {0.0, 0.7, 1.25}) {
    posedA.SetTimeSeconds(seconds);
    posedB.SetTimeSeconds(seconds);
    posedA.Pose();
    posedB.Pose();
    for (size_t m = 0; m < a.meshes.size(); ++m) {
      const std::vector<Vec3>&pa = posedA.Positions(m), &pb = posedB.Positions(m);
      ASSERT_EQ(pa.size(), pb.size());
      EXPECT_EQ(std::memcmp(pa.data(), pb.data(), sizeof(Vec3) * pa.size()), 0) << seconds;
    }
  }
  FreeScene(copy);
  FreeScene(original);
}

// The child parsed a hostile file, so its stream is untrusted: every cut-off
// copy, and every copy with one byte changed, is either refused or decodes
// to a scene within the tables it states (the sanitizer build checks that
// nothing is read or written out of bounds on the way).
// The skinned strip's stream carries a rig record too: a damaged copy of it
// decodes to a rig the player can pose, or is refused.
class DamagedSceneWire : public ::testing::TestWithParam<bool> {};

TEST_P(DamagedSceneWire, StreamsAreRefusedOrStayInBounds) {
  const bool skinned = GetParam();
  if (!skinned)
    if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  AssimpReport report;
  Scene* original = ReadBoxInProcess(&report, skinned ? SkinnedStrip() : std::string());
  ASSERT_NE(original, nullptr);
  original->embeddedTextures.clear();  // keeps the stream short: every byte is tried
  const std::vector<uint8_t> bytes = EncodeAssimpRead(original, report, "");
  FreeScene(original);
  ASSERT_LT(bytes.size(), skinned ? 8192u : 4096u);
  int refused = 0;
  auto decode = [&](const std::vector<uint8_t>& damaged) {
    Scene* scene = nullptr;
    AssimpReport seen;
    std::string error, problem;
    if (!DecodeAssimpRead(damaged.data(), damaged.size(), &scene, &seen, &error, &problem)) {
      EXPECT_EQ(scene, nullptr);
      EXPECT_FALSE(problem.empty());
      ++refused;
      return;
    }
    if (scene == nullptr) return;
    int64_t vertices = 0;
    for (int i = 0; i < scene->objectCount; ++i) {
      const MeshObject& object = *scene->objects[i];
      vertices += object.vertexCount;
      EXPECT_LT(object.materialIndex, scene->materialCount);
      EXPECT_EQ(object.material, object.materialIndex >= 0 ? scene->materials[object.materialIndex] : nullptr);
    }
    EXPECT_EQ(vertices, scene->totalVertexCount);
    EXPECT_LE(vertices, kMaxModelVertices);
    if (scene->rig != nullptr && HasAnimation(*scene->rig)) {
      AnimationPlayer player(*scene->rig);
      player.SetTimeSeconds(1.0);
      player.Pose();
      ApplyPose(player, *scene->rig, scene);
    }
    FreeScene(scene);
  };
  for (size_t length = 0; length < bytes.size(); ++length)
    decode(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
  EXPECT_EQ(refused, static_cast<int>(bytes.size()));
  for (size_t at = 0; at < bytes.size(); ++at) {
    std::vector<uint8_t> damaged = bytes;
    damaged[at] ^= 0xA5;
    decode(damaged);
  }
}

INSTANTIATE_TEST_SUITE_P(SceneWire, DamagedSceneWire, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "SkinnedStrip" : "BoxTextured");
                         });

}  // namespace
