// The assimp reader against assimp itself, the lookup of the files a model
// names, and bad input through the real demo: every failure is one line
// naming the file, and nothing outside the model's folder is read.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/folder_lookup.h"
#include "model/load3ds.h"
#include "model/load_model.h"
#include "model/merge.h"
#include "tests/support/assimp_models.h"
#include "tests/support/assimp_oracle.h"
#include "tests/support/demo_runner.h"

namespace {

bool SameFloat(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(AssimpReader, MergedMeshEqualsAssimpsOwnPreTransformedImport) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  for (const char* relative : {"OBJ/spider.obj", "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb",
                               "glTF2/BoxTextured-glTF/BoxTextured.gltf", "PLY/Wuson.ply",
                               "STL/Spider_binary.stl"}) {
    const std::string path = AssimpModelPath(relative);
    AssimpMergedMesh oracle;
    std::string error;
    ASSERT_TRUE(AssimpPreTransformed(path, &oracle, &error)) << path << ": " << error;
    const ModelLoad load = LoadModel(path);
    ASSERT_NE(load.scene, nullptr) << path << ": " << load.problem;
    EXPECT_EQ(load.reader, ModelReader::kAssimp);
    MeshObject* mesh = MergeMeshObjects(*load.scene, nullptr);
    ASSERT_NE(mesh, nullptr) << path;
    ASSERT_EQ(static_cast<size_t>(mesh->vertexCount), oracle.vertices.size()) << path;
    ASSERT_EQ(static_cast<size_t>(mesh->faceCount), oracle.faces.size()) << path;
    ASSERT_EQ(mesh->texCoords != nullptr, oracle.anyTexCoords) << path;
    int differing = 0;
    for (int v = 0; v < mesh->vertexCount; ++v) {
      const Vec3 &ours = mesh->vertices[v], &theirs = oracle.vertices[v];
      bool same = SameFloat(ours.x, theirs.x) && SameFloat(ours.y, theirs.y) &&
                  SameFloat(ours.z, theirs.z);
      if (mesh->texCoords != nullptr)
        same = same && SameFloat(mesh->texCoords[v].u, oracle.texCoords[v].u) &&
               SameFloat(mesh->texCoords[v].v, oracle.texCoords[v].v);
      differing += same ? 0 : 1;
    }
    for (int f = 0; f < mesh->faceCount; ++f)
      differing += mesh->faces[f].Corners() == oracle.faces[f].Corners() ? 0 : 1;
    EXPECT_EQ(differing, 0) << path;
    FreeMeshObject(mesh);
    FreeScene(load.scene);
  }
}

// A scratch folder holding `model/` and files beside it, outside the model's
// folder, that a confined reader must never open.
class ConfinedModelFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeEmptyScratchFolder("sv-assimp");
    ASSERT_FALSE(root_.empty());
    ASSERT_EQ(mkdir((root_ + "/model").c_str(), 0755), 0);
  }
  void TearDown() override {
    if (!HasFailure()) RemoveScratchFolder(root_);
  }
  void Write(const std::string& relative, const std::string& bytes) {
    std::ofstream(root_ + "/" + relative, std::ios::binary) << bytes;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The demo run on `relative` headless for one frame.
  DemoRun Draw(const std::string& relative) {
    return RunProgram(SHADOW_VOLUME_PATH,
                      {"--headless", "--size", "80x60", "--fit", "--frames", "1", "--model",
                       root_ + "/" + relative},
                      root_);
  }
  std::string root_;
};

TEST_F(ConfinedModelFolder, FindInFolderForgivesCaseAndRefusesEverythingOutside) {
  Write("model/Tex.PNG", "x");
  Write("outside.png", "x");
  ASSERT_EQ(mkdir((root_ + "/model/maps").c_str(), 0755), 0);
  Write("model/maps/Wood.jpg", "x");
  ASSERT_EQ(symlink((root_ + "/outside.png").c_str(), (root_ + "/model/link.png").c_str()), 0);
  const std::string folder = root_ + "/model/";
  std::string why;
  EXPECT_EQ(FindInFolder(folder, "tex.png", &why), folder + "Tex.PNG");
  EXPECT_EQ(FindInFolder(folder, ".\\TEX.png", &why), folder + "Tex.PNG");
  EXPECT_EQ(FindInFolder(folder, "MAPS\\wood.JPG", &why), folder + "maps/Wood.jpg");
  for (const std::string& name : std::vector<std::string>{"../outside.png", "maps/../../outside.png", "/etc/passwd",
                                 root_ + "/outside.png", "C:\\outside.png"}) {
    EXPECT_EQ(FindInFolder(folder, name, &why), "") << name;
    EXPECT_EQ(why, "names a path outside the model's folder") << name;
  }
  EXPECT_EQ(FindInFolder(folder, "link.png", &why), "");  // resolves outside
  EXPECT_EQ(FindInFolder(folder, "none.png", &why), "");
  EXPECT_EQ(why, "is not in the model's folder");
}

// What is read is what was located: a link (or a FIFO) swapped in for the
// file or for a folder on its way after the lookup is refused, not followed
// out of the folder; a plain rewrite inside the folder is read as it is now.
TEST_F(ConfinedModelFolder, ReadOpensWhatWasLocatedNotALinkSwappedInSince) {
  Write("model/Tex.PNG", "inside");
  Write("outside.png", "secret");
  ASSERT_EQ(mkdir((root_ + "/model/maps").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root_ + "/elsewhere").c_str(), 0755), 0);
  Write("model/maps/Wood.jpg", "inside");
  Write("elsewhere/Wood.jpg", "secret");
  const std::string folder = root_ + "/model/";
  const std::string tex = folder + "Tex.PNG", maps = folder + "maps";
  struct Swap {
    const char* name;     // what the model names
    void (*swap)(const std::string& root);
    const char* content;  // read after the swap; "" when refused
  };
  const Swap swaps[] = {
      {"tex.png",
       [](const std::string& root) {
         ASSERT_EQ(unlink((root + "/model/Tex.PNG").c_str()), 0);
         ASSERT_EQ(symlink((root + "/outside.png").c_str(), (root + "/model/Tex.PNG").c_str()), 0);
       },
       ""},
      {"MAPS/wood.jpg",
       [](const std::string& root) {
         ASSERT_EQ(rename((root + "/model/maps").c_str(), (root + "/model/maps-old").c_str()), 0);
         ASSERT_EQ(symlink((root + "/elsewhere").c_str(), (root + "/model/maps").c_str()), 0);
       },
       ""},
      {"tex.png",
       [](const std::string& root) {
         ASSERT_EQ(unlink((root + "/model/Tex.PNG").c_str()), 0);
         ASSERT_EQ(mkfifo((root + "/model/Tex.PNG").c_str(), 0600), 0);
       },
       ""},
      {"tex.png",
       [](const std::string& root) {
         ASSERT_EQ(unlink((root + "/model/Tex.PNG").c_str()), 0);
         std::ofstream(root + "/model/Tex.PNG", std::ios::binary) << "rewritten";
       },
       "rewritten"},
  };
  for (const Swap& s : swaps) {
    SCOPED_TRACE(s.name);
    unlink(tex.c_str());
    Write("model/Tex.PNG", "inside");
    if (access((folder + "maps-old").c_str(), F_OK) == 0) {
      ASSERT_EQ(unlink(maps.c_str()), 0);
      ASSERT_EQ(rename((folder + "maps-old").c_str(), maps.c_str()), 0);
    }
    FolderFile found;
    std::string why;
    ASSERT_TRUE(LocateInFolder(folder, s.name, &found, &why)) << why;
    s.swap(root_);
    const FileBytes bytes = ReadLocated(found, kModelFileLimits, &why);
    if (*s.content == '\0') {
      EXPECT_EQ(bytes.failure, FileFailure::kCannotOpen);
      EXPECT_EQ(why.rfind("is not in the model's folder any more (", 0), 0u) << why;
    } else {
      ASSERT_EQ(bytes.failure, FileFailure::kNone) << why;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data), bytes.size), s.content);
    }
  }
}

TEST_F(ConfinedModelFolder, BadInputGetsOneLineAndNothingOutsideIsRead) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  // A valid buffer beside the model's folder: a reader that opened it would
  // import the box, so a failure proves it was not read.
  const std::string box = AssimpModelPath("glTF2/BoxTextured-glTF/");
  Write("outside.bin", Read(box + "BoxTextured0.bin"));
  const std::string gltf = Read(box + "BoxTextured.gltf");
  ASSERT_NE(gltf.find("\"BoxTextured0.bin\""), std::string::npos);
  const std::vector<std::string> outside = {"../outside.bin", "../../etc/passwd",
                                            root_ + "/outside.bin"};
  for (size_t i = 0; i < outside.size(); ++i) {
    std::string text = gltf;
    text.replace(text.find("\"BoxTextured0.bin\""), 18, "\"" + outside[i] + "\"");
    Write("model/buffer" + std::to_string(i) + ".gltf", text);
  }
  const std::string glb = Read(AssimpModelPath("glTF2/BoxTextured-glTF-Binary/BoxTextured.glb"));
  Write("model/truncated.glb", glb.substr(0, glb.size() / 2));
  const std::string triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n";
  Write("model/missing-mtl.obj", "mtllib nothere.mtl\n" + triangle + "f 1/1 2/2 3/3\n");
  Write("model/textures.mtl",
        "newmtl Missing\nKd 1 0 0\nmap_Kd nothere.png\n"
        "newmtl Parent\nKd 0 1 0\nmap_Kd ../outside.png\n");
  Write("outside.png", Read(box + "CesiumLogoFlat.png"));
  Write("model/textures.obj", "mtllib textures.mtl\n" + triangle +
                                  "usemtl Missing\nf 1/1 2/2 3/3\nusemtl Parent\nf 1/1 3/3 2/2\n");

  for (size_t i = 0; i < outside.size(); ++i) {
    const std::string model = "model/buffer" + std::to_string(i) + ".gltf";
    const DemoRun run = Draw(model);
    EXPECT_EQ(run.exitCode, 2) << model << "\n" << run.err;
    const std::vector<std::string> lines = LinesWithPrefix(run.err, root_ + "/" + model + ": ");
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_NE(lines[0].find("outside the model's folder, which is never read"), std::string::npos)
        << lines[0];
  }
  const DemoRun truncated = Draw("model/truncated.glb");
  EXPECT_EQ(truncated.exitCode, 2);
  EXPECT_EQ(LinesWithPrefix(truncated.err, root_ + "/model/truncated.glb: assimp cannot read it: ")
                .size(),
            1u)
      << truncated.err;
  // A missing material library: assimp's default material, drawn over txt.tif.
  const DemoRun noLibrary = Draw("model/missing-mtl.obj");
  EXPECT_EQ(noLibrary.exitCode, 0) << noLibrary.err;
  // A missing texture and one named through "..": one note each; the
  // materials show their colours.
  const DemoRun textures = Draw("model/textures.obj");
  EXPECT_EQ(textures.exitCode, 0) << textures.err;
  const std::vector<std::string> notes = LinesWithPrefix(textures.err, root_ + "/model/textures.obj: ");
  ASSERT_EQ(notes.size(), 2u) << textures.err;
  EXPECT_EQ(notes[0], "texture \"nothere.png\" of material \"Missing\" is not in the model's folder; "
                      "the material shows its colour");
  EXPECT_EQ(notes[1], "texture \"../outside.png\" of material \"Parent\" names a path outside the "
                      "model's folder; the material shows its colour");
}

// "Not a tif_file!!!" belongs to the scene's own texture file read as a
// TIFF: a material's PNG or JPEG, or an image embedded in the model, is read
// without it, while --texture naming a PNG still gets it.
TEST_F(ConfinedModelFolder, OnlyTheScenesOwnTexturePrintsTheTiffReadersMessage) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::string box = AssimpModelPath("glTF2/BoxTextured-glTF/");
  Write("model/logo.png", Read(box + "CesiumLogoFlat.png"));
  Write("model/ground.jpg", Read(AssimpModelPath("3DS/IMAGE1.jpg")));
  Write("model/quads.mtl", "newmtl Png\nKd 1 1 1\nmap_Kd logo.png\n"
                           "newmtl Jpeg\nKd 1 1 1\nmap_Kd ground.jpg\n");
  Write("model/quads.obj", "mtllib quads.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
                           "usemtl Png\nf 1/1 2/2 3/3\nusemtl Jpeg\nf 1/1 3/3 2/2\n");
  Write("model/embedded.glb", Read(AssimpModelPath("glTF2/BoxTextured-glTF-Binary/BoxTextured.glb")));
  for (const char* model : {"model/quads.obj", "model/embedded.glb"}) {
    const DemoRun run = Draw(model);
    EXPECT_EQ(run.exitCode, 0) << model << "\n" << run.err;
    EXPECT_EQ(run.out, "") << model;
    EXPECT_EQ(run.err.find("shows its colour"), std::string::npos) << run.err;  // all were read
  }
  const DemoRun scene = RunProgram(SHADOW_VOLUME_PATH,
                                   {"--headless", "--size", "80x60", "--fit", "--frames", "1",
                                    "--model", "model/quads.obj", "--texture", "model/logo.png"},
                                   root_);
  EXPECT_EQ(scene.exitCode, 0) << scene.err;
  EXPECT_EQ(scene.out, "\n\n\t\tNot a tif_file!!!");
}

// A node bomb: one mesh of 1,000 separate triangles placed by 30,000 nodes,
// 0.3 MB of glTF that pre-transformed would be 30 million triangles (tens of
// gigabytes in assimp). It is refused from the count, before assimp copies
// anything; were the count lost, the reader's memory limit would still end
// it, with another line than this test expects.
TEST_F(ConfinedModelFolder, NodeBombIsRefusedFromItsCountWithOneLine) {
  constexpr int kTriangles = 1000, kNodes = 30000;
  std::string buffer;
  for (int i = 0; i < kTriangles; ++i) {
    const float corners[9] = {float(i), 0, 0, float(i) + 1, 0, 0, float(i), 1, 0};
    buffer.append(reinterpret_cast<const char*>(corners), sizeof corners);
  }
  std::string nodes = "{\"children\":[";
  for (int i = 1; i <= kNodes; ++i) nodes += std::to_string(i) + (i < kNodes ? "," : "]}");
  for (int i = 1; i <= kNodes; ++i) nodes += ",{\"mesh\":0}";
  Write("model/bomb.bin", buffer);
  Write("model/bomb.gltf",
        "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],"
        "\"nodes\":[" + nodes + "],"
        "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0}}]}],"
        "\"buffers\":[{\"uri\":\"bomb.bin\",\"byteLength\":" + std::to_string(buffer.size()) + "}],"
        "\"bufferViews\":[{\"buffer\":0,\"byteLength\":" + std::to_string(buffer.size()) + "}],"
        "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":" +
        std::to_string(3 * kTriangles) +
        ",\"type\":\"VEC3\",\"min\":[0,0,0],\"max\":[1001,1,0]}]}");
  const DemoRun run = Draw("model/bomb.gltf");
  EXPECT_EQ(run.exitCode, 2) << run.err;
  const std::vector<std::string> lines = LinesWithPrefix(run.err, root_ + "/model/bomb.gltf: ");
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0], "it would make 30,000,000 triangles and 90,000,000 vertices once its nodes "
                      "place its meshes, more than the 20,000,000 triangles and 60,000,000 "
                      "vertices a model may have");
}

// Files of the package on which libassimp 5.2.5 itself fails hard (two RAW
// files segfault, two OpenGEX files abort in PretransformVertices): the
// reader's child ends, the demo says so in one line and exits 2.
TEST(AssimpReader, FilesThatCrashLibassimpGetOneLineAndExit2) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  for (const char* relative : {"RAW/WithColor.raw", "OpenGEX/camera.ogex"}) {
    const std::string file = AssimpModelPath(relative);
    const DemoRun run = RunInScratchFolder(
        SHADOW_VOLUME_PATH, {"--headless", "--size", "80x60", "--frames", "1", "--model", file});
    EXPECT_EQ(run.exitCode, 2) << file << "\n" << run.err;
    EXPECT_EQ(LinesWithPrefix(run.err, file + ": ").size(), 1u) << run.err;
  }
}

TEST(AssimpReader, EveryInvalidFileOfThePackageGetsOneLineAndExit2OrIsDrawn) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::vector<std::string> files = AssimpModelFiles({"invalid"}, {""});
  ASSERT_GE(files.size(), 10u);
  for (const std::string& file : files) {
    const DemoRun run = RunInScratchFolder(
        SHADOW_VOLUME_PATH, {"--headless", "--size", "80x60", "--frames", "1", "--model", file});
    if (run.exitCode == 0) continue;  // assimp made something drawable of it
    EXPECT_EQ(run.exitCode, 2) << file << "\n" << run.err;
    EXPECT_EQ(LinesWithPrefix(run.err, file + ": ").size(), 1u) << run.err;
  }
}

}  // namespace
