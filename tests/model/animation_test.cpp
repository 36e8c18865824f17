// Posing animated models: unposed, they stand as assimp's pre-transformed
// import puts them; the player's pose of assimp-testmodels' animated
// files, and of a skinned glTF written here, equals a plain-matrix
// evaluation of what assimp imports (tests/support/assimp_pose.h) at times
// before, inside, at the end of and past each clip; the clips are listed as
// the file has them. Bad rigs lose the bad clip or fall back to the static
// pose, with a note saying what was wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "model/animation.h"
#include "model/load_model.h"
#include "model/merge.h"
#include "tests/support/assimp_models.h"
#include "tests/support/assimp_oracle.h"
#include "tests/support/assimp_pose.h"
#include "tests/support/scratch.h"
#include "tests/support/skinned_gltf.h"

namespace {

using ScenePtr = std::unique_ptr<Scene, void (*)(Scene*)>;

ScenePtr Load(const std::string& path) { return ScenePtr(LoadModel(path).scene, FreeScene); }

// The model files, or "" for the skinned glTF the test writes.
std::string ModelPath(const std::string& param) {
  if (!param.empty()) return AssimpModelPath(param);
  const std::string folder = ScratchFolder("skinned");
  return WriteSkinnedGltf(folder, "strip");
}

class PosedModel : public ::testing::TestWithParam<std::string> {};

TEST_P(PosedModel, EqualsAPlainMatrixEvaluationOfAssimpsImport) {
  if (!GetParam().empty())
    if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::string path = ModelPath(GetParam());
  ASSERT_FALSE(path.empty());
  ScenePtr scene = Load(path);
  ASSERT_NE(scene, nullptr);
  ASSERT_NE(scene->rig, nullptr);
  const Rig& rig = *scene->rig;

  // Before any pose the objects stand where assimp's pre-transformed import
  // puts them (order aside): the static pose the model has always had.
  AssimpMergedMesh still;
  std::string error;
  ASSERT_TRUE(AssimpPreTransformed(path, &still, &error)) << error;
  MeshObject view{};
  view.vertexCount = static_cast<int32_t>(still.vertices.size());
  view.faceCount = static_cast<int32_t>(still.faces.size());
  view.vertices = still.vertices.data();
  view.faces = still.faces.data();
  MeshObject* unposed = MergeMeshObjects(*scene, nullptr);
  ASSERT_NE(unposed, nullptr);
  const std::vector<WorldTriangle> theirs = MeshTriangles(view);
  EXPECT_EQ(UnmatchedTriangles(MeshTriangles(*unposed), theirs, 1e-6f * (1 + LargestCoordinate(theirs))), 0);
  FreeMeshObject(unposed);

  const std::vector<AssimpClipInfo> clips = AssimpClips(path);
  ASSERT_EQ(rig.clips.size(), clips.size());
  AnimationPlayer player(rig);
  for (size_t c = 0; c < clips.size(); ++c) {
    EXPECT_EQ(rig.clips[c].name, clips[c].name);
    const double duration = clips[c].durationSeconds;
    EXPECT_NEAR(rig.clips[c].duration / rig.clips[c].ticksPerSecond, duration, 1e-9);
    for (double fraction : {0.0, 0.137, 0.5, 0.861, 1.37}) {
      const double seconds = fraction * (duration > 0 ? duration : 1);
      SCOPED_TRACE("clip " + std::to_string(c) + " at " + std::to_string(seconds) + " s");
      std::vector<Vec3> expected;
      ASSERT_TRUE(AssimpPosedVertices(path, static_cast<int>(c), seconds, &expected, &error)) << error;
      player.SelectClip(static_cast<int>(c));
      player.SetTimeSeconds(seconds);
      player.Pose();
      ApplyPose(player, rig, scene.get());
      MeshObject* merged = MergeMeshObjects(*scene, nullptr);
      ASSERT_NE(merged, nullptr);
      ASSERT_EQ(static_cast<size_t>(merged->vertexCount), expected.size());
      float extent = 0;
      for (const Vec3& v : expected)
        extent = std::max({extent, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
      const float tolerance = 2e-5f * (1 + extent);
      int off = 0;
      for (size_t v = 0; v < expected.size(); ++v) {
        const Vec3 &ours = merged->vertices[v], &theirs = expected[v];
        const bool near = std::fabs(ours.x - theirs.x) <= tolerance &&
                          std::fabs(ours.y - theirs.y) <= tolerance &&
                          std::fabs(ours.z - theirs.z) <= tolerance;
        if (!near && off++ < 3)
          ADD_FAILURE() << "vertex " << v << ": " << ours.x << "," << ours.y << "," << ours.z
                        << " against " << theirs.x << "," << theirs.y << "," << theirs.z;
      }
      EXPECT_EQ(off, 0) << "tolerance " << tolerance;
      FreeMeshObject(merged);
    }
  }
}

std::string Name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.empty() ? "written_skinned_gltf" : info.param;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(AnimatedFiles, PosedModel,
                         ::testing::Values("X/Testwuson.X", "FBX/animation_with_skeleton.fbx",
                                           "X/anim_test.x", "glTF2/simple_skin/simple_skin.gltf",
                                           "Collada/box_nested_animation.dae",
                                           "glTF2/glTF-Sample-Models/AnimatedMorphCube-glTF/"
                                           "AnimatedMorphCube.gltf",
                                           ""),
                         Name);

}  // namespace

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// One object of three vertices, posed by a rig of two nodes (Root, Arm),
// one bone on Arm weighing every vertex, and one clip turning Arm.
struct SmallRig {
  ScenePtr scene{new Scene(), FreeScene};
  Rig rig;

  SmallRig() {
    scene->objects = new MeshObject*[kMaxObjects]();
    MeshObject* object = new MeshObject();
    object->vertexCount = 3;
    object->vertices = new Vec3[3]{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    scene->objects[scene->objectCount++] = object;
    rig.nodes = {AnimNode{-1, "Root", Matrix34()}, AnimNode{0, "Arm", Matrix34()}};
    RigMesh mesh;
    mesh.object = 0;
    mesh.node = 0;
    mesh.bindPositions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.bones = {Bone{1, "Arm", Matrix34()}};
    mesh.influenceStart = {0, 1, 2, 3};
    mesh.influences = {{0, 1.0f}, {0, 0.5f}, {0, 1.0f}};
    rig.meshes.push_back(mesh);
    AnimClip clip;
    clip.name = "Wave";
    clip.duration = 10;
    NodeChannel channel;
    channel.node = 1;
    channel.nodeName = "Arm";
    channel.rotations = {RotationKey{0, Quaternion()}, RotationKey{10, Quaternion{0, 0, 0, 1}}};
    channel.positions = {VectorKey{0, {0, 0, 0}}, VectorKey{5, {1, 0, 0}}};
    clip.channels.push_back(channel);
    rig.clips.push_back(clip);
  }
};

TEST(RigCheck, BadRigsLoseTheClipOrTheWholeAnimationAndSayWhy) {
  struct Case {
    const char* name;
    void (*flaw)(Rig&);
    RigLimits limits;
    size_t clipsLeft;     // of 1
    bool animated;        // the meshes kept
    const char* note;     // a part of the one note
  };
  const RigLimits kRoomy{4096, 256, 2048};
  const Case cases[] = {
      {"sound", [](Rig&) {}, kRoomy, 1, true, nullptr},
      {"key not finite",
       [](Rig& r) { r.clips[0].channels[0].positions[1].value.y = kNaN; }, kRoomy, 0, true,
       "animation 0 \"Wave\" left out: channel 0 (node \"Arm\"): position key 1 is not a finite"},
      {"key time not finite", [](Rig& r) { r.clips[0].channels[0].rotations[1].time = kNaN; },
       kRoomy, 0, true, "rotation key 1 is not a finite number"},
      {"keys out of order", [](Rig& r) { r.clips[0].channels[0].positions[1].time = -1; }, kRoomy, 0,
       true, "position key 1 at tick -1 is not after the key before it (0)"},
      {"keys at equal times", [](Rig& r) { r.clips[0].channels[0].rotations[1].time = 0; }, kRoomy,
       0, true, "rotation key 1 at tick 0 is not after the key before it (0)"},
      {"channel naming a missing node", [](Rig& r) { r.clips[0].channels[0].node = -1; }, kRoomy, 0,
       true, "channel 0 (node \"Arm\") names a node the model does not have"},
      {"negative duration", [](Rig& r) { r.clips[0].duration = -2; }, kRoomy, 0, true,
       "its duration -2 ticks is not a length of time"},
      {"zero duration", [](Rig& r) { r.clips[0].duration = 0; }, kRoomy, 1, true,
       "lasts no time: it is a still pose"},
      {"more keys than the file can hold", [](Rig&) {}, RigLimits{3, 16, 16}, 0, true,
       "its keys bring the total to 4, more than the 3 the file's size allows"},
      {"negative weight", [](Rig& r) { r.meshes[0].influences[1].weight = -0.25f; }, kRoomy, 0,
       false, "mesh 0: vertex 1 has the weight -0.25, which is not a share"},
      {"weights totalling more than 2",
       [](Rig& r) {
         r.meshes[0].influences.insert(r.meshes[0].influences.begin() + 2, Influence{0, 1.75f});
         r.meshes[0].influenceStart = {0, 1, 3, 4};
       },
       kRoomy, 0, false, "the weights of vertex 1 total 2.25, more than 2"},
      {"offset not finite", [](Rig& r) { r.meshes[0].bones[0].offset.m[5] = kNaN; }, kRoomy, 0,
       false, "bone 0 \"Arm\": its offset matrix is not finite"},
      {"100,000 bones",
       [](Rig& r) { r.meshes[0].bones.resize(100000, Bone{1, "Arm", Matrix34()}); }, LimitsForFileSize(1 << 24), 0,
       false, "100000 bones, more than the 65536 the file's size allows"},
      {"node transform not finite", [](Rig& r) { r.nodes[1].local.m[3] = kNaN; }, kRoomy, 0,
       false, "the transform of node \"Arm\" is not finite"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmallRig small;
    c.flaw(small.rig);
    CheckRig(*small.scene, c.limits, &small.rig);
    EXPECT_EQ(small.rig.clips.size(), c.clipsLeft);
    EXPECT_EQ(!small.rig.meshes.empty(), c.animated);
    if (c.note == nullptr) {
      EXPECT_TRUE(small.rig.notes.empty());
      continue;
    }
    ASSERT_EQ(small.rig.notes.size(), 1u);
    EXPECT_NE(small.rig.notes[0].find(c.note), std::string::npos) << small.rig.notes[0];
    // Whatever is left plays: a pose never reads outside what was checked.
    AnimationPlayer player(small.rig);
    player.SetTimeSeconds(0.1);
    player.Pose();
  }
}

// The player's clock: ticks loop over the clip (25 a second here), pause
// holds them unless stepped, and a clip of no duration stays at its start.
TEST(AnimationPlayerClock, LoopsPausesAndSteps) {
  SmallRig small;
  AnimClip still = small.rig.clips[0];
  still.name = "Still";
  still.duration = 0;
  small.rig.clips.push_back(still);
  CheckRig(*small.scene, RigLimits{4096, 256, 2048}, &small.rig);
  AnimationPlayer player(small.rig);
  player.SetTimeSeconds(0.5);  // 12.5 ticks into a clip of 10
  EXPECT_NEAR(player.TimeTicks(), 2.5, 1e-9);
  player.SetTimeSeconds(-0.1);  // 2.5 ticks before the start
  EXPECT_NEAR(player.TimeTicks(), 7.5, 1e-9);
  player.SetPaused(true);
  player.Advance(0.2);
  EXPECT_NEAR(player.TimeTicks(), 7.5, 1e-9);
  player.StepSeconds(1.0 / 25);
  EXPECT_NEAR(player.TimeTicks(), 8.5, 1e-9);
  player.SetPaused(false);
  player.Advance(0.1);
  EXPECT_NEAR(player.TimeTicks(), 1.0, 1e-9);
  player.SelectClip(-1);  // the last clip, at its start
  EXPECT_EQ(player.Clip(), 1);
  player.SetTimeSeconds(3);
  EXPECT_EQ(player.TimeTicks(), 0);
  // At 2.5 ticks Arm has moved a half unit in x and turned 45 degrees about
  // z: vertex 1 (weight 0.5 of its total 0.5) follows Arm in full.
  player.SelectClip(0);
  player.SetTimeSeconds(0.1);
  player.Pose();
  const Vec3 moved = player.Positions(0)[1];
  EXPECT_NEAR(moved.x, 0.5 + std::sqrt(0.5), 1e-5);
  EXPECT_NEAR(moved.y, std::sqrt(0.5), 1e-5);
}

// The written glTF broken in one way each: assimp reads it, the model loads
// in its static pose or without its clip, and the note says why.
TEST(SkinnedGltfFlaws, LoadWithANoteInsteadOfTheBadPart) {
  struct Case {
    SkinnedGltfFlaw flaw;
    size_t clipsLeft;
    const char* note;
  };
  const Case cases[] = {
      {SkinnedGltfFlaw::kHeavyWeights, 0, "the weights of vertex 3 total 2.5, more than 2"},
      {SkinnedGltfFlaw::kKeysOutOfOrder, 0, "rotation key 2 at tick 1000 is not after the key before it (2000)"},
      {SkinnedGltfFlaw::kEqualKeyTimes, 0, "rotation key 1 at tick 0 is not after the key before it (0)"},
      {SkinnedGltfFlaw::kNanInverseBind, 0, "bone 1 \"Knee\": its offset matrix is not finite"},
  };
  const std::string folder = ScratchFolder("flawed");
  for (const Case& c : cases) {
    const std::string name = "flaw" + std::to_string(static_cast<int>(c.flaw));
    SCOPED_TRACE(name);
    const std::string path = WriteSkinnedGltf(folder, name, c.flaw);
    ASSERT_FALSE(path.empty());
    ScenePtr scene = Load(path);
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->objectCount, 1);
    ASSERT_NE(scene->rig, nullptr);
    EXPECT_EQ(scene->rig->clips.size(), c.clipsLeft);
    std::string notes;
    for (const std::string& note : scene->rig->notes) notes += note + "\n";
    EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
  }
}

}  // namespace
