// Models nobody here made: every OBJ, PLY, glTF/GLB, STL and 3DS file of
// Debian's assimp-testmodels, drawn by the real demo headless with --fit,
// must show in the first frame whatever its format, size and place as
// stored. One test per file. A file assimp itself imports with no triangle
// (a point cloud, a line set, a broken or empty file) is skipped, naming
// assimp's reason: the demo reports those with exit 2 (tested with the bad
// input). On a stage, every 3DS file casts exact shadows. Then: the model's
// own textures reach the picture.
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "io/folder_lookup.h"
#include "model/load_model.h"
#include "model/material_texture.h"
#include "model/merge.h"
#include "tests/support/assimp_models.h"
#include "tests/support/assimp_oracle.h"
#include "texture/texture_loader.h"

namespace {

// The package's files, or one empty entry that skips naming what is missing.
std::vector<std::string> Files() {
  std::vector<std::string> files = AssimpModelFiles({"OBJ", "PLY", "glTF", "glTF2", "STL"},
                                                    {".obj", ".ply", ".gltf", ".glb", ".stl"});
  for (const std::string& file : Assimp3dsFiles()) files.push_back(file);
  if (files.empty()) files.push_back("");
  return files;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.empty() ? "missing" : info.param.substr(AssimpModelPath("").size());
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name + "_" + std::to_string(info.index);
}

class AssimpModelWithFit : public ::testing::TestWithParam<std::string> {};

TEST_P(AssimpModelWithFit, CoversAVisiblePartOfTheFirstFrame) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  AssimpMergedMesh oracle;
  std::string error;
  if (!AssimpPreTransformed(GetParam(), &oracle, &error)) GTEST_SKIP() << "assimp: " << error;
  if (oracle.faces.empty()) GTEST_SKIP() << "assimp imports no triangle from it";
  // Fitted as --fit does, the triangles turned to the eye (counter-clockwise
  // seen from +z; the others are culled) must be able to cover 2% of the
  // view's 221 x 166 units at the model's centre: not a model seen edge-on
  // or from its back.
  for (const Vec3& v : oracle.vertices)
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
      GTEST_SKIP() << "its vertices are not all finite numbers: the picture depends on the driver";
  MeshObject fitted{};
  fitted.vertexCount = static_cast<int32_t>(oracle.vertices.size());
  fitted.vertices = oracle.vertices.data();
  FitMesh(&fitted, kFitHalfExtent);
  double area = 0;
  for (const Face& face : oracle.faces) {
    const Vec3 &a = oracle.vertices[face.index0], &b = oracle.vertices[face.index1],
               &c = oracle.vertices[face.index2];
    area += std::max(0.0f, (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x)) / 2;
  }

  if (area < 221.0 * 166.0 / 50)
    GTEST_SKIP() << "seen edge-on or from behind: its triangles turned to the eye cover " << area
                 << " square units";
  const std::string folder = MakeScratchFolder();  // with the shipped texture
  ASSERT_FALSE(folder.empty());
  const DemoRun run = RunDemo(folder, {"--model", GetParam(), "--fit", "--size", "160x120",
                                       "--frames", "1", "--capture", "1:frame1.png"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // Notes (points left out, a texture missing) name the file they are about.
  for (const std::string& line : LinesWithPrefix(run.err, ""))
    EXPECT_NE(line.find('/'), std::string::npos) << line;
  const RgbImage image = ReadPng(folder + "/frame1.png");
  ASSERT_GT(image.width, 0);
  // Fitted, the model's largest extent is 100 units at 200 units from the
  // eye, where the view is 166 units high: a thin or oblique model still
  // covers a few percent of the frame.
  EXPECT_GT(ModelPixels(image, Vec3{20, 20, 70}), image.width * image.height / 50);
  if (!HasFailure()) RemoveScratchFolder(folder);
}

INSTANTIATE_TEST_SUITE_P(EveryFile, AssimpModelWithFit, ::testing::ValuesIn(Files()), TestName);

class AssimpModelOnStage : public ::testing::TestWithParam<std::string> {};

// On a stage, exact shadows fall on the floor or the wall and nowhere else:
// against the same frame without shadows, some pixels are darker and no
// background pixel (white without shadows) is; the stage itself is
// untextured, an even grey.
TEST_P(AssimpModelOnStage, CastsExactShadowsOnTheStage) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::string folder = MakeScratchFolder();
  ASSERT_FALSE(folder.empty());
  RgbImage images[2];
  const char* modes[2] = {"exact", "off"};
  for (int m = 0; m < 2; ++m) {
    const std::string file = std::string(modes[m]) + ".png";
    const DemoRun run =
        RunDemo(folder, {"--model", GetParam(), "--texture", "txt.tif", "--fit", "--stage",
                         "--shadows", modes[m], "--frames", "1", "--capture", "1:" + file});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    images[m] = ReadPng(folder + "/" + file);
    ASSERT_GT(images[m].width, 0);
  }
  int darker = 0, darkerBackground = 0, backgroundCount = 0;
  for (int y = 0; y < images[1].height; ++y) {
    for (int x = 0; x < images[1].width; ++x) {
      const uint8_t* shadowed = images[0].At(x, y);
      const uint8_t* plain = images[1].At(x, y);
      const bool background = plain[0] == 255 && plain[1] == 255 && plain[2] == 255;
      const bool isDarker =
          shadowed[0] + 3 < plain[0] || shadowed[1] + 3 < plain[1] || shadowed[2] + 3 < plain[2];
      darker += isDarker;
      backgroundCount += background;
      darkerBackground += isDarker && background;
    }
  }
  EXPECT_GT(darker, 200);
  EXPECT_EQ(darkerBackground, 0);
  EXPECT_GT(backgroundCount, 1000);  // beside the stage
  const uint8_t* floor = images[1].At(4, images[1].height - 4);
  EXPECT_EQ(floor[0], floor[1]);
  EXPECT_EQ(floor[1], floor[2]);
  if (!HasFailure()) RemoveScratchFolder(folder);
}

std::vector<std::string> Files3ds() {
  std::vector<std::string> files = Assimp3dsFiles();
  if (files.empty()) files.push_back("");
  return files;
}

INSTANTIATE_TEST_SUITE_P(Every3dsFile, AssimpModelOnStage, ::testing::ValuesIn(Files3ds()),
                         TestName);

// The mean colour, 0..1, of `image`'s texels at texture coordinates `uv`
// (upright: v = 1 is the top row; repeated outside 0..1).
void Texel(const TextureImage& image, TexCoord uv, double rgb[3]) {
  const double u = uv.u - std::floor(uv.u), v = uv.v - std::floor(uv.v);
  const int x = std::min(image.width - 1, static_cast<int>(u * image.width));
  const int y = std::min(image.height - 1, static_cast<int>((1 - v) * image.height));
  const uint8_t* texel = image.pixels + (static_cast<size_t>(y) * image.width + x) * image.samples;
  for (int k = 0; k < 3; ++k) rgb[k] = texel[k] / 255.0;
}

// Draws `model` twice, with its materials and with --texture naming no file
// (untextured), and compares, at a few points of each face of the material
// that names `textureName` turned to the eye, the ratio of the two pictures
// (the texel the pixel multiplied in) with the texel at that point, decoded
// by the texture reader. The means over those points must agree within a
// few levels per channel.
void ExpectTextureInPicture(const std::string& model, const std::string& textureName) {
  const std::string folder = MakeScratchFolder();
  ASSERT_FALSE(folder.empty());
  const View view{320, 240, 200};
  const std::vector<std::string> common = {"--model",   model, "--fit",    "--size", "320x240",
                                           "--shadows", "off", "--frames", "1"};
  std::vector<std::string> textured = common, plain = common;
  textured.insert(textured.end(), {"--capture", "1:textured.png"});
  plain.insert(plain.end(), {"--texture", "none.tif", "--capture", "1:plain.png"});
  ASSERT_EQ(RunDemo(folder, textured).exitCode, 0);
  ASSERT_EQ(RunDemo(folder, plain).exitCode, 0);
  const RgbImage withTexture = ReadPng(folder + "/textured.png");
  const RgbImage without = ReadPng(folder + "/plain.png");
  ASSERT_GT(withTexture.width, 0);
  ASSERT_GT(without.width, 0);

  ModelLoad load = LoadModel(model);
  ASSERT_NE(load.scene, nullptr) << load.problem;
  MeshObject* mesh = MergeMeshObjects(*load.scene, nullptr);
  ASSERT_NE(mesh, nullptr);
  FitMesh(mesh, kFitHalfExtent);
  int material = -1;
  TextureImage image;
  for (int m = 0; m < load.scene->materialCount && material < 0; ++m) {
    if (LastComponent(MaterialTextureName(*load.scene->materials[m])) != textureName) continue;
    material = m;
    const TextureSource source = FindMaterialTexture(*load.scene, *load.scene->materials[m], model);
    ASSERT_FALSE(source.path.empty()) << source.why;
    image = LoadTexture(source.path.c_str());
  }
  ASSERT_GE(material, 0);
  ASSERT_NE(image.pixels, nullptr) << image.note;

  double seen[3] = {0, 0, 0}, expected[3] = {0, 0, 0};
  int points = 0;
  for (int f = 0; f < mesh->faceCount; ++f) {
    if (mesh->faceMaterials[f] != material) continue;
    const auto corners = mesh->faces[f].Corners();
    const Vec3 &a = mesh->vertices[corners[0]], &b = mesh->vertices[corners[1]],
               &c = mesh->vertices[corners[2]];
    const Vec3 e1{b.x - a.x, b.y - a.y, b.z - a.z}, e2{c.x - a.x, c.y - a.y, c.z - a.z};
    const Vec3 normal{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z,
                      e1.x * e2.y - e1.y * e2.x};
    const TexCoord* uvs[3] = {&mesh->texCoords[corners[0]], &mesh->texCoords[corners[1]],
                              &mesh->texCoords[corners[2]]};
    // A few points inside the face, by barycentric weights.
    static const double kWeights[4][3] = {{1.0 / 3, 1.0 / 3, 1.0 / 3},
                                          {2.0 / 3, 1.0 / 6, 1.0 / 6},
                                          {1.0 / 6, 2.0 / 3, 1.0 / 6},
                                          {1.0 / 6, 1.0 / 6, 2.0 / 3}};
    for (const auto& w : kWeights) {
      const Vec3 point{static_cast<float>(w[0] * a.x + w[1] * b.x + w[2] * c.x),
                       static_cast<float>(w[0] * a.y + w[1] * b.y + w[2] * c.y),
                       static_cast<float>(w[0] * a.z + w[1] * b.z + w[2] * c.z)};
      const Vec3 toEye{-point.x, -point.y, view.eyeZ - point.z};
      const double facing = normal.x * toEye.x + normal.y * toEye.y + normal.z * toEye.z;
      const double length =
          std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z) *
          std::sqrt(toEye.x * toEye.x + toEye.y * toEye.y + toEye.z * toEye.z);
      if (!(facing > 0.5 * length)) continue;  // well turned to the eye
      float px, py;
      Project(view, point, &px, &py);
      const int x = static_cast<int>(px), y = static_cast<int>(py);
      if (x < 0 || y < 0 || x >= view.width || y >= view.height) continue;
      const uint8_t* lit = without.At(x, y);
      if (lit[0] < 25 || lit[1] < 25 || lit[2] < 25) continue;  // too dark for a ratio
      const uint8_t* pixel = withTexture.At(x, y);
      const TexCoord uv{static_cast<float>(w[0] * uvs[0]->u + w[1] * uvs[1]->u + w[2] * uvs[2]->u),
                        static_cast<float>(w[0] * uvs[0]->v + w[1] * uvs[1]->v + w[2] * uvs[2]->v)};
      double texel[3];
      Texel(image, uv, texel);
      for (int k = 0; k < 3; ++k) {
        seen[k] += std::min(1.0, static_cast<double>(pixel[k]) / lit[k]);
        expected[k] += texel[k];
      }
      ++points;
    }
  }
  FreeMeshObject(mesh);
  FreeScene(load.scene);
  ASSERT_GE(points, 4) << model << ": too few points of the material turned to the eye";
  for (int k = 0; k < 3; ++k)
    EXPECT_NEAR(seen[k] / points, expected[k] / points, 0.08)
        << model << ": channel " << k << " over " << points << " points";
  if (!::testing::Test::HasFailure()) RemoveScratchFolder(folder);
}

TEST(ModelTextures, TheSpidersBodyBoxTexturedAndSydneyShowTheirTextures) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  ExpectTextureInPicture(AssimpModelPath("OBJ/spider.obj"), "SpiderTex.jpg");
  ExpectTextureInPicture(AssimpModelPath("glTF2/BoxTextured-glTF/BoxTextured.gltf"),
                         "CesiumLogoFlat.png");
  // An MD2 naming no skin: its skin is the .bmp of its own name.
  ExpectTextureInPicture(AssimpModelPath("MD2/sydney.md2"), "$texture_dummy.bmp");
}

}  // namespace
