// The web page's backend of the platform layer (backend.h), over
// Emscripten's HTML5 API: the page's one canvas ("#canvas") is the window, a
// WebGL2 context with the legacy GL emulation started on it is the OpenGL
// context, DOM key and mouse events become key and mouse messages, files
// the page hands over (picked or dropped, written into the page's file
// system) become WM_DROPFILES, a change of the canvas's displayed size
// becomes WM_SIZE, and the frames run on the browser's animation frames
// (emscripten_set_main_loop). The only file that sees Emscripten.
//
// Keys are taken only while the canvas has the focus (it is focusable, and
// the page focuses it on a click), so the page's own controls keep Tab,
// Space and Enter; Shift+Tab and F12 (the developer tools) stay the
// browser's, and keys held when the focus leaves are released. Screenshots
// are offered as downloads; the copies of dropped files the page made are
// deleted once the program no longer uses them.
//
// Limits: one window (a second one shares the canvas); WebGL2 is required
// (with WebGL1, non-power-of-two textures with GL_REPEAT draw black); depth
// is 24 bits at most; the swap is the browser's, after each frame returns.
#include <GL/gl.h>
#include <dirent.h>
#include <emscripten.h>
#include <unistd.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"

// The canvas and the format its contexts are made with.
struct BackendSurface {
  GlFormat format;
  int width = 0;  // the canvas's drawing-buffer size, pixels
  int height = 0;
};

struct BackendContext {
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handle = 0;
  bool emulationStarted = false;  // GLImmediate initialised on it
};

namespace {

constexpr char kCanvas[] = "#canvas";

struct WebState {
  bool started = false;
  WPARAM mouseButtons = 0;  // MK_ bits of the buttons held
  int mouseX = 0;           // the cursor's last position on the canvas, pixels
  int mouseY = 0;
  bool (*frame)(int* exitCode) = nullptr;  // the step RunFrameLoop was given
  std::vector<WPARAM> keysHeld;            // pressed on the canvas, not yet released
  std::vector<std::string> dropFolders;    // folders of the page's copies of dropped files
};

WebState& Web() {
  static WebState state;
  return state;
}

// The one key table: KeyboardEvent.code of the non-character keys and their
// virtual-key codes. Letters and digits are handled by VirtualKeyOf. F12 is
// not in it: it opens the browser's developer tools (the page's screenshot
// key is P).
struct KeyPair {
  const char* code;
  WPARAM virtualKey;
};
// clang-format off
constexpr KeyPair kKeyTable[] = {
    {"Backspace", VK_BACK},       {"Tab", VK_TAB},                {"Enter", VK_RETURN},
    {"NumpadEnter", VK_RETURN},   {"ShiftLeft", VK_SHIFT},        {"ShiftRight", VK_SHIFT},
    {"ControlLeft", VK_CONTROL},  {"ControlRight", VK_CONTROL},   {"AltLeft", VK_MENU},
    {"AltRight", VK_MENU},        {"Pause", VK_PAUSE},            {"CapsLock", VK_CAPITAL},
    {"Escape", VK_ESCAPE},        {"Space", VK_SPACE},            {"PageUp", VK_PRIOR},
    {"PageDown", VK_NEXT},        {"End", VK_END},                {"Home", VK_HOME},
    {"ArrowLeft", VK_LEFT},       {"ArrowUp", VK_UP},             {"ArrowRight", VK_RIGHT},
    {"ArrowDown", VK_DOWN},       {"PrintScreen", VK_SNAPSHOT},   {"Insert", VK_INSERT},
    {"Delete", VK_DELETE},        {"MetaLeft", VK_LWIN},          {"MetaRight", VK_RWIN},
    {"ContextMenu", VK_APPS},     {"Numpad0", VK_NUMPAD0},        {"Numpad1", VK_NUMPAD1},
    {"Numpad2", VK_NUMPAD2},      {"Numpad3", VK_NUMPAD3},        {"Numpad4", VK_NUMPAD4},
    {"Numpad5", VK_NUMPAD5},      {"Numpad6", VK_NUMPAD6},        {"Numpad7", VK_NUMPAD7},
    {"Numpad8", VK_NUMPAD8},      {"Numpad9", VK_NUMPAD9},        {"NumpadMultiply", VK_MULTIPLY},
    {"NumpadAdd", VK_ADD},        {"NumpadSubtract", VK_SUBTRACT}, {"NumpadDecimal", VK_DECIMAL},
    {"NumpadDivide", VK_DIVIDE},  {"F1", VK_F1},                  {"F2", VK_F2},
    {"F3", VK_F3},                {"F4", VK_F4},                  {"F5", VK_F5},
    {"F6", VK_F6},                {"F7", VK_F7},                  {"F8", VK_F8},
    {"F9", VK_F9},                {"F10", VK_F10},                {"F11", VK_F11},
    {"NumLock", VK_NUMLOCK},      {"ScrollLock", VK_SCROLL},
    {"Semicolon", VK_OEM_1},      {"Equal", VK_OEM_PLUS},         {"Comma", VK_OEM_COMMA},
    {"Minus", VK_OEM_MINUS},      {"Period", VK_OEM_PERIOD},      {"Slash", VK_OEM_2},
    {"Backquote", VK_OEM_3},      {"BracketLeft", VK_OEM_4},      {"Backslash", VK_OEM_5},
    {"BracketRight", VK_OEM_6},   {"Quote", VK_OEM_7},
};
// clang-format on

// The virtual-key code of a key event, 0 for keys the table does not know.
// A letter or digit goes by the character the layout gives it (as SDL's key
// symbols do), other keys by their place on the keyboard.
WPARAM VirtualKeyOf(const EmscriptenKeyboardEvent& event) {
  const char* key = event.key;
  if (key[0] != '\0' && key[1] == '\0') {
    const char c = key[0];
    if (c >= 'a' && c <= 'z') return static_cast<WPARAM>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return static_cast<WPARAM>(c);
    if (c >= '0' && c <= '9' && std::strncmp(event.code, "Digit", 5) == 0)
      return static_cast<WPARAM>(c);
  }
  if (std::strncmp(event.code, "Key", 3) == 0 && event.code[3] >= 'A' && event.code[3] <= 'Z' &&
      event.code[4] == '\0')
    return static_cast<WPARAM>(event.code[3]);
  if (std::strncmp(event.code, "Digit", 5) == 0 && event.code[5] >= '0' && event.code[5] <= '9' &&
      event.code[6] == '\0')
    return static_cast<WPARAM>(event.code[5]);
  for (const KeyPair& pair : kKeyTable) {
    if (std::strcmp(pair.code, event.code) == 0) return pair.virtualKey;
  }
  return 0;
}

// Whether the browser's own handling of a key the program takes is to be
// kept from it: keys that would scroll the page or move the focus. Reload,
// full screen, the developer tools and Ctrl shortcuts stay the browser's.
bool KeepFromBrowser(WPARAM key, const EmscriptenKeyboardEvent& event) {
  if (event.ctrlKey || event.metaKey) return false;
  return key != VK_F5 && key != VK_F11;
}

// Key events on the canvas, which has them only while it has the focus.
EM_BOOL OnKey(int eventType, const EmscriptenKeyboardEvent* event, void*) {
  WebState& state = Web();
  const WPARAM key = VirtualKeyOf(*event);
  HWND window = PlatformFocusWindow();
  if (key == 0 || window == nullptr) return EM_FALSE;
  const bool down = eventType == EMSCRIPTEN_EVENT_KEYDOWN;
  // Shift+Tab moves the focus back out of the canvas, as on any page.
  if (key == VK_TAB && event->shiftKey && down) return EM_FALSE;
  std::vector<WPARAM>& held = state.keysHeld;
  const auto at = std::find(held.begin(), held.end(), key);
  if (down && at == held.end()) held.push_back(key);
  if (!down && at != held.end()) held.erase(at);
  QueueKeyMessage(window, key, down, event->repeat != 0, event->altKey != 0);
  return KeepFromBrowser(key, *event) ? EM_TRUE : EM_FALSE;
}

// The canvas lost the focus: its key releases will not come, so every key
// held is released now, as a window losing the focus sees it.
EM_BOOL OnBlur(int, const EmscriptenFocusEvent*, void*) {
  WebState& state = Web();
  HWND window = PlatformFocusWindow();
  if (window != nullptr) {
    for (WPARAM key : state.keysHeld) QueueKeyMessage(window, key, false, false, false);
  }
  state.keysHeld.clear();
  return EM_FALSE;
}

// The canvas's pixels per CSS pixel (its drawing buffer over its shown size).
void PixelsPerCssPixel(double* x, double* y) {
  double cssWidth = 0;
  double cssHeight = 0;
  int width = 0;
  int height = 0;
  emscripten_get_element_css_size(kCanvas, &cssWidth, &cssHeight);
  emscripten_get_canvas_element_size(kCanvas, &width, &height);
  *x = cssWidth > 0 ? width / cssWidth : 1.0;
  *y = cssHeight > 0 ? height / cssHeight : 1.0;
}

// The MK_ bit of a DOM mouse button; 0 for the buttons the program does not use.
WPARAM ButtonBit(unsigned short button) {
  return button == 0 ? MK_LBUTTON : button == 2 ? MK_RBUTTON : 0;
}

// Mouse events on the canvas (presses, moves, releases) and releases on the
// whole window, so a drag that ends off the canvas still ends; positions in
// the canvas's pixels (a release off the canvas keeps the last one).
EM_BOOL OnMouse(int eventType, const EmscriptenMouseEvent* event, void* onCanvas) {
  WebState& state = Web();
  HWND window = PlatformFocusWindow();
  if (window == nullptr) return EM_FALSE;
  double scaleX = 1;
  double scaleY = 1;
  PixelsPerCssPixel(&scaleX, &scaleY);
  if (onCanvas != nullptr) {
    state.mouseX = static_cast<int>(std::lround(event->targetX * scaleX));
    state.mouseY = static_cast<int>(std::lround(event->targetY * scaleY));
  }
  const WPARAM bit = ButtonBit(event->button);
  switch (eventType) {
    case EMSCRIPTEN_EVENT_MOUSEDOWN:
      if (onCanvas == nullptr || bit == 0) return EM_FALSE;
      state.mouseButtons |= bit;
      QueueMouseMessage(window, bit == MK_LBUTTON ? WM_LBUTTONDOWN : WM_RBUTTONDOWN,
                        state.mouseButtons, state.mouseX, state.mouseY);
      return EM_TRUE;
    case EMSCRIPTEN_EVENT_MOUSEUP:
      // Seen by the canvas and then the window: taken once, where it is first.
      if (bit == 0 || (state.mouseButtons & bit) == 0) return EM_FALSE;
      state.mouseButtons &= ~bit;
      QueueMouseMessage(window, bit == MK_LBUTTON ? WM_LBUTTONUP : WM_RBUTTONUP,
                        state.mouseButtons, state.mouseX, state.mouseY);
      return EM_FALSE;
    case EMSCRIPTEN_EVENT_MOUSEMOVE:
      QueueMouseMessage(window, WM_MOUSEMOVE, state.mouseButtons, state.mouseX, state.mouseY);
      return EM_FALSE;
    default:
      return EM_FALSE;
  }
}

// A wheel turn: DOM deltas are pixels (about 100 a notch), lines (3 a notch)
// or pages; WM_MOUSEWHEEL counts WHEEL_DELTA a notch, positive away from the
// user, where DOM's deltaY is positive towards the user.
EM_BOOL OnWheel(int, const EmscriptenWheelEvent* event, void*) {
  HWND window = PlatformFocusWindow();
  if (window == nullptr) return EM_FALSE;
  double perUnit = 1.2;  // DOM_DELTA_PIXEL
  if (event->deltaMode == DOM_DELTA_LINE) perUnit = WHEEL_DELTA / 3.0;
  if (event->deltaMode == DOM_DELTA_PAGE) perUnit = WHEEL_DELTA;
  const double delta = std::max(-32768.0, std::min(32767.0, -event->deltaY * perUnit));
  if (delta == 0) return EM_TRUE;
  QueueWheelMessage(window, static_cast<int>(std::lround(delta)), Web().mouseButtons,
                    Web().mouseX, Web().mouseY);
  return EM_TRUE;  // the page does not scroll under the canvas
}

// The canvas's drawing buffer follows its displayed size times the device
// pixel ratio; a change is sent as WM_SIZE, as a window's resize would be.
void FollowDisplayedSize() {
  HWND window = PlatformFocusWindow();
  if (window == nullptr) return;
  double cssWidth = 0;
  double cssHeight = 0;
  if (emscripten_get_element_css_size(kCanvas, &cssWidth, &cssHeight) != EMSCRIPTEN_RESULT_SUCCESS)
    return;
  const double ratio = emscripten_get_device_pixel_ratio();
  const int width = static_cast<int>(std::lround(cssWidth * ratio));
  const int height = static_cast<int>(std::lround(cssHeight * ratio));
  int current = 0;
  int currentHeight = 0;
  emscripten_get_canvas_element_size(kCanvas, &current, &currentHeight);
  if (width <= 0 || height <= 0 || (width == current && height == currentHeight)) return;
  emscripten_set_canvas_element_size(kCanvas, width, height);
  const LPARAM size = static_cast<LPARAM>((width & 0xFFFF) | ((height & 0xFFFF) << 16));
  QueueWindowMessage(window, WM_SIZE, 0, size);
}

// One animation frame: the program's step; once it ends the loop stops and
// the page hears the exit code (Module.onDemoExit).
// The page (and its tests) read the count of frames presented so far as
// Module.presentedFrames.
void AnimationFrame() {
  int exitCode = 0;
  const bool goOn = Web().frame(&exitCode);
  EM_ASM({ Module.presentedFrames = $0; }, PresentedFrameCount());
  if (goOn) return;
  emscripten_cancel_main_loop();
  EM_ASM({ if (Module.onDemoExit) Module.onDemoExit($0); }, exitCode);
}

}  // namespace

// ---- The backend's functions (backend.h) ----

bool BackendStart() {
  WebState& state = Web();
  if (state.started) return true;
  emscripten_set_keydown_callback(kCanvas, nullptr, EM_TRUE, OnKey);
  emscripten_set_keyup_callback(kCanvas, nullptr, EM_TRUE, OnKey);
  emscripten_set_blur_callback(kCanvas, nullptr, EM_TRUE, OnBlur);
  void* const onCanvas = const_cast<char*>(kCanvas);
  emscripten_set_mousedown_callback(kCanvas, onCanvas, EM_TRUE, OnMouse);
  emscripten_set_mousemove_callback(kCanvas, onCanvas, EM_TRUE, OnMouse);
  emscripten_set_mouseup_callback(kCanvas, onCanvas, EM_TRUE, OnMouse);
  emscripten_set_mouseup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, OnMouse);
  emscripten_set_wheel_callback(kCanvas, nullptr, EM_TRUE, OnWheel);
  state.started = true;
  return true;
}

// The canvas takes the requested client size in pixels, shown at that size
// divided by the device pixel ratio (800 x 600 CSS pixels at ratio 1).
BackendSurface* BackendMakeSurface(const SurfaceRequest& request) {
  if (emscripten_set_canvas_element_size(kCanvas, request.clientWidth, request.clientHeight) !=
      EMSCRIPTEN_RESULT_SUCCESS) {
    PlatformFail("cannot create the window: the page has no canvas with id \"canvas\"");
    return nullptr;
  }
  const double ratio = emscripten_get_device_pixel_ratio();
  emscripten_set_element_css_size(kCanvas, request.clientWidth / ratio,
                                  request.clientHeight / ratio);
  emscripten_set_window_title(request.title.c_str());
  auto* surface = new BackendSurface;
  surface->width = request.clientWidth;
  surface->height = request.clientHeight;
  return surface;
}

void BackendDestroySurface(BackendSurface* surface) {
  delete surface;
}

void BackendShowSurface(BackendSurface*, bool, bool) {
  // The canvas is part of the page and always shown.
}

uint32_t MostHeadlessFramesInFlight() {
  return 0;  // the page is never headless: the browser presents every frame
}

// WebGL gives 24-bit depth with stencil and at least 16 without; a 32-bit
// request falls back to 24 in ChoosePixelFormat.
bool BackendFormatAvailable(BackendSurface*, const GlFormat& format) {
  if (format.depthBits > 24) {
    PlatformFail("WebGL offers depth buffers of 24 bits at most");
    return false;
  }
  return true;
}

bool BackendSetSurfaceFormat(BackendSurface* surface, const GlFormat& format) {
  surface->format = format;
  return true;
}

// A WebGL2 context with alpha, depth and stencil as the format asks, no
// antialiasing (edges must fall on the pixels Mesa gives them).
BackendContext* BackendCreateContext(BackendSurface* surface) {
  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.alpha = EM_TRUE;
  attributes.depth = surface->format.depthBits > 0 ? EM_TRUE : EM_FALSE;
  attributes.stencil = surface->format.stencilBits > 0 ? EM_TRUE : EM_FALSE;
  attributes.antialias = EM_FALSE;
  attributes.preserveDrawingBuffer = EM_FALSE;
  attributes.majorVersion = 2;
  attributes.minorVersion = 0;
  attributes.enableExtensionsByDefault = EM_TRUE;
  const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handle = emscripten_webgl_create_context(kCanvas, &attributes);
  if (handle <= 0) {
    PlatformFail("wglCreateContext: this browser gives the page no WebGL2 context (error " +
                 std::to_string(static_cast<int>(handle)) + ")");
    return nullptr;
  }
  auto* context = new BackendContext;
  context->handle = handle;
  return context;
}

// The legacy GL emulation is started by hand on a context made through the
// HTML5 API (Emscripten starts it only for contexts it makes itself).
bool BackendMakeCurrent(BackendSurface*, BackendContext* context) {
  if (emscripten_webgl_make_context_current(context->handle) != EMSCRIPTEN_RESULT_SUCCESS) {
    PlatformFail("wglMakeCurrent: the WebGL context cannot be made current");
    return false;
  }
  if (!context->emulationStarted) {
    EM_ASM({
      Module.useWebGL = true;
      GLImmediate.init();
    });
    context->emulationStarted = true;
  }
  return true;
}

void BackendReleaseCurrent() {
  emscripten_webgl_make_context_current(0);
}

void BackendDeleteContext(BackendContext* context) {
  if (emscripten_webgl_get_current_context() == context->handle)
    emscripten_webgl_make_context_current(0);
  emscripten_webgl_destroy_context(context->handle);
  delete context;
}

void BackendSwap(BackendSurface*) {
  // The browser presents the canvas when the animation frame returns.
}

void BackendDrawableSize(BackendSurface* surface, int* width, int* height) {
  if (emscripten_get_canvas_element_size(kCanvas, &surface->width, &surface->height) !=
      EMSCRIPTEN_RESULT_SUCCESS) {
    surface->width = surface->height = 0;
  }
  *width = surface->width;
  *height = surface->height;
}

// WebGL reads RGBA only (GL_RGB is an invalid operation); the alpha is
// dropped here.
void BackendReadFrame(BackendSurface*, int width, int height, uint8_t* rgb) {
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) {
    std::memcpy(rgb + 3 * i, &rgba[4 * i], 3);
  }
}

void BackendSetTitle(BackendSurface*, const std::string& title) {
  emscripten_set_window_title(title.c_str());
}

// Key events arrive through their callbacks between frames; only the
// canvas's size is looked at here.
bool BackendPollEvents() {
  if (!Web().started) return false;
  FollowDisplayedSize();
  return true;
}

uint32_t BackendMilliseconds() {
  return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now()));
}

// The browser calls the step once per animation frame; this call never
// returns (Emscripten unwinds the caller's stack and leaves the runtime up).
int BackendRunFrames(bool (*frame)(int* exitCode)) {
  Web().frame = frame;
  EM_ASM({ Module.frameLoopStarted = true; });
  emscripten_set_main_loop(AnimationFrame, 0, EM_TRUE);
  return 0;
}

// The canvas goes fullscreen at the next user event (a browser allows it only
// inside one; the key that asks was handled a frame later) or leaves it now.
// The new size arrives through FollowDisplayedSize.
bool BackendToggleFullscreen(BackendSurface*) {
  EmscriptenFullscreenChangeEvent status;
  if (emscripten_get_fullscreen_status(&status) == EMSCRIPTEN_RESULT_SUCCESS && status.isFullscreen) {
    emscripten_exit_fullscreen();
    return false;
  }
  const EMSCRIPTEN_RESULT result = emscripten_request_fullscreen(kCanvas, EM_TRUE);
  return result == EMSCRIPTEN_RESULT_SUCCESS;
}

// The page hands over files it has written into its file system (picked or
// dropped): `paths`, one per line, reach the program as one WM_DROPFILES.
extern "C" EMSCRIPTEN_KEEPALIVE void WebDropFiles(const char* paths) {
  HWND window = PlatformFocusWindow();
  if (window == nullptr || paths == nullptr) return;
  std::vector<std::string> files;
  std::string text = paths;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    if (end > start) files.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string>& folders = Web().dropFolders;
  for (const std::string& file : files) {
    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos || slash == 0 ? "" : file.substr(0, slash);
    if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(folder);
  }
  if (!files.empty()) QueueDroppedFiles(window, std::move(files));
}

// The page writes each drop into a folder of its own (/picked/N), flat.
void BackendReleaseDroppedFiles(const std::vector<std::string>& inUse) {
  std::vector<std::string>& folders = Web().dropFolders;
  for (auto folder = folders.begin(); folder != folders.end();) {
    const std::string prefix = *folder + "/";
    const bool used = std::any_of(inUse.begin(), inUse.end(), [&](const std::string& path) {
      return path.compare(0, prefix.size(), prefix) == 0;
    });
    if (used) {
      ++folder;
      continue;
    }
    if (DIR* dir = opendir(folder->c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") unlink((prefix + name).c_str());
      }
      closedir(dir);
    }
    rmdir(folder->c_str());
    folder = folders.erase(folder);
  }
}

// The frame is drawn into a canvas of its own and offered as a PNG download
// (Module.screenshotsOffered counts them, for the page's tests). No comma
// may stand outside parentheses in the script: EM_ASM is a macro.
bool BackendDeliverScreenshot(const std::string& name, int width, int height, const uint8_t* rgb) {
  EM_ASM(
      {
        let name = String();
        for (let at = $0; HEAPU8[at] != 0; ++at) name += String.fromCharCode(HEAPU8[at]);
        const width = $1;
        const height = $2;
        const canvas = document.createElement('canvas');
        canvas.width = width;
        canvas.height = height;
        const context = canvas.getContext('2d');
        const image = context.createImageData(width, height);
        for (let i = 0, j = $3; i < width * height * 4; i += 4, j += 3) {
          image.data[i] = HEAPU8[j];
          image.data[i + 1] = HEAPU8[j + 1];
          image.data[i + 2] = HEAPU8[j + 2];
          image.data[i + 3] = 255;
        }
        context.putImageData(image, 0, 0);
        canvas.toBlob((blob) => {
          const link = document.createElement('a');
          link.href = URL.createObjectURL(blob);
          link.download = name;
          document.body.appendChild(link);
          link.click();
          link.remove();
          setTimeout(() => URL.revokeObjectURL(link.href), 60000);
          Module.screenshotsOffered = (Module.screenshotsOffered || 0) + 1;
        }, 'image/png');
      },
      name.c_str(), width, height, rgb);
  return true;
}
