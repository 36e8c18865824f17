// Edge adjacency: the documented small cases with their exact records, and
// the fast BuildEdgeList against the quadratic reference on many meshes.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "shadow/edges.h"
#include "tests/shadow/reference_edges.h"
#include "tests/support/test_meshes.h"

namespace {

std::vector<EdgeRecord> Records(const MeshObject& mesh) {
  return std::vector<EdgeRecord>(mesh.edges, mesh.edges + 3 * mesh.faceCount);
}

bool SameRecord(const EdgeRecord& a, const EdgeRecord& b) {
  return a.edgeStart == b.edgeStart && a.edgeEnd == b.edgeEnd && a.opposite == b.opposite &&
         a.neighbourOpposite == b.neighbourOpposite;
}

std::string Describe(const std::vector<EdgeRecord>& records) {
  std::string out;
  for (const EdgeRecord& r : records) {
    out += "(" + std::to_string(r.edgeStart) + "," + std::to_string(r.edgeEnd) + "," +
           std::to_string(r.opposite) + "," + std::to_string(r.neighbourOpposite) + ") ";
  }
  return out;
}

// Builds the mesh's edge list (with `groups` when given) and checks it
// against the reference built over `referenceMesh` (by default the mesh
// itself), record for record including the removed tail.
void ExpectMatchesReference(MeshObject* mesh, const std::string& what,
                            const std::vector<int32_t>& groups = {},
                            const MeshObject* referenceMesh = nullptr) {
  const ReferenceEdgeList expected = ReferenceBuildEdgeList(referenceMesh ? *referenceMesh : *mesh);
  BuildEdgeList(mesh, groups.empty() ? nullptr : groups.data());
  ASSERT_NE(mesh->edges, nullptr) << what;
  EXPECT_EQ(mesh->edgeCount, expected.edgeCount) << what;
  const std::vector<EdgeRecord> got = Records(*mesh);
  bool same = got.size() == expected.edges.size();
  for (size_t i = 0; same && i < got.size(); ++i) same = SameRecord(got[i], expected.edges[i]);
  EXPECT_TRUE(same) << what << "\n got      " << Describe(got) << "\n expected "
                    << Describe(expected.edges);
}

TEST(EdgeList, SingleTriangleHasThreeBorderEdges) {
  MeshObject* mesh = NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  BuildEdgeList(mesh);
  ASSERT_EQ(mesh->edgeCount, 3);
  const std::vector<EdgeRecord> expected = {{0, 1, 2, -1}, {1, 2, 0, -1}, {2, 0, 1, -1}};
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(SameRecord(mesh->edges[i], expected[i])) << i;
  FreeMeshObject(mesh);
}

TEST(EdgeList, TwoTrianglesDropTheDuplicateAndFillItsHoleFromTheEnd) {
  MeshObject* mesh = NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, -1, 0}}, {{0, 1, 2}, {1, 0, 3}});
  BuildEdgeList(mesh);
  EXPECT_EQ(mesh->edgeCount, 5);
  const std::vector<EdgeRecord> expected = {{0, 1, 2, 3},  {1, 2, 0, -1}, {2, 0, 1, -1},
                                            {3, 1, 0, -1}, {0, 3, 1, -1}, {-2, -2, -2, -2}};
  const std::vector<EdgeRecord> got = Records(*mesh);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(SameRecord(got[i], expected[i])) << Describe(got);
  FreeMeshObject(mesh);
}

TEST(EdgeList, SeamKeepsOneRecordFromEachSide) {
  // Vertex 4 sits at vertex 1's position and vertex 5 at vertex 0's.
  MeshObject* mesh = NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, -1, 0}, {1, 0, 0}, {0, 0, 0}},
                             {{0, 1, 2}, {4, 5, 3}});
  BuildEdgeList(mesh);
  EXPECT_EQ(mesh->edgeCount, 6);
  const std::vector<EdgeRecord> got = Records(*mesh);
  EXPECT_TRUE(SameRecord(got[0], EdgeRecord{0, 1, 2, 3})) << Describe(got);
  EXPECT_TRUE(SameRecord(got[3], EdgeRecord{4, 5, 3, 2})) << Describe(got);
  for (int i : {1, 2, 4, 5}) EXPECT_EQ(got[i].neighbourOpposite, -1) << Describe(got);
  FreeMeshObject(mesh);
}

TEST(EdgeList, EmptyMeshGivesNoRecords) {
  MeshObject* mesh = NewMesh({{1, 2, 3}}, {});
  BuildEdgeList(mesh);
  EXPECT_EQ(mesh->edgeCount, 0);
  BuildEdgeList(mesh);  // a second run releases the first array
  EXPECT_EQ(mesh->edgeCount, 0);
  FreeMeshObject(mesh);
  BuildEdgeList(nullptr);

  // A negative vertex count means no vertices: every face slot lies outside.
  MeshObject* broken = NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {2, 1, 0}});
  broken->vertexCount = -4;
  BuildEdgeList(broken);
  // Without positions the reversed face is no neighbour, so its three records
  // equal the first face's on both unordered pairs and are removed.
  EXPECT_EQ(broken->edgeCount, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(broken->edges[i].neighbourOpposite, -1);
  FreeMeshObject(broken);
}

TEST(EdgeList, ClosedMeshesKeepHalfTheRecordsUnlessSeamed) {
  struct Case {
    MeshObject* mesh;
    int expectedCount;  // -1: only compare with the reference
    const char* name;
  };
  const Case cases[] = {
      {MakeBox(3, false), 3 * 108 / 2, "box"},
      {MakeBox(3, true), -1, "box with seams"},
      {MakeTorus(9, 5, 3.0f, 1.0f, false), 3 * 90 / 2, "torus"},
      {MakeTorus(9, 5, 3.0f, 1.0f, true), -1, "torus with seams"},
      {MakeSphere(10, 6, 2.0f, false), 3 * 100 / 2, "sphere"},
      {MakeSphere(10, 6, 2.0f, true), -1, "sphere with seams"},
  };
  for (const Case& c : cases) {
    ExpectMatchesReference(c.mesh, c.name);
    if (c.expectedCount >= 0) {
      EXPECT_EQ(c.mesh->edgeCount, c.expectedCount) << c.name;
    }
    // Every live record of a closed mesh has a neighbour; the tail is removed.
    for (int i = 0; i < 3 * c.mesh->faceCount; ++i) {
      const EdgeRecord& r = c.mesh->edges[i];
      if (i < c.mesh->edgeCount) {
        EXPECT_GE(r.neighbourOpposite, 0) << c.name << " record " << i;
      } else {
        EXPECT_TRUE(SameRecord(r, EdgeRecord{-2, -2, -2, -2})) << c.name << " record " << i;
      }
    }
    FreeMeshObject(c.mesh);
  }
}

TEST(EdgeList, SeamedClosedMeshKeepsBothRecordsOfEachSeamEdge) {
  // The box with seams has 12 cube edges of 3 segments, each held twice.
  MeshObject* shared = MakeBox(3, false);
  MeshObject* seamed = MakeBox(3, true);
  BuildEdgeList(shared);
  BuildEdgeList(seamed);
  EXPECT_EQ(seamed->edgeCount, shared->edgeCount + 12 * 3);
  FreeMeshObject(shared);
  FreeMeshObject(seamed);
}

TEST(EdgeList, MatchesTheQuadraticReferenceOnRandomMeshes) {
  std::mt19937 rng(20261207);
  for (int i = 0; i < 3000; ++i) {
    MeshObject* mesh = MakeRandomMesh(rng);
    ExpectMatchesReference(mesh, "random mesh " + std::to_string(i));
    FreeMeshObject(mesh);
    if (HasFailure()) return;
  }
}

TEST(EdgeList, MoveGroupsPairOnlyFacesWhoseSharedEdgeMovesAsOne) {
  // Two faces meet along the seam (1, 0) ~ (4, 5): paired when the seam's
  // copies share groups, open on both sides when they do not.
  const std::vector<Vec3> vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, -1, 0}, {1, 0, 0}, {0, 0, 0}};
  struct Case {
    std::vector<int32_t> groups;
    bool paired;
  };
  const Case cases[] = {{{7, 7, 7, 7, 7, 7}, true},
                        {{0, 0, 0, 1, 0, 0}, true},  // the off-edge corner may move alone
                        {{0, 0, 0, 1, 1, 1}, false},
                        {{0, 0, 0, 0, 0, 1}, false}};  // one end apart is enough
  for (const Case& c : cases) {
    MeshObject* mesh = NewMesh(vertices, {{0, 1, 2}, {4, 5, 3}});
    BuildEdgeList(mesh, c.groups.data());
    const std::vector<EdgeRecord> got = Records(*mesh);
    EXPECT_EQ(mesh->edgeCount, 6) << Describe(got);
    EXPECT_EQ(got[0].neighbourOpposite, c.paired ? 3 : -1) << Describe(got);
    EXPECT_EQ(got[3].neighbourOpposite, c.paired ? 2 : -1) << Describe(got);
    FreeMeshObject(mesh);
  }
}

TEST(EdgeList, MoveGroupsActAsIfEachGroupHadMovedApart) {
  // The random meshes' coordinates come from a small set whose distinct
  // values lie 1/14 or more apart, within 143 of 0: adding 4096 x group to x
  // keeps equal values equal and distinct ones distinct, and puts the groups
  // far apart. The plain reference over that moved copy is the oracle.
  std::mt19937 rng(20261208);
  for (int i = 0; i < 2000; ++i) {
    MeshObject* mesh = MakeRandomMesh(rng);
    const int32_t vertexCount = std::max(mesh->vertexCount, 0);
    std::vector<int32_t> groups(static_cast<size_t>(vertexCount));
    std::vector<Vec3> moved(mesh->vertices, mesh->vertices + vertexCount);
    const int spread = 1 + static_cast<int>(rng() % 3);
    for (int32_t v = 0; v < vertexCount; ++v) {
      groups[v] = static_cast<int32_t>(rng() % spread);
      moved[v].x += 4096.0f * static_cast<float>(groups[v]);
    }
    MeshObject* apart = NewMesh(moved, std::vector<Face>(mesh->faces, mesh->faces + mesh->faceCount));
    if (!groups.empty())
      ExpectMatchesReference(mesh, "grouped random mesh " + std::to_string(i), groups, apart);
    FreeMeshObject(apart);
    FreeMeshObject(mesh);
    if (HasFailure()) return;
  }
}

TEST(EdgeList, MatchesTheQuadraticReferenceOnScrambledClosedMeshes) {
  std::mt19937 rng(7);
  MeshObject* bases[] = {MakeBox(2, true), MakeBox(2, false), MakeTorus(6, 4, 2.0f, 0.5f, true),
                         MakeSphere(6, 4, 1.0f, true), MakeSphere(5, 3, 1.0f, false)};
  for (MeshObject* base : bases) {
    for (int i = 0; i < 20; ++i) {
      MeshObject* mesh = MakeScrambledCopy(*base, rng);
      ExpectMatchesReference(mesh, "scrambled copy " + std::to_string(i));
      FreeMeshObject(mesh);
    }
    FreeMeshObject(base);
  }
}

TEST(EdgeList, PositionEqualityIsFloatEquality) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Face 1 reaches face 0's edge (0, 1) through -0.0 spellings of the same
  // positions; face 2 shares positions holding a NaN, which equal nothing.
  MeshObject* mesh = NewMesh({{0, 0, 0},
                              {1, 0, 0},
                              {0, 1, 0},
                              {-0.0f, 0, -0.0f},
                              {1, -0.0f, 0},
                              {0, -1, 0},
                              {nan, 0, 0},
                              {2, 2, 2},
                              {nan, 0, 0},
                              {3, 3, 3}},
                             {{0, 1, 2}, {4, 3, 5}, {6, 7, 0}, {7, 8, 9}});
  ExpectMatchesReference(mesh, "signed zeros and NaN");
  const std::vector<EdgeRecord> got = Records(*mesh);
  EXPECT_EQ(got[0].neighbourOpposite, 5) << Describe(got);
  // Edge (6, 7) of face 2 and edge (7, 8) of face 3 hold NaN positions: no neighbour.
  for (const EdgeRecord& r : got) {
    if (r.edgeStart == 6 || r.edgeEnd == 6 || r.edgeStart == 8 || r.edgeEnd == 8) {
      EXPECT_EQ(r.neighbourOpposite, -1) << Describe(got);
    }
  }
  FreeMeshObject(mesh);
}

TEST(EdgeList, FacesNamingVerticesOutsideTheMeshAreNotRead) {
  // The vertex array is exactly sized: the address sanitizer would catch any read.
  MeshObject* mesh = NewMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, -1, 0}},
                             {{0, 1, 2}, {1, 0, 3}, {0, 9, 1}, {-1, 1, 0}, {-2, 2, 3}});
  BuildEdgeList(mesh);
  // Faces 0 and 1 still find each other, the edge (1, 0) of faces 2 and 3
  // finds face 0 (off-edge vertex 2), and edges with an endpoint outside the
  // mesh have no position, hence no neighbour.
  const std::vector<EdgeRecord> got = Records(*mesh);
  int checked = 0;
  bool keptOutsideRecord = false;
  for (int i = 0; i < mesh->edgeCount; ++i) {
    const EdgeRecord& r = got[i];
    if (r.edgeStart == 0 && r.edgeEnd == 1 && r.opposite == 2) {
      EXPECT_EQ(r.neighbourOpposite, 3) << Describe(got);
      ++checked;
    }
    if (r.edgeStart == 1 && r.edgeEnd == 0 && (r.opposite == 9 || r.opposite == -1)) {
      EXPECT_EQ(r.neighbourOpposite, 2) << Describe(got);
      ++checked;
    }
    if (r.edgeStart == 9 || r.edgeEnd == 9 || r.edgeStart < 0 || r.edgeEnd < 0) {
      EXPECT_EQ(r.neighbourOpposite, -1) << Describe(got);
    }
    // A face naming vertex -2 yields a live record that merely looks removed.
    if (r.edgeStart == -2 && r.edgeEnd == 2 && r.opposite == 3) keptOutsideRecord = true;
  }
  EXPECT_EQ(checked, 3) << Describe(got);
  EXPECT_TRUE(keptOutsideRecord) << Describe(got);
  EXPECT_EQ(mesh->edgeCount, 14) << Describe(got);  // 15 records, (1, 0, 3, 2) a duplicate
  FreeMeshObject(mesh);
}

}  // namespace
