// The SDL2 backend of the platform layer (backend.h): SDL windows (the
// offscreen driver over EGL and Mesa for --headless), SDL GL attributes as
// pixel formats, compatibility-profile contexts, SDL events as messages, and
// the millisecond clock. The only file that sees SDL, and Xlib only to take
// over its error handlers.
#include <SDL.h>
#include <SDL_opengl.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"

// One SDL window and the GL attributes it was made with.
struct BackendSurface {
  SDL_Window* sdlWindow = nullptr;
  std::string title;
  int x = 0;  // SDL position or SDL_WINDOWPOS_UNDEFINED
  int y = 0;
  int clientWidth = 0;  // requested client size, pixels
  int clientHeight = 0;
  uint32_t sdlFlags = 0;  // flags the SDL window is (re)made with
  bool visible = false;
  GlFormat sdlFormat;        // GL attributes of the current SDL window
  uint64_t configStamp = 0;  // GL-config generation the SDL window was made in
};

struct BackendContext {
  SDL_GLContext context = nullptr;
};

namespace {

// The backend's own state for the run.
struct SdlState {
  bool videoReady = false;
  uint64_t configStamp = 0;       // bumped by every GL window made
  std::string windowSystemError;  // set by the X error handler: a window is gone
  WPARAM mouseButtons = 0;        // MK_ bits of the buttons held, from SDL's events
  GLsync frameInFlight = nullptr;                // fence after the last headless frame
  SDL_GLContext frameInFlightContext = nullptr;  // the context that fence belongs to
  // Headless frames submitted and frames known finished (the fence waited
  // for, or glFinish), and the most submitted and unfinished at the return
  // of any headless swap.
  uint32_t framesSubmitted = 0;
  uint32_t framesFinished = 0;
  uint32_t mostFramesInFlight = 0;
  // Every context record made and not deleted. The program never deletes its
  // one context; held here, the record goes with the process's own state.
  std::vector<std::unique_ptr<BackendContext>> contexts;
};

SdlState& Sdl() {
  static SdlState state;
  return state;
}

bool Headless() {
  return ConfiguredPlatformOptions().headless;
}

// Whether the environment names an X11 or Wayland display at all.
bool DisplayAvailable() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display != nullptr && display[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

// Xlib's own handlers print a request dump and exit, or only exit. A request
// on a window or drawable that no longer exists means another client
// destroyed our window: kept for the event pump, which ends the run. Other
// errors are reported once each and otherwise ignored.
int OnXError(Display* display, XErrorEvent* error) {
  char text[160] = "";
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::string& kept = Sdl().windowSystemError;
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

// Makes (or remakes) the surface's SDL window with `format`; the old one, if
// any, is destroyed only once the new one exists.
bool MakeSdlWindow(BackendSurface* surface, const GlFormat& format) {
  SetGlAttributes(format);
  SDL_Window* made = SDL_CreateWindow(
      surface->title.c_str(), surface->x, surface->y, surface->clientWidth, surface->clientHeight,
      surface->sdlFlags | (surface->visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN));
  if (made == nullptr) {
    PlatformFail(std::string("cannot create the window: ") + SDL_GetError());
    return false;
  }
  Sdl().configStamp += 1;
  if (surface->sdlWindow != nullptr) SDL_DestroyWindow(surface->sdlWindow);
  SDL_SetWindowData(made, "surface", surface);
  surface->sdlWindow = made;
  surface->sdlFormat = format;
  surface->configStamp = Sdl().configStamp;
  return true;
}

// The live window whose SDL window has id `id`; null when none has.
HWND WindowOfSdlId(uint32_t id) {
  SDL_Window* sdlWindow = SDL_GetWindowFromID(id);
  if (sdlWindow == nullptr) return nullptr;
  return WindowOfSurface(static_cast<BackendSurface*>(SDL_GetWindowData(sdlWindow, "surface")));
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

// The MK_ bit of an SDL button; 0 for the buttons the program does not use.
WPARAM ButtonBit(uint8_t button) {
  return button == SDL_BUTTON_LEFT ? MK_LBUTTON : button == SDL_BUTTON_RIGHT ? MK_RBUTTON : 0;
}

// The window an SDL event names, else the focus window.
HWND EventWindow(uint32_t windowId) {
  HWND window = WindowOfSdlId(windowId);
  return window != nullptr ? window : PlatformFocusWindow();
}

// Turns one SDL mouse or drop event into queued messages; true when the
// event was one of them (whether or not it meant anything to the program).
bool TranslateSdlPointerEvent(const SDL_Event& event) {
  WPARAM& buttons = Sdl().mouseButtons;
  switch (event.type) {
    case SDL_MOUSEMOTION: {
      HWND window = EventWindow(event.motion.windowID);
      if (window != nullptr)
        QueueMouseMessage(window, WM_MOUSEMOVE, buttons, event.motion.x, event.motion.y);
      return true;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      const WPARAM bit = ButtonBit(event.button.button);
      HWND window = EventWindow(event.button.windowID);
      if (bit == 0 || window == nullptr) return true;
      const bool down = event.type == SDL_MOUSEBUTTONDOWN;
      buttons = down ? (buttons | bit) : (buttons & ~bit);
      const UINT code = bit == MK_LBUTTON ? (down ? WM_LBUTTONDOWN : WM_LBUTTONUP)
                                          : (down ? WM_RBUTTONDOWN : WM_RBUTTONUP);
      QueueMouseMessage(window, code, buttons, event.button.x, event.button.y);
      return true;
    }
    case SDL_MOUSEWHEEL: {
      HWND window = EventWindow(event.wheel.windowID);
      if (window == nullptr) return true;
      float notches = event.wheel.preciseY;
      if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
      int x = 0, y = 0;
      SDL_GetMouseState(&x, &y);
      const float delta = std::max(-32768.0f, std::min(32767.0f, notches * WHEEL_DELTA));
      QueueWheelMessage(window, static_cast<int>(delta), buttons, x, y);
      return true;
    }
    case SDL_DROPFILE: {
      HWND window = EventWindow(event.drop.windowID);
      if (event.drop.file != nullptr && window != nullptr)
        QueueDroppedFiles(window, {std::string(event.drop.file)});
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
  if (TranslateSdlPointerEvent(event)) return;
  switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      WPARAM key = VirtualKeyOf(event.key.keysym.sym);
      HWND window = WindowOfSdlId(event.key.windowID);
      if (window == nullptr) window = PlatformFocusWindow();
      if (key == 0 || window == nullptr) return;
      bool down = event.type == SDL_KEYDOWN;
      bool alt = (event.key.keysym.mod & KMOD_ALT) != 0;
      QueueKeyMessage(window, key, down, event.key.repeat != 0, alt);
      return;
    }
    case SDL_WINDOWEVENT: {
      HWND window = WindowOfSdlId(event.window.windowID);
      if (window == nullptr) return;
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
        QueueWindowMessage(window, WM_CLOSE);
      } else if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        // lParam: the new client width in the low word, the height in the high.
        const LPARAM size = static_cast<LPARAM>((event.window.data1 & 0xFFFF) |
                                                ((event.window.data2 & 0xFFFF) << 16));
        QueueWindowMessage(window, WM_SIZE, 0, size);
      }
      return;
    }
    case SDL_QUIT: {
      // A quit request from outside (signal, session end) closes the window.
      HWND window = PlatformFocusWindow();
      if (window != nullptr) QueueWindowMessage(window, WM_CLOSE);
      return;
    }
    default:
      return;
  }
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
  SdlState& state = Sdl();
  const FenceCalls& calls = Fences();
  SDL_GLContext context = SDL_GL_GetCurrentContext();
  ++state.framesSubmitted;
  // Counted on every way out.
  struct Note {
    SdlState& state;
    ~Note() {
      const uint32_t inFlight = state.framesSubmitted - state.framesFinished;
      if (inFlight > state.mostFramesInFlight) state.mostFramesInFlight = inFlight;
    }
  } note{state};
  if (calls.fenceSync == nullptr) {
    glFinish();
    state.framesFinished = state.framesSubmitted;
    return;
  }
  GLsync previous = state.frameInFlightContext == context ? state.frameInFlight : nullptr;
  // A fence of another context went with that context's frames: none of
  // them is waited for any more.
  if (previous == nullptr) state.framesFinished = state.framesSubmitted - 1;
  state.frameInFlight = calls.fenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  state.frameInFlightContext = context;
  glFlush();
  if (previous == nullptr) return;
  const GLuint64 oneSecond = 1000000000;
  while (calls.clientWaitSync(previous, GL_SYNC_FLUSH_COMMANDS_BIT, oneSecond) ==
         GL_TIMEOUT_EXPIRED) {
  }
  calls.deleteSync(previous);
  ++state.framesFinished;
}

}  // namespace

// ---- The backend's functions (backend.h) ----

// Starts SDL's video once; headless runs take the offscreen driver (EGL on
// Mesa), other runs a real window system only.
bool BackendStart() {
  SdlState& state = Sdl();
  if (state.videoReady) return true;
  if (Headless()) {
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
  } else if (!DisplayAvailable()) {
    // Say so plainly instead of letting every driver try and complain.
    PlatformFail(
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
    if (Headless()) {
      PlatformFail(std::string("cannot start the offscreen video driver: ") + SDL_GetError());
    } else {
      PlatformFail(std::string("cannot open the display: ") + SDL_GetError() +
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
    PlatformFail(std::string("cannot load the OpenGL library: ") + SDL_GetError());
    return false;
  }
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  state.videoReady = true;
  return true;
}

BackendSurface* BackendMakeSurface(const SurfaceRequest& request) {
  auto* surface = new BackendSurface;
  surface->title = request.title;
  surface->x = request.defaultPlace ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : request.x;
  surface->y = request.defaultPlace ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : request.y;
  surface->clientWidth = request.clientWidth;
  surface->clientHeight = request.clientHeight;
  surface->sdlFlags = SDL_WINDOW_OPENGL | (request.resizable ? SDL_WINDOW_RESIZABLE : 0);
  surface->visible = request.visible;
  if (!MakeSdlWindow(surface, GlFormat{})) {
    delete surface;
    return nullptr;
  }
  return surface;
}

void BackendDestroySurface(BackendSurface* surface) {
  if (surface == nullptr) return;
  if (surface->sdlWindow != nullptr) SDL_DestroyWindow(surface->sdlWindow);
  delete surface;
}

void BackendShowSurface(BackendSurface* surface, bool visible, bool firstShow) {
  surface->visible = visible;
  if (!visible) {
    SDL_HideWindow(surface->sdlWindow);
    return;
  }
  SDL_ShowWindow(surface->sdlWindow);
  // Where the window system reports a frame, the given size was the outer
  // size: shrink the client by the frame.
  int top = 0, left = 0, bottom = 0, right = 0;
  if (firstShow &&
      SDL_GetWindowBordersSize(surface->sdlWindow, &top, &left, &bottom, &right) == 0 &&
      (top | left | bottom | right) != 0) {
    surface->clientWidth = std::max(1, surface->clientWidth - left - right);
    surface->clientHeight = std::max(1, surface->clientHeight - top - bottom);
    SDL_SetWindowSize(surface->sdlWindow, surface->clientWidth, surface->clientHeight);
  }
}

// A hidden 1x1 probe window tells whether the driver offers `format`; the
// surface's own format needs no probe: the window is the proof.
bool BackendFormatAvailable(BackendSurface* surface, const GlFormat& format) {
  if (SameFormat(format, surface->sdlFormat)) return true;
  SetGlAttributes(format);
  SDL_Window* probe = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1, 1,
                                       SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (probe == nullptr) {
    PlatformFail(SDL_GetError());
    return false;
  }
  Sdl().configStamp += 1;
  SDL_DestroyWindow(probe);
  return true;
}

// The GL config is fixed when an SDL window is made; the window is remade if
// it was made with other attributes, or if a probe window was made since
// (EGL keeps the config of the last window made for the next context).
bool BackendSetSurfaceFormat(BackendSurface* surface, const GlFormat& format) {
  if (SameFormat(surface->sdlFormat, format) && surface->configStamp == Sdl().configStamp) {
    return true;
  }
  return MakeSdlWindow(surface, format);
}

BackendContext* BackendCreateContext(BackendSurface* surface) {
  SetGlAttributes(surface->sdlFormat);
  SDL_GLContext made = SDL_GL_CreateContext(surface->sdlWindow);
  if (made == nullptr) {
    PlatformFail(std::string("wglCreateContext: ") + SDL_GetError());
    return nullptr;
  }
  Sdl().contexts.push_back(std::make_unique<BackendContext>());
  Sdl().contexts.back()->context = made;
  return Sdl().contexts.back().get();
}

bool BackendMakeCurrent(BackendSurface* surface, BackendContext* context) {
  if (SDL_GL_MakeCurrent(surface->sdlWindow, context->context) != 0) {
    PlatformFail(std::string("wglMakeCurrent: ") + SDL_GetError());
    return false;
  }
  // A window's frames follow the display's refresh: adaptive sync (a late
  // frame is shown at once) where the driver offers it, else plain. A
  // headless surface has no display to wait for.
  if (!Headless()) {
    const bool vsync = ConfiguredPlatformOptions().vsync;
    if (SDL_GL_SetSwapInterval(vsync ? -1 : 0) != 0 && vsync) SDL_GL_SetSwapInterval(1);
  }
  return true;
}

void BackendReleaseCurrent() {
  if (SDL_GL_GetCurrentContext() != nullptr) SDL_GL_MakeCurrent(nullptr, nullptr);
}

void BackendDeleteContext(BackendContext* context) {
  SdlState& state = Sdl();
  if (SDL_GL_GetCurrentContext() == context->context) SDL_GL_MakeCurrent(nullptr, nullptr);
  if (state.frameInFlightContext == context->context) {
    state.frameInFlight = nullptr;  // went with its context
    state.frameInFlightContext = nullptr;
  }
  SDL_GL_DeleteContext(context->context);
  for (auto it = state.contexts.begin(); it != state.contexts.end(); ++it) {
    if (it->get() != context) continue;
    state.contexts.erase(it);
    break;
  }
}

void BackendSwap(BackendSurface* surface) {
  SDL_GL_SwapWindow(surface->sdlWindow);
  // A window's swap flushes by itself. A headless surface is a pbuffer, whose
  // swap does nothing: without the flush and wait here Mesa would keep
  // queueing every frame's commands, unrendered, and the process would grow
  // by about a megabyte per frame.
  if (Headless()) KeepOneFrameInFlight();
}

uint32_t MostHeadlessFramesInFlight() {
  return Sdl().mostFramesInFlight;
}

void BackendDrawableSize(BackendSurface* surface, int* width, int* height) {
  SDL_GL_GetDrawableSize(surface->sdlWindow, width, height);
}

void BackendReadFrame(BackendSurface*, int width, int height, uint8_t* rgb) {
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
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb);
  glPixelStorei(GL_PACK_ALIGNMENT, oldAlignment);
  glReadBuffer(static_cast<GLenum>(oldReadBuffer));
}

void BackendSetTitle(BackendSurface* surface, const std::string& title) {
  surface->title = title;
  SDL_SetWindowTitle(surface->sdlWindow, title.c_str());
}

// Ends the run once the X error handler has seen our window vanish: the
// window cannot take WM_DESTROY any more, so it is only marked gone.
bool BackendPollEvents() {
  if (!Sdl().videoReady) return false;
  SDL_Event event;
  while (SDL_PollEvent(&event)) TranslateSdlEvent(event);
  if (!Sdl().windowSystemError.empty()) LoseAllWindows(Sdl().windowSystemError);
  return true;
}

uint32_t BackendMilliseconds() {
  auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

// The loop blocks: each frame's swap paces it (vertical sync in a window).
int BackendRunFrames(bool (*frame)(int* exitCode)) {
  int exitCode = 0;
  while (frame(&exitCode)) {
  }
  return exitCode;
}

bool BackendToggleFullscreen(BackendSurface* surface) {
  const bool fullscreen = (SDL_GetWindowFlags(surface->sdlWindow) & SDL_WINDOW_FULLSCREEN) != 0;
  if (Headless()) return fullscreen;  // an offscreen surface keeps its size
  if (SDL_SetWindowFullscreen(surface->sdlWindow, fullscreen ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP) != 0)
    return fullscreen;
  return !fullscreen;
}

// A window's screenshots are files in the current directory.
bool BackendDeliverScreenshot(const std::string&, int, int, const uint8_t*) {
  return false;
}

// Dropped files are the user's own.
void BackendReleaseDroppedFiles(const std::vector<std::string>&) {}
