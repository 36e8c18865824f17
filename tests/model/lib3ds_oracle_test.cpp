// The 3DS reader against lib3ds, a reader and writer nobody here wrote: the
// real 3DS files of Debian's assimp-testmodels package must give the same
// mesh vertices, faces and texture coordinates as lib3ds reads from them, and
// files that lib3ds writes from random meshes and materials must read back
// as written, and merge into the one mesh the demo draws as lib3ds's meshes
// would. Every prefix of a real file must load without fault.
#include <unistd.h>

#include <lib3ds/file.h>
#include <lib3ds/material.h>
#include <lib3ds/matrix.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>
#include <lib3ds/quat.h>
#include <lib3ds/vector.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/load3ds.h"
#include "model/merge.h"
#include "tests/support/assimp_models.h"
#include "tests/support/assimp_oracle.h"
#include "tests/support/scratch.h"

namespace {

using ScenePtr = std::unique_ptr<Scene, void (*)(Scene*)>;
using Lib3dsPtr = std::unique_ptr<Lib3dsFile, void (*)(Lib3dsFile*)>;

// Compares the meshes of one file as both readers see them. lib3ds keeps its
// meshes sorted by name, so they are matched by name, in file order among
// equal names.
void ExpectSameMeshes(const std::string& path, const Scene& scene, Lib3dsFile& oracle) {
  SCOPED_TRACE(path);
  std::vector<Lib3dsMesh*> meshes;
  for (Lib3dsMesh* m = oracle.meshes; m != nullptr; m = m->next) meshes.push_back(m);
  ASSERT_EQ(scene.objectCount, static_cast<int>(meshes.size()));
  int vertexTotal = 0, faceTotal = 0;
  for (int i = 0; i < scene.objectCount; ++i) {
    const MeshObject& object = *scene.objects[i];
    SCOPED_TRACE(object.name);
    auto match = std::find_if(meshes.begin(), meshes.end(), [&](Lib3dsMesh* m) {
      return std::strcmp(m->name, object.name) == 0;
    });
    ASSERT_NE(match, meshes.end());
    const Lib3dsMesh& mesh = **match;
    meshes.erase(match);

    ASSERT_EQ(object.vertexCount, static_cast<int>(mesh.points));
    for (int v = 0; v < object.vertexCount; ++v) {
      ASSERT_EQ(object.vertices[v].x, mesh.pointL[v].pos[0]) << v;
      ASSERT_EQ(object.vertices[v].y, mesh.pointL[v].pos[1]) << v;
      ASSERT_EQ(object.vertices[v].z, mesh.pointL[v].pos[2]) << v;
    }
    ASSERT_EQ(object.faceCount, static_cast<int>(mesh.faces));
    for (int f = 0; f < object.faceCount; ++f) {
      ASSERT_EQ(object.faces[f].index0, mesh.faceL[f].points[0]) << f;
      ASSERT_EQ(object.faces[f].index1, mesh.faceL[f].points[1]) << f;
      ASSERT_EQ(object.faces[f].index2, mesh.faceL[f].points[2]) << f;
    }
    EXPECT_EQ(ValidateMesh(object).face, -1);
    EXPECT_EQ(object.texCoords != nullptr, mesh.texels > 0);
    for (int t = 0; object.texCoords && t < std::min<int>(mesh.texels, object.vertexCount); ++t) {
      ASSERT_EQ(object.texCoords[t].u, mesh.texelL[t][0]) << t;
      ASSERT_EQ(object.texCoords[t].v, mesh.texelL[t][1]) << t;
    }
    // lib3ds keeps the material per face; the object takes one of them.
    if (object.material != nullptr) {
      bool named = false;
      for (unsigned f = 0; f < mesh.faces; ++f) {
        named = named || std::strcmp(mesh.faceL[f].material, object.material->name) == 0;
      }
      EXPECT_TRUE(named) << object.material->name;
    }
    vertexTotal += object.vertexCount;
    faceTotal += object.faceCount;
  }
  EXPECT_EQ(scene.totalVertexCount, vertexTotal);
  EXPECT_EQ(scene.totalFaceCount, faceTotal);

  std::vector<std::string> ours, theirs;
  for (int i = 0; i < scene.materialCount; ++i) ours.push_back(scene.materials[i]->name);
  for (Lib3dsMaterial* m = oracle.materials; m != nullptr; m = m->next) theirs.push_back(m->name);
  std::sort(ours.begin(), ours.end());
  std::sort(theirs.begin(), theirs.end());
  EXPECT_EQ(ours, theirs);
}

// Where lib3ds draws each point of `mesh` at frame 0: through the object
// node of its name, node matrix x T(-pivot) x inverse(mesh matrix), as its
// own player does; the points themselves when no node names the mesh. The
// file must have been evaluated at frame 0.
std::vector<Lib3dsVector> Lib3dsPlacedPoints(Lib3dsFile& file, const Lib3dsMesh& mesh) {
  std::vector<Lib3dsVector> out(mesh.points);
  Lib3dsNode* node = lib3ds_file_node_by_name(&file, mesh.name, LIB3DS_OBJECT_NODE);
  Lib3dsMatrix placement;
  lib3ds_matrix_identity(placement);
  if (node != nullptr) {
    Lib3dsMatrix inverse;
    lib3ds_matrix_copy(inverse, const_cast<Lib3dsMesh&>(mesh).matrix);
    lib3ds_matrix_inv(inverse);
    lib3ds_matrix_copy(placement, node->matrix);
    Lib3dsVector pivot;
    lib3ds_vector_copy(pivot, node->data.object.pivot);
    lib3ds_vector_neg(pivot);
    lib3ds_matrix_translate(placement, pivot);
    lib3ds_matrix_mult(placement, inverse);
  }
  for (unsigned p = 0; p < mesh.points; ++p)
    lib3ds_vector_transform(out[p], placement, mesh.pointL[p].pos);
  return out;
}

// The one mesh the demo draws: the objects lib3ds can draw (some faces, every
// index below its point count), in the file's order, one after another with
// indices offset by the points before them, placed where lib3ds draws them;
// the totals are lib3ds's sums. An object the keyframer leaves where it is
// keeps its points bit for bit.
void ExpectMergedAsLib3dsMeshes(const std::string& path, const Scene& scene, Lib3dsFile& oracle) {
  SCOPED_TRACE(path + " merged");
  lib3ds_file_eval(&oracle, 0);
  std::vector<Lib3dsMesh*> meshes;
  for (Lib3dsMesh* m = oracle.meshes; m != nullptr; m = m->next) meshes.push_back(m);
  std::vector<LeftOutObject> leftOut;
  std::unique_ptr<MeshObject, void (*)(MeshObject*)> merged(MergeMeshObjects(scene, &leftOut),
                                                            FreeMeshObject);
  int64_t vertexBase = 0, faceBase = 0;
  size_t leftOutSeen = 0;
  for (int i = 0; i < scene.objectCount; ++i) {
    // In file order; lib3ds's meshes are matched by name as above.
    auto match = std::find_if(meshes.begin(), meshes.end(), [&](Lib3dsMesh* m) {
      return std::strcmp(m->name, scene.objects[i]->name) == 0;
    });
    ASSERT_NE(match, meshes.end());
    const Lib3dsMesh& mesh = **match;
    meshes.erase(match);
    bool drawable = mesh.faces > 0;
    for (unsigned f = 0; f < mesh.faces; ++f)
      for (int c = 0; c < 3; ++c) drawable = drawable && mesh.faceL[f].points[c] < mesh.points;
    if (!drawable) {
      ASSERT_LT(leftOutSeen, leftOut.size());
      EXPECT_EQ(leftOut[leftOutSeen++].index, i);
      continue;
    }
    ASSERT_NE(merged, nullptr);
    ASSERT_LE(vertexBase + mesh.points, merged->vertexCount);
    ASSERT_LE(faceBase + mesh.faces, merged->faceCount);
    const std::vector<Lib3dsVector> placed = Lib3dsPlacedPoints(oracle, mesh);
    float extent = 1;
    for (unsigned v = 0; v < mesh.points; ++v)
      for (int c = 0; c < 3; ++c)
        extent = std::max({extent, std::fabs(mesh.pointL[v].pos[c]), std::fabs(placed[v][c])});
    for (unsigned v = 0; v < mesh.points; ++v) {
      const Vec3& ours = merged->vertices[vertexBase + v];
      ASSERT_NEAR(ours.x, placed[v][0], 1e-6 * extent) << v;
      ASSERT_NEAR(ours.y, placed[v][1], 1e-6 * extent) << v;
      ASSERT_NEAR(ours.z, placed[v][2], 1e-6 * extent) << v;
      if (!scene.objects[i]->placed) {
        ASSERT_EQ(ours.x, mesh.pointL[v].pos[0]) << v;
        ASSERT_EQ(ours.z, mesh.pointL[v].pos[2]) << v;
      }
    }
    for (unsigned f = 0; f < mesh.faces; ++f)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(merged->faces[faceBase + f].Corners()[c], vertexBase + mesh.faceL[f].points[c])
            << f;
    for (unsigned t = 0; merged->texCoords && t < mesh.points; ++t)
      ASSERT_EQ(merged->texCoords[vertexBase + t].v, t < mesh.texels ? mesh.texelL[t][1] : 0.0f);
    vertexBase += mesh.points;
    faceBase += mesh.faces;
  }
  EXPECT_EQ(leftOutSeen, leftOut.size());
  EXPECT_EQ(merged == nullptr ? 0 : merged->vertexCount, vertexBase);
  EXPECT_EQ(merged == nullptr ? 0 : merged->faceCount, faceBase);
}

TEST(Load3dsOracle, AssimpTestModelsReadAsLib3dsReadsThem) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  std::vector<std::string> files = Assimp3dsFiles();
  ASSERT_GE(files.size(), 10u) << AssimpModelPath("3DS");
  for (const std::string& path : files) {
    ScenePtr scene(Load3dsScene(path.c_str(), true), FreeScene);
    Lib3dsPtr oracle(lib3ds_file_load(path.c_str()), lib3ds_file_free);
    ASSERT_NE(scene, nullptr) << path;
    ASSERT_NE(oracle, nullptr) << path;
    ExpectSameMeshes(path, *scene, *oracle);
    ExpectMergedAsLib3dsMeshes(path, *scene, *oracle);
  }
}

// The package's empty file is no 3DS file to either reader.
TEST(Load3dsOracle, EmptyFileIsRejectedByBothReaders) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  std::string path = AssimpModelPath("invalid/empty.3ds");
  ASSERT_EQ(access(path.c_str(), R_OK), 0) << path;
  EXPECT_EQ(Load3dsScene(path.c_str(), true), nullptr);
  EXPECT_EQ(lib3ds_file_load(path.c_str()), nullptr);
}

// Every prefix of a real file loads; what comes back is consistent, and in
// the sanitizer build nothing is touched out of bounds.
TEST(Load3dsOracle, EveryPrefixOfARealFileLoadsSafely) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  std::string path = AssimpModelPath("3DS/cubes_with_alpha.3DS");
  const FileBytes file = ReadWholeFile(path.c_str(), kModelFileLimits);
  ASSERT_EQ(file.failure, FileFailure::kNone) << path;
  const std::vector<uint8_t> bytes(file.data, file.data + file.size);
  ScenePtr whole(Load3dsSceneFromBytes(bytes.data(), bytes.size(), true), FreeScene);
  ASSERT_NE(whole, nullptr);
  for (size_t size = 2; size < bytes.size(); ++size) {
    std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + size);
    ScenePtr scene(Load3dsSceneFromBytes(prefix.data(), prefix.size(), true), FreeScene);
    ASSERT_NE(scene, nullptr) << size;
    ASSERT_LE(scene->objectCount, whole->objectCount) << size;
    ASSERT_LE(scene->materialCount, whole->materialCount) << size;
    int vertices = 0, faces = 0;
    for (int i = 0; i < scene->objectCount; ++i) {
      const MeshObject& object = *scene->objects[i];
      vertices += object.vertexCount;
      faces += object.faceCount;
      // A prefix holds the file's own data or zeros, never anything else.
      const MeshObject& full = *whole->objects[i];
      ASSERT_TRUE(object.vertexCount == full.vertexCount || object.vertexCount == 0) << size;
      for (int v = 0; v < object.vertexCount; ++v) {
        bool same = object.vertices[v].x == full.vertices[v].x || object.vertices[v].x == 0;
        ASSERT_TRUE(same) << size << " vertex " << v;
      }
    }
    ASSERT_EQ(scene->totalVertexCount, vertices) << size;
    ASSERT_EQ(scene->totalFaceCount, faces) << size;
  }
}

// Random meshes and materials, written by lib3ds, read back as written.
TEST(Load3dsOracle, FilesWrittenByLib3dsRoundTrip) {
  std::mt19937 rng(20261207);
  std::uniform_real_distribution<float> coordinate(-1000.0f, 1000.0f);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const std::string path = ScratchPath("lib3ds.3ds");

  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    Lib3dsFile* file = lib3ds_file_new();
    const int materialCount = 1 + round % 3;
    for (int i = 0; i < materialCount; ++i) {
      Lib3dsMaterial* material = lib3ds_material_new();
      std::snprintf(material->name, sizeof material->name, "Mat%d-%d", round, i);
      for (int c = 0; c < 3; ++c) {
        material->ambient[c] = (rng() % 256) / 255.0f;
        material->diffuse[c] = (rng() % 256) / 255.0f;
        material->specular[c] = (rng() % 256) / 255.0f;
      }
      material->shininess = (rng() % 101) / 100.0f;
      material->shin_strength = (rng() % 101) / 100.0f;
      material->transparency = (rng() % 101) / 100.0f;
      std::snprintf(material->texture1_map.name, sizeof material->texture1_map.name, "tex%d.tif",
                    i);
      material->texture1_map.percent = (rng() % 101) / 100.0f;
      lib3ds_file_insert_material(file, material);
    }
    const int meshCount = 1 + round % 4;
    for (int i = 0; i < meshCount; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "Mesh%d", i);
      Lib3dsMesh* mesh = lib3ds_mesh_new(name);
      const unsigned points = 3 + rng() % (round == 7 ? 60000 : 500);
      const unsigned faces = rng() % 700;
      lib3ds_mesh_new_point_list(mesh, points);
      for (unsigned p = 0; p < points; ++p) {
        for (int c = 0; c < 3; ++c) mesh->pointL[p].pos[c] = coordinate(rng);
      }
      if (i % 2 == 0) {
        lib3ds_mesh_new_texel_list(mesh, points);
        for (unsigned p = 0; p < points; ++p) {
          mesh->texelL[p][0] = unit(rng);
          mesh->texelL[p][1] = unit(rng);
        }
      }
      lib3ds_mesh_new_face_list(mesh, faces);
      for (unsigned f = 0; f < faces; ++f) {
        for (int c = 0; c < 3; ++c) mesh->faceL[f].points[c] = rng() % points;
        std::snprintf(mesh->faceL[f].material, sizeof mesh->faceL[f].material, "Mat%d-%d", round,
                      i % materialCount);
      }
      // lib3ds mirrors the points of a mesh whose matrix has a negative
      // determinant, on writing and again on reading; a diagonally dominant
      // matrix with a positive diagonal keeps the points as they are.
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) mesh->matrix[r][c] = r == c ? 1 + unit(rng) : 0.3f * unit(rng);
      }
      for (int c = 0; c < 3; ++c) mesh->matrix[3][c] = coordinate(rng);
      lib3ds_file_insert_mesh(file, mesh);
    }
    ASSERT_TRUE(lib3ds_file_save(file, path.c_str()));

    ScenePtr scene(Load3dsScene(path.c_str(), true), FreeScene);
    ASSERT_NE(scene, nullptr);
    ExpectSameMeshes(path, *scene, *file);
    ExpectMergedAsLib3dsMeshes(path, *scene, *file);
    if (round == 7) {  // the merged mesh outgrows the file's 16-bit counts
      unsigned long drawn = 0;
      for (Lib3dsMesh* m = file->meshes; m != nullptr; m = m->next) drawn += m->faces ? m->points : 0;
      EXPECT_GT(drawn, 65535u);
    }

    for (int i = 0; i < scene->objectCount; ++i) {
      const MeshObject& object = *scene->objects[i];
      const Lib3dsMesh* mesh = file->meshes;
      while (std::strcmp(mesh->name, object.name) != 0) mesh = mesh->next;
      // The file's 3 x 3 block is kept column by column, then the translation.
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(object.localMatrix[3 * c + r], mesh->matrix[r][c]);
      }
      for (int c = 0; c < 3; ++c) EXPECT_EQ(object.localMatrix[9 + c], mesh->matrix[3][c]);
      if (mesh->faces > 0) {
        ASSERT_NE(object.material, nullptr);
        EXPECT_STREQ(object.material->name, mesh->faceL[0].material);
      } else {
        EXPECT_EQ(object.materialIndex, -1);
      }
    }
    for (int i = 0; i < scene->materialCount; ++i) {
      const Material& ours = *scene->materials[i];
      const Lib3dsMaterial* theirs = file->materials;
      while (std::strcmp(theirs->name, ours.name) != 0) theirs = theirs->next;
      auto packed = [](const Lib3dsRgba& rgb) {
        int value = 0;
        for (int c = 0; c < 3; ++c) value = value << 8 | static_cast<int>(rgb[c] * 255.0f + 0.5f);
        return value;
      };
      EXPECT_EQ(ours.ambientColour, packed(theirs->ambient));
      EXPECT_EQ(ours.diffuseColour, packed(theirs->diffuse));
      EXPECT_EQ(ours.specularColour, packed(theirs->specular));
      EXPECT_NEAR(ours.shininess, theirs->shininess, 1e-6);
      EXPECT_NEAR(ours.shininessStrength, theirs->shin_strength, 1e-6);
      EXPECT_NEAR(ours.opacity, 1.0f - theirs->transparency, 1e-6);
      EXPECT_STREQ(ours.textureMap.fileName, theirs->texture1_map.name);
      EXPECT_NEAR(ours.textureMap.strength, theirs->texture1_map.percent, 1e-6);
    }
    lib3ds_file_free(file);
  }
  std::remove(path.c_str());
}


// Node hierarchies written by lib3ds: random trees of object nodes (a dummy
// among them), each with a pivot and position, rotation and scale keys (the
// first at frame 0; a lone key anywhere), over meshes written under random
// matrices, some mirroring, and one mesh no node names (kept as stored). The
// merged mesh holds each object where lib3ds's player draws it at frame 0,
// and the triangles assimp's importer places, in the file's axes.
TEST(Load3dsOracle, NodeHierarchiesWrittenByLib3dsPlaceAsLib3dsAndAssimpPlaceThem) {
  std::mt19937 rng(20261208);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const auto between = [&](float low, float high) { return low + (high - low) * unit(rng); };
  const std::string path = ScratchPath("nodes.3ds");
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    Lib3dsFile* written = lib3ds_file_new();
    const int nodeCount = 3 + round % 5;
    std::vector<int> chain;  // the previous node and its ancestors: a new node's parent is one
                             // of them, so that file order is the tree's depth-first order
    for (int i = 0; i <= nodeCount; ++i) {
      const bool dummy = i == 1 && round % 2 == 0;
      char name[16];
      std::snprintf(name, sizeof name, "Part%d", i);
      if (!dummy) {
        Lib3dsMesh* mesh = lib3ds_mesh_new(name);
        lib3ds_mesh_new_point_list(mesh, 4);
        for (unsigned p = 0; p < 4; ++p)
          for (int c = 0; c < 3; ++c) mesh->pointL[p].pos[c] = between(-50, 50);
        lib3ds_mesh_new_face_list(mesh, 2);
        for (unsigned f = 0; f < 2; ++f)
          for (int c = 0; c < 3; ++c) mesh->faceL[f].points[c] = (f + c) % 4;
        Lib3dsQuat turn;
        Lib3dsVector axis = {between(-1, 1), between(-1, 1), between(-1, 1)};
        lib3ds_quat_axis_angle(turn, axis, between(-3, 3));
        lib3ds_matrix_identity(mesh->matrix);
        Lib3dsVector offset = {between(-100, 100), between(-100, 100), between(-100, 100)};
        lib3ds_matrix_translate(mesh->matrix, offset);
        lib3ds_matrix_rotate(mesh->matrix, turn);
        const bool mirror = i == 2 && round % 2 == 1 && i < nodeCount;
        lib3ds_matrix_scale_xyz(mesh->matrix, mirror ? -1.5f : between(0.5f, 2), between(0.5f, 2),
                                between(0.5f, 2));
        lib3ds_file_insert_mesh(written, mesh);
      }
      if (i == nodeCount) break;  // the last mesh has no node
      Lib3dsNode* node = lib3ds_node_new_object();
      std::strcpy(node->name, dummy ? "$$$DUMMY" : name);
      if (dummy) std::strcpy(node->data.object.instance, name);
      node->node_id = static_cast<Lib3dsWord>(i);
      chain.resize(chain.empty() ? 0 : rng() % (chain.size() + 1));  // the parent: the last kept
      node->parent_id = chain.empty() ? LIB3DS_NO_PARENT : static_cast<Lib3dsWord>(chain.back());
      chain.push_back(i);
      for (int c = 0; c < 3; ++c) node->data.object.pivot[c] = between(-5, 5);
      const int keys = 1 + rng() % 3;
      const int firstFrame = keys == 1 ? static_cast<int>(rng() % 20) : 0;
      for (int k = 0; k < keys; ++k) {
        Lib3dsLin3Key* position = lib3ds_lin3_key_new();
        position->tcb.frame = firstFrame + 10 * k;
        for (float& value : position->value) value = between(-60, 60);
        lib3ds_lin3_track_insert(&node->data.object.pos_track, position);
        Lib3dsQuatKey* rotation = lib3ds_quat_key_new();
        rotation->tcb.frame = firstFrame + 10 * k;
        for (float& value : rotation->axis) value = between(-1, 1);
        rotation->angle = between(-3, 3);
        lib3ds_quat_track_insert(&node->data.object.rot_track, rotation);
        Lib3dsLin3Key* scale = lib3ds_lin3_key_new();
        scale->tcb.frame = firstFrame + 10 * k;
        for (float& value : scale->value) value = between(0.5f, 2);
        if (round == 5 && i == 0) scale->value[1] = -scale->value[1];
        lib3ds_lin3_track_insert(&node->data.object.scl_track, scale);
      }
      lib3ds_file_insert_node(written, node);
    }
    ASSERT_TRUE(lib3ds_file_save(written, path.c_str()));
    lib3ds_file_free(written);

    ScenePtr scene(Load3dsScene(path.c_str(), true), FreeScene);
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(DescribeKeyframerProblem(*scene), "");
    EXPECT_FALSE(scene->objects[scene->objectCount - 1]->placed);  // no node names it
    Lib3dsPtr oracle(lib3ds_file_load(path.c_str()), lib3ds_file_free);
    ASSERT_NE(oracle, nullptr);
    ExpectMergedAsLib3dsMeshes(path, *scene, *oracle);

    // assimp leaves out a mesh no node names, where we draw it as stored:
    // the comparison is of the others.
    ASSERT_STREQ(scene->objects[scene->objectCount - 1]->name,
                 ("Part" + std::to_string(nodeCount)).c_str());
    --scene->objectCount;
    std::unique_ptr<MeshObject, void (*)(MeshObject*)> merged(MergeMeshObjects(*scene, nullptr),
                                                              FreeMeshObject);
    ++scene->objectCount;
    ASSERT_NE(merged, nullptr);
    std::string error;
    const std::vector<WorldTriangle> theirs = AssimpWorldTriangles(path, true, &error);
    ASSERT_FALSE(theirs.empty()) << error;
    const std::vector<WorldTriangle> ours = MeshTriangles(*merged);
    EXPECT_EQ(ours.size(), theirs.size());
    EXPECT_EQ(UnmatchedTriangles(ours, theirs, 2e-6f * (1 + LargestCoordinate(theirs))), 0);
  }
}

}  // namespace
