// The Windows-shaped services of win32.h, the part every backend shares:
// classes, window and context records, the message queues and the
// pixel-format table, and the layer's failure reason and instance. The run
// harness (run_harness.cpp: key script, captures, virtual clock, frame
// limit, screenshots) stands beside it. The window system and the OpenGL
// binding are the backend's (backend.h lists what one supplies); this file
// sees neither.
//
// Limits: one thread; one device context per window; pixel formats are the
// layer's own table (8-bit RGB like a true-colour desktop, optional alpha and
// stencil, depth 32/24/16/none, single or double buffer); key messages carry
// no hardware scan code in lParam.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/drop_files.h"
#include "platform/platform.h"
#include "platform/run_harness.h"
#include "platform/win32.h"

// The handle records. A window keeps its backend surface; a device context
// belongs to one window.
struct DeviceContextRecord {
  WindowRecord* window = nullptr;
};

struct WindowRecord {
  BackendSurface* surface = nullptr;  // null once destroyed
  WNDPROC procedure = nullptr;
  std::string title;
  bool visible = false;
  bool alive = true;    // false once destroyed
  int pixelFormat = 0;  // index given by SetPixelFormat; 0 = none yet
  DeviceContextRecord deviceContext;
};

struct RenderingContextRecord {
  BackendContext* context = nullptr;
  WindowRecord* window = nullptr;  // the window it was made for
};

struct InstanceRecord {
  int unused;
};
struct IconRecord {
  int unused;
};
struct BrushRecord {
  int unused;
};

namespace {

struct WindowClass {
  std::string name;
  WNDPROC procedure = nullptr;
};

// Everything the layer keeps for the run; lives until the process ends.
struct PlatformState {
  std::string failure;  // reason of the last failure
  std::vector<WindowClass> classes;
  std::vector<std::unique_ptr<WindowRecord>> windows;  // every window ever made
  std::vector<std::unique_ptr<RenderingContextRecord>> contexts;
  std::deque<MSG> posted;  // PostQuitMessage, --frames close
  std::deque<MSG> input;   // translated window-system events, scripted keys
  // The stock objects: only their addresses mean anything.
  InstanceRecord instance{};
  IconRecord stockIcon{};
  IconRecord stockCursor{};
  BrushRecord whiteBrush{};
};

// The one state record, made on first use.
PlatformState& State() {
  static PlatformState state;
  return state;
}

// Whether `window` is a window this layer made and has not destroyed; false
// for null and foreign pointers, which are never dereferenced.
bool IsLive(HWND window) {
  if (window == nullptr) return false;
  for (const auto& w : State().windows) {
    if (w.get() == window) return w->alive;
  }
  return false;
}

// The layer's format table: index = 1 + ((single ? 4 : 0) + depth slot) * 4
// + alpha * 2 + stencil, depth slots 32, 24, 16, 0. 32 formats in all.
constexpr int kDepthSlots[4] = {32, 24, 16, 0};
constexpr int kFormatCount = 32;

// The 1-based index of `f`; depths outside the table count as the last slot.
int FormatIndex(const GlFormat& f) {
  int slot = 0;
  while (slot < 3 && kDepthSlots[slot] != f.depthBits) ++slot;
  return 1 + ((f.doubleBuffer ? 0 : 4) + slot) * 4 + (f.alphaBits ? 2 : 0) +
         (f.stencilBits ? 1 : 0);
}

// The format of a 1-based index; false for indices outside 1..32.
bool FormatOfIndex(int index, GlFormat* format) {
  if (index < 1 || index > kFormatCount) return false;
  int i = index - 1;
  format->stencilBits = (i & 1) ? 8 : 0;
  format->alphaBits = (i & 2) ? 8 : 0;
  format->depthBits = kDepthSlots[(i / 4) % 4];
  format->doubleBuffer = (i / 16) ? 0 : 1;
  return true;
}

// lParam of a key message as Windows builds it: repeat count 1, bit 29 when
// Alt is held, bit 30 when the key was already down, bit 31 on release.
LPARAM KeyLParam(bool down, bool wasDown, bool alt) {
  uint32_t bits = 1;
  if (alt) bits |= 1u << 29;
  if (wasDown) bits |= 1u << 30;
  if (!down) bits |= 1u << 31;
  return static_cast<LPARAM>(static_cast<int32_t>(bits));
}

// A message as the queues hold it: stamped with the clock, no cursor position.
MSG MakeMessage(HWND window, UINT code, WPARAM wParam = 0, LPARAM lParam = 0) {
  MSG message{};
  message.hwnd = window;
  message.message = code;
  message.wParam = wParam;
  message.lParam = lParam;
  message.time = timeGetTime();
  return message;
}

// The message of one key event: the system form with Alt held, for F10 and
// for Alt itself, as Windows sends them.
MSG KeyMessage(HWND window, WPARAM virtualKey, bool down, bool wasDown, bool alt) {
  bool system = alt || virtualKey == VK_F10 || virtualKey == VK_MENU;
  UINT code = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
  return MakeMessage(window, code, virtualKey, KeyLParam(down, wasDown || !down, alt));
}

// lParam of a mouse message: the client position, x in the low word and y
// in the high word, each as a 16-bit two's-complement number.
LPARAM MouseLParam(int x, int y) {
  return static_cast<LPARAM>(static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}

// PeekMessageA's filter: a window (null: any) and a code range (0, 0: all).
bool Matches(const MSG& message, HWND window, UINT filterMin, UINT filterMax) {
  if (window != nullptr && message.hwnd != window) return false;
  if (filterMin == 0 && filterMax == 0) return true;
  return message.message >= filterMin && message.message <= filterMax;
}

// Takes or copies the first matching message of `queue`.
bool TakeFrom(std::deque<MSG>* queue, LPMSG out, HWND window, UINT filterMin, UINT filterMax,
              bool remove) {
  for (auto it = queue->begin(); it != queue->end(); ++it) {
    if (!Matches(*it, window, filterMin, filterMax)) continue;
    *out = *it;
    if (remove) queue->erase(it);
    return true;
  }
  return false;
}

// Destroys a window: WM_DESTROY through its procedure, then its surface.
void DestroyWindowNow(HWND window) {
  if (!IsLive(window)) return;
  window->alive = false;
  if (window->procedure != nullptr) window->procedure(window, WM_DESTROY, 0, 0);
  if (window->surface != nullptr) {
    BackendDestroySurface(window->surface);
    window->surface = nullptr;
  }
}

// Whether `dc` belongs to a live window that has a surface to draw in.
bool HasSurface(HDC dc) {
  return dc != nullptr && IsLive(dc->window) && dc->window->surface != nullptr;
}

}  // namespace

// ---- The core's services to a backend ----

void PlatformFail(const std::string& reason) {
  State().failure = reason;
}

HWND WindowOfSurface(const BackendSurface* surface) {
  if (surface == nullptr) return nullptr;
  for (const auto& w : State().windows) {
    if (w->alive && w->surface == surface) return w.get();
  }
  return nullptr;
}

HWND PlatformFocusWindow() {
  for (const auto& w : State().windows) {
    if (w->alive) return w.get();
  }
  return nullptr;
}

void QueueWindowMessage(HWND window, UINT code, WPARAM wParam, LPARAM lParam) {
  State().input.push_back(MakeMessage(window, code, wParam, lParam));
}

void QueueKeyMessage(HWND window, WPARAM virtualKey, bool down, bool repeat, bool alt) {
  State().input.push_back(KeyMessage(window, virtualKey, down, repeat, alt));
}

void QueueMouseMessage(HWND window, UINT code, WPARAM buttons, int x, int y) {
  State().input.push_back(MakeMessage(window, code, buttons, MouseLParam(x, y)));
}

void QueueWheelMessage(HWND window, int delta, WPARAM buttons, int x, int y) {
  const int bounded = std::max(-32768, std::min(32767, delta));
  const WPARAM wParam =
      (static_cast<WPARAM>(static_cast<uint16_t>(bounded)) << 16) | (buttons & 0xFFFF);
  State().input.push_back(MakeMessage(window, WM_MOUSEWHEEL, wParam, MouseLParam(x, y)));
}

void QueueDroppedFiles(HWND window, std::vector<std::string> paths) {
  HDROP drop = MakeDrop(std::move(paths));
  State().input.push_back(MakeMessage(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop)));
}

void LoseAllWindows(const std::string& reason) {
  PlatformState& state = State();
  if (PlatformFocusWindow() == nullptr) return;
  for (const auto& w : state.windows) w->alive = false;
  std::fprintf(stderr, "shadow_volume: the window was destroyed from outside (%s)\n",
               reason.c_str());
  PostQuitMessage(1);
}

// ---- The layer's own controls ----

const char* PlatformFailureReason() {
  return State().failure.c_str();
}

HINSTANCE PlatformInstance() {
  return &State().instance;
}

int RunFrameLoop(bool (*frame)(int* exitCode)) {
  return BackendRunFrames(frame);
}

// ---- Stock resources ----

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  return instance == nullptr && name == IDI_APPLICATION ? &State().stockIcon : nullptr;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  return instance == nullptr && name == IDC_ARROW ? &State().stockCursor : nullptr;
}

HGDIOBJ GetStockObject(int index) {
  return index == WHITE_BRUSH ? &State().whiteBrush : nullptr;
}

// ---- Classes and windows ----

WORD RegisterClassExA(const WNDCLASSEXA* windowClass) {
  PlatformState& state = State();
  if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXA)) {
    PlatformFail("RegisterClassExA: the class record's cbSize is not sizeof(WNDCLASSEXA)");
    return 0;
  }
  if (windowClass->lpfnWndProc == nullptr || windowClass->lpszClassName == nullptr) {
    PlatformFail("RegisterClassExA: the class has no window procedure or no name");
    return 0;
  }
  for (const WindowClass& known : state.classes) {
    if (known.name == windowClass->lpszClassName) {
      PlatformFail(std::string("RegisterClassExA: class \"") + known.name +
                   "\" is already registered");
      return 0;
    }
  }
  state.classes.push_back({windowClass->lpszClassName, windowClass->lpfnWndProc});
  return static_cast<WORD>(0xC000 + state.classes.size() - 1);  // an atom, as Windows gives
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU, HINSTANCE, LPVOID) {
  PlatformState& state = State();
  const WindowClass* windowClass = nullptr;
  for (const WindowClass& known : state.classes) {
    if (className != nullptr && known.name == className) windowClass = &known;
  }
  if (windowClass == nullptr) {
    PlatformFail(std::string("CreateWindowExA: no window class \"") + (className ? className : "") +
                 "\"");
    return nullptr;
  }
  if (!BackendStart()) return nullptr;

  SurfaceRequest request;
  request.title = windowName != nullptr ? windowName : "";
  request.defaultPlace = x == CW_USEDEFAULT;
  request.x = x;
  request.y = y;
  request.clientWidth = width == CW_USEDEFAULT || width <= 0 ? 640 : width;
  request.clientHeight = width == CW_USEDEFAULT || height <= 0 ? 480 : height;
  request.resizable = (style & WS_THICKFRAME) != 0;
  request.visible = (style & WS_VISIBLE) != 0;
  auto window = std::make_unique<WindowRecord>();
  window->procedure = windowClass->procedure;
  window->title = request.title;
  window->visible = request.visible;
  window->deviceContext.window = window.get();
  window->surface = BackendMakeSurface(request);
  if (window->surface == nullptr) return nullptr;

  HWND handle = window.get();
  state.windows.push_back(std::move(window));
  // Windows aborts the creation when WM_CREATE returns -1.
  if (handle->procedure(handle, WM_CREATE, 0, 0) == -1) {
    DestroyWindowNow(handle);
    PlatformFail("CreateWindowExA: the window procedure refused WM_CREATE");
    return nullptr;
  }
  return handle;
}

BOOL ShowWindow(HWND window, int showCommand) {
  if (!IsLive(window)) return FALSE;
  BOOL wasVisible = window->visible ? TRUE : FALSE;
  window->visible = showCommand != SW_HIDE;
  BackendShowSurface(window->surface, window->visible, !wasVisible);
  return wasVisible;
}

BOOL UpdateWindow(HWND window) {
  return IsLive(window) ? TRUE : FALSE;
}

// ---- Messages ----

BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  PlatformState& state = State();
  if (message == nullptr) return FALSE;
  bool remove = (removeFlags & PM_REMOVE) != 0;
  if (TakeFrom(&state.posted, message, window, filterMin, filterMax, remove)) return TRUE;
  QueueScriptedInput();
  if (BackendPollEvents()) {
    if (TakeFrom(&state.posted, message, window, filterMin, filterMax, remove)) return TRUE;
  }
  return TakeFrom(&state.input, message, window, filterMin, filterMax, remove) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG*) {
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
  if (message == nullptr || !IsLive(message->hwnd) || message->hwnd->procedure == nullptr) return 0;
  return message->hwnd->procedure(message->hwnd, message->message, message->wParam,
                                  message->lParam);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsLive(window)) return 0;
  if (message == WM_CLOSE) {
    DestroyWindowNow(window);
    return 0;
  }
  bool altHeld = (static_cast<uint32_t>(lParam) & (1u << 29)) != 0;
  if (message == WM_SYSKEYDOWN && wParam == VK_F4 && altHeld && window->procedure != nullptr) {
    window->procedure(window, WM_CLOSE, 0, 0);
  }
  return 0;
}

void PostQuitMessage(int exitCode) {
  const WPARAM code = static_cast<WPARAM>(static_cast<intptr_t>(exitCode));
  State().posted.push_back(MakeMessage(nullptr, WM_QUIT, code));
}

// ---- Device contexts, size, title ----

HDC GetDC(HWND window) {
  return IsLive(window) ? &window->deviceContext : nullptr;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  if (rect == nullptr || !IsLive(window) || window->surface == nullptr) return FALSE;
  int width = 0;
  int height = 0;
  BackendDrawableSize(window->surface, &width, &height);
  *rect = RECT{0, 0, width, height};
  return TRUE;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (!IsLive(window)) return FALSE;
  window->title = text != nullptr ? text : "";
  BackendSetTitle(window->surface, window->title);
  if (ConfiguredPlatformOptions().headless) {
    std::fprintf(stderr, "title: %s\n", window->title.c_str());
    std::fflush(stderr);
  }
  return TRUE;
}

// ---- Pixel formats and contexts ----

int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* request) {
  if (dc == nullptr || !IsLive(dc->window)) {
    PlatformFail("ChoosePixelFormat: no window behind the device context");
    return 0;
  }
  const DWORD needed = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
  if (request == nullptr || request->nSize != sizeof(PIXELFORMATDESCRIPTOR) ||
      request->nVersion != 1 || (request->dwFlags & needed) != needed ||
      request->iPixelType != PFD_TYPE_RGBA) {
    PlatformFail("ChoosePixelFormat: not a request for an RGBA OpenGL window format");
    return 0;
  }
  GlFormat wanted;
  wanted.doubleBuffer = (request->dwFlags & PFD_DOUBLEBUFFER) ? 1 : 0;
  wanted.alphaBits = request->cAlphaBits ? 8 : 0;
  wanted.stencilBits = request->cStencilBits ? 8 : 0;
  // The closest match: the smallest offered depth that holds the request,
  // then each smaller one down to 16 bits (32 falls back to 24, then 16).
  int first = 3;  // no depth asked for: the depthless slot
  if (request->cDepthBits > 0) {
    first = 0;
    while (first < 2 && kDepthSlots[first + 1] >= request->cDepthBits) ++first;
  }
  int last = request->cDepthBits > 0 ? 2 : 3;
  // A stencil buffer that cannot be given is dropped last: the caller reads
  // the bits it got.
  for (int stencil = wanted.stencilBits; stencil >= 0; stencil -= 8) {
    wanted.stencilBits = stencil;
    for (int slot = first; slot <= last; ++slot) {
      wanted.depthBits = kDepthSlots[slot];
      if (BackendFormatAvailable(dc->window->surface, wanted)) return FormatIndex(wanted);
    }
  }
  // The backend has given the reason of the last probe's failure.
  PlatformFail(std::string("ChoosePixelFormat: no OpenGL format with a depth buffer: ") +
               State().failure);
  return 0;
}

BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR*) {
  GlFormat wanted;
  if (dc == nullptr || !IsLive(dc->window) || !FormatOfIndex(format, &wanted)) {
    PlatformFail("SetPixelFormat: no window or no such format");
    return FALSE;
  }
  HWND window = dc->window;
  if (window->pixelFormat != 0) {
    if (window->pixelFormat == format) return TRUE;
    PlatformFail("SetPixelFormat: the window already has another format");
    return FALSE;
  }
  if (!BackendSetSurfaceFormat(window->surface, wanted)) return FALSE;
  window->pixelFormat = format;
  return TRUE;
}

HGLRC wglCreateContext(HDC dc) {
  if (dc == nullptr || !IsLive(dc->window) || dc->window->pixelFormat == 0) {
    PlatformFail("wglCreateContext: the window has no pixel format");
    return nullptr;
  }
  BackendContext* made = BackendCreateContext(dc->window->surface);
  if (made == nullptr) return nullptr;
  auto context = std::make_unique<RenderingContextRecord>();
  context->context = made;
  context->window = dc->window;
  State().contexts.push_back(std::move(context));
  return State().contexts.back().get();
}

BOOL wglMakeCurrent(HDC dc, HGLRC context) {
  if (context == nullptr) {
    // Releases the thread's current context; fails when there is none to
    // release through this device context, as with an unset format.
    BackendReleaseCurrent();
    return dc != nullptr ? TRUE : FALSE;
  }
  if (dc == nullptr || !IsLive(dc->window) || context->window != dc->window) {
    PlatformFail("wglMakeCurrent: the context was not made for this device context");
    return FALSE;
  }
  return BackendMakeCurrent(dc->window->surface, context->context) ? TRUE : FALSE;
}

BOOL wglDeleteContext(HGLRC context) {
  PlatformState& state = State();
  for (auto it = state.contexts.begin(); it != state.contexts.end(); ++it) {
    if (it->get() != context) continue;
    BackendDeleteContext(context->context);
    state.contexts.erase(it);
    return TRUE;
  }
  return FALSE;
}

BOOL SwapBuffers(HDC dc) {
  if (!HasSurface(dc)) return FALSE;
  BackendSwap(dc->window->surface);
  CountPresentedFrame();
  return TRUE;
}

// ---- The core's services to the run harness ----

BackendSurface* LiveSurface(HWND window) {
  return IsLive(window) ? window->surface : nullptr;
}

HWND WindowOfDeviceContext(HDC dc) {
  return HasSurface(dc) ? dc->window : nullptr;
}

void PostWindowMessage(HWND window, UINT code) {
  State().posted.push_back(MakeMessage(window, code));
}

// ---- The viewer's services ----

bool ToggleFullscreen(HWND window) {
  if (!IsLive(window) || window->surface == nullptr) return false;
  return BackendToggleFullscreen(window->surface);
}
