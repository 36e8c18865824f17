// Procedural geometry of the shipped scene. Triangles are oriented by an
// interior point of the part they belong to, so every part comes out
// counter-clockwise seen from outside without hand-wound index tables.
#include "tools/scene_geometry.h"

#include <cmath>
#include <map>
#include <tuple>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Builder {
  SceneMesh& mesh;

  int Add(Vec3 position, TexCoord tc) {
    mesh.vertices.push_back(position);
    mesh.texCoords.push_back(tc);
    return static_cast<int>(mesh.vertices.size()) - 1;
  }

  // Adds the triangle (a, b, c), swapped to (a, c, b) if needed so that its
  // counter-clockwise normal points away from `inside`.
  void Triangle(int a, int b, int c, Vec3 inside) {
    const Vec3& p = mesh.vertices[a];
    const Vec3& q = mesh.vertices[b];
    const Vec3& r = mesh.vertices[c];
    const double ux = q.x - p.x, uy = q.y - p.y, uz = q.z - p.z;
    const double vx = r.x - p.x, vy = r.y - p.y, vz = r.z - p.z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const double cx = (p.x + q.x + r.x) / 3 - inside.x;
    const double cy = (p.y + q.y + r.y) / 3 - inside.y;
    const double cz = (p.z + q.z + r.z) / 3 - inside.z;
    if (nx * cx + ny * cy + nz * cz >= 0)
      mesh.faces.push_back(Face{a, b, c});
    else
      mesh.faces.push_back(Face{a, c, b});
  }

  // Two triangles over the quad a, b, c, d (in order around it).
  void Quad(int a, int b, int c, int d, Vec3 inside) {
    Triangle(a, b, c, inside);
    Triangle(a, c, d, inside);
  }
};

// The back wall: a slab with a finely tessellated front and back (so the
// per-vertex lighting resolves the light's spot) and side strips sharing the
// rims' vertices. Texture coordinates are the x, y position, repeating twice
// across the wall; the thin sides just take the rim's coordinates.
void AddWall(Builder& b) {
  const int n = 32;  // cells per side of the front and back grids
  std::map<std::tuple<int, int, int>, int> lattice;
  auto vertex = [&](int i, int j, int back) {
    const auto key = std::make_tuple(i, j, back);
    const auto found = lattice.find(key);
    if (found != lattice.end()) return found->second;
    const float x = -kWallHalfSize + 2 * kWallHalfSize * i / n;
    const float y = -kWallHalfSize + 2 * kWallHalfSize * j / n;
    const int index =
        b.Add(Vec3{x, y, back ? kWallBack : kWallFront}, TexCoord{2.0f * i / n, 2.0f * j / n});
    lattice.emplace(key, index);
    return index;
  };
  const Vec3 inside = {0.0f, 0.0f, (kWallFront + kWallBack) / 2};
  for (int back = 0; back <= 1; ++back)
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i)
        b.Quad(vertex(i, j, back), vertex(i + 1, j, back), vertex(i + 1, j + 1, back),
               vertex(i, j + 1, back), inside);
  for (int k = 0; k < n; ++k) {
    b.Quad(vertex(k, 0, 0), vertex(k + 1, 0, 0), vertex(k + 1, 0, 1), vertex(k, 0, 1), inside);
    b.Quad(vertex(k, n, 0), vertex(k + 1, n, 0), vertex(k + 1, n, 1), vertex(k, n, 1), inside);
    b.Quad(vertex(0, k, 0), vertex(0, k + 1, 0), vertex(0, k + 1, 1), vertex(0, k, 1), inside);
    b.Quad(vertex(n, k, 0), vertex(n, k + 1, 0), vertex(n, k + 1, 1), vertex(n, k, 1), inside);
  }
}

// A UV sphere with one vertex at each pole and a seam column at u = 1.
void AddSphere(Builder& b, Vec3 centre, float radius, int slices, int stacks) {
  const int north = b.Add(Vec3{centre.x, centre.y + radius, centre.z}, TexCoord{0.5f, 1.0f});
  std::vector<std::vector<int>> rings;
  for (int i = 1; i < stacks; ++i) {
    const double phi = kPi * i / stacks;
    std::vector<int> ring;
    for (int j = 0; j <= slices; ++j) {
      const double theta = 2 * kPi * j / slices;
      const Vec3 p = {static_cast<float>(centre.x + radius * std::sin(phi) * std::cos(theta)),
                      static_cast<float>(centre.y + radius * std::cos(phi)),
                      static_cast<float>(centre.z + radius * std::sin(phi) * std::sin(theta))};
      // The seam column repeats column 0's position exactly.
      const Vec3 q = j == slices ? b.mesh.vertices[ring[0]] : p;
      ring.push_back(b.Add(
          q, TexCoord{static_cast<float>(j) / slices, 1.0f - static_cast<float>(i) / stacks}));
    }
    rings.push_back(ring);
  }
  const int south = b.Add(Vec3{centre.x, centre.y - radius, centre.z}, TexCoord{0.5f, 0.0f});
  for (int j = 0; j < slices; ++j) {
    b.Triangle(north, rings.front()[j], rings.front()[j + 1], centre);
    b.Triangle(south, rings.back()[j], rings.back()[j + 1], centre);
  }
  for (size_t i = 0; i + 1 < rings.size(); ++i)
    for (int j = 0; j < slices; ++j)
      b.Quad(rings[i][j], rings[i][j + 1], rings[i + 1][j + 1], rings[i + 1][j], centre);
}

// A torus whose ring lies in the plane tilted `tilt` degrees about x from the
// screen plane, with seam rows at u = 1 and v = 1.
void AddTorus(Builder& b, Vec3 centre, float major, float minor, float tilt, int around,
              int across) {
  const double ct = std::cos(tilt * kPi / 180), st = std::sin(tilt * kPi / 180);
  auto place = [&](double x, double y, double z) {
    return Vec3{static_cast<float>(centre.x + x), static_cast<float>(centre.y + y * ct - z * st),
                static_cast<float>(centre.z + y * st + z * ct)};
  };
  std::vector<std::vector<int>> grid(around + 1);
  for (int i = 0; i <= around; ++i) {
    const double u = 2 * kPi * (i % around) / around;
    for (int j = 0; j <= across; ++j) {
      const double v = 2 * kPi * (j % across) / across;
      const double ring = major + minor * std::cos(v);
      grid[i].push_back(
          b.Add(place(ring * std::cos(u), ring * std::sin(u), minor * std::sin(v)),
                TexCoord{static_cast<float>(i) / around, static_cast<float>(j) / across}));
    }
  }
  for (int i = 0; i < around; ++i) {
    const double u = 2 * kPi * (i + 0.5) / around;
    const Vec3 core = place(major * std::cos(u), major * std::sin(u), 0.0);
    for (int j = 0; j < across; ++j)
      b.Quad(grid[i][j], grid[i + 1][j], grid[i + 1][j + 1], grid[i][j + 1], core);
  }
}

// An axis-aligned box from `low` to `high`, eight shared corners, texture
// coordinates projected from x and y.
void AddBox(Builder& b, Vec3 low, Vec3 high) {
  int corner[8];
  for (int k = 0; k < 8; ++k) {
    const Vec3 p = {(k & 1) ? high.x : low.x, (k & 2) ? high.y : low.y, (k & 4) ? high.z : low.z};
    corner[k] = b.Add(p, TexCoord{(k & 1) ? 1.0f : 0.0f, (k & 2) ? 1.0f : 0.0f});
  }
  const Vec3 inside = {(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2};
  const int sides[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
  for (const auto& s : sides)
    b.Quad(corner[s[0]], corner[s[1]], corner[s[2]], corner[s[3]], inside);
}

}  // namespace

SceneMesh BuildShippedMesh() {
  SceneMesh mesh;
  Builder b{mesh};
  AddWall(b);
  // The casters sit between the wall and the light at (20, 20, 70), near the
  // light's axis, so their shadows land where the wall is brightly lit and
  // show beside them as seen from the eye at (0, 0, 200).
  AddTorus(b, Vec3{-22.0f, 28.0f, 18.0f}, 17.0f, 5.0f, 25.0f, 36, 12);
  AddSphere(b, Vec3{28.0f, -2.0f, 22.0f}, 13.0f, 24, 16);
  AddBox(b, Vec3{-45.0f, -55.0f, -2.0f}, Vec3{-33.0f, -5.0f, 10.0f});
  return mesh;
}

SceneTexture BuildShippedTexture() {
  SceneTexture texture;
  texture.width = 256;
  texture.height = 256;
  texture.rgb.resize(256 * 256 * 3);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      // A soft tint that changes across the image: red grows to the right,
      // green downwards, so the direction of u and v shows.
      int r = 170 + x * 85 / 255;
      int g = 170 + y * 85 / 255;
      int bl = 235;
      if (((x / 32) + (y / 32)) % 2 == 1) {
        r = r * 4 / 5;
        g = g * 4 / 5;
        bl = bl * 4 / 5;
      }
      if (x % 64 == 0 || y % 64 == 0 || x % 64 == 63 || y % 64 == 63) {
        r = 70;
        g = 80;
        bl = 120;
      }
      if (x < 24 && y < 24) {
        r = 220;
        g = 40;
        bl = 40;
      }
      uint8_t* pixel = &texture.rgb[(y * 256 + x) * 3];
      pixel[0] = static_cast<uint8_t>(r);
      pixel[1] = static_cast<uint8_t>(g);
      pixel[2] = static_cast<uint8_t>(bl);
    }
  }
  return texture;
}
