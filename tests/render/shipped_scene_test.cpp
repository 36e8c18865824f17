// The shipped scene as make-scene writes it: a closed, outward-wound mesh of
// the right size with a texture coordinate per vertex, read back by lib3ds,
// and an RGB LZW/Predictor-2 texture read back by libtiff; the same bytes on
// every run.
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/demo_runner.h"
#include "tools/scene_geometry.h"

namespace {

using Key = std::tuple<float, float, float>;
Key PositionKey(const Vec3& v) {
  return {v.x, v.y, v.z};
}

int Find(std::vector<int>& parent, int i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

TEST(ShippedMesh, IsClosedConsistentlyWoundAndOutward) {
  const SceneMesh mesh = BuildShippedMesh();
  const int faces = static_cast<int>(mesh.faces.size());
  EXPECT_GE(faces, 2000);
  EXPECT_LE(faces, 20000);
  EXPECT_LE(mesh.vertices.size(), 32767u);  // the file's signed 16-bit indices
  ASSERT_EQ(mesh.texCoords.size(), mesh.vertices.size());

  // Positions, not indices, decide closure: seams repeat positions.
  std::map<Key, int> position;
  std::vector<int> id(mesh.vertices.size());
  for (size_t v = 0; v < mesh.vertices.size(); ++v)
    id[v] = position.emplace(PositionKey(mesh.vertices[v]), position.size()).first->second;

  // Each directed edge once, and its reverse exactly once: closed, with
  // neighbouring faces wound the same way.
  std::map<std::pair<int, int>, int> directed;
  std::vector<int> parent(faces);
  std::iota(parent.begin(), parent.end(), 0);
  std::map<std::pair<int, int>, int> edgeFace;
  for (int f = 0; f < faces; ++f) {
    const int c[3] = {id[mesh.faces[f].index0], id[mesh.faces[f].index1], id[mesh.faces[f].index2]};
    ASSERT_TRUE(c[0] != c[1] && c[1] != c[2] && c[0] != c[2]) << "degenerate face " << f;
    for (int k = 0; k < 3; ++k) {
      const std::pair<int, int> e = {c[k], c[(k + 1) % 3]};
      EXPECT_EQ(++directed[e], 1) << "edge used twice in one direction, face " << f;
      const auto other = edgeFace.find({e.second, e.first});
      if (other != edgeFace.end()) parent[Find(parent, f)] = Find(parent, other->second);
      edgeFace[e] = f;
    }
  }
  for (const auto& [e, count] : directed)
    EXPECT_EQ(directed.count({e.second, e.first}), 1u) << "open edge " << e.first;

  // Signed volume per closed part: positive when wound counter-clockwise
  // seen from outside.
  std::map<int, double> volume;
  for (int f = 0; f < faces; ++f) {
    const Vec3& p = mesh.vertices[mesh.faces[f].index0];
    const Vec3& q = mesh.vertices[mesh.faces[f].index1];
    const Vec3& r = mesh.vertices[mesh.faces[f].index2];
    volume[Find(parent, f)] += (double(p.x) * (double(q.y) * r.z - double(q.z) * r.y) -
                                double(p.y) * (double(q.x) * r.z - double(q.z) * r.x) +
                                double(p.z) * (double(q.x) * r.y - double(q.y) * r.x)) /
                               6.0;
  }
  EXPECT_EQ(volume.size(), 4u);  // wall, torus, sphere, box
  for (const auto& [part, v] : volume) EXPECT_GT(v, 100.0) << "part of face " << part;

  // Shared indices except at seams: a repeated position carries another
  // texture coordinate.
  std::map<std::tuple<float, float, float, float, float>, int> seen;
  for (size_t v = 0; v < mesh.vertices.size(); ++v) {
    const Vec3& p = mesh.vertices[v];
    const TexCoord& t = mesh.texCoords[v];
    const int copies = ++seen[std::make_tuple(p.x, p.y, p.z, t.u, t.v)];
    EXPECT_EQ(copies, 1) << "vertex " << v << " is a needless copy";
  }
}

TEST(ShippedMesh, WallFacesTheViewerAndCastersStandBetweenItAndTheLight) {
  const SceneMesh mesh = BuildShippedMesh();
  float minZ = 1e9f, maxZ = -1e9f;
  for (const Vec3& v : mesh.vertices) {
    EXPECT_LE(std::fabs(v.x), kWallHalfSize);
    EXPECT_LE(std::fabs(v.y), kWallHalfSize);
    minZ = std::min(minZ, v.z);
    maxZ = std::max(maxZ, v.z);
  }
  EXPECT_EQ(minZ, kWallBack);
  EXPECT_GT(maxZ, kWallFront + 20);
  EXPECT_LT(maxZ, 70.0f - 15);  // well clear of the light at z = 70 and its marker
}

// Runs make-scene into a fresh folder and returns the folder.
std::string MakeScene(const std::string& name) {
  const std::string folder = MakeEmptyScratchFolder("make-scene-" + name);
  EXPECT_FALSE(folder.empty()) << "no scratch folder for " << name;
  const DemoRun run = RunProgram(MAKE_SCENE_PATH, {folder}, folder);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return folder;
}

void RemoveFolder(const std::string& folder) {
  RemoveScratchFolder(folder);
  EXPECT_FALSE(std::filesystem::exists(folder)) << folder;
}

std::vector<char> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

TEST(MakeScene, WritesTheSameBytesEveryRun) {
  const std::string a = MakeScene("scene-a"), b = MakeScene("scene-b");
  for (const char* file : {"/shadow2.3DS", "/txt.tif"}) {
    const std::vector<char> first = Bytes(a + file);
    EXPECT_GT(first.size(), 1000u) << file;
    EXPECT_EQ(first, Bytes(b + file)) << file;
  }
  RemoveFolder(a);
  RemoveFolder(b);
}

TEST(MakeScene, Lib3dsReadsTheMeshBack) {
  const SceneMesh mesh = BuildShippedMesh();
  const std::string folder = MakeScene("scene-3ds");
  const std::string path = folder + "/shadow2.3DS";
  Lib3dsFile* file = lib3ds_file_load(path.c_str());
  ASSERT_NE(file, nullptr);
  const Lib3dsMesh* m = file->meshes;
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->next, nullptr);
  ASSERT_EQ(m->points, mesh.vertices.size());
  ASSERT_EQ(m->texels, mesh.vertices.size());
  ASSERT_EQ(m->faces, mesh.faces.size());
  for (size_t v = 0; v < mesh.vertices.size(); ++v) {
    EXPECT_EQ(m->pointL[v].pos[0], mesh.vertices[v].x);
    EXPECT_EQ(m->pointL[v].pos[1], mesh.vertices[v].y);
    EXPECT_EQ(m->pointL[v].pos[2], mesh.vertices[v].z);
    EXPECT_EQ(m->texelL[v][0], mesh.texCoords[v].u);
    EXPECT_EQ(m->texelL[v][1], mesh.texCoords[v].v);
  }
  for (size_t f = 0; f < mesh.faces.size(); ++f) {
    EXPECT_EQ(m->faceL[f].points[0], mesh.faces[f].index0);
    EXPECT_EQ(m->faceL[f].points[1], mesh.faces[f].index1);
    EXPECT_EQ(m->faceL[f].points[2], mesh.faces[f].index2);
  }
  lib3ds_file_free(file);
  RemoveFolder(folder);
}

TEST(MakeScene, LibtiffReadsTheTextureBack) {
  const SceneTexture texture = BuildShippedTexture();
  const std::string folder = MakeScene("scene-tif");
  const std::string path = folder + "/txt.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  EXPECT_FALSE(TIFFIsBigEndian(tif));
  uint32_t width = 0, height = 0;
  uint16_t samples = 0, bits = 0, compression = 0, predictor = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor);
  EXPECT_EQ(width, 256u);
  EXPECT_EQ(height, 256u);
  EXPECT_EQ(samples, 3);
  EXPECT_EQ(bits, 8);
  EXPECT_EQ(compression, COMPRESSION_LZW);
  EXPECT_EQ(predictor, PREDICTOR_HORIZONTAL);
  EXPECT_GT(TIFFNumberOfStrips(tif), 1u);
  std::vector<uint8_t> row(TIFFScanlineSize(tif));
  ASSERT_EQ(row.size(), 256u * 3);
  int wrongRows = 0;
  for (uint32_t y = 0; y < height; ++y) {
    ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1);
    if (!std::equal(row.begin(), row.end(), texture.rgb.begin() + y * row.size())) ++wrongRows;
  }
  EXPECT_EQ(wrongRows, 0);
  TIFFClose(tif);
  RemoveFolder(folder);
}

}  // namespace
