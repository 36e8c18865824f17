// The shadow tests' scenes; see truth_scenes.h.
#include "truth_scenes.h"

#include <algorithm>
#include <cmath>

#include "tests/support/tiff_helpers.h"

namespace {

void AddQuad(TestMesh& m, Vec3 a, Vec3 b, Vec3 c, Vec3 d) {
  const int base = static_cast<int>(m.vertices.size());
  for (Vec3 v : {a, b, c, d}) m.vertices.push_back(v);
  m.faces.push_back(Face{base, base + 1, base + 2});
  m.faces.push_back(Face{base, base + 2, base + 3});
}

// A square plate of half-side `outer` around (cx, cy) at depth z with a
// square hole of half-side `inner`, counter-clockwise seen from +z.
void AddFrame(TestMesh& m, float cx, float cy, float z, float outer, float inner) {
  const float sx[4] = {-1, 1, 1, -1}, sy[4] = {-1, -1, 1, 1};
  for (int k = 0; k < 4; ++k) {
    const int n = (k + 1) % 4;
    AddQuad(m, Vec3{cx + outer * sx[k], cy + outer * sy[k], z},
            Vec3{cx + outer * sx[n], cy + outer * sy[n], z},
            Vec3{cx + inner * sx[n], cy + inner * sy[n], z},
            Vec3{cx + inner * sx[k], cy + inner * sy[k], z});
  }
}

// Three pages of length 12 fanned around the spine x = 0, z = 10, y from -10
// to 10; each page's first triangle holds the whole spine, so the spine is
// an edge of three faces.
void AddBook(TestMesh& m) {
  for (float degrees : {0.0f, 120.0f, 240.0f}) {
    const float a = degrees * 3.14159265f / 180.0f;
    const float dx = 12 * std::cos(a), dz = 12 * std::sin(a);
    AddQuad(m, Vec3{0, 10, 10}, Vec3{0, -10, 10}, Vec3{dx, -10, 10 + dz}, Vec3{dx, 10, 10 + dz});
  }
}

TruthScene WallScene() {
  TruthScene s;
  s.Part([](TestMesh& m) { AddWall(m, TestWall{}); });
  s.mesh.texCoords.clear();
  return s;
}

void Cube(TestMesh& m) {
  AddBox(m, Vec3{-15, -10, 0}, Vec3{5, 10, 20});
}

// A small flat box between the light and the first eye: the eye starts 2
// units outside its volume, so the volume crosses the near plane, and after
// 30 frames forward the eye stands inside it.
void NearBox(TestMesh& m) {
  AddBox(m, Vec3{6, 6, 118}, Vec3{11, 11, 122});
}

// A closed torus (major radius 10, minor 3) around (x, y, z), axis along z.
void AddTorus(TestMesh& m, float x, float y, float z) {
  MeshObject* torus = MakeTorus(24, 12, 10, 3, false);
  const int base = static_cast<int>(m.vertices.size());
  for (int i = 0; i < torus->vertexCount; ++i) {
    const Vec3& v = torus->vertices[i];
    m.vertices.push_back(Vec3{v.x + x, v.y + y, v.z + z});
  }
  for (int f = 0; f < torus->faceCount; ++f) {
    const Face& face = torus->faces[f];
    m.faces.push_back(Face{face.index0 + base, face.index1 + base, face.index2 + base});
  }
  FreeMeshObject(torus);
}

// A coarse receiver the light's radius cuts: a floor 40 below the light of
// four large triangles fanned from the point under it, so every face has one
// corner well inside the radius and the rest far outside, and a box on it
// behind and left of the light whose long shadow runs towards the horizon,
// lit there by interpolation far beyond the radius.
TruthScene CoarseFanFloorScene() {
  TruthScene s;
  s.Part([](TestMesh& m) {
    const float y = -40, cx = 20, cz = 70, half = 1000;  // under the light at (20, 20, 70)
    const int centre = static_cast<int>(m.vertices.size());
    m.vertices.push_back(Vec3{cx, y, cz});
    const float corners[4][2] = {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}};
    for (const auto& c : corners) m.vertices.push_back(Vec3{cx + half * c[0], y, cz + half * c[1]});
    for (int k = 0; k < 4; ++k)  // counter-clockwise seen from above
      m.faces.push_back(Face{centre, centre + 1 + k, centre + 1 + (k + 1) % 4});
  });
  s.Part([](TestMesh& m) { AddBox(m, Vec3{5, -40, 40}, Vec3{15, 18, 50}); });
  return s;
}

}  // namespace

const std::vector<SceneCase> kTruthScenes = {
    {"ClosedCube", [] { return WallScene().Part(Cube); }, "", 1, 200, 100.00},
    {"PlateWithHole",
     [] { return WallScene().Part([](TestMesh& m) { AddFrame(m, 0, 0, 20, 12, 4); }); }, "", 1, 200,
     86.02},
    {"OverlappingVolumes",
     [] {
       return WallScene()
           .Part([](TestMesh& m) {
             AddBox(m, Vec3{-10, -10, 0}, Vec3{0, 0, 10});
           })
           .Part([](TestMesh& m) {
             AddBox(m, Vec3{-25, -15, -20}, Vec3{-15, -5, -10});
           });
     },
     "", 1, 200, 99.99},
    {"VolumeCrossingNearPlane", [] { return WallScene().Part(Cube).Part(NearBox); }, "", 1, 200,
     83.40},
    {"EyeInsideVolume", [] { return WallScene().Part(Cube).Part(NearBox); }, "1:down:UP", 31, 170,
     84.15},
    {"EdgeOfThreeFaces", [] { return WallScene().Part(AddBook); }, "", 1, 200, 89.98},
    {"InsideOutCaster", [] { return WallScene().Part(Cube, 1); }, "", 1, 200, 97.10},
    {"TorusPlateAndCube",
     [] {
       return WallScene()
           .Part([](TestMesh& m) { AddTorus(m, -5, 20, 5); })
           .Part([](TestMesh& m) { AddFrame(m, 20, -10, 15, 8, 3); })
           .Part([](TestMesh& m) {
             AddBox(m, Vec3{-25, -25, -10}, Vec3{-15, -15, 0});
           });
     },
     "", 1, 200, 95.73},
    {"MixedWindingCaster", [] { return WallScene().Part(Cube, 2); }, "", 1, 200, 99.99},
    // A receiver of four large triangles: a point found from interpolated
    // depth would stray far from the face, the face's own plane does not.
    {"CoarseReceiver",
     [] {
       TruthScene s;
       s.Part([](TestMesh& m) { AddWall(m, TestWall{-60.0f, -60.0f, 60.0f, 2, -40.0f}); });
       s.mesh.texCoords.clear();
       return s.Part(Cube);
     },
     "", 1, 200, 100.00},
    {"CoarseFanFloor", CoarseFanFloorScene, "", 1, 200, 100.00},
};


const SceneCase& TruthSceneNamed(const std::string& name) {
  return *std::find_if(kTruthScenes.begin(), kTruthScenes.end(),
                       [&name](const SceneCase& s) { return name == s.name; });
}

bool WriteTruthScene(const std::string& folder, const TruthScene& scene) {
  TiffLayout white;
  white.width = white.height = 4;
  return WriteTestModel(folder + "/shadow2.3DS", scene.mesh) &&
         WriteTiffWithLibtiff(folder + "/txt.tif", white, std::vector<uint8_t>(4 * 4 * 3, 255));
}
