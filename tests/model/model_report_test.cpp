// sv-inspect model, the real binary, on real files: its summary line and its
// --merged totals agree with lib3ds, and a file that is missing or no 3DS file gives exit code 2
// and exactly one line on standard error that names the file.
#include <lib3ds/file.h>
#include <lib3ds/material.h>
#include <lib3ds/mesh.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/assimp_models.h"
#include "tests/support/assimp_pose.h"
#include "tests/support/demo_runner.h"
#include "tools/chunk_writer.h"

namespace {

// Runs sv-inspect with the arguments, capturing both output streams.
DemoRun Inspect(const std::vector<std::string>& args) {
  return RunInScratchFolder(SV_INSPECT_PATH, args);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(InspectModel, PrintsOneRecordPerObjectAndMaterialAgreeingWithLib3ds) {
  // Every 3DS file of the package: its .3ds/.3DS files and testFormatDetection,
  // a 3DS file without an extension.
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::vector<std::string> files = Assimp3dsFiles();
  ASSERT_GE(files.size(), 10u) << AssimpModelPath("3DS");
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    DemoRun run = Inspect({"model", path, "--merged"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");

    Lib3dsFile* oracle = lib3ds_file_load(path.c_str());
    ASSERT_NE(oracle, nullptr);
    int meshes = 0, materials = 0, drawn = 0;
    unsigned long vertices = 0, faces = 0, drawnVertices = 0, drawnFaces = 0;
    for (Lib3dsMesh* m = oracle->meshes; m; m = m->next, ++meshes) {
      vertices += m->points;
      faces += m->faces;
      bool drawable = m->faces > 0;
      for (unsigned f = 0; f < m->faces; ++f)
        for (int c = 0; c < 3; ++c) drawable = drawable && m->faceL[f].points[c] < m->points;
      drawn += drawable;
      drawnVertices += drawable ? m->points : 0;
      drawnFaces += drawable ? m->faces : 0;
    }
    for (Lib3dsMaterial* m = oracle->materials; m; m = m->next) ++materials;
    lib3ds_file_free(oracle);

    std::vector<std::string> lines = Lines(run.out);
    // The clips of a file whose keyframer moves something come last; the
    // animation tests check them.
    while (!lines.empty() && lines.back().rfind("clip ", 0) == 0) lines.pop_back();
    ASSERT_EQ(lines.size(), 2u + meshes + materials + (meshes - drawn));
    char merged[128];
    std::snprintf(merged, sizeof merged, "merged objects=%d vertices=%lu faces=%lu texcoords=",
                  drawn, drawnVertices, drawnFaces);
    EXPECT_EQ(lines[1 + meshes + materials].rfind(merged, 0), 0u) << lines[1 + meshes + materials];
    char expected[128];
    std::snprintf(expected, sizeof expected, "scene objects=%d materials=%d vertices=%lu faces=%lu",
                  meshes, materials, vertices, faces);
    EXPECT_EQ(lines[0], expected);
    for (int i = 0; i < meshes; ++i) {
      std::string prefix = "object " + std::to_string(i) + " name=\"";
      EXPECT_EQ(lines[1 + i].rfind(prefix, 0), 0u) << lines[1 + i];
      EXPECT_NE(lines[1 + i].find(" bad_face=none"), std::string::npos) << lines[1 + i];
    }
    for (int i = 0; i < materials; ++i) {
      std::string prefix = "material " + std::to_string(i) + " name=\"";
      EXPECT_EQ(lines[1 + meshes + i].rfind(prefix, 0), 0u) << lines[1 + meshes + i];
    }
  }
}

TEST(InspectModel, ShowsWhatTheReaderMadeOfAKnownFile) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  // cube_with_diffuse_texture.3DS: one 32-vertex box and one textured material.
  std::string path = AssimpModelPath("3DS/cube_with_diffuse_texture.3DS");
  DemoRun run = Inspect({"model", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "scene objects=1 materials=1 vertices=32 faces=12");
  EXPECT_EQ(
      lines[1].rfind(
          "object 0 name=\"Quader01\" vertices=32 faces=12 texcoords=yes material=0 bbox=", 0),
      0u)
      << lines[1];
  EXPECT_EQ(lines[2].rfind("material 0 name=\"01 - Default\" ambient=0x", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find(" texture=\"TEST.PNG\" opacity_map=\"\" bump_map=\"\""),
            std::string::npos)
      << lines[2];
}

// Names may hold any bytes; quotes, backslashes and control bytes are
// escaped so that each record stays on its line.
TEST(InspectModel, EscapesNamesSoEachRecordKeepsItsLine) {
  ChunkWriter w;
  w.Begin(kChunkMain);
  w.Begin(kChunkEditor);
  w.Begin(kChunkNamedObject);
  w.Name("say \"hi\"\n\\");
  w.Begin(kChunkTriangleMesh);
  w.Begin(kChunkVertexList);
  w.U16(0);
  w.EndAll();
  const std::string path = ScratchPath("named.3ds");
  ASSERT_TRUE(w.Save(path.c_str()));
  DemoRun run = Inspect({"model", path, "--merged"});
  std::remove(path.c_str());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[1],
            "object 0 name=\"say \\\"hi\\\"\\x0A\\\\\" vertices=0 faces=0 texcoords=no "
            "material=none bbox=none bad_face=none");
  // Nothing to merge: the object is left out, under the same escaped name.
  EXPECT_EQ(lines[2], "merged objects=0 vertices=0 faces=0 texcoords=no left_out=1");
  EXPECT_EQ(lines[3],
            "left_out object 0 name=\"say \\\"hi\\\"\\x0A\\\\\" reason=\"it has no faces\"");
}

// An animated file: one line per clip as assimp has them, and the bounds of
// the pose at a time equal those of a plain evaluation of that pose.
TEST(InspectModel, ListsClipsAndPrintsTheBoundsOfAPose) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::string path = AssimpModelPath("X/Testwuson.X");
  const std::vector<AssimpClipInfo> clips = AssimpClips(path);
  ASSERT_EQ(clips.size(), 3u);
  DemoRun run = Inspect({"model", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  for (size_t c = 0; c < clips.size(); ++c) {
    char expected[160];
    std::snprintf(expected, sizeof expected, "clip %zu name=\"%s\" duration=%g channels=39 bones=37",
                  c, clips[c].name.c_str(), clips[c].durationSeconds);
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected << "\n" << run.out;
  }

  for (double seconds : {0.0, 0.7}) {
    run = Inspect({"model", path, "--merged", "--animation", "1", "--time", std::to_string(seconds)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const size_t at = run.out.find(" bounds=");
    ASSERT_NE(at, std::string::npos) << run.out;
    float bounds[6];
    ASSERT_EQ(std::sscanf(run.out.c_str() + at, " bounds=%g,%g,%g,%g,%g,%g", &bounds[0], &bounds[1],
                          &bounds[2], &bounds[3], &bounds[4], &bounds[5]),
              6);
    std::vector<Vec3> posed;
    std::string error;
    ASSERT_TRUE(AssimpPosedVertices(path, 1, seconds, &posed, &error)) << error;
    float lo[3] = {posed[0].x, posed[0].y, posed[0].z}, hi[3] = {lo[0], lo[1], lo[2]};
    for (const Vec3& v : posed) {
      const float xyz[3] = {v.x, v.y, v.z};
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], xyz[k]);
        hi[k] = std::max(hi[k], xyz[k]);
      }
    }
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(bounds[k], lo[k], 1e-4) << seconds;
      EXPECT_NEAR(bounds[3 + k], hi[k], 1e-4) << seconds;
    }
  }
  // A pose needs --merged, and a clip the file has.
  EXPECT_EQ(Inspect({"model", path, "--time", "1"}).exitCode, 64);
  EXPECT_EQ(Inspect({"model", path, "--merged", "--animation", "3", "--time", "1"}).exitCode, 64);
}

TEST(InspectModel, UnreadableOrForeignFilesExitWithCodeTwoAndOneLine) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  std::string missing = ScratchPath("no-such-model.3ds");
  std::string foreign = AssimpModelPath("3DS/test.png");
  std::string empty = AssimpModelPath("invalid/empty.3ds");
  for (const std::string& path : {missing, foreign, empty}) {
    DemoRun run = Inspect({"model", path});
    EXPECT_EQ(run.exitCode, 2) << path;
    EXPECT_EQ(run.out, "") << path;
    std::vector<std::string> lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_NE(lines[0].find(path), std::string::npos) << lines[0];
  }
  DemoRun usage = Inspect({"model"});
  EXPECT_EQ(usage.exitCode, 64);
}

}  // namespace
