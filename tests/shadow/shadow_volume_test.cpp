// The silhouette walk, through the quad visitor (no OpenGL context): binding,
// extrusion, the silhouette and eye-side classes on closed meshes checked
// against exact or double-precision orientation tests, seams, open meshes,
// degenerate planes, and records the bound vertices do not cover.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "shadow/edges.h"
#include "shadow/shadow_volume.h"
#include "tests/support/test_meshes.h"

namespace {

struct Quad {
  int32_t record;
  Vec3 v0, v1, v0Extruded, v1Extruded;
};

std::vector<Quad> Collect(const ShadowVolume& volume, Vec3 light, Vec3 eye, bool separating) {
  std::vector<Quad> quads;
  volume.VisitShadowQuads(
      light, eye, separating ? QuadClass::kSeparating : QuadClass::kFacing,
      [&](int32_t record, const Vec3& v0, const Vec3& v1, const Vec3& v0x, const Vec3& v1x) {
        quads.push_back(Quad{record, v0, v1, v0x, v1x});
      });
  return quads;
}

bool Same(const Vec3& a, const Vec3& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

void Bind(ShadowVolume& volume, const MeshObject& mesh) {
  volume.BindVertexArray(mesh.vertices, mesh.vertexCount, 12, 0);
  volume.BindEdgeArray(mesh.edges, mesh.edgeCount, 16, 0);
  volume.SetExtrusion(3000.0f);
}

// Orientation of the tetrahedron (a, b, c, d): det(b - a, c - a, d - a), in double.
double Orientation(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d) {
  const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
  const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
  const double wx = double(d.x) - a.x, wy = double(d.y) - a.y, wz = double(d.z) - a.z;
  return ux * (vy * wz - vz * wy) - uy * (vx * wz - vz * wx) + uz * (vx * wy - vy * wx);
}

int SignOf(double x, double tolerance) {
  return x > tolerance ? 1 : x < -tolerance ? -1 : 0;
}

using PositionKey = std::tuple<float, float, float>;
using EdgeKey = std::pair<PositionKey, PositionKey>;

EdgeKey KeyOf(const Vec3& a, const Vec3& b) {
  PositionKey ka{a.x, a.y, a.z}, kb{b.x, b.y, b.z};
  if (kb < ka) std::swap(ka, kb);
  return {ka, kb};
}

// What the walk should emit for one closed mesh, light and eye, worked out
// from the faces themselves: an edge is a silhouette when its two faces
// disagree on facing the light; its quad goes to the separating call when the
// eye and the producing face's third vertex lie on opposite sides of the
// plane through the light and the edge. Edges whose orientations fall within
// `tolerance` of zero are left out of the comparison.
struct Outcome {
  int emittedSeparating = 0;
  int emittedFacing = 0;
};

struct Check {
  int silhouetteEdges = 0;  // edges compared that are silhouettes, eye off the plane
  int eyeInPlaneEdges = 0;  // silhouette edges whose plane holds the eye
  int seamEdgesTwice = 0;   // silhouette edges emitted twice in one call
};

Check CheckWalk(const MeshObject& mesh, Vec3 light, Vec3 eye, double tolerance) {
  Check check;
  const Vec3* v = mesh.vertices;
  // The test's own adjacency: the faces holding each unordered position pair.
  std::map<EdgeKey, std::vector<int32_t>> facesOfEdge;
  for (int32_t f = 0; f < mesh.faceCount; ++f) {
    const Face& face = mesh.faces[f];
    const int32_t idx[3] = {face.index0, face.index1, face.index2};
    for (int e = 0; e < 3; ++e) facesOfEdge[KeyOf(v[idx[e]], v[idx[(e + 1) % 3]])].push_back(f);
  }
  // Records per edge, and the face that produced each (the live record's
  // opposite vertex and edge identify it in a closed mesh).
  std::map<EdgeKey, std::vector<int32_t>> recordsOfEdge;
  for (int32_t i = 0; i < mesh.edgeCount; ++i) {
    recordsOfEdge[KeyOf(v[mesh.edges[i].edgeStart], v[mesh.edges[i].edgeEnd])].push_back(i);
  }

  ShadowVolume volume;
  Bind(volume, mesh);
  std::map<EdgeKey, Outcome> outcome;
  for (bool separating : {true, false}) {
    for (const Quad& q : Collect(volume, light, eye, separating)) {
      const EdgeRecord& r = mesh.edges[q.record];
      EXPECT_TRUE(Same(q.v0, v[r.edgeStart]) && Same(q.v1, v[r.edgeEnd]));
      EXPECT_TRUE(Same(q.v0Extruded, ShadowVolume::ExtrudePoint(light, q.v0, 3000.0f)));
      EXPECT_TRUE(Same(q.v1Extruded, ShadowVolume::ExtrudePoint(light, q.v1, 3000.0f)));
      Outcome& o = outcome[KeyOf(q.v0, q.v1)];
      (separating ? o.emittedSeparating : o.emittedFacing) += 1;
    }
  }

  for (const auto& [edge, faces] : facesOfEdge) {
    EXPECT_EQ(faces.size(), 2u) << "the test mesh is not closed";
    if (faces.size() != 2) continue;
    int facing[2];
    for (int k = 0; k < 2; ++k) {
      const Face& f = mesh.faces[faces[k]];
      facing[k] = SignOf(Orientation(v[f.index0], v[f.index1], v[f.index2], light), tolerance);
    }
    if (facing[0] == 0 || facing[1] == 0) continue;
    const Outcome o = outcome[edge];
    if (facing[0] == facing[1]) {
      EXPECT_EQ(o.emittedSeparating + o.emittedFacing, 0) << "not a silhouette edge";
      continue;
    }
    const std::vector<int32_t>& records = recordsOfEdge[edge];
    EXPECT_FALSE(records.empty()) << "silhouette edge without a record";
    if (records.empty()) continue;
    const EdgeRecord& r = mesh.edges[records[0]];
    const int eyeSide = SignOf(Orientation(light, v[r.edgeStart], v[r.edgeEnd], eye), tolerance);
    const int faceSide =
        SignOf(Orientation(light, v[r.edgeStart], v[r.edgeEnd], v[r.opposite]), tolerance);
    if (faceSide == 0) continue;
    if (eyeSide == 0) {
      // Only trust an exact zero, not one within the tolerance.
      if (Orientation(light, v[r.edgeStart], v[r.edgeEnd], eye) != 0.0) continue;
      ++check.eyeInPlaneEdges;
      EXPECT_EQ(o.emittedSeparating + o.emittedFacing, 0) << "eye in the quad's plane";
      continue;
    }
    ++check.silhouetteEdges;
    const int expected = static_cast<int>(records.size());
    if (eyeSide != faceSide) {
      EXPECT_EQ(o.emittedSeparating, expected);
      EXPECT_EQ(o.emittedFacing, 0);
    } else {
      EXPECT_EQ(o.emittedSeparating, 0);
      EXPECT_EQ(o.emittedFacing, expected);
    }
    if (expected == 2 && o.emittedSeparating + o.emittedFacing == 2) ++check.seamEdgesTwice;
  }
  return check;
}

TEST(ShadowVolume, StartsUnboundAndBindsWithByteOffsets) {
  ShadowVolume volume;
  EXPECT_EQ(volume.extrusion, 10000.0f);
  EXPECT_FALSE(volume.vertexArrayBound);
  EXPECT_FALSE(volume.edgeArrayBound);

  MeshObject* box = MakeBox(1, false);
  BuildEdgeList(box);
  const Vec3 light{5, 3, 2}, eye{-7, 1, 9};
  // Unbound, or half bound: nothing at all.
  EXPECT_TRUE(Collect(volume, light, eye, true).empty());
  volume.BindEdgeArray(box->edges, box->edgeCount, 16, 0);
  EXPECT_TRUE(Collect(volume, light, eye, true).empty());
  EXPECT_TRUE(Collect(volume, light, eye, false).empty());
  volume.BindVertexArray(box->vertices, box->vertexCount, 12, 12);
  EXPECT_EQ(volume.vertexArray, box->vertices + 1);
  volume.BindVertexArray(box->vertices, box->vertexCount, 12, 0);
  volume.BindEdgeArray(box->edges, box->edgeCount, 16, 16);
  EXPECT_EQ(volume.edgeArray, box->edges + 1);
  EXPECT_EQ(volume.edgeArrayCount, box->edgeCount);
  volume.SetExtrusion(3000.0f);
  EXPECT_EQ(volume.extrusion, 3000.0f);
  FreeMeshObject(box);
}

TEST(ShadowVolume, ExtrudesAwayFromTheLight) {
  const Vec3 light{20, 20, 70};
  // 50 units from the light becomes 150000 units with the set-up's factor.
  const Vec3 far = ShadowVolume::ExtrudePoint(light, Vec3{20, 20, 20}, 3000.0f);
  EXPECT_EQ(far.x, 20.0f);
  EXPECT_EQ(far.y, 20.0f);
  EXPECT_EQ(far.z, 70.0f - 150000.0f);
  const Vec3 same = ShadowVolume::ExtrudePoint(light, Vec3{1, 2, 3}, 1.0f);
  EXPECT_TRUE(Same(same, Vec3{1, 2, 3}));
}

TEST(ShadowVolume, ClosedBoxEmitsEachSilhouetteEdgeOnceAcrossBothCalls) {
  // Integer coordinates keep every orientation exact in float and double.
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> coord(-10, 10);
  for (bool seams : {false, true}) {
    MeshObject* box = MakeBox(3, seams);
    BuildEdgeList(box);
    Check total;
    for (int trial = 0; trial < 40; ++trial) {
      Vec3 light{float(coord(rng)), float(coord(rng)), float(coord(rng))};
      if (std::fabs(light.x) <= 3 && std::fabs(light.y) <= 3 && std::fabs(light.z) <= 3) {
        light.z = 8;  // keep the light outside the box
      }
      Vec3 eye{float(coord(rng)), float(coord(rng)), float(coord(rng))};
      if (trial % 2 == 1) {
        // Put the eye in the plane of some record's edge: twice as far along
        // the ray from the light through its start vertex.
        const EdgeRecord& r = box->edges[rng() % box->edgeCount];
        const Vec3& s = box->vertices[r.edgeStart];
        eye = Vec3{2 * s.x - light.x, 2 * s.y - light.y, 2 * s.z - light.z};
      }
      const Check c = CheckWalk(*box, light, eye, 0.0);
      total.silhouetteEdges += c.silhouetteEdges;
      total.eyeInPlaneEdges += c.eyeInPlaneEdges;
      total.seamEdgesTwice += c.seamEdgesTwice;
      if (HasFailure()) break;
    }
    EXPECT_GT(total.silhouetteEdges, 100);
    EXPECT_GT(total.eyeInPlaneEdges, 0);
    if (seams) {
      EXPECT_GT(total.seamEdgesTwice, 0);
    }
    FreeMeshObject(box);
  }
}

TEST(ShadowVolume, CurvedClosedMeshesEmitEachSilhouetteEdgeOnce) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> coord(-12.0f, 12.0f);
  MeshObject* meshes[] = {MakeTorus(24, 12, 4.0f, 1.5f, false), MakeTorus(24, 12, 4.0f, 1.5f, true),
                          MakeSphere(20, 10, 3.0f, false), MakeSphere(20, 10, 3.0f, true)};
  for (MeshObject* mesh : meshes) {
    BuildEdgeList(mesh);
    Check total;
    for (int trial = 0; trial < 10; ++trial) {
      const Vec3 light{coord(rng), coord(rng), 8.0f + std::fabs(coord(rng))};
      const Vec3 eye{coord(rng), coord(rng), coord(rng)};
      const Check c = CheckWalk(*mesh, light, eye, 1e-3);
      total.silhouetteEdges += c.silhouetteEdges;
      total.seamEdgesTwice += c.seamEdgesTwice;
    }
    EXPECT_GT(total.silhouetteEdges, 50);
    FreeMeshObject(mesh);
  }
}

TEST(ShadowVolume, EyeAtTheLightSeesNoQuads) {
  MeshObject* torus = MakeTorus(16, 8, 4.0f, 1.0f, true);
  BuildEdgeList(torus);
  ShadowVolume volume;
  Bind(volume, *torus);
  const Vec3 light{3.0f, -2.5f, 9.0f};
  EXPECT_FALSE(Collect(volume, light, Vec3{0, 0, -30}, true).empty() &&
               Collect(volume, light, Vec3{0, 0, -30}, false).empty());
  EXPECT_TRUE(Collect(volume, light, light, true).empty());
  EXPECT_TRUE(Collect(volume, light, light, false).empty());
  FreeMeshObject(torus);
}

TEST(ShadowVolume, OpenMeshesAndDegeneratePlanes) {
  // A ridge along the x axis: faces (0, 1, 2) and (1, 0, 3) with V2 and V3 on
  // either side. Border records come first, the shared edge last.
  const std::vector<Vec3> vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}, {0, -1, 1}};
  const std::vector<EdgeRecord> records = {
      {1, 2, 0, -1}, {2, 0, 1, -1}, {3, 1, 0, -1}, {0, 3, 1, -1}, {0, 1, 2, 3}};
  ShadowVolume volume;
  volume.BindVertexArray(vertices.data(), 4, 12, 0);
  volume.BindEdgeArray(records.data(), 5, 16, 0);
  const Vec3 eye{0.5f, 0.0f, -20.0f};

  // Light low on one side: one face faces it, the other not: a silhouette.
  const Vec3 side{0.5f, 5.0f, 0.1f};
  std::vector<Quad> quads = Collect(volume, side, eye, true);
  std::vector<Quad> other = Collect(volume, side, eye, false);
  ASSERT_EQ(quads.size() + other.size(), 1u);
  EXPECT_EQ((quads.empty() ? other : quads)[0].record, 4);

  // Light above the ridge: both faces face it; no quad in either call.
  const Vec3 above{0.5f, 0.0f, 10.0f};
  EXPECT_TRUE(Collect(volume, above, eye, true).empty());
  EXPECT_TRUE(Collect(volume, above, eye, false).empty());

  // Light on the line through the edge: the plane is degenerate.
  const Vec3 onLine{5.0f, 0.0f, 0.0f};
  EXPECT_TRUE(Collect(volume, onLine, eye, true).empty());
  EXPECT_TRUE(Collect(volume, onLine, eye, false).empty());

  // No records to walk.
  volume.BindEdgeArray(records.data(), 0, 16, 0);
  EXPECT_TRUE(Collect(volume, side, eye, true).empty() &&
              Collect(volume, side, eye, false).empty());
  volume.BindEdgeArray(records.data(), -3, 16, 0);
  EXPECT_TRUE(Collect(volume, side, eye, true).empty() &&
              Collect(volume, side, eye, false).empty());
}

TEST(ShadowVolume, SkipsRecordsTheBoundVerticesDoNotCover) {
  // Exactly sized heap arrays: the address sanitizer catches any stray read.
  const std::vector<Vec3> vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}, {0, -1, 1}};
  const std::vector<EdgeRecord> records = {{0, 1, 2, 3}, {0, 1, 2, 4},  {0, 1, 900000, 3},
                                           {7, 1, 2, 3}, {0, -5, 2, 3}, {1, 0, 3, 2}};
  ShadowVolume volume;
  volume.BindVertexArray(vertices.data(), 4, 12, 0);
  volume.BindEdgeArray(records.data(), 6, 16, 0);
  const Vec3 light{0.5f, 5.0f, 0.1f}, eye{0.5f, 0.0f, -20.0f};
  std::vector<int32_t> seen;
  for (bool separating : {true, false}) {
    for (const Quad& q : Collect(volume, light, eye, separating)) seen.push_back(q.record);
  }
  EXPECT_EQ(seen, (std::vector<int32_t>{0, 5}));

  // Bound to fewer vertices than the records name: those records are skipped.
  volume.BindVertexArray(vertices.data(), 3, 12, 0);
  EXPECT_TRUE(Collect(volume, light, eye, true).empty() &&
              Collect(volume, light, eye, false).empty());
}

TEST(ShadowVolume, PackedAndStridedWalksAgreeOnNastyData) {
  // Packed arrays take the processor's vector path where it has one; the same
  // positions interleaved with other data (stride 24, offset 12) take the
  // plain path. Both must emit the same quads, also for zeros, infinities,
  // not-a-number coordinates, lights on vertices and eyes on planes.
  std::mt19937 rng(99);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float special[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, 3.0f, inf, nan};
  for (int round = 0; round < 200; ++round) {
    const int vertexCount = 2 + static_cast<int>(rng() % 200);
    std::vector<Vec3> packed(vertexCount);
    std::vector<float> padded;
    for (Vec3& v : packed) {
      float* c[3] = {&v.x, &v.y, &v.z};
      for (float* component : c) {
        *component = rng() % 8 == 0 ? special[rng() % 8] : float(int(rng() % 7) - 3);
      }
    }
    // Vertices almost on the line of two others: their plane values are
    // rounding noise, whose sign depends on the exact order of operations.
    for (int v = 0; v < vertexCount / 3; ++v) {
      const Vec3 a = packed[rng() % vertexCount], b = packed[rng() % vertexCount];
      const float t = float(rng() % 1000) / 997.0f;
      packed[rng() % vertexCount] =
          Vec3{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
    }
    for (const Vec3& v : packed) padded.insert(padded.end(), {9.0f, 9.0f, 9.0f, v.x, v.y, v.z});
    std::vector<EdgeRecord> records(1 + rng() % 150);
    for (EdgeRecord& r : records) {
      // Mostly in range; now and then a border or an index past the end.
      auto index = [&] {
        const unsigned roll = rng() % 400;
        return roll == 0 ? -1 : roll == 1 ? vertexCount : static_cast<int32_t>(rng() % vertexCount);
      };
      r = EdgeRecord{index(), index(), index(), index()};
    }
    ShadowVolume fast, plain;
    fast.BindVertexArray(packed.data(), vertexCount, 12, 0);
    plain.BindVertexArray(reinterpret_cast<const Vec3*>(padded.data()), vertexCount, 24, 12);
    for (ShadowVolume* volume : {&fast, &plain}) {
      volume->BindEdgeArray(records.data(), static_cast<int32_t>(records.size()), 16, 0);
    }
    for (int trial = 0; trial < 4; ++trial) {
      const Vec3 light = trial == 0 ? packed[rng() % vertexCount]
                                    : Vec3{float(int(rng() % 9) - 4), float(int(rng() % 9) - 4),
                                           float(int(rng() % 9) - 4)};
      const Vec3 eye = trial == 1 ? packed[rng() % vertexCount]
                                  : Vec3{float(int(rng() % 9) - 4), float(int(rng() % 9) - 4),
                                         float(int(rng() % 9) - 4)};
      for (bool separating : {true, false}) {
        const std::vector<Quad> a = Collect(fast, light, eye, separating);
        const std::vector<Quad> b = Collect(plain, light, eye, separating);
        ASSERT_EQ(a.size(), b.size()) << "round " << round;
        for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].record, b[i].record);
      }
    }
  }
}

}  // namespace
