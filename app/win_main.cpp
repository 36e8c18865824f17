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
      if (!OnViewerKey(window, wParam, lParam)) OnKeyDown(wParam);
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

  MSG message;
  while (true) {
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
      TranslateMessage(&message);
      DispatchMessageA(&message);
    } else {
      // One frame: the passes, then presenting it and what follows the swap.
      RenderFrame(MainWindow);
      FinishFrame(MainWindow);
    }
  }
}
