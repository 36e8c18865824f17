// Meshes for the shadow tests and benchmarks: closed, consistently wound
// boxes, tori and spheres, each with shared vertices or with texture seams
// (coinciding positions under different indices), and a random generator of
// nasty small meshes. Every mesh is a MeshObject made with new/new[]; release
// it with FreeMeshObject.
#pragma once

#include <cstdint>
#include <random>
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
