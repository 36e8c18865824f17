// The tests' meshes, in two forms. As MeshObjects, for the shadow tests,
// the render tests' shadow rules and the benchmarks: closed, consistently
// wound boxes, tori and spheres, each with shared vertices or with texture
// seams (coinciding positions under different indices), and a random
// generator of nasty small meshes; each is made with new/new[], release it
// with FreeMeshObject. As TestMeshes, for models written to 3DS files for the
// real demo: a tessellated wall and boxes, written through tools' mesh writer.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "model/scene.h"

// A mesh holding copies of the given vertices and faces.
MeshObject* NewMesh(const std::vector<Vec3>& vertices, const std::vector<Face>& faces);

// The surface of the cube [-n, n]^3, each side an n x n grid of squares of side
// 2, split into triangles; all coordinates are integers. With seams each side
// has its own vertices, so the twelve cube edges are seams. 12 n^2 faces.
MeshObject* MakeBox(int n, bool seams);

// A torus around the z axis, major radius R, minor radius r, with u x v
// quads split into 2 u v triangles. With seams, the vertices of the u = 0 and
// v = 0 rings are repeated (same positions, new indices) at u = 1 and v = 1.
MeshObject* MakeTorus(int u, int v, float majorRadius, float minorRadius, bool seams);

// A sphere of the given radius with `slices` meridians and `stacks` bands, one
// vertex at each pole; 2 slices (stacks - 1) faces. With seams, the first
// meridian is repeated at the end under new indices.
MeshObject* MakeSphere(int slices, int stacks, float radius, bool seams);

// A small random mesh full of coincidences: shared and split vertices,
// repeated positions, -0.0 and not-a-number coordinates, faces naming one
// index twice, edges held by three or more faces, possibly no faces at all.
// Every face index lies in the mesh.
MeshObject* MakeRandomMesh(std::mt19937& rng);

// A copy of a closed mesh with its faces shuffled, each face's slots rotated,
// some faces repeated and some reversed: the same positions, messier topology.
MeshObject* MakeScrambledCopy(const MeshObject& mesh, std::mt19937& rng);

// A mesh to write as a test model: vertices, faces, optional texture
// coordinates (one per vertex when not empty).
struct TestMesh {
  std::vector<Vec3> vertices;
  std::vector<Face> faces;
  std::vector<TexCoord> texCoords;
};

// Writes `mesh` as the one object of a 3DS file at `path`.
bool WriteTestModel(const std::string& path, const TestMesh& mesh);

// One named object of a test model with several.
struct TestObject {
  std::string name;
  TestMesh mesh;  // its indices count from its own first vertex
};

// Writes the objects, in order, as the named objects of one 3DS file; an
// object without faces gets no face list at all.
bool WriteTestModel(const std::string& path, const std::vector<TestObject>& objects);

// A flat wall facing the viewer at depth z, from (x0, y0) with n x n square
// cells of size `cell`, each split along the diagonal from its lower-left to
// its upper-right corner, counter-clockwise seen from +z. Texture coordinates
// run from 0 to 1 across it. Open: its border casts no shadow quads.
struct TestWall {
  float x0 = -60.0f;
  float y0 = -60.0f;
  float cell = 2.0f;
  int n = 60;
  float z = -40.0f;
};
void AddWall(TestMesh& mesh, const TestWall& wall);

// A closed box from `low` to `high`, counter-clockwise seen from outside.
void AddBox(TestMesh& mesh, Vec3 low, Vec3 high);
