// The spine of the program: window class and window, one-time scene set-up,
// and the loop that handles every waiting message before it draws a frame.
// Only a window's swap paces the loop (vertical sync); nothing is released
// on the way out.
#include "app/win_main.h"

#include <cstdio>

#include "app/app_state.h"
#include "app/frame_end.h"
#include "app/keyboard.h"
#include "app/viewer_input.h"
#include "platform/platform.h"
#include "render/frame.h"
#include "render/gl_context.h"
#include "render/scene_setup.h"

LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
      // Escape closes the window the way its close button does.
      if (wParam == VK_ESCAPE) {
        WindowProcedure(window, WM_CLOSE, 0, 0);
        return 0;
      }
      if (!OnViewerKey(window, wParam, lParam))
        OnKeyDown(wParam, (static_cast<uint32_t>(lParam) & (1u << 30)) != 0);
      return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MOUSEWHEEL:
      OnMouseMessage(window, message, wParam, lParam);
      return 0;
    case WM_DROPFILES:
      OnDropFiles(window, reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_KEYUP:
      OnKeyUp(wParam);
      return 0;
    case WM_SIZE:
      FollowClientSize(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

namespace {

// One turn of the message loop: handles every waiting message, then draws
// and presents one frame. The loop is a step the platform calls, not a
// `while` of its own, because a browser page must return to the browser
// after every frame: the web backend hands this step to
// emscripten_set_main_loop, the SDL backend calls it in a plain loop. (The
// other way, ASYNCIFY, would keep the loop but rewrite the whole program to
// unwind its stack at every swap: a larger, slower module and a second way
// for the legacy GL emulation to go wrong.) The order is the old loop's: a
// frame is drawn only when the queue is empty. False once WM_QUIT arrives,
// with its code in *exitCode.
bool RunOneFrame(int* exitCode) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      *exitCode = static_cast<int>(message.wParam);
      return false;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  RenderFrame(MainWindow);
  FinishFrame(MainWindow);
  return true;
}

}  // namespace

int WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(WNDCLASSEXA);  // 48 bytes with 32-bit pointers
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = "My App";
  windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);

  // Without a class or a window there is nothing to draw into: stop here
  // with the layer's reason instead of running on with a null window.
  if (RegisterClassExA(&windowClass) == 0) {
    std::fprintf(stderr, "shadow_volume: %s\n", PlatformFailureReason());
    return 1;
  }
  // --size, 800 x 600 unless given.
  const PlatformOptions& options = ConfiguredPlatformOptions();
  MainWindow = CreateWindowExA(0, "My App", "Shadow Volume", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                               static_cast<int>(options.windowWidth),
                               static_cast<int>(options.windowHeight), nullptr, nullptr, instance,
                               nullptr);
  if (MainWindow == nullptr) {
    std::fprintf(stderr, "shadow_volume: %s\n", PlatformFailureReason());
    return 1;
  }
  ShowWindow(MainWindow, showCommand);
  UpdateWindow(MainWindow);
  // A scene that cannot be drawn (no context, unusable model) has been
  // reported in one line; stop before the loop with its exit code.
  const SetupResult setup = SetupScene(MainWindow);
  if (setup != SetupResult::kReady) return static_cast<int>(setup);

  return RunFrameLoop(RunOneFrame);
}
