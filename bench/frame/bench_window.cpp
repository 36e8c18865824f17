// See bench_window.h.
#include "bench/frame/bench_window.h"

#include <cstdio>

#include "platform/platform.h"

namespace {

LRESULT BenchWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

HWND OpenBenchWindow(const char* program, const char* name) {
  PlatformOptions options;
  options.headless = true;
  ConfigurePlatform(options);
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(WNDCLASSEXA);
  windowClass.lpfnWndProc = BenchWindowProcedure;
  windowClass.hInstance = PlatformInstance();
  windowClass.lpszClassName = name;
  HWND window = nullptr;
  if (RegisterClassExA(&windowClass) != 0)
    window = CreateWindowExA(0, name, name, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, kBenchWidth,
                             kBenchHeight, nullptr, nullptr, PlatformInstance(), nullptr);
  if (window == nullptr) std::fprintf(stderr, "%s: %s\n", program, PlatformFailureReason());
  return window;
}
