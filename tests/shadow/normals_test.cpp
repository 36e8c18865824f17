// Face and vertex normals: the sign convention the lighting relies on, the
// plain averaging, zero normals for degenerate faces and unused vertices.
#include <gtest/gtest.h>

#include <cmath>

#include "shadow/normals.h"
#include "tests/support/test_meshes.h"

namespace {

TEST(FaceNormals, PointAgainstTheCounterClockwiseNormal) {
  MeshObject* mesh = NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 1}});
  ComputeFaceNormals(mesh);
  EXPECT_EQ(mesh->faceNormals[0].x, 0.0f);
  EXPECT_EQ(mesh->faceNormals[0].y, 0.0f);
  EXPECT_EQ(mesh->faceNormals[0].z, -1.0f);
  EXPECT_EQ(mesh->faceNormals[1].z, 1.0f);
  FreeMeshObject(mesh);
}

TEST(FaceNormals, AreUnitVectorsOfTheReversedCrossProduct) {
  // Checked in double against (R - P) x (Q - P) on a sphere's faces.
  MeshObject* mesh = MakeSphere(12, 7, 3.5f, false);
  ComputeFaceNormals(mesh);
  for (int f = 0; f < mesh->faceCount; ++f) {
    const Vec3 p = mesh->vertices[mesh->faces[f].index0];
    const Vec3 q = mesh->vertices[mesh->faces[f].index1];
    const Vec3 r = mesh->vertices[mesh->faces[f].index2];
    const double ax = r.x - p.x, ay = r.y - p.y, az = r.z - p.z;
    const double bx = q.x - p.x, by = q.y - p.y, bz = q.z - p.z;
    const double nx = ay * bz - az * by, ny = az * bx - ax * bz, nz = ax * by - ay * bx;
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    EXPECT_NEAR(mesh->faceNormals[f].x, nx / len, 1e-5) << "face " << f;
    EXPECT_NEAR(mesh->faceNormals[f].y, ny / len, 1e-5) << "face " << f;
    EXPECT_NEAR(mesh->faceNormals[f].z, nz / len, 1e-5) << "face " << f;
    // A closed sphere wound this way has its stored normals pointing inwards.
    EXPECT_LT(
        p.x * mesh->faceNormals[f].x + p.y * mesh->faceNormals[f].y + p.z * mesh->faceNormals[f].z,
        0.0f);
  }
  FreeMeshObject(mesh);
}

TEST(VertexNormals, AverageTheFaceNormalsWithoutRenormalising) {
  // Vertex 0 is shared by a face with normal (0, 0, -1) and one with (0, -1, 0).
  MeshObject* mesh =
      NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {5, 5, 5}}, {{0, 1, 2}, {0, 3, 1}});
  ComputeFaceNormals(mesh);
  ASSERT_EQ(mesh->faceNormals[1].y, -1.0f);
  ComputeVertexNormals(mesh);
  EXPECT_EQ(mesh->vertexNormals[0].x, 0.0f);
  EXPECT_EQ(mesh->vertexNormals[0].y, -0.5f);
  EXPECT_EQ(mesh->vertexNormals[0].z, -0.5f);
  EXPECT_EQ(mesh->vertexNormals[2].z, -1.0f);  // only one face
  EXPECT_EQ(mesh->vertexNormals[4].x, 0.0f);   // no face at all
  EXPECT_EQ(mesh->vertexNormals[4].y, 0.0f);
  EXPECT_EQ(mesh->vertexNormals[4].z, 0.0f);
  FreeMeshObject(mesh);
}

TEST(VertexNormals, DegenerateFacesCountButAddNothing) {
  // Face 1 has two coinciding positions (indices 1 and 3); face 2 names index 0
  // twice. Both get the zero normal yet still count at their vertices.
  MeshObject* mesh =
      NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {{0, 1, 2}, {0, 1, 3}, {0, 0, 2}});
  ComputeFaceNormals(mesh);
  for (int f = 1; f < 3; ++f) {
    EXPECT_EQ(mesh->faceNormals[f].x, 0.0f);
    EXPECT_EQ(mesh->faceNormals[f].y, 0.0f);
    EXPECT_EQ(mesh->faceNormals[f].z, 0.0f);
  }
  ComputeVertexNormals(mesh);
  EXPECT_EQ(mesh->vertexNormals[0].z, -0.25f);  // 1 real face of 4 slots
  EXPECT_EQ(mesh->vertexNormals[1].z, -0.5f);
  EXPECT_EQ(mesh->vertexNormals[2].z, -0.5f);
  EXPECT_EQ(mesh->vertexNormals[3].z, 0.0f);
  // Vertices at one position but different indices do not share normals.
  EXPECT_NE(mesh->vertexNormals[1].z, mesh->vertexNormals[3].z);
  FreeMeshObject(mesh);
}

TEST(Normals, EmptyMeshesAndRepeatedRunsAreSafe) {
  MeshObject* mesh = NewMesh({{1, 2, 3}, {4, 5, 6}}, {});
  ComputeFaceNormals(mesh);
  ComputeVertexNormals(mesh);
  EXPECT_EQ(mesh->vertexNormals[0].x, 0.0f);
  EXPECT_EQ(mesh->vertexNormals[1].z, 0.0f);
  FreeMeshObject(mesh);

  // Running again releases the earlier arrays (the leak checker would see it).
  MeshObject* box = MakeBox(2, true);
  for (int run = 0; run < 2; ++run) {
    ComputeFaceNormals(box);
    ComputeVertexNormals(box);
  }
  // With seams every vertex lies on one side only: its normal is that side's.
  for (int v = 0; v < box->vertexCount; ++v) {
    const Vec3 n = box->vertexNormals[v];
    EXPECT_FLOAT_EQ(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f) << "vertex " << v;
  }
  FreeMeshObject(box);

  ComputeFaceNormals(nullptr);
  ComputeVertexNormals(nullptr);
}

TEST(Normals, SlotsOutsideTheMeshAreIgnoredNotRead) {
  // Vertex arrays are exactly sized, so the address sanitizer would catch a read.
  MeshObject* mesh = NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 7, 2}, {-1, 1, 2}});
  ComputeFaceNormals(mesh);
  EXPECT_EQ(mesh->faceNormals[1].z, 0.0f);
  EXPECT_EQ(mesh->faceNormals[2].z, 0.0f);
  ComputeVertexNormals(mesh);
  EXPECT_EQ(mesh->vertexNormals[1].z, -0.5f);  // faces 0 and 2
  EXPECT_EQ(mesh->vertexNormals[0].z, -0.5f);  // faces 0 and 1
  FreeMeshObject(mesh);

  MeshObject* noFaceNormals = NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  ComputeVertexNormals(noFaceNormals);
  EXPECT_EQ(noFaceNormals->vertexNormals[0].z, 0.0f);
  FreeMeshObject(noFaceNormals);
}

}  // namespace
