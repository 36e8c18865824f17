// Keyframer placement against assimp: models of assimp-testmodels exported
// to 3DS by assimp's own exporter at test time (the engine's 199-node
// hierarchy, a mirrored FBX, OBJ and glTF files) give the triangles assimp's
// importer gives for the same file, in the file's own axes; their float
// colour chunks read as assimp reads them. Bad keyframer sections leave
// every object where its vertices lie and say which chunk, and where.
#include <gtest/gtest.h>

#include <assimp/material.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "model/animation.h"
#include "model/load3ds.h"
#include "model/merge.h"
#include "tests/support/assimp_models.h"
#include "tests/support/assimp_oracle.h"
#include "tests/support/assimp_pose.h"
#include "tests/support/scratch.h"
#include "tools/chunk_writer.h"
#include "tools/mesh_writer.h"

namespace {

using ScenePtr = std::unique_ptr<Scene, void (*)(Scene*)>;
using MeshPtr = std::unique_ptr<MeshObject, void (*)(MeshObject*)>;

MeshPtr Merged(const Scene& scene) {
  return MeshPtr(MergeMeshObjects(scene, nullptr), FreeMeshObject);
}

TEST(KeyframerPlacement, AssimpExportsPlaceAsAssimpImportsThem) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  struct Model {
    const char* path;
    bool moves;  // some object's placement is not the identity
  };
  const Model models[] = {
      {"glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb", true},  // 199 nodes, depth 9
      {"FBX/cubes_with_mirroring_and_pivot.fbx", true},                 // mirroring mesh matrices
      {"glTF2/BoxTextured-glTF/BoxTextured.gltf", true},
      {"OBJ/spider.obj", false},  // nodes without transforms: the vertices as stored
  };
  for (const auto& [model, moves] : models) {
    SCOPED_TRACE(model);
    const std::string exported = ScratchPath(std::string(std::strrchr(model, '/') + 1) + ".3ds");
    std::string error;
    ASSERT_TRUE(ExportWithAssimp(AssimpModelPath(model), "3ds", exported, &error)) << error;

    ScenePtr scene(Load3dsScene(exported.c_str(), true), FreeScene);
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(DescribeKeyframerProblem(*scene), "");
    int placed = 0;
    for (int i = 0; i < scene->objectCount; ++i) placed += scene->objects[i]->placed;
    EXPECT_EQ(placed > 0, moves);
    const MeshPtr merged = Merged(*scene);
    ASSERT_NE(merged, nullptr);
    const std::vector<WorldTriangle> ours = MeshTriangles(*merged);
    const std::vector<WorldTriangle> theirs = AssimpWorldTriangles(exported, true, &error);
    ASSERT_FALSE(theirs.empty()) << error;
    EXPECT_EQ(ours.size(), theirs.size());
    const float tolerance = 2e-6f * (1 + LargestCoordinate(theirs));
    EXPECT_EQ(UnmatchedTriangles(ours, theirs, tolerance), 0) << "tolerance " << tolerance;

    // assimp writes every colour as floats (chunk 0010): each material's
    // diffuse colour reads as assimp's importer reads it.
    Assimp::Importer importer;
    const aiScene* imported = importer.ReadFile(exported, 0);
    ASSERT_NE(imported, nullptr);
    int compared = 0;
    for (int m = 0; m < scene->materialCount; ++m) {
      const Material& ours = *scene->materials[m];
      for (unsigned k = 0; k < imported->mNumMaterials; ++k) {
        aiString name;
        aiColor3D diffuse;
        const aiMaterial& theirs = *imported->mMaterials[k];
        if (theirs.Get(AI_MATKEY_NAME, name) != AI_SUCCESS ||
            ours.name != std::string(name.C_Str()) ||
            theirs.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse) != AI_SUCCESS)
          continue;
        const auto channel = [](float v) { return static_cast<int>(std::lround(v * 255)); };
        EXPECT_EQ(ours.diffuseColour,
                  channel(diffuse.r) << 16 | channel(diffuse.g) << 8 | channel(diffuse.b))
            << ours.name;
        ++compared;
        break;
      }
    }
    EXPECT_GT(compared, 0);
  }
}

// A model of one triangle "Tri" written under a 4160 matrix that moved it
// by (10, 0, 0), and a keyframer section built by `section`, which gets the
// writer with the section chunk open. The offsets in the lines below come
// from the writer's own positions.
std::vector<uint8_t> TriangleWithKeyframer(void (*section)(ChunkWriter&)) {
  ChunkWriter w;
  w.Begin(kChunkMain);
  w.Begin(kChunkEditor);
  w.Begin(kChunkNamedObject);
  w.Name("Tri");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{10, 0, 0}, {11, 0, 0}, {10, 1, 0}});
  w.Begin(kChunkLocalMatrix);
  for (float value : {1, 0, 0, 0, 1, 0, 0, 0, 1, 10, 0, 0}) w.F32(value);
  w.End();
  BeginFaceList(w, {{0, 1, 2}});
  w.End();
  w.End();
  w.End();
  w.End();  // editor
  w.Begin(kChunkKeyframer);
  section(w);
  w.EndAll();
  return w.Bytes();
}

void NodeHeader(ChunkWriter& w, const char* name, uint16_t parent) {
  w.Begin(kChunkNodeHeader);
  w.Name(name);
  w.U16(0);
  w.U16(0);
  w.U16(parent);
  w.End();
}

// A track of `keys` keys of which `written` are there, each at frame 0 with
// no spline values.
void Track(ChunkWriter& w, uint16_t id, uint32_t keys, uint32_t written,
           std::vector<float> values) {
  w.Begin(id);
  w.U16(0);
  w.U32(0);
  w.U32(0);
  w.U32(keys);
  for (uint32_t k = 0; k < written; ++k) {
    w.U32(0);
    w.U16(0);
    for (float value : values) w.F32(value);
  }
  w.End();
}

void Node(ChunkWriter& w, uint16_t id, const char* name, uint16_t parent) {
  w.Begin(kChunkObjectNode);
  w.Begin(kChunkNodeId);
  w.U16(id);
  w.End();
  NodeHeader(w, name, parent);
  w.End();
}

TEST(KeyframerPlacement, BadSectionsLeaveEveryObjectUnplacedAndSayWhere) {
  struct Case {
    const char* name;
    void (*section)(ChunkWriter&);
    const char* problem;  // "" for a section that places the triangle
  };
  // The section starts at byte 142: main and editor headers (12), the object
  // (header and name 10, mesh header 6, vertex list 44, matrix 54, face list
  // 16); its first node at 148, that node's first chunk at 154.
  const Case cases[] = {
      {"sound: the node undoes the matrix", [](ChunkWriter& w) { Node(w, 0, "Tri", 0xFFFF); }, ""},
      {"more keys than the track holds",
       [](ChunkWriter& w) {
         w.Begin(kChunkObjectNode);
         NodeHeader(w, "Tri", 0xFFFF);
         Track(w, kChunkPositionTrack, 1000, 1, {1, 2, 3});
         w.End();
       },
       "keyframer chunk B020 at byte 170: its data runs past its end"},
      {"a name without its terminator",
       [](ChunkWriter& w) {
         w.Begin(kChunkObjectNode);
         w.Begin(kChunkNodeHeader);
         w.Raw("Tri", 3);
         w.End();
         w.End();
       },
       "keyframer chunk B010 at byte 154: its data runs past its end"},
      {"a track longer than its node",
       [](ChunkWriter& w) {
         w.Begin(kChunkObjectNode);
         NodeHeader(w, "Tri", 0xFFFF);
         w.Header(kChunkPositionTrack, 400);
         w.End();
       },
       "keyframer chunk B020 at byte 170: it runs past the end of the chunk that holds it"},
      {"parents in a ring",
       [](ChunkWriter& w) {
         Node(w, 0, "Tri", 1);
         Node(w, 1, "Other", 0);
       },
       "keyframer chunk B002 at byte 148: its parent chain comes back to itself"},
      {"a position that is not a number",
       [](ChunkWriter& w) {
         w.Begin(kChunkObjectNode);
         NodeHeader(w, "Tri", 0xFFFF);
         Track(w, kChunkPositionTrack, 1, 1, {NAN, 0, 0});
         w.End();
       },
       "keyframer chunk B002 at byte 148: its placement is not finite"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes = TriangleWithKeyframer(c.section);
    ScenePtr scene(Load3dsSceneFromBytes(bytes.data(), bytes.size(), true), FreeScene);
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(scene->objectCount, 1);
    const std::string expected =
        *c.problem ? std::string(c.problem) + "; the objects are not placed by it" : "";
    EXPECT_EQ(DescribeKeyframerProblem(*scene), expected);
    const MeshPtr merged = Merged(*scene);
    ASSERT_NE(merged, nullptr);
    const float x = *c.problem ? 10 : 0;  // unplaced: as stored
    EXPECT_EQ(merged->vertices[0].x, x);
    EXPECT_EQ(merged->vertices[1].x, x + 1);
    EXPECT_EQ(merged->vertices[2].y, 1);
  }

  // A file cut off inside the section: said as a cut-off file and as an
  // unusable section, and nothing is placed.
  std::vector<uint8_t> bytes =
      TriangleWithKeyframer([](ChunkWriter& w) { Node(w, 0, "Tri", 0xFFFF); });
  bytes.resize(bytes.size() - 3);
  ScenePtr cut(Load3dsSceneFromBytes(bytes.data(), bytes.size(), true), FreeScene);
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(DescribeKeyframerProblem(*cut),
            "keyframer chunk B000 at byte 142: the file ends inside it; the objects are not "
            "placed by it");
  EXPECT_TRUE(cut->endsInsideChunk);
  EXPECT_FALSE(cut->objects[0]->placed);
}

// A track whose keys are at the given frames.
struct TrackKey {
  uint32_t frame;
  std::vector<float> values;
};
void KeyedTrack(ChunkWriter& w, uint16_t id, const std::vector<TrackKey>& keys) {
  w.Begin(id);
  w.U16(0);
  w.U32(0);
  w.U32(0);
  w.U32(static_cast<uint32_t>(keys.size()));
  for (const TrackKey& key : keys) {
    w.U32(key.frame);
    w.U16(0);
    for (float value : key.values) w.F32(value);
  }
  w.End();
}

// Two objects in a chain, Arm (under a 4160 matrix that moved it, with a
// pivot) and Hand below it, whose position, rotation (each key relative to
// the one before) and scale tracks run over frames 0..100.
std::vector<uint8_t> MovingArm() {
  ChunkWriter w;
  w.Begin(kChunkMain);
  w.Begin(kChunkEditor);
  for (const char* name : {"Arm", "Hand"}) {
    w.Begin(kChunkNamedObject);
    w.Name(name);
    w.Begin(kChunkTriangleMesh);
    WriteVertexList(w, {{10, 0, 0}, {12, 0, 0}, {10, 1, 0.5f}, {11, 2, 1}});
    if (std::strcmp(name, "Arm") == 0) {
      w.Begin(kChunkLocalMatrix);
      for (float value : {0, 1, 0, -1, 0, 0, 0, 0, 1, 10, 0, 0}) w.F32(value);
      w.End();
    }
    BeginFaceList(w, {{0, 1, 2}, {1, 3, 2}});
    w.End();
    w.End();
    w.End();
  }
  w.End();  // editor
  w.Begin(kChunkKeyframer);
  w.Begin(kChunkFrameRange);
  w.U32(0);
  w.U32(100);
  w.End();
  w.Begin(kChunkObjectNode);
  w.Begin(kChunkNodeId);
  w.U16(0);
  w.End();
  NodeHeader(w, "Arm", 0xFFFF);
  w.Begin(kChunkPivot);
  for (float value : {1.0f, 0.5f, 0.0f}) w.F32(value);
  w.End();
  KeyedTrack(w, kChunkPositionTrack, {{0, {0, 0, 0}}, {40, {5, 2, 0}}, {100, {5, 2, 8}}});
  KeyedTrack(w, kChunkRotationTrack,
             {{0, {0.2f, 0, 0, 1}}, {50, {0.8f, 0, 0, 1}}, {100, {0.6f, 1, 0, 0}}});
  KeyedTrack(w, kChunkScaleTrack, {{0, {1, 1, 1}}, {100, {2, 1, 0.5f}}});
  w.End();
  w.Begin(kChunkObjectNode);
  w.Begin(kChunkNodeId);
  w.U16(1);
  w.End();
  NodeHeader(w, "Hand", 0);
  KeyedTrack(w, kChunkPositionTrack, {{0, {0, 3, 0}}, {60, {0, 4, 1}}});
  KeyedTrack(w, kChunkRotationTrack, {{0, {0.3f, 0, 1, 0}}});
  w.End();
  w.EndAll();
  return w.Bytes();
}

// The tracks play as assimp's importer plays the same file, in the file's
// own axes, frame by frame (25 frames a second).
TEST(KeyframerTracks, PlayAsAssimpPlaysThem) {
  struct Model {
    std::string path;
    std::vector<double> frames;  // before the last key of assimp's clip, which ends there
  };
  std::vector<Model> models;
  const std::vector<uint8_t> arm = MovingArm();
  const std::string written = ScratchPath("moving-arm.3ds");
  {
    std::ofstream out(written, std::ios::binary);
    out.write(reinterpret_cast<const char*>(arm.data()), static_cast<std::streamsize>(arm.size()));
  }
  models.push_back({written, {0, 17, 40, 50, 73, 99.5}});
  if (AssimpModelsMissing().empty())
    models.push_back({AssimpModelPath("3DS/RotatingCube.3DS"), {0, 33, 90.5, 150}});
  for (const Model& model : models) {
    SCOPED_TRACE(model.path);
    ScenePtr scene(Load3dsScene(model.path.c_str(), true), FreeScene);
    ASSERT_NE(scene, nullptr);
    ASSERT_NE(scene->rig, nullptr);
    ASSERT_EQ(scene->rig->clips.size(), 1u);
    EXPECT_TRUE(scene->rig->notes.empty());
    AnimationPlayer player(*scene->rig);
    for (double frame : model.frames) {
      SCOPED_TRACE("frame " + std::to_string(frame));
      player.SetTimeSeconds(frame / 25);
      player.Pose();
      ApplyPose(player, *scene->rig, scene.get());
      const MeshPtr merged = Merged(*scene);
      ASSERT_NE(merged, nullptr);
      std::string error;
      const std::vector<WorldTriangle> theirs =
          AssimpPosedTriangles(model.path, 0, frame / 25, true, &error);
      ASSERT_FALSE(theirs.empty()) << error;
      const std::vector<WorldTriangle> ours = MeshTriangles(*merged);
      EXPECT_EQ(ours.size(), theirs.size());
      const float tolerance = 2e-5f * (1 + LargestCoordinate(theirs));
      EXPECT_EQ(UnmatchedTriangles(ours, theirs, tolerance), 0) << "tolerance " << tolerance;
    }
  }
}

}  // namespace
