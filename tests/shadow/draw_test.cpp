// DrawShadowQuads without a GPU: this test program supplies its own glColor3f
// and glVertex3f, which take precedence over libGL's, and records the calls;
// they must be six vertices per quad the visitor reports, each after its own
// grey colour (an immediate mode that streams attributes latches nothing).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <vector>

#include "shadow/edges.h"
#include "shadow/shadow_volume.h"
#include "tests/support/test_meshes.h"

namespace {

struct GlCall {
  char kind;  // 'c' colour, 'v' vertex
  float x, y, z;
};

std::vector<GlCall>& Calls() {
  static std::vector<GlCall> calls;
  return calls;
}

}  // namespace

extern "C" {
void glColor3f(GLfloat red, GLfloat green, GLfloat blue) {
  Calls().push_back(GlCall{'c', red, green, blue});
}
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
  Calls().push_back(GlCall{'v', x, y, z});
}
}

namespace {

void ExpectCall(const GlCall& call, char kind, const Vec3& v) {
  EXPECT_EQ(call.kind, kind);
  EXPECT_EQ(call.x, v.x);
  EXPECT_EQ(call.y, v.y);
  EXPECT_EQ(call.z, v.z);
}

TEST(DrawShadowQuads, EmitsTwoTrianglesPerQuadWithTheGreyOnEveryVertex) {
  MeshObject* torus = MakeTorus(16, 8, 4.0f, 1.5f, true);
  BuildEdgeList(torus);
  ShadowVolume volume;
  const Vec3 light{3.0f, 5.0f, 7.0f}, eye{-2.0f, 1.0f, -20.0f};

  Calls().clear();
  volume.DrawShadowQuads(light.x, light.y, light.z, eye.x, eye.y, eye.z, true);
  EXPECT_TRUE(Calls().empty()) << "nothing before both arrays are bound";

  volume.BindVertexArray(torus->vertices, torus->vertexCount, 12, 0);
  volume.BindEdgeArray(torus->edges, torus->edgeCount, 16, 0);
  volume.SetExtrusion(3000.0f);
  for (bool separating : {true, false}) {
    std::vector<std::vector<Vec3>> quads;
    volume.VisitShadowQuads(
        light, eye, separating ? QuadClass::kSeparating : QuadClass::kFacing,
        [&](int32_t, const Vec3& v0, const Vec3& v1, const Vec3& v0x, const Vec3& v1x) {
          quads.push_back({v0, v1, v0x, v1x});
        });
    ASSERT_FALSE(quads.empty());
    Calls().clear();
    volume.DrawShadowQuads(light.x, light.y, light.z, eye.x, eye.y, eye.z, separating);
    ASSERT_EQ(Calls().size(), 12 * quads.size());
    const Vec3 grey{0.52f, 0.52f, 0.52f};
    for (size_t q = 0; q < quads.size(); ++q) {
      const GlCall* c = &Calls()[12 * q];
      const std::vector<Vec3>& v = quads[q];
      // Triangles (V0, V1, V0') and (V0', V1', V1), a colour before each vertex.
      const int order[6] = {0, 1, 2, 2, 3, 1};
      for (int k = 0; k < 6; ++k) {
        ExpectCall(c[2 * k], 'c', grey);
        ExpectCall(c[2 * k + 1], 'v', v[order[k]]);
      }
    }
  }
  FreeMeshObject(torus);
}

}  // namespace
