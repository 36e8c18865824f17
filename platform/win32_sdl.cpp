// The Windows-shaped services of win32.h over SDL2: windows, the message
// queue with key translation, pixel formats as SDL GL attributes, contexts,
// presentation, the title and the millisecond clock; and the run's own steps
// of platform.h (captures, virtual clock, frame limit). The only file that
// sees SDL, and Xlib only to take over its error handlers.
//
// Limits: one thread; one device context per window; pixel formats are the
// layer's own table (8-bit RGB like a true-colour desktop, optional alpha and
// stencil, depth 32/24/16/none, single or double buffer); key messages carry
// no hardware scan code in lParam.
#include <SDL.h>
#include <SDL_opengl.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/drop_files.h"
#include "platform/platform.h"
#include "platform/png_writer.h"
#include "platform/win32.h"

// The handle records. Windows keep their SDL window and the attributes of
// the GL format it was made with; a device context belongs to one window.
struct DeviceContextRecord {
  WindowRecord* window = nullptr;
};

// The SDL GL attributes one pixel format stands for.
struct GlFormat {
  int doubleBuffer = 1;  // 0 or 1
  int depthBits = 24;    // 32, 24, 16 or 0
  int alphaBits = 0;     // 0 or 8
  int stencilBits = 0;   // 0 or 8
};

struct WindowRecord {
  SDL_Window* sdlWindow = nullptr;
  WNDPROC procedure = nullptr;
  std::string title;
  int x = 0;  // SDL position or SDL_WINDOWPOS_UNDEFINED
  int y = 0;
  int clientWidth = 0;  // requested client size, pixels
  int clientHeight = 0;
  uint32_t sdlFlags = 0;  // flags the SDL window is (re)made with
  bool visible = false;
  bool alive = true;         // false once destroyed
  GlFormat sdlFormat;        // GL attributes of the current SDL window
  uint64_t configStamp = 0;  // GL-config generation the SDL window was made in
  int pixelFormat = 0;       // index given by SetPixelFormat; 0 = none yet
  DeviceContextRecord deviceContext;
};

struct RenderingContextRecord {
  SDL_GLContext context = nullptr;
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
  PlatformOptions options;
  bool videoReady = false;
  std::string failure;  // reason of the last failure
  std::vector<WindowClass> classes;
  std::vector<std::unique_ptr<WindowRecord>> windows;  // every window ever made
  std::vector<std::unique_ptr<RenderingContextRecord>> contexts;
  std::deque<MSG> posted;  // PostQuitMessage, --frames close
  std::deque<MSG> input;   // translated SDL events, scripted keys
  uint32_t presentedFrames = 0;
  size_t nextScriptedKey = 0;  // first options.keys entry not yet queued
  bool scriptHeld[256] = {};   // scripted keys currently down
  uint32_t virtualNow = 1;     // the virtual clock, ms
  uint64_t configStamp = 0;    // bumped by every GL window made
  uint32_t failedCaptures = 0;
  std::string windowSystemError;  // set by the X error handler: a window is gone
  WPARAM mouseButtons = 0;                 // MK_ bits of the buttons held, from SDL's events
  GLsync frameInFlight = nullptr;          // fence after the last headless frame
  SDL_GLContext frameInFlightContext = nullptr;  // the context that fence belongs to
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

// Keeps `reason` for PlatformFailureReason (the caller then returns its
// failure value).
void Fail(const std::string& reason) {
  State().failure = reason;
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

// The first live window: where keys go when the event names no window.
HWND FocusWindow() {
  for (const auto& w : State().windows) {
    if (w->alive) return w.get();
  }
  return nullptr;
}

// The live window whose SDL window has id `id`; null when none has.
HWND WindowOfSdlId(uint32_t id) {
  for (const auto& w : State().windows) {
    if (w->alive && w->sdlWindow != nullptr && SDL_GetWindowID(w->sdlWindow) == id) return w.get();
  }
  return nullptr;
}

// Whether the environment names an X11 or Wayland display at all.
bool DisplayAvailable() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display != nullptr && display[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

// Xlib's own handlers print a request dump and exit, or only exit. A request
// on a window or drawable that no longer exists means another client
// destroyed our window: kept for PeekMessageA, which ends the run. Other
// errors are reported once each and otherwise ignored.
int OnXError(Display* display, XErrorEvent* error) {
  char text[160] = "";
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::string& kept = State().windowSystemError;
  if (error->error_code == BadWindow || error->error_code == BadDrawable) {
    if (kept.empty()) kept = text;
  } else {
    std::fprintf(stderr, "shadow_volume: X error ignored: %s (request %d)\n", text,
                 error->request_code);
  }
  return 0;
}

// The display connection is gone; Xlib exits whatever this returns, so say
// it in one line and exit here.
int OnXIOError(Display*) {
  std::fputs("shadow_volume: the connection to the display was lost\n", stderr);
  std::fflush(stderr);
  std::_Exit(1);
}

// Starts SDL's video once; headless runs take the offscreen driver (EGL on
// Mesa), other runs a real window system only.
bool EnsureVideo() {
  PlatformState& state = State();
  if (state.videoReady) return true;
  if (state.options.headless) {
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
  } else if (!DisplayAvailable()) {
    // Say so plainly instead of letting every driver try and complain.
    Fail(
        "cannot open a window: no display (DISPLAY and WAYLAND_DISPLAY are unset); "
        "use --headless to run without one");
    return false;
  } else {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");
  }
  // Closing the window is the program's business (WM_CLOSE), not SDL's.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  // A drag keeps reporting motion when the cursor leaves the window, as a
  // window with the mouse captured does.
  SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "1");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (state.options.headless) {
      Fail(std::string("cannot start the offscreen video driver: ") + SDL_GetError());
    } else {
      Fail(std::string("cannot open the display: ") + SDL_GetError() +
           "; use --headless to run without one");
    }
    return false;
  }
  // Set after SDL's start-up, which installs handlers of its own.
  if (std::strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0) {
    XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnXIOError);
  }
  // Load the OpenGL library once for the whole run. SDL unloads it when its
  // last OpenGL window goes; the program keeps its context to the end, and
  // unloading Mesa while its allocations are live would only lose them.
  if (SDL_GL_LoadLibrary(nullptr) != 0) {
    Fail(std::string("cannot load the OpenGL library: ") + SDL_GetError());
    return false;
  }
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  state.videoReady = true;
  return true;
}

// Sets SDL's GL attributes for windows and contexts made next: `format`,
// 8-bit RGB and a compatibility profile (the program draws in immediate mode).
void SetGlAttributes(const GlFormat& format) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, format.alphaBits);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, format.depthBits);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, format.stencilBits);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, format.doubleBuffer);
}

// Makes (or remakes) the window's SDL window with `format`; the old one, if
// any, is destroyed only once the new one exists.
bool MakeSdlWindow(WindowRecord* window, const GlFormat& format) {
  SetGlAttributes(format);
  SDL_Window* made = SDL_CreateWindow(
      window->title.c_str(), window->x, window->y, window->clientWidth, window->clientHeight,
      window->sdlFlags | (window->visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN));
  if (made == nullptr) {
    Fail(std::string("cannot create the window: ") + SDL_GetError());
    return false;
  }
  State().configStamp += 1;
  if (window->sdlWindow != nullptr) SDL_DestroyWindow(window->sdlWindow);
  window->sdlWindow = made;
  window->sdlFormat = format;
  window->configStamp = State().configStamp;
  return true;
}

// Whether two formats ask SDL for the same GL configuration.
bool SameFormat(const GlFormat& a, const GlFormat& b) {
  return a.doubleBuffer == b.doubleBuffer && a.depthBits == b.depthBits &&
         a.alphaBits == b.alphaBits && a.stencilBits == b.stencilBits;
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

// Whether the GL driver offers `format` for a window: a hidden 1x1 probe.
bool FormatAvailable(const GlFormat& format) {
  SetGlAttributes(format);
  SDL_Window* probe = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1, 1,
                                       SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (probe == nullptr) return false;
  State().configStamp += 1;
  SDL_DestroyWindow(probe);
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

// The one key table: SDL key codes of the non-character keys and their
// virtual-key codes. Letters and digits are handled by VirtualKeyOf.
struct KeyPair {
  SDL_Keycode sdl;
  WPARAM virtualKey;
};
// clang-format off
constexpr KeyPair kKeyTable[] = {
    {SDLK_BACKSPACE, VK_BACK},     {SDLK_TAB, VK_TAB},              {SDLK_RETURN, VK_RETURN},
    {SDLK_KP_ENTER, VK_RETURN},    {SDLK_LSHIFT, VK_SHIFT},         {SDLK_RSHIFT, VK_SHIFT},
    {SDLK_LCTRL, VK_CONTROL},      {SDLK_RCTRL, VK_CONTROL},        {SDLK_LALT, VK_MENU},
    {SDLK_RALT, VK_MENU},          {SDLK_PAUSE, VK_PAUSE},          {SDLK_CAPSLOCK, VK_CAPITAL},
    {SDLK_ESCAPE, VK_ESCAPE},      {SDLK_SPACE, VK_SPACE},          {SDLK_PAGEUP, VK_PRIOR},
    {SDLK_PAGEDOWN, VK_NEXT},      {SDLK_END, VK_END},              {SDLK_HOME, VK_HOME},
    {SDLK_LEFT, VK_LEFT},          {SDLK_UP, VK_UP},                {SDLK_RIGHT, VK_RIGHT},
    {SDLK_DOWN, VK_DOWN},          {SDLK_PRINTSCREEN, VK_SNAPSHOT}, {SDLK_INSERT, VK_INSERT},
    {SDLK_DELETE, VK_DELETE},      {SDLK_LGUI, VK_LWIN},            {SDLK_RGUI, VK_RWIN},
    {SDLK_APPLICATION, VK_APPS},   {SDLK_KP_0, VK_NUMPAD0},         {SDLK_KP_1, VK_NUMPAD1},
    {SDLK_KP_2, VK_NUMPAD2},       {SDLK_KP_3, VK_NUMPAD3},         {SDLK_KP_4, VK_NUMPAD4},
    {SDLK_KP_5, VK_NUMPAD5},       {SDLK_KP_6, VK_NUMPAD6},         {SDLK_KP_7, VK_NUMPAD7},
    {SDLK_KP_8, VK_NUMPAD8},       {SDLK_KP_9, VK_NUMPAD9},         {SDLK_KP_MULTIPLY, VK_MULTIPLY},
    {SDLK_KP_PLUS, VK_ADD},        {SDLK_KP_MINUS, VK_SUBTRACT},    {SDLK_KP_PERIOD, VK_DECIMAL},
    {SDLK_KP_DIVIDE, VK_DIVIDE},   {SDLK_F1, VK_F1},                {SDLK_F2, VK_F2},
    {SDLK_F3, VK_F3},              {SDLK_F4, VK_F4},                {SDLK_F5, VK_F5},
    {SDLK_F6, VK_F6},              {SDLK_F7, VK_F7},                {SDLK_F8, VK_F8},
    {SDLK_F9, VK_F9},              {SDLK_F10, VK_F10},              {SDLK_F11, VK_F11},
    {SDLK_F12, VK_F12},            {SDLK_NUMLOCKCLEAR, VK_NUMLOCK}, {SDLK_SCROLLLOCK, VK_SCROLL},
    {SDLK_SEMICOLON, VK_OEM_1},    {SDLK_EQUALS, VK_OEM_PLUS},      {SDLK_COMMA, VK_OEM_COMMA},
    {SDLK_MINUS, VK_OEM_MINUS},    {SDLK_PERIOD, VK_OEM_PERIOD},    {SDLK_SLASH, VK_OEM_2},
    {SDLK_BACKQUOTE, VK_OEM_3},    {SDLK_LEFTBRACKET, VK_OEM_4},    {SDLK_BACKSLASH, VK_OEM_5},
    {SDLK_RIGHTBRACKET, VK_OEM_6}, {SDLK_QUOTE, VK_OEM_7},
};
// clang-format on

// The virtual-key code of an SDL key, 0 for keys the table does not know.
WPARAM VirtualKeyOf(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return static_cast<WPARAM>('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return static_cast<WPARAM>('0' + (key - SDLK_0));
  for (const KeyPair& pair : kKeyTable) {
    if (pair.sdl == key) return pair.virtualKey;
  }
  return 0;
}

// lParam of a mouse message: the client position, x in the low word and y
// in the high word, each as a 16-bit two's-complement number.
LPARAM MouseLParam(int x, int y) {
  return static_cast<LPARAM>(static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}

// wParam of WM_MOUSEWHEEL: `delta` (a notch is WHEEL_DELTA) in the high word,
// the buttons held in the low word.
WPARAM WheelWParam(int delta, WPARAM buttons) {
  return (static_cast<WPARAM>(static_cast<uint16_t>(delta)) << 16) | (buttons & 0xFFFF);
}

// The MK_ bit of an SDL button; 0 for the buttons the program does not use.
WPARAM ButtonBit(uint8_t button) {
  return button == SDL_BUTTON_LEFT ? MK_LBUTTON : button == SDL_BUTTON_RIGHT ? MK_RBUTTON : 0;
}

// The window an SDL event names, else the focus window.
HWND EventWindow(uint32_t windowId) {
  HWND window = WindowOfSdlId(windowId);
  return window != nullptr ? window : FocusWindow();
}

// Turns one SDL mouse or drop event into queued messages; true when the
// event was one of them.
bool TranslateSdlPointerEvent(const SDL_Event& event) {
  PlatformState& state = State();
  switch (event.type) {
    case SDL_MOUSEMOTION: {
      HWND window = EventWindow(event.motion.windowID);
      if (window != nullptr)
        state.input.push_back(MakeMessage(window, WM_MOUSEMOVE, state.mouseButtons,
                                          MouseLParam(event.motion.x, event.motion.y)));
      return true;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      const WPARAM bit = ButtonBit(event.button.button);
      HWND window = EventWindow(event.button.windowID);
      if (bit == 0 || window == nullptr) return true;
      const bool down = event.type == SDL_MOUSEBUTTONDOWN;
      state.mouseButtons = down ? (state.mouseButtons | bit) : (state.mouseButtons & ~bit);
      const UINT code = bit == MK_LBUTTON ? (down ? WM_LBUTTONDOWN : WM_LBUTTONUP)
                                          : (down ? WM_RBUTTONDOWN : WM_RBUTTONUP);
      state.input.push_back(
          MakeMessage(window, code, state.mouseButtons, MouseLParam(event.button.x, event.button.y)));
      return true;
    }
    case SDL_MOUSEWHEEL: {
      HWND window = EventWindow(event.wheel.windowID);
      if (window == nullptr) return true;
      float notches = event.wheel.preciseY;
      if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
      const float delta = std::max(-32767.0f, std::min(32767.0f, notches * WHEEL_DELTA));
      int x = 0, y = 0;
      SDL_GetMouseState(&x, &y);
      state.input.push_back(MakeMessage(window, WM_MOUSEWHEEL,
                                        WheelWParam(static_cast<int>(delta), state.mouseButtons),
                                        MouseLParam(x, y)));
      return true;
    }
    case SDL_DROPFILE: {
      HWND window = EventWindow(event.drop.windowID);
      if (event.drop.file != nullptr && window != nullptr) {
        HDROP drop = MakeDrop({event.drop.file});
        state.input.push_back(MakeMessage(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop)));
      }
      SDL_free(event.drop.file);
      return true;
    }
    default:
      return false;
  }
}

// Turns one SDL event into a queued message; events without a meaning for
// the program (focus, unknown keys, other buttons) are dropped.
void TranslateSdlEvent(const SDL_Event& event) {
  PlatformState& state = State();
  if (TranslateSdlPointerEvent(event)) return;
  switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      WPARAM key = VirtualKeyOf(event.key.keysym.sym);
      HWND window = WindowOfSdlId(event.key.windowID);
      if (window == nullptr) window = FocusWindow();
      if (key == 0 || window == nullptr) return;
      bool down = event.type == SDL_KEYDOWN;
      bool alt = (event.key.keysym.mod & KMOD_ALT) != 0;
      state.input.push_back(KeyMessage(window, key, down, event.key.repeat != 0, alt));
      return;
    }
    case SDL_WINDOWEVENT: {
      HWND window = WindowOfSdlId(event.window.windowID);
      if (window == nullptr) return;
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
        state.input.push_back(MakeMessage(window, WM_CLOSE));
      } else if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        // lParam: the new client width in the low word, the height in the high.
        const LPARAM size = static_cast<LPARAM>((event.window.data1 & 0xFFFF) |
                                                ((event.window.data2 & 0xFFFF) << 16));
        state.input.push_back(MakeMessage(window, WM_SIZE, 0, size));
      }
      return;
    }
    case SDL_QUIT: {
      // A quit request from outside (signal, session end) closes the window.
      HWND window = FocusWindow();
      if (window != nullptr) state.input.push_back(MakeMessage(window, WM_CLOSE));
      return;
    }
    default:
      return;
  }
}

// Queues the messages of a scripted mouse or drop event for `window`: a
// drag from the client area's centre, with the button held, one move and the
// release; wheel notches in messages of at most 100 notches each; a drop.
void QueueScriptedPointerEvent(HWND window, const ScriptedKey& event) {
  PlatformState& state = State();
  if (event.kind == ScriptedKind::kDrop) {
    HDROP drop = MakeDrop({event.path});
    state.input.push_back(MakeMessage(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop)));
    return;
  }
  RECT client{};
  GetClientRect(window, &client);
  const int x = (client.right - client.left) / 2, y = (client.bottom - client.top) / 2;
  if (event.kind == ScriptedKind::kWheel) {
    for (int left = event.dx; left != 0;) {
      const int notches = std::max(-100, std::min(100, left));
      left -= notches;
      state.input.push_back(
          MakeMessage(window, WM_MOUSEWHEEL, WheelWParam(notches * WHEEL_DELTA, 0), MouseLParam(x, y)));
    }
    return;
  }
  const bool left = event.kind == ScriptedKind::kDrag;
  const WPARAM bit = left ? MK_LBUTTON : MK_RBUTTON;
  state.input.push_back(MakeMessage(window, left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, bit, MouseLParam(x, y)));
  const LPARAM end = MouseLParam(x + event.dx, y + event.dy);
  state.input.push_back(MakeMessage(window, WM_MOUSEMOVE, bit, end));
  state.input.push_back(MakeMessage(window, left ? WM_LBUTTONUP : WM_RBUTTONUP, 0, end));
}

// Queues the scripted events of the frame about to be drawn (and of any
// earlier frame not yet reached), in script order.
void QueueScriptedKeys() {
  PlatformState& state = State();
  uint32_t nextFrame = state.presentedFrames + 1;
  while (state.nextScriptedKey < state.options.keys.size() &&
         state.options.keys[state.nextScriptedKey].frame <= nextFrame) {
    const ScriptedKey& key = state.options.keys[state.nextScriptedKey++];
    HWND window = FocusWindow();
    if (window == nullptr) continue;
    if (key.kind != ScriptedKind::kKey) {
      QueueScriptedPointerEvent(window, key);
      continue;
    }
    uint32_t code = key.virtualKey & 0xFF;
    bool wasDown = state.scriptHeld[code];
    state.scriptHeld[code] = key.down;
    state.input.push_back(KeyMessage(window, key.virtualKey, key.down, wasDown, key.alt));
  }
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

// Destroys a window: WM_DESTROY through its procedure, then the SDL window.
void DestroyWindowNow(HWND window) {
  if (!IsLive(window)) return;
  window->alive = false;
  if (window->procedure != nullptr) window->procedure(window, WM_DESTROY, 0, 0);
  if (window->sdlWindow != nullptr) {
    SDL_DestroyWindow(window->sdlWindow);
    window->sdlWindow = nullptr;
  }
}

// Whether `dc` belongs to a live window that has an SDL window to draw in.
bool HasSurface(HDC dc) {
  return dc != nullptr && IsLive(dc->window) && dc->window->sdlWindow != nullptr;
}

// Reads the back buffer of `window` and writes it as an upright PNG.
void WriteCapture(HWND window, const std::string& path) {
  int width = 0;
  int height = 0;
  SDL_GL_GetDrawableSize(window->sdlWindow, &width, &height);
  std::string error;
  if (width <= 0 || height <= 0) {
    std::fprintf(stderr, "capture: %s: the window has no pixels\n", path.c_str());
    return;
  }
  size_t rowBytes = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> bottomUp(rowBytes * height);
  GLint oldAlignment = 4;
  GLint oldReadBuffer = GL_BACK;
  glGetIntegerv(GL_PACK_ALIGNMENT, &oldAlignment);
  glGetIntegerv(GL_READ_BUFFER, &oldReadBuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  // The offscreen driver's surface is a single-buffered pbuffer, where
  // frames are drawn to the front buffer; a window's frames go to the back.
  GLboolean doubleBuffered = GL_FALSE;
  glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffered);
  glReadBuffer(doubleBuffered ? GL_BACK : GL_FRONT);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
  glPixelStorei(GL_PACK_ALIGNMENT, oldAlignment);
  glReadBuffer(static_cast<GLenum>(oldReadBuffer));
  std::vector<uint8_t> upright(bottomUp.size());
  for (int y = 0; y < height; ++y) {
    std::memcpy(&upright[static_cast<size_t>(y) * rowBytes],
                &bottomUp[static_cast<size_t>(height - 1 - y) * rowBytes], rowBytes);
  }
  if (!WritePngRgb(path, width, height, upright.data(), &error)) {
    std::fprintf(stderr, "capture: %s\n", error.c_str());
    State().failedCaptures += 1;
  }
}

// Ends the run once the X error handler has seen our window vanish: the
// window cannot take WM_DESTROY any more, so it is only marked gone.
void EndRunIfWindowLost() {
  PlatformState& state = State();
  if (state.windowSystemError.empty() || FocusWindow() == nullptr) return;
  for (const auto& w : state.windows) w->alive = false;
  std::fprintf(stderr, "shadow_volume: the window was destroyed from outside (%s)\n",
               state.windowSystemError.c_str());
  PostQuitMessage(1);
}

// The fence calls are OpenGL 3.2 (or ARB_sync): looked up once, null when
// the driver lacks them.
struct FenceCalls {
  PFNGLFENCESYNCPROC fenceSync = nullptr;
  PFNGLCLIENTWAITSYNCPROC clientWaitSync = nullptr;
  PFNGLDELETESYNCPROC deleteSync = nullptr;
};

const FenceCalls& Fences() {
  static const FenceCalls calls = [] {
    FenceCalls c;
    c.fenceSync = reinterpret_cast<PFNGLFENCESYNCPROC>(SDL_GL_GetProcAddress("glFenceSync"));
    c.clientWaitSync =
        reinterpret_cast<PFNGLCLIENTWAITSYNCPROC>(SDL_GL_GetProcAddress("glClientWaitSync"));
    c.deleteSync = reinterpret_cast<PFNGLDELETESYNCPROC>(SDL_GL_GetProcAddress("glDeleteSync"));
    if (!c.fenceSync || !c.clientWaitSync || !c.deleteSync) c = FenceCalls{};
    return c;
  }();
  return calls;
}

// A headless swap chain of two buffers: the frame just submitted may still
// be drawing, but the one before it must be finished before the program
// goes on, as a window's swap would wait for its free buffer. Without this
// Mesa queues frames ahead and the first titles read far too fast. Without
// fences, every frame is waited for completely.
void KeepOneFrameInFlight() {
  PlatformState& state = State();
  const FenceCalls& calls = Fences();
  SDL_GLContext context = SDL_GL_GetCurrentContext();
  if (calls.fenceSync == nullptr) {
    glFinish();
    return;
  }
  GLsync previous = state.frameInFlightContext == context ? state.frameInFlight : nullptr;
  state.frameInFlight = calls.fenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  state.frameInFlightContext = context;
  glFlush();
  if (previous == nullptr) return;
  const GLuint64 oneSecond = 1000000000;
  while (calls.clientWaitSync(previous, GL_SYNC_FLUSH_COMMANDS_BIT, oneSecond) ==
         GL_TIMEOUT_EXPIRED) {
  }
  calls.deleteSync(previous);
}

}  // namespace

// ---- The layer's own controls ----

void ConfigurePlatform(const PlatformOptions& options) {
  PlatformState& state = State();
  state.options = options;
  state.presentedFrames = 0;
  state.nextScriptedKey = 0;
  std::memset(state.scriptHeld, 0, sizeof state.scriptHeld);
  state.virtualNow = 1;
  state.failedCaptures = 0;
}

const char* PlatformFailureReason() {
  return State().failure.c_str();
}

HINSTANCE PlatformInstance() {
  return &State().instance;
}

uint32_t PresentedFrameCount() {
  return State().presentedFrames;
}

const PlatformOptions& ConfiguredPlatformOptions() {
  return State().options;
}

uint32_t FailedCaptureCount() {
  return State().failedCaptures;
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
    Fail("RegisterClassExA: the class record's cbSize is not sizeof(WNDCLASSEXA)");
    return 0;
  }
  if (windowClass->lpfnWndProc == nullptr || windowClass->lpszClassName == nullptr) {
    Fail("RegisterClassExA: the class has no window procedure or no name");
    return 0;
  }
  for (const WindowClass& known : state.classes) {
    if (known.name == windowClass->lpszClassName) {
      Fail(std::string("RegisterClassExA: class \"") + known.name + "\" is already registered");
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
    Fail(std::string("CreateWindowExA: no window class \"") + (className ? className : "") + "\"");
    return nullptr;
  }
  if (!EnsureVideo()) return nullptr;

  auto window = std::make_unique<WindowRecord>();
  window->procedure = windowClass->procedure;
  window->title = windowName != nullptr ? windowName : "";
  bool defaultPlace = x == CW_USEDEFAULT;
  window->x = defaultPlace ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : x;
  window->y = defaultPlace ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : y;
  window->clientWidth = width == CW_USEDEFAULT || width <= 0 ? 640 : width;
  window->clientHeight = width == CW_USEDEFAULT || height <= 0 ? 480 : height;
  window->sdlFlags = SDL_WINDOW_OPENGL | ((style & WS_THICKFRAME) ? SDL_WINDOW_RESIZABLE : 0);
  window->visible = (style & WS_VISIBLE) != 0;
  window->deviceContext.window = window.get();
  if (!MakeSdlWindow(window.get(), GlFormat{})) return nullptr;

  HWND handle = window.get();
  state.windows.push_back(std::move(window));
  // Windows aborts the creation when WM_CREATE returns -1.
  if (handle->procedure(handle, WM_CREATE, 0, 0) == -1) {
    DestroyWindowNow(handle);
    Fail("CreateWindowExA: the window procedure refused WM_CREATE");
    return nullptr;
  }
  return handle;
}

BOOL ShowWindow(HWND window, int showCommand) {
  if (!IsLive(window)) return FALSE;
  BOOL wasVisible = window->visible ? TRUE : FALSE;
  window->visible = showCommand != SW_HIDE;
  if (!window->visible) {
    SDL_HideWindow(window->sdlWindow);
    return wasVisible;
  }
  SDL_ShowWindow(window->sdlWindow);
  // Where the window system reports a frame, the given size was the outer
  // size: shrink the client by the frame.
  int top = 0, left = 0, bottom = 0, right = 0;
  if (!wasVisible &&
      SDL_GetWindowBordersSize(window->sdlWindow, &top, &left, &bottom, &right) == 0 &&
      (top | left | bottom | right) != 0) {
    window->clientWidth = std::max(1, window->clientWidth - left - right);
    window->clientHeight = std::max(1, window->clientHeight - top - bottom);
    SDL_SetWindowSize(window->sdlWindow, window->clientWidth, window->clientHeight);
  }
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
  QueueScriptedKeys();
  if (state.videoReady) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) TranslateSdlEvent(event);
    EndRunIfWindowLost();
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
  if (rect == nullptr || !IsLive(window) || window->sdlWindow == nullptr) return FALSE;
  int width = 0;
  int height = 0;
  SDL_GL_GetDrawableSize(window->sdlWindow, &width, &height);
  *rect = RECT{0, 0, width, height};
  return TRUE;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (!IsLive(window)) return FALSE;
  window->title = text != nullptr ? text : "";
  SDL_SetWindowTitle(window->sdlWindow, window->title.c_str());
  if (State().options.headless) {
    std::fprintf(stderr, "title: %s\n", window->title.c_str());
    std::fflush(stderr);
  }
  return TRUE;
}

// ---- Pixel formats and contexts ----

int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* request) {
  if (dc == nullptr || !IsLive(dc->window)) {
    Fail("ChoosePixelFormat: no window behind the device context");
    return 0;
  }
  const DWORD needed = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
  if (request == nullptr || request->nSize != sizeof(PIXELFORMATDESCRIPTOR) ||
      request->nVersion != 1 || (request->dwFlags & needed) != needed ||
      request->iPixelType != PFD_TYPE_RGBA) {
    Fail("ChoosePixelFormat: not a request for an RGBA OpenGL window format");
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
  for (int slot = first; slot <= last; ++slot) {
    wanted.depthBits = kDepthSlots[slot];
    // The window's own format needs no probe: the window is the proof.
    if (SameFormat(wanted, dc->window->sdlFormat)) return FormatIndex(wanted);
    if (FormatAvailable(wanted)) return FormatIndex(wanted);
  }
  Fail(std::string("ChoosePixelFormat: no OpenGL format with a depth buffer: ") + SDL_GetError());
  return 0;
}

BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR*) {
  GlFormat wanted;
  if (dc == nullptr || !IsLive(dc->window) || !FormatOfIndex(format, &wanted)) {
    Fail("SetPixelFormat: no window or no such format");
    return FALSE;
  }
  HWND window = dc->window;
  if (window->pixelFormat != 0) {
    if (window->pixelFormat == format) return TRUE;
    Fail("SetPixelFormat: the window already has another format");
    return FALSE;
  }
  // The GL config is fixed when an SDL window is made; remake the window if
  // it was made with other attributes, or if a probe window was made since
  // (EGL keeps the config of the last window made for the next context).
  if (!SameFormat(window->sdlFormat, wanted) || window->configStamp != State().configStamp) {
    if (!MakeSdlWindow(window, wanted)) return FALSE;
  }
  window->pixelFormat = format;
  return TRUE;
}

HGLRC wglCreateContext(HDC dc) {
  if (dc == nullptr || !IsLive(dc->window) || dc->window->pixelFormat == 0) {
    Fail("wglCreateContext: the window has no pixel format");
    return nullptr;
  }
  SetGlAttributes(dc->window->sdlFormat);
  SDL_GLContext made = SDL_GL_CreateContext(dc->window->sdlWindow);
  if (made == nullptr) {
    Fail(std::string("wglCreateContext: ") + SDL_GetError());
    return nullptr;
  }
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
    if (SDL_GL_GetCurrentContext() != nullptr) SDL_GL_MakeCurrent(nullptr, nullptr);
    return dc != nullptr ? TRUE : FALSE;
  }
  if (dc == nullptr || !IsLive(dc->window) || context->window != dc->window) {
    Fail("wglMakeCurrent: the context was not made for this device context");
    return FALSE;
  }
  if (SDL_GL_MakeCurrent(dc->window->sdlWindow, context->context) != 0) {
    Fail(std::string("wglMakeCurrent: ") + SDL_GetError());
    return FALSE;
  }
  // A window's frames follow the display's refresh: adaptive sync (a late
  // frame is shown at once) where the driver offers it, else plain. A
  // headless surface has no display to wait for.
  if (!State().options.headless) {
    const bool vsync = State().options.vsync;
    if (SDL_GL_SetSwapInterval(vsync ? -1 : 0) != 0 && vsync) SDL_GL_SetSwapInterval(1);
  }
  return TRUE;
}

BOOL wglDeleteContext(HGLRC context) {
  PlatformState& state = State();
  for (auto it = state.contexts.begin(); it != state.contexts.end(); ++it) {
    if (it->get() != context) continue;
    if (SDL_GL_GetCurrentContext() == context->context) SDL_GL_MakeCurrent(nullptr, nullptr);
    if (state.frameInFlightContext == context->context) {
      state.frameInFlight = nullptr;  // went with its context
      state.frameInFlightContext = nullptr;
    }
    SDL_GL_DeleteContext(context->context);
    state.contexts.erase(it);
    return TRUE;
  }
  return FALSE;
}

BOOL SwapBuffers(HDC dc) {
  if (!HasSurface(dc)) return FALSE;
  SDL_GL_SwapWindow(dc->window->sdlWindow);
  // A window's swap flushes by itself. A headless surface is a pbuffer, whose
  // swap does nothing: without the flush and wait here Mesa would keep
  // queueing every frame's commands, unrendered, and the process would grow
  // by about a megabyte per frame.
  if (State().options.headless) KeepOneFrameInFlight();
  State().presentedFrames += 1;
  return TRUE;
}

// ---- The run's steps around SwapBuffers ----

void CaptureFrame(HDC dc) {
  if (!HasSurface(dc)) return;
  const uint32_t frame = State().presentedFrames + 1;
  for (const CaptureRequest& capture : State().options.captures) {
    if (capture.frame == frame) WriteCapture(dc->window, capture.path);
  }
}

void StepVirtualClock() {
  PlatformState& state = State();
  if (state.options.virtualClock) state.virtualNow += state.options.clockStep;
}

void CloseAtFrameLimit(HWND window) {
  PlatformState& state = State();
  if (state.options.frameLimit == 0 || state.presentedFrames != state.options.frameLimit) return;
  state.posted.push_back(MakeMessage(window, WM_CLOSE));
}

DWORD timeGetTime() {
  if (State().options.virtualClock) return State().virtualNow;
  auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
  return static_cast<DWORD>(static_cast<uint64_t>(ms));
}

// ---- The viewer's services ----

bool ToggleFullscreen(HWND window) {
  if (!IsLive(window) || window->sdlWindow == nullptr) return false;
  const bool fullscreen = (SDL_GetWindowFlags(window->sdlWindow) & SDL_WINDOW_FULLSCREEN) != 0;
  if (State().options.headless) return fullscreen;  // an offscreen surface keeps its size
  if (SDL_SetWindowFullscreen(window->sdlWindow, fullscreen ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP) != 0)
    return fullscreen;
  return !fullscreen;
}
