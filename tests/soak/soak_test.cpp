// The soak run: the real demo, headless, on the shipped scene for 3,000
// frames, with a key script that holds every motion key in both modes at
// different times and flips Tab again and again. Built only into the
// sanitizer tree, where any AddressSanitizer or UndefinedBehaviorSanitizer
// report fails the run. The resident memory over the last 500 frames must
// stay within 2 MiB of that over frames 500 to 1,000, 2,000 frames earlier:
// nothing grows by as much as 1 KiB per frame. (The renderer's own level
// still drifts by up to about 1 MiB over the run, in steps, with no heap
// growth: its allocation count at exit is the same after 1,000 frames as
// after 3,000.)
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/demo_runner.h"

namespace {

constexpr int kFrames = 3000;
constexpr int kWindowFrames = 500;
constexpr int kEarlyFrom = 500;
constexpr int kLateFrom = kFrames - kWindowFrames;

// Resident set size of process `pid` in KiB, -1 when it cannot be read.
long ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The median of `readings` in KiB, -1 when there are none or one is missing.
long MedianKib(std::vector<long> readings) {
  if (readings.empty() || std::find(readings.begin(), readings.end(), -1) != readings.end()) {
    return -1;
  }
  std::nth_element(readings.begin(), readings.begin() + readings.size() / 2, readings.end());
  return readings[readings.size() / 2];
}

// The key script: a tour that holds every motion key for 12 frames and then
// its opposite for 12 frames, first in light mode, then, after a Tab, in
// camera mode, with opposing keys also held together, and a burst of Tab
// presses (an even number, as auto-repeat might give) at its end. Each tour
// brings the camera and the light back where they were, so every later frame
// shows views that the first 500 frames have already drawn: whatever memory
// the renderer needs has been reached by then, and anything that grows
// afterwards grows per frame.
std::string SoakKeyScript() {
  const char* pairs[][2] = {{"UP", "DOWN"},
                            {"LEFT", "RIGHT"},
                            {"HOME", "END"},
                            {"DELETE", "PAGEDOWN"},
                            {"PAGEUP", "INSERT"}};
  std::string script;
  auto add = [&script](int frame, const char* action, const char* key) {
    if (!script.empty()) script += ',';
    script += std::to_string(frame) + ":" + action + ":" + key;
  };
  constexpr int kHold = 12;
  for (int frame = 10, tour = 0; frame + 300 < kFrames; ++tour) {
    for (int mode = 0; mode < 2; ++mode) {
      for (const auto& pair : pairs) {
        add(frame, "down", pair[0]);
        add(frame + kHold, "up", pair[0]);
        add(frame + kHold, "down", pair[1]);
        add(frame + 2 * kHold, "up", pair[1]);
        add(frame + 2 * kHold + 1, "down", pair[0]);  // both at once: they cancel
        add(frame + 2 * kHold + 1, "down", pair[1]);
        add(frame + 2 * kHold + 6, "up", pair[0]);
        add(frame + 2 * kHold + 6, "up", pair[1]);
        frame += 2 * kHold + 8;
      }
      add(frame, "down", "TAB");
      add(frame + 1, "up", "TAB");
      frame += 3;
    }
    const int flips = 2 * (1 + tour % 3);
    for (int i = 0; i < flips; ++i) add(frame + i, "down", "TAB");
    add(frame + flips, "up", "TAB");
    frame += flips + 3;
  }
  return script;
}

TEST(Soak, ThreeThousandFramesWithEveryKeyStayCleanAndFlat) {
  const std::string folder = MakeScratchFolder();
  int errPipe[2];
  ASSERT_EQ(pipe(errPipe), 0);
  const std::string frames = std::to_string(kFrames + 20);
  const std::string keys = SoakKeyScript();
  // A small AddressSanitizer quarantine fills within the first frames; at its
  // default of 256 MiB, memory that Mesa frees every frame piles up there and
  // the resident size rises for thousands of frames without any leak.
  const char* inherited = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions = std::string(inherited != nullptr ? inherited : "") +
                                  ":quarantine_size_mb=8:thread_local_quarantine_size_kb=64";
  setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(errPipe[1], 2);
    close(errPipe[0]);
    close(errPipe[1]);
    if (chdir(folder.c_str()) != 0) _exit(127);
    execl(SV_DEMO_PATH, SV_DEMO_PATH, "--headless", "--clock-step", "10", "--frames",
          frames.c_str(), "--keys", keys.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(errPipe[1]);

  // Every tenth frame writes a title line, and the resident size is read as
  // each line arrives (the run may be a few frames on by then, which the 20
  // extra frames allow for). Mesa's renderer maps and unmaps large blocks
  // within each frame, so one reading swings by a few MiB around the true
  // level; the median of the 50 readings of a 500-frame window does not.
  std::string errors, pending;
  int titles = 0;
  std::vector<long> early, late;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(errPipe[0], buffer, sizeof buffer);
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end + 1);
      pending.erase(0, end + 1);
      errors += line;
      if (line.rfind("title: ", 0) != 0) continue;
      const int frame = 10 * ++titles;
      if (frame > kEarlyFrom && frame <= kEarlyFrom + kWindowFrames) {
        early.push_back(ResidentKib(pid));
      } else if (frame > kLateFrom && frame <= kFrames) {
        late.push_back(ResidentKib(pid));
      }
    }
  }
  close(errPipe[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);

  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status) << "\n" << errors;
  EXPECT_EQ(WEXITSTATUS(status), 0) << errors;
  EXPECT_EQ(errors.find("ERROR: AddressSanitizer"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
  EXPECT_EQ(titles, (kFrames + 20) / 10);
  const long earlyKib = MedianKib(early), lateKib = MedianKib(late);
  ASSERT_GT(earlyKib, 0);
  ASSERT_GT(lateKib, 0);
  std::printf("resident (median): %ld KiB over frames %d-%d, %ld KiB over frames %d-%d\n",
              earlyKib, kEarlyFrom, kEarlyFrom + kWindowFrames, lateKib, kLateFrom, kFrames);
  EXPECT_LE(lateKib - earlyKib, 2048)
      << "resident memory grew from " << earlyKib << " KiB to " << lateKib << " KiB";
  if (!HasFailure()) RemoveScratchFolder(folder);
}

}  // namespace
