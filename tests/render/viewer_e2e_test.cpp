// The viewer's controls through the real demo run headless: scripted drags,
// wheel notches, the reset, screenshot and help keys, dropped files and
// --watch. The oracles are the program's own start picture, runs that name
// the same files on the command line, --capture of the same frame, a model
// the test turns half round itself, and the projection rule of demo_run.h.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "tests/support/assimp_models.h"
#include "tests/support/tiff_helpers.h"
#include "tools/scene_geometry.h"

namespace {

// A run in `folder` with the captures `frames` named "f<N>.png", read back.
struct Frames {
  DemoRun run;
  std::vector<RgbImage> images;
};

Frames RunFrames(const std::string& folder, std::vector<std::string> args,
                 const std::vector<int>& frames) {
  args.insert(args.end(), {"--frames", std::to_string(frames.back())});
  for (int f : frames)
    args.insert(args.end(), {"--capture", std::to_string(f) + ":f" + std::to_string(f) + ".png"});
  Frames result;
  result.run = RunDemo(folder, args);
  for (int f : frames) result.images.push_back(ReadPng(folder + "/f" + std::to_string(f) + ".png"));
  return result;
}

TestMesh FromScene(const SceneMesh& scene) {
  return TestMesh{scene.vertices, scene.faces, scene.texCoords};
}

// A small wall centred on the orbit centre, in the plane z = 0.
TestMesh CentredWall() {
  TestMesh mesh;
  AddWall(mesh, TestWall{-20.0f, -20.0f, 2.0f, 20, 0.0f});
  return mesh;
}

void WriteWhiteTexture(const std::string& path) {
  TiffLayout layout;
  layout.width = layout.height = 8;
  layout.samples = 3;
  ASSERT_TRUE(WriteTiffWithLibtiff(path, layout, std::vector<uint8_t>(8 * 8 * 3, 255)));
}

TEST(ViewerMouse, FullTurnsGiveTheStartPictureBack) {
  const std::string folder = MakeScratchFolder();
  // 720 pixels right, then 100 down and back up: the start view again.
  const Frames run =
      RunFrames(folder, {"--keys", "2:drag:720:0,3:drag:0:100,3:drag:0:-100"}, {1, 2, 3});
  ASSERT_EQ(run.run.exitCode, 0) << run.run.err;
  EXPECT_LT(DifferingFraction(run.images[0], run.images[1], 8), 0.01);
  EXPECT_LT(DifferingFraction(run.images[0], run.images[2], 8), 0.01);
  RemoveScratchFolder(folder);
}

TEST(ViewerMouse, HalfTurnShowsTheSceneFromBehind) {
  // The oracle: the shipped mesh turned half round about the vertical axis
  // by the test, seen from the front, with the light keys moving the light
  // to the matching place (20, 20, 70) -> (-20, 20, -70), 2 units a frame.
  const std::string folder = MakeScratchFolder();
  SceneMesh turned = BuildShippedMesh();
  for (Vec3& v : turned.vertices) v = Vec3{-v.x, v.y, -v.z};
  ASSERT_TRUE(WriteTestModel(folder + "/turned.3ds", FromScene(turned)));
  const Frames behind = RunFrames(folder, {"--keys", "1:drag:360:0"}, {2});
  const Frames oracle = RunFrames(
      folder,
      {"--model", "turned.3ds", "--keys", "1:down:DELETE,21:up:DELETE,1:down:PAGEUP,71:up:PAGEUP"},
      {71});
  ASSERT_EQ(behind.run.exitCode, 0) << behind.run.err;
  ASSERT_EQ(oracle.run.exitCode, 0) << oracle.run.err;
  const Frames front = RunFrames(folder, {}, {1});
  EXPECT_GT(DifferingFraction(front.images[0], behind.images[0], 8), 0.2);  // it did turn
  EXPECT_LT(DifferingFraction(oracle.images[0], behind.images[0], 8), 0.01);
  RemoveScratchFolder(folder);
}

// The columns of the first and last pixel of row `y` darker than white.
void WallEdges(const RgbImage& image, int y, int* left, int* right) {
  *left = -1;
  *right = -1;
  for (int x = 0; x < image.width; ++x) {
    if (image.At(x, y)[0] < 240) {
      if (*left < 0) *left = x;
      *right = x;
    }
  }
}

TEST(ViewerMouse, WheelNotchesScaleTheModelByTheDistance) {
  // Each notch takes 10% of the eye's distance to the centre off (or adds
  // 10%); the wall at the centre's depth then spans the columns the
  // projection rule gives for the eye at that distance.
  const std::string folder = MakeScratchFolder();
  ASSERT_TRUE(WriteTestModel(folder + "/wall.3ds", CentredWall()));
  WriteWhiteTexture(folder + "/white.tif");
  const std::vector<std::string> scene = {"--model", "wall.3ds", "--texture", "white.tif"};
  for (int notches : {3, -2}) {
    std::vector<std::string> args = scene;
    args.insert(args.end(), {"--keys", "2:wheel:" + std::to_string(notches)});
    const Frames run = RunFrames(folder, args, {1, 2});
    ASSERT_EQ(run.run.exitCode, 0) << run.run.err;
    const float eyeZ =
        200.0f * static_cast<float>(notches > 0 ? std::pow(0.9, notches) : std::pow(1.1, -notches));
    int sizes[2];
    for (int i = 0; i < 2; ++i) {
      const View view{800, 600, i == 0 ? 200.0f : eyeZ};
      float expectLeft, expectRight, y;
      Project(view, Vec3{-20, 0, 0}, &expectLeft, &y);
      Project(view, Vec3{20, 0, 0}, &expectRight, &y);
      int left, right;
      WallEdges(run.images[i], 300, &left, &right);
      EXPECT_NEAR(left, expectLeft, 1.5) << notches << " notches, frame " << i + 1;
      EXPECT_NEAR(right + 1, expectRight, 1.5) << notches << " notches, frame " << i + 1;
      sizes[i] = right + 1 - left;
    }
    EXPECT_NEAR(static_cast<double>(sizes[1]) / sizes[0], 200.0 / eyeZ, 0.02) << notches;
  }
  RemoveScratchFolder(folder);
}

TEST(ViewerKeys, ResetRestoresTheStartPictureExactly) {
  const std::string folder = MakeScratchFolder();
  // The light moves (light mode), then the camera is dragged, panned,
  // zoomed and tilted (camera mode); R puts both back.
  const Frames run = RunFrames(folder,
                               {"--keys",
                                "2:down:DELETE,4:up:DELETE,4:drag:100:40,4:rdrag:25:-10,4:wheel:3,"
                                "4:down:TAB,4:up:TAB,4:down:HOME,6:up:HOME,7:down:R,7:up:R"},
                               {1, 6, 7});
  ASSERT_EQ(run.run.exitCode, 0) << run.run.err;
  EXPECT_GT(DifferingFraction(run.images[0], run.images[1], 8), 0.2);
  EXPECT_EQ(run.images[0].rgb, run.images[2].rgb);
  RemoveScratchFolder(folder);
}

// A demo started in the background with standard error going to a file.
class BackgroundDemo {
 public:
  // Runs in `workFolder` (default: `folder`); standard error goes to a file
  // in `folder`.
  BackgroundDemo(const std::string& folder, const std::vector<std::string>& args,
                 const std::string& workFolder = "")
      : errPath_(folder + "/demo.stderr") {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string work = workFolder.empty() ? folder : workFolder;
      if (chdir(work.c_str()) != 0 || !std::freopen(errPath_.c_str(), "w", stderr)) _exit(126);
      std::vector<std::string> all = {SHADOW_VOLUME_PATH, "--headless"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~BackgroundDemo() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Waits (up to a minute, polling) until standard error holds `text`.
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < 600; ++i) {
      if (ReadTextFile(errPath_).find(text) != std::string::npos) return true;
      usleep(100000);
    }
    return false;
  }
  // Asks the demo to quit as a session end would, and returns its exit code.
  int Stop() {
    kill(pid_, SIGTERM);
    return Wait();
  }
  // Waits for the demo to end by itself; its exit code.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    ended_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string Err() const { return ReadTextFile(errPath_); }

 private:
  std::string errPath_;
  pid_t pid_ = -1;
  bool ended_ = false;
};

TEST(ViewerKeys, ScreenshotKeysWriteNumberedPngsEqualToCaptures) {
  const std::string folder = MakeScratchFolder();
  // A file already holding the first name is skipped, not overwritten.
  { std::ofstream(folder + "/shadow-volume-0001.png") << "not mine"; }
  const Frames run =
      RunFrames(folder, {"--keys", "2:down:P,2:up:P,3:drag:50:0,4:down:F12,4:up:F12"}, {2, 4});
  ASSERT_EQ(run.run.exitCode, 0) << run.run.err;
  EXPECT_EQ(run.run.out, "shadow-volume-0002.png\nshadow-volume-0003.png\n");
  EXPECT_EQ(ReadTextFile(folder + "/shadow-volume-0001.png"), "not mine");
  const RgbImage second = ReadPng(folder + "/shadow-volume-0002.png");
  const RgbImage third = ReadPng(folder + "/shadow-volume-0003.png");
  ASSERT_GT(second.width, 0);
  EXPECT_EQ(second.rgb, run.images[0].rgb);
  EXPECT_EQ(third.rgb, run.images[1].rgb);
  EXPECT_NE(second.rgb, third.rgb);

  // A folder where nothing can be made: one line, and the run goes on.
  // (/proc: not even root can make a file there.)
  BackgroundDemo readOnly(folder,
                          {"--model", folder + "/shadow2.3DS", "--texture", folder + "/txt.tif",
                           "--frames", "3", "--keys", "2:down:P"},
                          "/proc");
  EXPECT_EQ(readOnly.Wait(), 0);
  const std::vector<std::string> lines = MessageLines(readOnly.Err());
  ASSERT_EQ(lines.size(), 1u) << readOnly.Err();
  EXPECT_EQ(lines[0].rfind("shadow_volume: screenshot not saved: shadow-volume-0001.png: ", 0), 0u)
      << lines[0];
  RemoveScratchFolder(folder);
}

TEST(ViewerKeys, HelpOverlayShowsAndHides) {
  const std::string folder = MakeScratchFolder();
  const Frames run = RunFrames(folder, {"--keys", "2:down:H,2:up:H,3:down:F1,3:up:F1"}, {1, 2, 3});
  ASSERT_EQ(run.run.exitCode, 0) << run.run.err;
  EXPECT_GT(DifferingFraction(run.images[0], run.images[1], 8), 0.05);
  EXPECT_EQ(run.images[0].rgb, run.images[2].rgb);
  RemoveScratchFolder(folder);
}

TEST(ViewerDrop, DroppedFilesEqualRunsThatNameThem) {
  const std::string folder = MakeScratchFolder();
  TestMesh mesh = CentredWall();
  AddBox(mesh, Vec3{-5, -5, 10}, Vec3{15, 15, 25});
  mesh.texCoords.resize(mesh.vertices.size(), TexCoord{0.5f, 0.5f});
  ASSERT_TRUE(WriteTestModel(folder + "/other.3ds", mesh));
  TiffLayout layout;
  layout.width = layout.height = 16;
  layout.samples = 3;
  ASSERT_TRUE(WriteTiffWithLibtiff(folder + "/other.tif", layout, VariedPixels(16, 16, 3, 7)));
  for (const bool fit : {false, true}) {
    std::vector<std::string> dropped = {
        "--keys", "2:drag:80:30,3:drop:other.3ds,4:drop:" + folder + "/other.tif"};
    std::vector<std::string> named = {"--model", "other.3ds", "--texture", folder + "/other.tif"};
    if (fit) dropped.push_back("--fit");
    if (fit) named.push_back("--fit");
    const Frames afterDrop = RunFrames(folder, dropped, {4});
    const Frames direct = RunFrames(folder, named, {1});
    ASSERT_EQ(afterDrop.run.exitCode, 0) << afterDrop.run.err;
    EXPECT_EQ(MessageLines(afterDrop.run.err), std::vector<std::string>{});
    EXPECT_EQ(afterDrop.images[0].rgb, direct.images[0].rgb) << (fit ? "--fit" : "");
  }
  // A model of another format, read through assimp, the same way.
  const std::string obj = "/usr/share/assimp/models/OBJ/box.obj";
  const Frames objDropped = RunFrames(folder, {"--fit", "--keys", "2:drop:" + obj}, {3});
  const Frames objNamed = RunFrames(folder, {"--fit", "--model", obj}, {1});
  ASSERT_EQ(objDropped.run.exitCode, 0) << objDropped.run.err;
  EXPECT_EQ(objDropped.images[0].rgb, objNamed.images[0].rgb);
  RemoveScratchFolder(folder);
}

TEST(ViewerDrop, UnusableFilesKeepThePictureWithOneLineEach) {
  const std::string folder = MakeScratchFolder();
  ASSERT_EQ(mkdir((folder + "/a-folder").c_str(), 0755), 0);
  const std::string model = ReadTextFile(folder + "/shadow2.3DS");
  ASSERT_GT(model.size(), 3000u);
  { std::ofstream(folder + "/cut.3ds", std::ios::binary) << model.substr(0, 3000); }
  { std::ofstream(folder + "/notes.png") << "these are notes, not an image\n"; }
  // A file on which libassimp 5.2.5 itself segfaults: the reader's child
  // dies, the demo does not.
  const bool withCrasher = AssimpModelsMissing().empty();
  if (withCrasher)
    std::ofstream(folder + "/crash.raw", std::ios::binary)
        << ReadTextFile(AssimpModelPath("RAW/WithColor.raw"));
  const Frames run = RunFrames(
      folder, {"--clock-step", "10", "--keys",
               "2:drop:a-folder,3:drop:cut.3ds,4:drop:notes.png,5:drop:" +
                   std::string(withCrasher ? "crash.raw" : "notes.png")},
      {1, 6});
  ASSERT_EQ(run.run.exitCode, 0) << run.run.err;
  EXPECT_EQ(run.images[0].rgb, run.images[1].rgb);
  const std::vector<std::string> lines = MessageLines(run.run.err);
  ASSERT_EQ(lines.size(), 4u) << run.run.err;
  EXPECT_EQ(lines[0].rfind("a-folder: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("cut.3ds: the file ends inside chunk", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("notes.png: ", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind(withCrasher ? "crash.raw: " : "notes.png: ", 0), 0u) << lines[3];
  // Each reason shows in the title too.
  EXPECT_NE(run.run.err.find("title: Shadow Volume - cut.3ds: "), std::string::npos);
  RemoveScratchFolder(folder);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(ViewerWatch, ModelRewrittenByRenameAndInPlaceIsReloaded) {
  const std::string folder = MakeScratchFolder();
  const std::string path = folder + "/watched.3ds";
  TestMesh wall = CentredWall();
  ASSERT_TRUE(WriteTestModel(path, wall));
  TestMesh withBox = wall;
  AddBox(withBox, Vec3{-5, -5, 10}, Vec3{15, 15, 25});
  ASSERT_TRUE(WriteTestModel(folder + "/box.3ds", withBox));
  const std::string boxBytes = ReadTextFile(folder + "/box.3ds");
  const std::string wallBytes = ReadTextFile(path);

  BackgroundDemo demo(folder, {"--model", "watched.3ds", "--watch"});
  ASSERT_TRUE(demo.WaitFor("title: ")) << demo.Err();  // frames are being drawn
  // A save by rename: written beside it, then moved over it.
  WriteBytes(folder + "/.watched.3ds.part", boxBytes);
  ASSERT_EQ(rename((folder + "/.watched.3ds.part").c_str(), path.c_str()), 0);
  const std::string boxFaces = std::to_string(withBox.faces.size()) + " faces";
  EXPECT_TRUE(demo.WaitFor("watched.3ds: reloaded, " + boxFaces)) << demo.Err();
  // A broken save in place keeps the model; the finished one replaces it.
  WriteBytes(path, wallBytes.substr(0, wallBytes.size() / 2));
  EXPECT_TRUE(demo.WaitFor("keeping the current model")) << demo.Err();
  WriteBytes(path, wallBytes);
  const std::string wallFaces = std::to_string(wall.faces.size()) + " faces";
  EXPECT_TRUE(demo.WaitFor("watched.3ds: reloaded, " + wallFaces)) << demo.Err();
  EXPECT_EQ(demo.Stop(), 0);
  EXPECT_EQ(MessageLines(demo.Err()).size(), 3u) << demo.Err();
}

// A save in place (truncate, then write) racing the reloads it causes: each
// reload reads a file that may shrink, grow or change under it. Whatever it
// reads, the demo keeps running (a mapped file that shrank killed it with
// SIGBUS, exit status 135) and says of each reload that it reloaded or kept
// the model.
TEST(ViewerWatch, ModelRewrittenInPlaceWhileReloadingNeverKillsTheDemo) {
  const std::string folder = MakeScratchFolder();
  const std::string path = folder + "/watched.3ds";
  TestMesh wall;
  AddWall(wall, TestWall{-40.0f, -40.0f, 0.5f, 160, 0.0f});  // 51,200 faces: about 700 KB
  ASSERT_TRUE(WriteTestModel(path, wall));
  const std::string bytes = ReadTextFile(path);
  ASSERT_GT(bytes.size(), 500000u);

  BackgroundDemo demo(folder, {"--model", "watched.3ds", "--watch", "--frames", "120"});
  ASSERT_TRUE(demo.WaitFor("title: ")) << demo.Err();  // loaded, before any rewrite
  std::atomic<bool> stop{false};
  int saves = 0;
  std::thread writer([&] {
    while (!stop) {
      const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd < 0) return;
      for (size_t at = 0; at < bytes.size() && !stop; at += 8192) {
        const size_t n = std::min<size_t>(8192, bytes.size() - at);
        if (write(fd, bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
      }
      close(fd);
      ++saves;
    }
  });
  const int exitCode = demo.Wait();
  stop = true;
  writer.join();
  ASSERT_EQ(exitCode, 0) << demo.Err();
  EXPECT_GT(saves, 0);
  const std::vector<std::string> lines = MessageLines(demo.Err());
  EXPECT_FALSE(lines.empty());
  for (const std::string& line : lines) {
    const bool reloaded = line == "watched.3ds: reloaded, " + std::to_string(wall.faces.size()) + " faces";
    const bool kept = line.rfind("watched.3ds: ", 0) == 0 &&
                      line.size() > 27 && line.compare(line.size() - 27, 27, "; keeping the current model") == 0;
    EXPECT_TRUE(reloaded || kept) << line;
  }
  RemoveScratchFolder(folder);
}

TEST(ViewerFuzz, TenThousandRandomMouseAndKeyEventsRunClean) {
  // Drags, pans, wheel turns and every key of the program in a random
  // script over 400 frames; the run must end normally with nothing but the
  // screenshot lines and the drops' refusals on its output. Under the
  // sanitizer build any report fails it.
  const std::string folder = MakeScratchFolder();
  std::mt19937 rng(20261207);
  const char* keys[] = {"UP",     "DOWN",     "LEFT",   "RIGHT",  "HOME", "END",
                        "DELETE", "PAGEDOWN", "PAGEUP", "INSERT", "TAB",  "R",
                        "P",      "H",        "F1",     "F11",    "F12"};
  std::vector<std::string> args = {"--size", "160x120", "--frames", "400"};
  std::string script;
  for (int i = 0; i < 10000; ++i) {
    const int frame = 1 + static_cast<int>(rng() % 400);
    const int kind = static_cast<int>(rng() % 10);
    const int dx = static_cast<int>(rng() % 4001) - 2000,
              dy = static_cast<int>(rng() % 4001) - 2000;
    std::string item = std::to_string(frame) + ":";
    if (kind < 3)
      item += "drag:" + std::to_string(dx) + ":" + std::to_string(dy);
    else if (kind < 5)
      item += "rdrag:" + std::to_string(dx) + ":" + std::to_string(dy);
    else if (kind < 7)
      item += "wheel:" + std::to_string(dx % 40);
    else if (i % 500 == 0)
      item += "drop:missing.3ds";
    else
      item += std::string(rng() % 2 ? "down:" : "up:") + keys[rng() % 17];
    script += (script.empty() ? "" : ",") + item;
    // One argument stays well under the kernel's limit for a single string.
    if (script.size() > 20000 || i == 9999) {
      args.insert(args.end(), {"--keys", script});
      script.clear();
    }
  }
  const DemoRun run = RunDemo(folder, args);
  EXPECT_EQ(run.exitCode, 0);
  for (const std::string& line : MessageLines(run.err))
    EXPECT_EQ(line.rfind("missing.3ds: ", 0), 0u) << line;
  for (const std::string& line : LinesWithPrefix(run.out, ""))
    EXPECT_EQ(line.rfind("shadow-volume-", 0), 0u) << line;
  RemoveScratchFolder(folder);
}

}  // namespace
