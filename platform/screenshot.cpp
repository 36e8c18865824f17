// The screenshot key's file: the frame read back and written as the first
// free "shadow-volume-NNNN.png" of the current directory. The number is the
// layer's own count, so a run never tries a name twice; names taken by
// files already there are skipped without opening them (O_EXCL).
#include <cstdio>
#include <string>
#include <vector>

#include "platform/frame_readback.h"
#include "platform/platform.h"
#include "platform/png_writer.h"

namespace {

// The next number to try; counts for the whole run.
uint32_t NextScreenshotNumber = 1;

constexpr uint32_t kLastScreenshotNumber = 99999;  // then the key reports it is full

}  // namespace

bool SaveScreenshot(HWND window, std::string* path) {
  RECT client{};
  if (!GetClientRect(window, &client)) {
    std::fprintf(stderr, "shadow_volume: screenshot not saved: no window to read\n");
    return false;
  }
  const int width = client.right - client.left, height = client.bottom - client.top;
  const std::vector<uint8_t> rgb = ReadFrameRgb(width, height);
  std::string error = "the window has no pixels";
  while (!rgb.empty() && NextScreenshotNumber <= kLastScreenshotNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "shadow-volume-%04u.png", NextScreenshotNumber);
    const PngCreation made = WritePngRgbNewFile(name, static_cast<uint32_t>(width),
                                                static_cast<uint32_t>(height), rgb.data(), &error);
    if (made == PngCreation::kExists) {
      ++NextScreenshotNumber;
      continue;
    }
    if (made == PngCreation::kFailed) break;
    ++NextScreenshotNumber;
    *path = name;
    std::printf("%s\n", name);
    std::fflush(stdout);
    return true;
  }
  if (NextScreenshotNumber > kLastScreenshotNumber)
    error = "shadow-volume-0001.png to -99999.png all exist";
  std::fprintf(stderr, "shadow_volume: screenshot not saved: %s\n", error.c_str());
  return false;
}
