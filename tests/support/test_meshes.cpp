// Mesh generators for the tests and benchmarks; see test_meshes.h.
#include "tests/support/test_meshes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <tuple>

#include "tools/mesh_writer.h"

MeshObject* NewMesh(const std::vector<Vec3>& vertices, const std::vector<Face>& faces) {
  MeshObject* mesh = new MeshObject();
  std::strcpy(mesh->name, "test");
  mesh->vertexCount = static_cast<int32_t>(vertices.size());
  mesh->faceCount = static_cast<int32_t>(faces.size());
  mesh->materialIndex = -1;
  mesh->vertices = new Vec3[vertices.size()];
  std::copy(vertices.begin(), vertices.end(), mesh->vertices);
  mesh->faces = new Face[faces.size()];
  std::copy(faces.begin(), faces.end(), mesh->faces);
  return mesh;
}

MeshObject* MakeBox(int n, bool seams) {
  std::vector<Vec3> vertices;
  std::vector<Face> faces;
  std::map<std::tuple<int, int, int>, int32_t> shared;
  for (int axis = 0; axis < 3; ++axis) {
    for (int side = -1; side <= 1; side += 2) {
      // u x v points out of the cube, so (A, B, C) below winds the same way on
      // every side.
      int u = (axis + 1) % 3, v = (axis + 2) % 3;
      if (side < 0) std::swap(u, v);
      std::vector<int32_t> grid((n + 1) * (n + 1));
      for (int i = 0; i <= n; ++i) {
        for (int j = 0; j <= n; ++j) {
          int c[3];
          c[axis] = side * n;
          c[u] = -n + 2 * i;
          c[v] = -n + 2 * j;
          const auto key = std::make_tuple(c[0], c[1], c[2]);
          auto found = shared.find(key);
          if (!seams && found != shared.end()) {
            grid[i * (n + 1) + j] = found->second;
            continue;
          }
          const int32_t index = static_cast<int32_t>(vertices.size());
          vertices.push_back(Vec3{float(c[0]), float(c[1]), float(c[2])});
          shared.emplace(key, index);
          grid[i * (n + 1) + j] = index;
        }
      }
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
          const int32_t a = grid[i * (n + 1) + j], b = grid[(i + 1) * (n + 1) + j];
          const int32_t c = grid[(i + 1) * (n + 1) + j + 1], d = grid[i * (n + 1) + j + 1];
          faces.push_back(Face{a, b, c});
          faces.push_back(Face{a, c, d});
        }
      }
    }
  }
  MeshObject* mesh = NewMesh(vertices, faces);
  return mesh;
}

namespace {

// Indices of a (rows x cols) grid whose last row and column wrap to the first
// unless repeated (seams) as their own vertices.
int32_t GridIndex(int i, int j, int rows, int cols, bool seams) {
  if (seams) return i * (cols + 1) + j;
  return (i % rows) * cols + (j % cols);
}

}  // namespace

MeshObject* MakeTorus(int u, int v, float majorRadius, float minorRadius, bool seams) {
  const int rows = seams ? u + 1 : u, cols = seams ? v + 1 : v;
  std::vector<Vec3> vertices(rows * cols);
  const double twoPi = 6.283185307179586;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      // Repeated rings copy the first ring's positions exactly.
      const int si = i % u, sj = j % v;
      const double a = twoPi * si / u, b = twoPi * sj / v;
      const double ring = majorRadius + minorRadius * std::cos(b);
      vertices[i * cols + j] = Vec3{float(ring * std::cos(a)), float(ring * std::sin(a)),
                                    float(minorRadius * std::sin(b))};
    }
  }
  std::vector<Face> faces;
  for (int i = 0; i < u; ++i) {
    for (int j = 0; j < v; ++j) {
      const int32_t a = GridIndex(i, j, u, v, seams), b = GridIndex(i + 1, j, u, v, seams);
      const int32_t c = GridIndex(i + 1, j + 1, u, v, seams), d = GridIndex(i, j + 1, u, v, seams);
      faces.push_back(Face{a, b, c});
      faces.push_back(Face{a, c, d});
    }
  }
  return NewMesh(vertices, faces);
}

MeshObject* MakeSphere(int slices, int stacks, float radius, bool seams) {
  const int cols = seams ? slices + 1 : slices;
  std::vector<Vec3> vertices;
  vertices.push_back(Vec3{0.0f, 0.0f, radius});
  const double pi = 3.141592653589793;
  for (int s = 1; s < stacks; ++s) {
    const double theta = pi * s / stacks;
    for (int j = 0; j < cols; ++j) {
      const double phi = 2.0 * pi * (j % slices) / slices;
      vertices.push_back(Vec3{float(radius * std::sin(theta) * std::cos(phi)),
                              float(radius * std::sin(theta) * std::sin(phi)),
                              float(radius * std::cos(theta))});
    }
  }
  const int32_t south = static_cast<int32_t>(vertices.size());
  vertices.push_back(Vec3{0.0f, 0.0f, -radius});
  auto ring = [&](int s, int j) { return 1 + (s - 1) * cols + (seams ? j : j % slices); };
  std::vector<Face> faces;
  for (int j = 0; j < slices; ++j) faces.push_back(Face{0, ring(1, j), ring(1, j + 1)});
  for (int s = 1; s + 1 < stacks; ++s) {
    for (int j = 0; j < slices; ++j) {
      const int32_t a = ring(s, j), b = ring(s + 1, j), c = ring(s + 1, j + 1), d = ring(s, j + 1);
      faces.push_back(Face{a, b, c});
      faces.push_back(Face{a, c, d});
    }
  }
  for (int j = 0; j < slices; ++j) {
    faces.push_back(Face{ring(stacks - 1, j), south, ring(stacks - 1, j + 1)});
  }
  return NewMesh(vertices, faces);
}

MeshObject* MakeRandomMesh(std::mt19937& rng) {
  auto pick = [&](int bound) { return static_cast<int>(rng() % static_cast<unsigned>(bound)); };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float values[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, 0.5f, nan};
  // A small pool of positions, so that many vertices coincide.
  const int poolSize = 1 + pick(8);
  std::vector<Vec3> pool(poolSize);
  for (Vec3& p : pool) {
    float* c[3] = {&p.x, &p.y, &p.z};
    for (float* component : c) {
      *component = pick(8) == 0 ? float(pick(1000)) / 7.0f : values[pick(pick(10) == 0 ? 7 : 6)];
    }
  }
  const int vertexCount = pick(5) == 0 ? pick(3) : 1 + pick(20);
  std::vector<Vec3> vertices(vertexCount);
  for (Vec3& v : vertices) {
    v = pool[pick(poolSize)];
    // The same position spelled with a negative zero.
    if (v.x == 0.0f && pick(2)) v.x = -0.0f;
    if (v.y == 0.0f && pick(2)) v.y = -0.0f;
    if (v.z == 0.0f && pick(2)) v.z = -0.0f;
  }
  std::vector<Face> faces;
  if (vertexCount > 0) {
    const int faceCount = pick(6) == 0 ? 0 : 1 + pick(30);
    // Faces draw from a small window of indices so edges are often held by
    // several faces; sometimes a face names one index twice or thrice.
    const int window = 1 + pick(std::min(vertexCount, 6));
    for (int f = 0; f < faceCount; ++f) {
      const int base = pick(vertexCount);
      auto index = [&] { return static_cast<int32_t>((base + pick(window)) % vertexCount); };
      Face face{index(), index(), index()};
      if (pick(6) == 0) face.index2 = face.index0;
      faces.push_back(face);
    }
  }
  return NewMesh(vertices, faces);
}

MeshObject* MakeScrambledCopy(const MeshObject& mesh, std::mt19937& rng) {
  auto pick = [&](int bound) { return static_cast<int>(rng() % static_cast<unsigned>(bound)); };
  std::vector<Vec3> vertices(mesh.vertices, mesh.vertices + mesh.vertexCount);
  std::vector<Face> faces(mesh.faces, mesh.faces + mesh.faceCount);
  std::shuffle(faces.begin(), faces.end(), rng);
  for (Face& f : faces) {
    for (int r = pick(3); r > 0; --r) f = Face{f.index1, f.index2, f.index0};
    if (pick(10) == 0) std::swap(f.index1, f.index2);
  }
  const size_t originalCount = faces.size();
  for (size_t i = 0; i < originalCount / 10; ++i) faces.push_back(faces[pick(int(originalCount))]);
  // Split a few vertices: a copy of the position under a new index.
  for (Face& f : faces) {
    if (pick(8) == 0) {
      vertices.push_back(vertices[f.index0]);
      f.index0 = static_cast<int32_t>(vertices.size() - 1);
    }
  }
  return NewMesh(vertices, faces);
}

bool WriteTestModel(const std::string& path, const TestMesh& mesh) {
  MeshFileLayout layout;
  layout.objectName = "TestMesh";
  return WriteMeshModel(path, layout, mesh.vertices, mesh.texCoords, mesh.faces);
}

bool WriteTestModel(const std::string& path, const std::vector<TestObject>& objects) {
  ChunkWriter w;
  w.Begin(0x4D4D);  // main
  w.Begin(0x3D3D);  // editor data
  for (const TestObject& object : objects) {
    w.Begin(0x4000);  // named object
    w.Name(object.name.c_str());
    w.Begin(0x4100);  // triangle mesh
    WriteVertexList(w, object.mesh.vertices);
    if (!object.mesh.texCoords.empty()) WriteTexCoords(w, object.mesh.texCoords);
    if (!object.mesh.faces.empty()) {
      BeginFaceList(w, object.mesh.faces);
      w.End();
    }
    w.End();  // triangle mesh
    w.End();  // named object
  }
  w.EndAll();  // editor data, main
  return w.Save(path.c_str());
}

void AddWall(TestMesh& mesh, const TestWall& wall) {
  const int base = static_cast<int>(mesh.vertices.size());
  const int side = wall.n + 1;
  for (int j = 0; j <= wall.n; ++j) {
    for (int i = 0; i <= wall.n; ++i) {
      mesh.vertices.push_back(Vec3{wall.x0 + wall.cell * i, wall.y0 + wall.cell * j, wall.z});
      mesh.texCoords.push_back(
          TexCoord{static_cast<float>(i) / wall.n, static_cast<float>(j) / wall.n});
    }
  }
  for (int j = 0; j < wall.n; ++j) {
    for (int i = 0; i < wall.n; ++i) {
      const int a = base + j * side + i, b = a + 1, c = a + side + 1, d = a + side;
      mesh.faces.push_back(Face{a, b, c});
      mesh.faces.push_back(Face{a, c, d});
    }
  }
}

void AddBox(TestMesh& mesh, Vec3 low, Vec3 high) {
  const int base = static_cast<int>(mesh.vertices.size());
  for (int k = 0; k < 8; ++k) {
    mesh.vertices.push_back(
        Vec3{(k & 1) ? high.x : low.x, (k & 2) ? high.y : low.y, (k & 4) ? high.z : low.z});
    if (!mesh.texCoords.empty()) mesh.texCoords.push_back(TexCoord{0.5f, 0.5f});
  }
  // Corner k has bit 0 for x, bit 1 for y, bit 2 for z; each side's corners
  // are listed counter-clockwise seen from outside.
  const int sides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  for (const auto& s : sides) {
    mesh.faces.push_back(Face{base + s[0], base + s[1], base + s[2]});
    mesh.faces.push_back(Face{base + s[0], base + s[2], base + s[3]});
  }
}
