// The 3DS reader on files written chunk by chunk: the flat walk, the routing
// of property values, and the handling of malformed files (long names, bad
// lengths, orphan chunks, full tables, large counts, cut-off data, indices
// naming missing vertices). Run under the sanitizer build, every case also
// checks that nothing is read or written out of bounds.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/load3ds.h"
#include "model/merge.h"
#include "tests/support/scratch.h"
#include "tools/chunk_writer.h"
#include "tools/mesh_writer.h"

namespace {

using ScenePtr = std::unique_ptr<Scene, void (*)(Scene*)>;

ScenePtr Load(const ChunkWriter& w, bool readTexCoords = true) {
  return ScenePtr(Load3dsSceneFromBytes(w.Bytes().data(), w.Size(), readTexCoords), FreeScene);
}

ScenePtr LoadRaw(const std::vector<uint8_t>& bytes) {
  return ScenePtr(Load3dsSceneFromBytes(bytes.data(), bytes.size(), true), FreeScene);
}

// Opens the main and editor chunks that every model file starts with.
ChunkWriter ModelFile() {
  ChunkWriter w;
  w.Begin(kChunkMain);
  w.Begin(kChunkEditor);
  return w;
}

void ObjectName(ChunkWriter& w, const char* name) {
  w.Begin(kChunkNamedObject);
  w.Name(name);
}

void FaceMaterial(ChunkWriter& w, const char* material) {
  w.Begin(kChunkFaceMaterial);
  w.Name(material);
  w.U16(1);
  w.U16(0);
  w.End();
}

// A small object: a named triangle mesh with the given vertex count (vertex
// i at (i, 2i, 3i)) and one face (0, 1, 2).
void Triangle(ChunkWriter& w, const char* name, int vertexCount = 3) {
  ObjectName(w, name);
  w.Begin(kChunkTriangleMesh);
  std::vector<Vec3> vertices;
  for (int i = 0; i < vertexCount; ++i) {
    vertices.push_back(Vec3{float(i), float(2 * i), float(3 * i)});
  }
  WriteVertexList(w, vertices);
  BeginFaceList(w, {{0, 1, 2}});
  w.End();
  w.End();
  w.End();
}

void MaterialName(ChunkWriter& w, const char* name) {
  w.Begin(kChunkMaterialName);
  w.Name(name);
  w.End();
}

void Colour24(ChunkWriter& w, uint8_t r, uint8_t g, uint8_t b) {
  w.Begin(kChunkColour24);
  w.U8(r);
  w.U8(g);
  w.U8(b);
  w.End();
}

void Percent(ChunkWriter& w, int16_t value) {
  w.Begin(kChunkPercentInt);
  w.U16(static_cast<uint16_t>(value));
  w.End();
}

void ColourProperty(ChunkWriter& w, uint16_t id, uint8_t r, uint8_t g, uint8_t b) {
  w.Begin(id);
  Colour24(w, r, g, b);
  w.End();
}

void PercentProperty(ChunkWriter& w, uint16_t id, int16_t value) {
  w.Begin(id);
  Percent(w, value);
  w.End();
}

void MapProperty(ChunkWriter& w, uint16_t id, int16_t percent, const char* fileName) {
  w.Begin(id);
  Percent(w, percent);
  w.Begin(kChunkMapFileName);
  w.Name(fileName);
  w.End();
  w.End();
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

TEST(Load3dsHeader, RejectsFilesThatDoNotStartWithTheMainChunk) {
  EXPECT_EQ(LoadRaw({}), nullptr);
  EXPECT_EQ(LoadRaw({0x4D}), nullptr);
  EXPECT_EQ(LoadRaw({0x4D, 0x4C, 6, 0, 0, 0}), nullptr);
  EXPECT_EQ(LoadRaw({0x3D, 0x3D, 6, 0, 0, 0}), nullptr);

  // Through the file system: no descriptor is left open on any path.
  std::string bad = ScratchPath("bitmap-header.3ds");
  ChunkWriter notModel;
  notModel.Raw("BM\x06\0\0\0", 6);
  ASSERT_TRUE(notModel.Save(bad.c_str()));
  int before = OpenDescriptorCount();
  EXPECT_EQ(Load3dsScene(bad.c_str(), true), nullptr);
  EXPECT_EQ(Load3dsScene(ScratchPath("no-such-file.3ds").c_str(), true), nullptr);
  std::string good = ScratchPath("bare-main.3ds");
  ChunkWriter bare;
  bare.Begin(kChunkMain);
  bare.End();
  ASSERT_TRUE(bare.Save(good.c_str()));
  Scene* scene = Load3dsScene(good.c_str(), true);
  EXPECT_NE(scene, nullptr);
  FreeScene(scene);
  EXPECT_EQ(OpenDescriptorCount(), before);
  std::remove(bad.c_str());
  std::remove(good.c_str());
}

// Paths that name no readable file fail at once, each with its errno code
// and a phrase for the message: a FIFO nobody writes to without waiting for
// a writer, a device without reading it, a (sparse) file past the 4 GiB cap
// without mapping it.
TEST(Load3dsHeader, PathsNamingNoReadableFileFailAtOnceWithTheirReason) {
  const std::string fifo = ScratchPath("fifo.3ds");
  const std::string huge = ScratchPath("huge.3ds");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::FILE* sparse = std::fopen(huge.c_str(), "wb");
  ASSERT_NE(sparse, nullptr);
  std::fclose(sparse);
  ASSERT_EQ(truncate(huge.c_str(), (int64_t{1} << 32) + 1), 0);
  struct Case {
    std::string path;
    int error;
    const char* phrase;
  };
  const Case cases[] = {
      {ScratchPath("no-such-file.3ds"), ENOENT, "No such file or directory"},
      {::testing::TempDir(), EISDIR, "is a directory"},
      {fifo, ENOTSUP, "is a FIFO (named pipe), not a regular file"},
      {"/dev/zero", ENOTSUP, "is a device or socket, not a regular file"},
      {huge, EFBIG, "is larger than 4096 MiB"},
  };
  for (const Case& c : cases) {
    int error = 0;
    EXPECT_EQ(Load3dsScene(c.path.c_str(), true, &error), nullptr) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
    EXPECT_EQ(DescribeFileFailure(ReadWholeFile(c.path.c_str(), kModelFileLimits), kModelFileLimits),
              c.phrase);
  }
  std::remove(fifo.c_str());
  std::remove(huge.c_str());
}

TEST(Load3dsHeader, MainHeaderAloneOrNoMeshGivesAnEmptyUntitledScene) {
  ChunkWriter bare;
  bare.Begin(kChunkMain);
  bare.End();
  ASSERT_EQ(bare.Size(), 6u);
  ScenePtr scene = Load(bare);
  ASSERT_NE(scene, nullptr);
  EXPECT_STREQ(scene->name, "Untitled");
  EXPECT_EQ(scene->objectCount, 0);
  EXPECT_EQ(scene->materialCount, 0);
  EXPECT_EQ(scene->totalVertexCount, 0);
  EXPECT_EQ(scene->totalFaceCount, 0);

  // A main chunk whose length is nonsense is still accepted: only its ID counts.
  ChunkWriter odd;
  odd.Header(kChunkMain, 0);
  ObjectName(odd, "Named");
  odd.End();
  odd.Begin(kChunkMaterial);
  MaterialName(odd, "Only");
  odd.EndAll();
  scene = Load(odd);
  ASSERT_NE(scene, nullptr);
  EXPECT_EQ(scene->objectCount, 0);
  EXPECT_EQ(scene->materialCount, 1);
  EXPECT_EQ(scene->totalVertexCount, 0);
}

TEST(Load3dsMesh, ObjectsTakeTheLatestNameAndTheirOwnVerticesAndFaces) {
  ChunkWriter w = ModelFile();
  w.Begin(kChunkTriangleMesh);  // a mesh before any object name
  WriteVertexList(w, {{1, 2, 3}});
  w.End();
  ObjectName(w, "Twin");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  BeginFaceList(w, {{
                        0,
                        1,
                        2,
                    },
                    {2, 1, 3}});
  w.End();
  WriteVertexList(w, {{5, 5, 5}, {6, 6, 6}, {7, 7, 7}});  // a second mesh under the same name
  w.End();
  w.End();
  ObjectName(w, "Lamp");  // a name whose object holds no mesh makes no object...
  w.Begin(kChunkLight);
  w.F32(1);
  w.F32(2);
  w.F32(3);
  w.End();
  w.End();
  w.Begin(kChunkTriangleMesh);  // ...but names the next one
  WriteVertexList(w, {{9, 9, 9}});
  w.EndAll();

  ScenePtr scene = Load(w);
  ASSERT_NE(scene, nullptr);
  ASSERT_EQ(scene->objectCount, 4);
  const MeshObject& untitled = *scene->objects[0];
  const MeshObject& first = *scene->objects[1];
  const MeshObject& second = *scene->objects[2];
  const MeshObject& lamp = *scene->objects[3];
  EXPECT_STREQ(untitled.name, "Untitled");
  EXPECT_STREQ(first.name, "Twin");
  EXPECT_STREQ(second.name, "Twin");
  EXPECT_STREQ(lamp.name, "Lamp");
  // Name fields are zero after the terminator.
  for (int i = 5; i < kNameSize; ++i) EXPECT_EQ(first.name[i], 0) << i;

  ASSERT_EQ(untitled.vertexCount, 1);
  EXPECT_EQ(untitled.vertices[0].z, 3);
  ASSERT_EQ(first.vertexCount, 4);
  EXPECT_EQ(first.vertices[3].x, 1);
  EXPECT_EQ(first.vertices[3].y, 1);
  ASSERT_EQ(first.faceCount, 2);
  EXPECT_EQ(first.faces[0].index0, 0);
  EXPECT_EQ(first.faces[0].index1, 1);
  EXPECT_EQ(first.faces[0].index2, 2);
  EXPECT_EQ(first.faces[1].index0, 2);
  EXPECT_EQ(first.faces[1].index1, 1);
  EXPECT_EQ(first.faces[1].index2, 3);
  EXPECT_EQ(second.faceCount, 0);
  EXPECT_EQ(second.faces, nullptr);
  EXPECT_EQ(second.vertices[2].x, 7);
  for (int i = 0; i < 4; ++i) {
    const MeshObject& o = *scene->objects[i];
    EXPECT_EQ(o.texCoords, nullptr);
    EXPECT_EQ(o.vertexNormals, nullptr);
    EXPECT_EQ(o.faceNormals, nullptr);
    EXPECT_EQ(o.edges, nullptr);
    EXPECT_EQ(o.materialIndex, -1);
    EXPECT_EQ(o.material, nullptr);
  }
  EXPECT_EQ(scene->totalVertexCount, 1 + 4 + 3 + 1);
  EXPECT_EQ(scene->totalFaceCount, 2);
}

TEST(Load3dsMesh, TexCoordsAreReadOnlyWhenRequested) {
  ChunkWriter w = ModelFile();
  ObjectName(w, "Quad");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  WriteTexCoords(w, {{0.25f, 0.5f}, {1, 0}, {0, 1}});
  BeginFaceList(w, {{0, 1, 2}});
  w.EndAll();

  ScenePtr without = Load(w, false);
  ASSERT_EQ(without->objectCount, 1);
  EXPECT_EQ(without->objects[0]->texCoords, nullptr);
  EXPECT_EQ(without->objects[0]->faceCount, 1) << "the skipped chunk is skipped whole";
  ScenePtr scene = Load(w, true);
  const MeshObject& quad = *scene->objects[0];
  ASSERT_NE(quad.texCoords, nullptr);
  EXPECT_EQ(quad.texCoords[0].u, 0.25f);
  EXPECT_EQ(quad.texCoords[0].v, 0.5f);
  EXPECT_EQ(quad.texCoords[2].v, 1);
  EXPECT_EQ(quad.faceCount, 1);
}

TEST(Load3dsMesh, LocalMatrixIsStoredWithItsRotationTransposed) {
  ChunkWriter w = ModelFile();
  ObjectName(w, "Box");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}});
  w.Begin(kChunkLocalMatrix);
  for (int i = 1; i <= 12; ++i) w.F32(float(i));
  w.EndAll();
  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 1);
  const float expected[12] = {1, 4, 7, 2, 5, 8, 3, 6, 9, 10, 11, 12};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(scene->objects[0]->localMatrix[i], expected[i]) << i;
}

TEST(Load3dsMesh, UnknownChunksAreSkippedWithEverythingInside) {
  ChunkWriter w = ModelFile();
  w.Begin(0x7777);  // holds chunks the reader would otherwise handle
  ObjectName(w, "Hidden");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{1, 1, 1}});
  w.End();
  w.End();
  w.Begin(kChunkMaterialName);
  w.Name("HiddenMaterial");
  w.End();
  w.End();
  w.Begin(kChunkKeyframer);  // keyframer data, not read
  w.Begin(kChunkObjectNode);
  w.Raw("\x10\x41\xff\xff", 4);
  w.End();
  w.End();
  Triangle(w, "Visible");
  w.EndAll();
  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 1);
  EXPECT_STREQ(scene->objects[0]->name, "Visible");
  EXPECT_EQ(scene->objects[0]->vertexCount, 3);
  EXPECT_EQ(scene->materialCount, 0);
}

TEST(Load3dsMaterial, FaceMaterialChunksNameKnownMaterialsOnly) {
  ChunkWriter w = ModelFile();
  w.Begin(kChunkMaterial);
  MaterialName(w, "Stone");
  w.End();
  w.Begin(kChunkMaterial);
  MaterialName(w, "Wood");
  w.End();
  ObjectName(w, "Table");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  BeginFaceList(w, {{0, 1, 2}});
  FaceMaterial(w, "Missing");
  w.End();
  w.End();
  w.End();
  ObjectName(w, "Chair");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  BeginFaceList(w, {{0, 1, 2}});
  FaceMaterial(w, "Wood");
  FaceMaterial(w, "Missing");  // names nothing: the earlier match stays
  w.End();
  w.End();
  w.End();
  ObjectName(w, "Stool");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  BeginFaceList(w, {{0, 1, 2}});
  FaceMaterial(w, "Wood");
  FaceMaterial(w, "Stone");  // the last known one wins
  FaceMaterial(w, "Woo");    // a prefix is not a match
  w.EndAll();

  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 3);
  ASSERT_EQ(scene->materialCount, 2);
  EXPECT_EQ(scene->objects[0]->materialIndex, -1);
  EXPECT_EQ(scene->objects[0]->material, nullptr);
  EXPECT_EQ(scene->objects[1]->materialIndex, 1);
  EXPECT_EQ(scene->objects[1]->material, scene->materials[1]);
  EXPECT_EQ(scene->objects[2]->materialIndex, 0);
  EXPECT_EQ(scene->objects[2]->material, scene->materials[0]);
}

TEST(Load3dsMaterial, ColourAndPercentageValuesFillTheArmedField) {
  ChunkWriter w = ModelFile();
  w.Begin(kChunkMaterial);
  MaterialName(w, "Painted");
  Colour24(w, 1, 2, 3);  // no colour armed: dropped
  Percent(w, 40);        // no percentage armed: dropped
  ColourProperty(w, kChunkAmbient, 0x10, 0x20, 0x30);
  w.Begin(kChunkDiffuse);  // a float colour first: the 24-bit one after it wins
  w.Begin(kChunkColourFloat);
  w.F32(0.1f);
  w.F32(0.2f);
  w.F32(0.3f);
  w.End();
  Colour24(w, 0xFF, 0x80, 0x01);
  w.End();
  PercentProperty(w, kChunkShininess, 25);
  PercentProperty(w, kChunkShininessStrength, 60);
  PercentProperty(w, kChunkTransparency, 25);
  PercentProperty(w, kChunkSelfIllumination, 10);
  w.End();
  w.Begin(kChunkMaterial);
  MaterialName(w, "Glass");
  PercentProperty(w, kChunkTransparency, 30);
  w.Begin(kChunkShininess);  // armed, then redirected before any value arrives
  w.End();
  PercentProperty(w, kChunkSelfIllumination, 5);
  PercentProperty(w, kChunkShininessStrength, -20);  // percentages are signed
  w.EndAll();

  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->materialCount, 2);
  const Material& painted = *scene->materials[0];
  EXPECT_STREQ(painted.name, "Painted");
  EXPECT_EQ(painted.ambientColour, 0x102030);
  EXPECT_EQ(painted.diffuseColour, 0x00FF8001);
  EXPECT_EQ(painted.specularColour, 0);
  EXPECT_EQ(painted.shininess, 0.25f);
  EXPECT_EQ(painted.shininessStrength, 0.6f);
  EXPECT_EQ(painted.opacity, 0.75f);
  EXPECT_EQ(painted.selfIllumination, 0.1f);
  const Material& glass = *scene->materials[1];
  EXPECT_EQ(glass.opacity, static_cast<float>(70 * 0.01));
  EXPECT_EQ(glass.shininess, 0);
  EXPECT_EQ(glass.selfIllumination, 0.05f);
  EXPECT_EQ(glass.shininessStrength, -0.2f);
  EXPECT_EQ(glass.ambientColour, 0);
  EXPECT_EQ(glass.diffuseColour, 0);
  // No maps given: empty names and zero strengths.
  for (const Material* m : {&painted, &glass}) {
    for (const MaterialMap* map : {&m->textureMap, &m->opacityMap, &m->bumpMap}) {
      EXPECT_EQ(map->strength, 0);
      for (char c : map->fileName) EXPECT_EQ(c, 0);
    }
  }
}

// Float colours (0010 as assimp writes them, 0013 the linear twin) fill the
// armed colour, rounded to 8 bits and clamped to 0..1; a 24-bit colour in
// the same property wins over them, before or after.
TEST(Load3dsMaterial, FloatColoursFillTheArmedFieldUnlessA24BitOneIsThere) {
  const auto floats = [](ChunkWriter& w, uint16_t id, float r, float g, float b) {
    w.Begin(id);
    w.F32(r);
    w.F32(g);
    w.F32(b);
    w.End();
  };
  ChunkWriter w = ModelFile();
  w.Begin(kChunkMaterial);
  MaterialName(w, "Floats");
  w.Begin(kChunkAmbient);
  floats(w, kChunkLinColourFloat, 0.2f, 0.4f, 0.6f);
  w.End();
  w.Begin(kChunkDiffuse);
  floats(w, kChunkColourFloat, -1.0f, 2.0f, NAN);
  w.End();
  w.Begin(kChunkSpecular);
  Colour24(w, 1, 2, 3);
  floats(w, kChunkColourFloat, 1, 1, 1);
  w.End();
  w.EndAll();
  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->materialCount, 1);
  EXPECT_EQ(scene->materials[0]->ambientColour, 0x336699);
  EXPECT_EQ(scene->materials[0]->diffuseColour, 0x00FF00);
  EXPECT_EQ(scene->materials[0]->specularColour, 0x010203);
}

TEST(Load3dsMaterial, MapsTakeTheirStrengthAndFileName) {
  ChunkWriter w = ModelFile();
  w.Begin(kChunkMaterial);
  MaterialName(w, "Mapped");
  MapProperty(w, kChunkTextureMap, 80, "wood.tif");
  MapProperty(w, kChunkOpacityMap, 50, "\x04ignored");  // a name starting with byte 4 means none
  MapProperty(w, kChunkBumpMap, 20, "bumps.tif");
  w.Begin(kChunkMapFileName);  // no map armed: dropped
  w.Name("stray.tif");
  w.End();
  w.EndAll();
  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->materialCount, 1);
  const Material& m = *scene->materials[0];
  EXPECT_STREQ(m.textureMap.fileName, "wood.tif");
  EXPECT_EQ(m.textureMap.strength, 0.8f);
  for (char c : m.opacityMap.fileName) EXPECT_EQ(c, 0);
  EXPECT_EQ(m.opacityMap.strength, 0.5f);
  EXPECT_STREQ(m.bumpMap.fileName, "bumps.tif");
  EXPECT_EQ(m.bumpMap.strength, 0.2f);
}

// Names longer than their 64-byte fields keep their first 63 bytes; the walk
// reads on past the rest. A name cut off by the end of the file is kept too.
TEST(Load3dsMend, LongNamesKeepTheirFirst63Bytes) {
  const std::string longName(100, 'n');
  const std::string exact64(64, 'm');
  const std::string longMap(70, 't');
  ChunkWriter w = ModelFile();
  w.Begin(kChunkMaterial);
  MaterialName(w, exact64.c_str());
  w.Begin(kChunkTextureMap);
  w.Begin(kChunkMapFileName);
  w.Name(longMap.c_str());
  w.End();
  w.End();
  ColourProperty(w, kChunkDiffuse, 9, 8, 7);
  w.End();
  ObjectName(w, longName.c_str());
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{4, 5, 6}});
  w.EndAll();
  ObjectName(w, "cut-off-name");
  w.Truncate(w.Size() - 1);  // drop the terminator: the name runs to the end

  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->materialCount, 1);
  const Material& m = *scene->materials[0];
  EXPECT_EQ(std::string(m.name), exact64.substr(0, 63));
  EXPECT_EQ(std::string(m.textureMap.fileName), longMap.substr(0, 63));
  EXPECT_EQ(m.diffuseColour, 0x090807) << "chunks after a long name are still read";
  ASSERT_EQ(scene->objectCount, 1);
  EXPECT_EQ(std::string(scene->objects[0]->name), longName.substr(0, 63));
  EXPECT_EQ(scene->objects[0]->vertices[0].z, 6);

  // The cut-off name: a later vertex list would carry it, but nothing follows.
  ChunkWriter named = ModelFile();
  named.Begin(kChunkMaterial);
  named.Begin(kChunkMaterialName);
  named.Name("half-a-material-name");
  named.Truncate(named.Size() - 6);
  scene = Load(named);
  ASSERT_EQ(scene->materialCount, 1);
  EXPECT_STREQ(scene->materials[0]->name, "half-a-material");
}

// A length below 6 cannot even cover its own header; skipping by it would go
// backwards, so the walk ends there with what it has read.
TEST(Load3dsMend, ChunkLengthBelowSixEndsTheWalk) {
  for (uint32_t length : {0u, 1u, 5u}) {
    ChunkWriter w = ModelFile();
    Triangle(w, "Before");
    w.Header(0x1234, length);
    Triangle(w, "After");
    w.EndAll();
    ScenePtr scene = Load(w);
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(scene->objectCount, 1) << length;
    EXPECT_STREQ(scene->objects[0]->name, "Before");
  }
  // The same for a chunk the reader would enter.
  ChunkWriter w = ModelFile();
  Triangle(w, "Before");
  w.Header(kChunkNamedObject, 2);
  w.Name("After");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{1, 1, 1}});
  w.EndAll();
  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 1);
  EXPECT_STREQ(scene->objects[0]->name, "Before");
}

// Mesh data with no object and property chunks with no material have nothing
// to fill: they are skipped whole and the file reads on normally.
TEST(Load3dsMend, ChunksBeforeTheirObjectOrMaterialAreSkippedWhole) {
  ChunkWriter w = ModelFile();
  BeginFaceList(w, {{0, 1, 2}, {3, 4, 5}});
  w.End();
  FaceMaterial(w, "Any");
  WriteTexCoords(w, {{1, 1}});
  w.Begin(kChunkLocalMatrix);
  for (int i = 0; i < 12; ++i) w.F32(1);
  w.End();
  ColourProperty(w, kChunkDiffuse, 1, 2, 3);
  PercentProperty(w, kChunkTransparency, 10);
  MapProperty(w, kChunkTextureMap, 30, "orphan.tif");
  Colour24(w, 4, 5, 6);
  Percent(w, 70);
  w.Begin(kChunkMapFileName);
  w.Name("orphan2.tif");
  w.End();
  w.Begin(kChunkMaterial);
  MaterialName(w, "Late");
  Percent(w, 20);  // would fill the transparency armed above if anything had been armed
  Colour24(w, 7, 8, 9);
  w.Begin(kChunkMapFileName);
  w.Name("late.tif");
  w.End();
  w.End();
  Triangle(w, "Late");
  w.EndAll();

  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 1);
  EXPECT_EQ(scene->objects[0]->faceCount, 1);
  EXPECT_EQ(scene->totalFaceCount, 1);
  EXPECT_EQ(scene->objects[0]->localMatrix[0], 0);
  ASSERT_EQ(scene->materialCount, 1);
  const Material& m = *scene->materials[0];
  EXPECT_EQ(m.diffuseColour, 0);
  EXPECT_EQ(m.opacity, 0);
  EXPECT_EQ(m.textureMap.fileName[0], 0);
  EXPECT_EQ(m.textureMap.strength, 0);
}

// Objects beyond the 1024th and materials beyond the 256th are skipped whole,
// with the chunks that would fill them; the kept ones stay as the file gave them.
TEST(Load3dsMend, TablesNeverOverflow) {
  ChunkWriter w = ModelFile();
  for (int i = 0; i < kMaxMaterials + 4; ++i) {
    w.Begin(kChunkMaterial);
    MaterialName(w, ("m" + std::to_string(i)).c_str());
    ColourProperty(w, kChunkDiffuse, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i));
    w.End();
  }
  for (int i = 0; i < kMaxObjects + 6; ++i) {
    ObjectName(w, ("o" + std::to_string(i)).c_str());
    w.Begin(kChunkTriangleMesh);
    WriteVertexList(w, {{float(i), 0, 0}, {0, 1, 0}, {0, 0, 1}});
    BeginFaceList(w, {{0, 1, 2}, {2, 1, 0}});
    FaceMaterial(w, ("m" + std::to_string(i % (kMaxMaterials + 4))).c_str());
    w.End();
    w.End();
    w.End();
  }
  w.EndAll();

  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->materialCount, kMaxMaterials);
  ASSERT_EQ(scene->objectCount, kMaxObjects);
  const Material& last = *scene->materials[kMaxMaterials - 1];
  EXPECT_STREQ(last.name, "m255");
  EXPECT_EQ(last.diffuseColour, 255);
  const MeshObject& lastObject = *scene->objects[kMaxObjects - 1];
  EXPECT_STREQ(lastObject.name, "o1023");
  EXPECT_EQ(lastObject.vertices[0].x, 1023);
  EXPECT_EQ(lastObject.faceCount, 2);
  EXPECT_EQ(lastObject.materialIndex, 1023 % (kMaxMaterials + 4));
  EXPECT_EQ(scene->objects[257]->materialIndex, -1) << "m257 was dropped";
  EXPECT_EQ(scene->totalVertexCount, 3 * kMaxObjects);
  EXPECT_EQ(scene->totalFaceCount, 2 * kMaxObjects);
}

// Counts and indices are unsigned 16-bit: 40000 is 40000, not -25536.
TEST(Load3dsMend, CountsAndIndicesAreUnsigned16Bit) {
  const int count = 40000;
  std::vector<Vec3> vertices(count);
  for (int i = 0; i < count; ++i) vertices[i] = Vec3{float(i), 0, 0};
  std::vector<TexCoord> pairs(count, TexCoord{0.5f, 0.25f});
  std::vector<Face> faces(count, Face{0, 1, 2});
  faces[count - 1] = Face{39999, 65535, 32768};
  ChunkWriter w = ModelFile();
  ObjectName(w, "Big");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, vertices);
  WriteTexCoords(w, pairs);
  BeginFaceList(w, faces);
  w.EndAll();

  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 1);
  const MeshObject& big = *scene->objects[0];
  ASSERT_EQ(big.vertexCount, count);
  EXPECT_EQ(big.vertices[count - 1].x, count - 1);
  ASSERT_EQ(big.faceCount, count);
  EXPECT_EQ(big.faces[count - 1].index0, 39999);
  EXPECT_EQ(big.faces[count - 1].index1, 65535);
  EXPECT_EQ(big.faces[count - 1].index2, 32768);
  ASSERT_NE(big.texCoords, nullptr);
  EXPECT_EQ(big.texCoords[count - 1].v, 0.25f);
  EXPECT_EQ(scene->totalVertexCount, count);
  EXPECT_EQ(scene->totalFaceCount, count);
}

// The texture coordinates always hold one pair per vertex.
TEST(Load3dsMend, TexCoordsHaveOnePairPerVertex) {
  ChunkWriter w = ModelFile();
  ObjectName(w, "Short");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  WriteTexCoords(w, {{0.5f, 0.5f}, {1, 1}});
  w.End();
  w.End();
  ObjectName(w, "Long");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}});
  WriteTexCoords(w, {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}});
  w.Begin(kChunkLocalMatrix);  // read after the extra pairs, so they were read past
  for (int i = 1; i <= 12; ++i) w.F32(float(i));
  w.End();
  w.EndAll();

  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 2);
  const MeshObject& shortObject = *scene->objects[0];
  ASSERT_NE(shortObject.texCoords, nullptr);
  EXPECT_EQ(shortObject.texCoords[1].u, 1);
  EXPECT_EQ(shortObject.texCoords[2].u, 0);
  EXPECT_EQ(shortObject.texCoords[3].v, 0);
  const MeshObject& longObject = *scene->objects[1];
  ASSERT_NE(longObject.texCoords, nullptr);
  EXPECT_EQ(longObject.texCoords[1].u, 3);
  EXPECT_EQ(longObject.texCoords[1].v, 4);
  EXPECT_EQ(longObject.localMatrix[11], 12);
}

// Whatever the end of the file cuts off reads as zero and ends the walk.
TEST(Load3dsMend, DataCutOffByTheEndOfTheFileIsZero) {
  {
    ChunkWriter w = ModelFile();
    ObjectName(w, "Cut");
    w.Begin(kChunkTriangleMesh);
    WriteVertexList(w, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    w.Truncate(w.Size() - 16);  // vertex 1 loses its z, vertex 2 is gone
    ScenePtr scene = Load(w);
    ASSERT_EQ(scene->objectCount, 1);
    const MeshObject& cut = *scene->objects[0];
    ASSERT_EQ(cut.vertexCount, 3);
    EXPECT_EQ(cut.vertices[0].z, 3);
    EXPECT_EQ(cut.vertices[1].y, 5);
    EXPECT_EQ(cut.vertices[1].z, 0);
    EXPECT_EQ(cut.vertices[2].x, 0);
    EXPECT_EQ(scene->totalVertexCount, 3);
  }
  {
    ChunkWriter w = ModelFile();
    ObjectName(w, "Cut");
    w.Begin(kChunkTriangleMesh);
    WriteVertexList(w, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    WriteTexCoords(w, {{1, 2}, {3, 4}, {5, 6}});
    BeginFaceList(w, {{0, 1, 2}, {2, 1, 0}, {1, 2, 0}});
    w.Truncate(w.Size() - 6);  // the last face keeps only its first index
    ScenePtr scene = Load(w);
    const MeshObject& cut = *scene->objects[0];
    ASSERT_EQ(cut.faceCount, 3);
    EXPECT_EQ(cut.faces[1].index0, 2);
    EXPECT_EQ(cut.faces[2].index0, 0);
    EXPECT_EQ(cut.faces[2].index1, 0);
    EXPECT_EQ(cut.texCoords[2].v, 6);
  }
  {
    ChunkWriter w = ModelFile();
    ObjectName(w, "Cut");
    w.Begin(kChunkTriangleMesh);
    WriteVertexList(w, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    WriteTexCoords(w, {{1, 2}, {3, 4}, {5, 6}});
    w.Truncate(w.Size() - 4);  // half of the last pair
    ScenePtr scene = Load(w);
    const MeshObject& cut = *scene->objects[0];
    EXPECT_EQ(cut.texCoords[1].v, 4);
    EXPECT_EQ(cut.texCoords[2].u, 0);
    EXPECT_EQ(cut.texCoords[2].v, 0);
  }
  {
    ChunkWriter w = ModelFile();
    ObjectName(w, "Cut");
    w.Begin(kChunkTriangleMesh);
    WriteVertexList(w, {{1, 2, 3}});
    w.Begin(kChunkLocalMatrix);
    for (int i = 1; i <= 12; ++i) w.F32(float(i));
    w.Truncate(w.Size() - 10);  // m9 loses two bytes, m10 and m11 are gone
    ScenePtr scene = Load(w);
    const float* m = scene->objects[0]->localMatrix;
    EXPECT_EQ(m[0], 1);
    EXPECT_EQ(m[2], 7);
    EXPECT_EQ(m[8], 9);
    EXPECT_EQ(m[9], 0);
    EXPECT_EQ(m[11], 0);
  }
  {
    // Headers cut anywhere: the scene read so far comes back.
    ChunkWriter w = ModelFile();
    Triangle(w, "Whole");
    size_t whole = w.Size();
    w.Begin(kChunkNamedObject);
    w.EndAll();
    for (size_t cut = whole; cut < whole + 6; ++cut) {
      ScenePtr scene = LoadRaw(std::vector<uint8_t>(w.Bytes().begin(), w.Bytes().begin() + cut));
      ASSERT_EQ(scene->objectCount, 1);
      EXPECT_EQ(scene->objects[0]->faceCount, 1);
    }
  }
}

// The face-material chunk is read as a fixed 64-byte block; near the end of
// the file the block is what is left, and a complete chunk still counts.
TEST(Load3dsMend, FaceMaterialBlockNearTheEndOfTheFile) {
  ChunkWriter w = ModelFile();
  w.Begin(kChunkMaterial);
  MaterialName(w, "Last");
  w.End();
  ObjectName(w, "Edge");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  BeginFaceList(w, {{0, 1, 2}});
  FaceMaterial(w, "Last");
  w.EndAll();
  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 1);
  EXPECT_EQ(scene->objects[0]->materialIndex, 0);

  // A face-material chunk whose length runs past the end, its name cut off.
  ChunkWriter cut = ModelFile();
  cut.Begin(kChunkMaterial);
  MaterialName(cut, "Last");
  cut.End();
  Triangle(cut, "Edge");
  cut.Header(kChunkFaceMaterial, 200);
  cut.Raw("La", 2);
  cut.EndAll();
  scene = Load(cut);
  ASSERT_EQ(scene->objectCount, 1);
  EXPECT_EQ(scene->objects[0]->materialIndex, -1);
}

// Faces that name vertices the mesh lacks are kept as read; ValidateMesh
// points at the first one so the program can refuse the mesh.
TEST(Load3dsMend, FacesNamingMissingVerticesAreKeptAndReported) {
  ChunkWriter w = ModelFile();
  ObjectName(w, "Sound");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  BeginFaceList(w, {{0, 1, 2}, {2, 1, 0}});
  w.End();
  w.End();
  w.End();
  ObjectName(w, "Broken");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  BeginFaceList(w, {{0, 1, 2}, {0, 2, 1}, {1, 3, 900}, {7, 0, 0}});
  w.End();
  w.End();
  w.End();
  ObjectName(w, "Empty");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {});
  BeginFaceList(w, {{0, 0, 0}});
  w.EndAll();

  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 3);
  EXPECT_EQ(ValidateMesh(*scene->objects[0]).face, -1);
  EXPECT_EQ(WhyNotDrawable(*scene->objects[0]), "");

  const MeshObject& broken = *scene->objects[1];
  EXPECT_EQ(broken.faces[2].index1, 3);
  EXPECT_EQ(broken.faces[2].index2, 900);
  MeshDefect defect = ValidateMesh(broken);
  EXPECT_EQ(defect.face, 2);
  EXPECT_EQ(defect.vertex, 3);
  EXPECT_EQ(defect.vertexCount, 3);
  EXPECT_EQ(WhyNotDrawable(broken), "face 2 names vertex 3 but it has 3 vertices");

  MeshDefect empty = ValidateMesh(*scene->objects[2]);
  EXPECT_EQ(empty.face, 0);
  EXPECT_EQ(empty.vertexCount, 0);
}

// A second face list or coordinate chunk for one object replaces the first
// (nothing leaks), and the totals stay the sums of the objects' counts.
TEST(Load3dsReader, RepeatedMeshChunksReplaceTheEarlierOnes) {
  ChunkWriter w = ModelFile();
  ObjectName(w, "Twice");
  w.Begin(kChunkTriangleMesh);
  WriteVertexList(w, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  BeginFaceList(w, {{0, 1, 2}, {2, 1, 0}, {1, 2, 0}});
  w.End();
  WriteTexCoords(w, {{1, 1}});
  BeginFaceList(w, {{2, 0, 1}});
  w.End();
  WriteTexCoords(w, {{2, 2}});
  w.EndAll();
  ScenePtr scene = Load(w);
  ASSERT_EQ(scene->objectCount, 1);
  const MeshObject& twice = *scene->objects[0];
  ASSERT_EQ(twice.faceCount, 1);
  EXPECT_EQ(twice.faces[0].index0, 2);
  EXPECT_EQ(twice.texCoords[0].u, 2);
  EXPECT_EQ(scene->totalFaceCount, 1);
}

}  // namespace
