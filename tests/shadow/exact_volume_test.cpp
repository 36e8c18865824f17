// The exact volume builder without a GPU. Two oracles: the volume must be a
// closed surface (every directed edge of its triangles met once the other
// way), and its winding number at a point, summed from solid angles, must be
// the stencil count the frame relies on: the number of casting faces the
// segment from the light to the point crosses (any face of an open or badly
// wound mesh; for a solid, the faces through which the segment enters it,
// half the crossings rounded up), so that it is zero exactly where the point
// is lit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "shadow/exact_volume.h"
#include "tests/support/test_meshes.h"

namespace {

struct D3 {
  double x, y, z;
};
D3 Sub(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double Dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3 Cross(D3 a, D3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Length(D3 a) { return std::sqrt(Dot(a, a)); }
D3 Of(Vec3 v) { return {v.x, v.y, v.z}; }

// Directed edges of the volume's triangles that no triangle runs back.
int OpenEdges(const ExactShadowVolume& volume) {
  std::map<std::pair<uint32_t, uint32_t>, int> runs;
  const uint32_t* index = volume.Indices();
  for (int32_t t = 0; t < volume.IndexCount(); t += 3) {
    for (int k = 0; k < 3; ++k) {
      const uint32_t a = index[t + k], b = index[t + (k + 1) % 3];
      runs[{a < b ? a : b, a < b ? b : a}] += a < b ? 1 : -1;
    }
  }
  int open = 0;
  for (const auto& run : runs) open += run.second != 0;
  return open;
}

// The volume's winding number about p; a vertex at infinity (w = 0) is
// taken 10^5 units out along its direction from the light, which moves the
// surface only far beyond the points asked about.
double Winding(const ExactShadowVolume& volume, D3 light, D3 p) {
  const float* v = volume.Vertices();
  const uint32_t* index = volume.Indices();
  double sum = 0;
  for (int32_t t = 0; t < volume.IndexCount(); t += 3) {
    D3 c[3];
    for (int k = 0; k < 3; ++k) {
      const float* q = v + 4 * index[t + k];
      const D3 at = q[3] != 0 ? D3{q[0], q[1], q[2]}
                              : D3{light.x + 1e5 * q[0], light.y + 1e5 * q[1], light.z + 1e5 * q[2]};
      c[k] = Sub(at, p);
    }
    const double la = Length(c[0]), lb = Length(c[1]), lc = Length(c[2]);
    const double numerator = Dot(c[0], Cross(c[1], c[2]));
    const double denominator =
        la * lb * lc + Dot(c[0], c[1]) * lc + Dot(c[0], c[2]) * lb + Dot(c[1], c[2]) * la;
    sum += 2 * std::atan2(numerator, denominator);
  }
  return sum / (4 * M_PI);
}

// Whether the segment from `from` to `to` crosses triangle abc: 1 when it
// does clearly, 0 when it clearly does not, -1 when it passes too close to
// an edge or an end to say.
int Crosses(D3 from, D3 to, D3 a, D3 b, D3 c) {
  const D3 d = Sub(to, from), e1 = Sub(b, a), e2 = Sub(c, a);
  const D3 p = Cross(d, e2);
  const double det = Dot(e1, p);
  if (std::fabs(det) < 1e-9) return 0;
  const D3 s = Sub(from, a);
  const double u = Dot(s, p) / det;
  const D3 q = Cross(s, e1);
  const double v = Dot(d, q) / det, t = Dot(e2, q) / det;
  const double m = 1e-4;
  if (u < -m || v < -m || u + v > 1 + m || t < -m || t > 1 + m) return 0;
  if (u < m || v < m || u + v > 1 - m || t < m || t > 1 - m) return -1;
  return 1;
}

// Compares the winding number with the expected count at random points
// within `reach` of the light; `solid`: only entries into the solid count.
// Returns how many points were checked; some must lie in a shadow.
int CheckCounts(const MeshObject& mesh, const ExactShadowVolume& volume, Vec3 light, float reach,
                bool solid, std::mt19937& rng) {
  // Points on rays from the light through random points of random faces,
  // before and behind them, within the reach.
  std::uniform_real_distribution<double> unit(0.0, 1.0), along(0.3, 3.0);
  std::uniform_int_distribution<int> anyFace(0, mesh.faceCount - 1);
  const D3 l = Of(light);
  int checked = 0, shadowed = 0;
  for (int attempt = 0; attempt < 20000 && checked < 300; ++attempt) {
    const Face& face = mesh.faces[anyFace(rng)];
    double u = unit(rng), v = unit(rng);
    if (u + v > 1) u = 1 - u, v = 1 - v;
    const D3 a = Of(mesh.vertices[face.index0]), b = Of(mesh.vertices[face.index1]),
             c = Of(mesh.vertices[face.index2]);
    const D3 q{a.x + u * (b.x - a.x) + v * (c.x - a.x), a.y + u * (b.y - a.y) + v * (c.y - a.y),
               a.z + u * (b.z - a.z) + v * (c.z - a.z)};
    const double t = along(rng);
    const D3 p{l.x + t * (q.x - l.x), l.y + t * (q.y - l.y), l.z + t * (q.z - l.z)};
    if (Length(Sub(p, l)) > 0.95 * reach) continue;
    int expected = 0;
    bool clear = true;
    for (int f = 0; f < mesh.faceCount && clear; ++f) {
      const D3 a = Of(mesh.vertices[mesh.faces[f].index0]);
      const D3 b = Of(mesh.vertices[mesh.faces[f].index1]);
      const D3 c = Of(mesh.vertices[mesh.faces[f].index2]);
      const int crossing = Crosses(l, p, a, b, c);
      if (crossing < 0) clear = false;
      expected += crossing > 0;
    }
    if (!clear) continue;
    if (solid) expected = (expected + 1) / 2;
    const double w = Winding(volume, l, p);
    EXPECT_NEAR(w, expected, 1e-3) << "point " << p.x << ", " << p.y << ", " << p.z;
    ++checked;
    shadowed += expected > 0;
  }
  EXPECT_GT(shadowed, 20) << "too few points in a shadow to tell";
  return checked;
}

// A square plate in z = 0 (counter-clockwise from +z) of n x n square cells
// centred on the origin, optionally without its middle cell.
MeshObject* Plate(int n, float cell, bool withHole) {
  std::vector<Vec3> vertices;
  std::vector<Face> faces;
  const float start = -0.5f * n * cell;
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) vertices.push_back(Vec3{start + i * cell, start + j * cell, 0});
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      if (withHole && i == n / 2 && j == n / 2) continue;
      const int32_t a = j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
      faces.push_back(Face{a, b, d});
      faces.push_back(Face{a, d, c});
    }
  }
  return NewMesh(vertices, faces);
}

TEST(ExactShadowVolume, ClosedAndCountingForSolidsPlatesFinsAndInsideOut) {
  std::mt19937 rng(7);
  const Vec3 light{1.5f, 2.0f, 6.0f};
  struct Case {
    const char* name;
    MeshObject* mesh;
    bool solid;   // counts entries only
    float reach;  // of the light
  };
  MeshObject* insideOut = MakeTorus(12, 8, 4.0f, 1.5f, false);
  for (int f = 0; f < insideOut->faceCount; ++f) std::swap(insideOut->faces[f].index1, insideOut->faces[f].index2);
  // Three fins on one edge along y, and a face with two corners at one place.
  MeshObject* fins = NewMesh({{0, -3, 0}, {0, 3, 0}, {4, 0, -1}, {-4, 0, -1}, {0, 0, 5}, {1, 1, 1}},
                             {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}, {5, 5, 2}});
  // A box with one face turned over: closed, but no longer a solid.
  MeshObject* badBox = MakeBox(2, false);
  std::swap(badBox->faces[5].index1, badBox->faces[5].index2);
  const Case cases[] = {
      {"torus", MakeTorus(12, 8, 4.0f, 1.5f, true), true, 40.0f},
      {"inside-out torus", insideOut, true, 40.0f},
      {"box", MakeBox(2, true), true, 40.0f},
      {"box with a face turned over", badBox, false, 40.0f},
      {"plate", Plate(3, 4.0f, false), false, 40.0f},
      {"plate with a hole", Plate(3, 4.0f, true), false, 40.0f},
      {"wide plate, short reach", Plate(16, 8.0f, false), false, 20.0f},
      {"fins", fins, false, 40.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExactShadowVolume volume;
    volume.Build(c.mesh->vertices, c.mesh->vertexCount, c.mesh->faces, c.mesh->faceCount);
    EXPECT_EQ(volume.SolidTriangleCount() > 0, c.solid);
    volume.Update(light, c.reach);
    ASSERT_GT(volume.CapIndexCount(), 0);
    EXPECT_EQ(OpenEdges(volume), 0);
    EXPECT_GT(CheckCounts(*c.mesh, volume, light, c.reach, c.solid, rng), 150);
    FreeMeshObject(c.mesh);
  }
}

TEST(ExactShadowVolume, ClosedForMessyMeshesAndLeavesOutWhatCannotReachTheLightOrTheView) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    MeshObject* mesh = MakeRandomMesh(rng);
    MeshObject* scrambled = MakeScrambledCopy(*mesh, rng);
    for (MeshObject* m : {mesh, scrambled}) {
      ExactShadowVolume volume;
      volume.Build(m->vertices, m->vertexCount, m->faces, m->faceCount);
      for (float reach : {0.0f, 3.0f, 50.0f}) {
        volume.Update(Vec3{0.3f, 1.7f, 6.0f}, reach);
        EXPECT_EQ(OpenEdges(volume), 0) << "round " << round << " reach " << reach;
      }
    }
    FreeMeshObject(mesh);
    FreeMeshObject(scrambled);
  }
  // A torus far beyond the reach casts nothing; within it, everything.
  MeshObject* torus = MakeTorus(12, 8, 4.0f, 1.5f, true);
  ExactShadowVolume volume;
  volume.Build(torus->vertices, torus->vertexCount, torus->faces, torus->faceCount);
  volume.Update(Vec3{0, 0, 100}, 50.0f);
  EXPECT_EQ(volume.IndexCount(), 0);
  // Planes: one the shade of the torus (towards -z) lies wholly outside of
  // leaves nothing; one it lies inside of changes nothing.
  const float above[1][4] = {{0, 0, 1, -150}}, below[1][4] = {{0, 0, -1, 150}};
  volume.Update(Vec3{0, 0, 100}, 200.0f);
  const int32_t all = volume.IndexCount();
  EXPECT_GT(all, 0);
  volume.Update(Vec3{0, 0, 100}, 200.0f, below, 1);
  EXPECT_EQ(volume.IndexCount(), all);
  volume.Update(Vec3{0, 0, 100}, 200.0f, above, 1);
  EXPECT_EQ(volume.IndexCount(), 0);
  volume.Update(Vec3{0, 0, 100}, 0.0f);  // no reach: back cap at infinity
  EXPECT_GT(volume.IndexCount(), 0);
  EXPECT_EQ(volume.Vertices()[4 * volume.PositionCount() + 3], 0.0f);
  FreeMeshObject(torus);
}

// More faces than int32 index counts allow are refused before any is read.
TEST(ExactShadowVolume, RefusesMoreFacesThanItsIndexCountsHold) {
  const Vec3 vertices[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const Face face{0, 1, 2};
  ExactShadowVolume volume;
  EXPECT_THROW(volume.Build(vertices, 3, &face, ExactShadowVolume::kMaxFaces + 1),
               std::length_error);
  EXPECT_EQ(volume.TriangleCount(), 0);
  volume.Build(vertices, 3, &face, 1);
  EXPECT_EQ(volume.TriangleCount(), 1);
}

// A floor a million units from the origin, 12000 wide, whose four inner
// vertices sag by 2: a slope far too small for the orientation test to
// tell, a bend far beyond rounding. Taken for a flat patch, its fan caps
// would cut through it. Just before and just behind every face's centre,
// along the ray from the light, the count must be 0 and 1.
TEST(ExactShadowVolume, SaggingFloorFarFromTheOriginIsCountedAsItIs) {
  MeshObject* floor = Plate(3, 4000.0f, false);
  const double z = 1e6;
  for (int v = 0; v < floor->vertexCount; ++v) {
    Vec3& p = floor->vertices[v];
    const bool inner = std::fabs(p.x) < 3000 && std::fabs(p.y) < 3000;
    p.z = static_cast<float>(inner ? z - 2 : z);
  }
  const Vec3 light{1500.0f, 2000.0f, static_cast<float>(z + 6000)};
  ExactShadowVolume volume;
  volume.Build(floor->vertices, floor->vertexCount, floor->faces, floor->faceCount);
  volume.Update(light, 40000.0f);
  EXPECT_EQ(OpenEdges(volume), 0);
  const D3 l = Of(light);
  int checked = 0;
  for (int f = 0; f < floor->faceCount; ++f) {
    const Face& face = floor->faces[f];
    const D3 a = Of(floor->vertices[face.index0]), b = Of(floor->vertices[face.index1]),
             c = Of(floor->vertices[face.index2]);
    const D3 centre{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
    const D3 ray = Sub(centre, l);
    // A height field lit from above: a point just behind a face, as seen
    // from the light, is behind that face only.
    for (double offset : {-1e-5, 1e-5}) {
      const double t = 1 + offset;
      const D3 p{l.x + t * ray.x, l.y + t * ray.y, l.z + t * ray.z};
      EXPECT_NEAR(Winding(volume, l, p), offset > 0 ? 1 : 0, 1e-3) << "face " << f << " offset "
                                                                   << offset;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 2 * floor->faceCount);
  FreeMeshObject(floor);
}

// Moving a mesh: new positions through UpdatePositions give the volume a
// volume built afresh on those positions gives (nothing there is flat), and
// vertices in different move groups stay apart however close they start.
TEST(ExactShadowVolume, UpdatedPositionsGiveWhatABuildOnThemGives) {
  MeshObject* torus = MakeTorus(12, 8, 4.0f, 1.5f, true);
  std::vector<Vec3> bent(torus->vertices, torus->vertices + torus->vertexCount);
  for (Vec3& v : bent) v = Vec3{v.x + 0.1f * v.y * v.y, v.y, v.z + 0.3f * v.x};
  ExactShadowVolume moved, fresh;
  moved.Build(torus->vertices, torus->vertexCount, torus->faces, torus->faceCount);
  moved.UpdatePositions(bent.data(), torus->vertexCount);
  fresh.Build(bent.data(), torus->vertexCount, torus->faces, torus->faceCount);
  for (float reach : {0.0f, 30.0f}) {
    moved.Update(Vec3{2, 9, 12}, reach);
    fresh.Update(Vec3{2, 9, 12}, reach);
    ASSERT_EQ(moved.IndexCount(), fresh.IndexCount());
    EXPECT_TRUE(std::equal(moved.Indices(), moved.Indices() + moved.IndexCount(), fresh.Indices()));
    EXPECT_TRUE(std::equal(moved.Vertices(), moved.Vertices() + 8 * moved.PositionCount(), fresh.Vertices()));
    EXPECT_EQ(OpenEdges(moved), 0);
  }
  // The vertex list's two halves in two groups: the first ring and its copy
  // closing the seam no longer merge, so that seam opens.
  std::vector<int32_t> groups(static_cast<size_t>(torus->vertexCount));
  for (int32_t v = 0; v < torus->vertexCount; ++v) groups[v] = v < torus->vertexCount / 2 ? 1 : 2;
  ExactShadowVolume split;
  split.Build(torus->vertices, torus->vertexCount, torus->faces, torus->faceCount, groups.data());
  EXPECT_EQ(moved.SolidTriangleCount(), torus->faceCount);
  EXPECT_GT(split.PositionCount(), moved.PositionCount());
  EXPECT_LT(split.SolidTriangleCount(), torus->faceCount);
  FreeMeshObject(torus);
}

// A flat plate's caps are fans until it moves; bent, every face caps itself
// as in a build on the bent positions, and the volume stays closed.
TEST(ExactShadowVolume, AFlatPatchThatBendsCapsFaceByFace) {
  MeshObject* plate = Plate(4, 1.0f, true);
  std::vector<Vec3> bent(plate->vertices, plate->vertices + plate->vertexCount);
  for (Vec3& v : bent) v.z = 0.2f * v.x * v.x + 0.1f * v.y;
  ExactShadowVolume moved, fresh;
  moved.Build(plate->vertices, plate->vertexCount, plate->faces, plate->faceCount);
  moved.Update(Vec3{0.5f, 1, 6}, 0.0f);
  const int32_t fanCaps = moved.CapIndexCount();
  moved.UpdatePositions(bent.data(), plate->vertexCount);
  fresh.Build(bent.data(), plate->vertexCount, plate->faces, plate->faceCount);
  moved.Update(Vec3{0.5f, 1, 6}, 0.0f);
  fresh.Update(Vec3{0.5f, 1, 6}, 0.0f);
  EXPECT_LT(fanCaps, moved.CapIndexCount());  // the flat plate did cap by fans
  EXPECT_EQ(moved.CapIndexCount(), 6 * plate->faceCount);
  ASSERT_EQ(moved.IndexCount(), fresh.IndexCount());
  EXPECT_TRUE(std::equal(moved.Indices(), moved.Indices() + moved.IndexCount(), fresh.Indices()));
  EXPECT_EQ(OpenEdges(moved), 0);
  FreeMeshObject(plate);
}

}  // namespace
