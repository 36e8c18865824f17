// The recording platform: see fake_platform.h. Also stands in for the
// renderer's SetupScene, RenderFrame and ApplyHeldKeyMotion, which WinMain
// and the end-of-frame step call.
#include "tests/app/fake_platform.h"

#include <cstdio>

#include "app/app_state.h"
#include "app/win_main.h"
#include "platform/platform.h"
#include "render/frame.h"
#include "render/gl_context.h"
#include "render/key_motion.h"
#include "render/scene_setup.h"

struct WindowRecord {
  int unused;
};
struct DeviceContextRecord {
  int unused;
};
struct RenderingContextRecord {
  int unused;
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

FakePlatform fake;

namespace {
WindowRecord window{};
DeviceContextRecord dc{};
RenderingContextRecord context{};
InstanceRecord instance{};
IconRecord icon{};
IconRecord cursor{};
BrushRecord brush{};

void Log(const std::string& call) {
  fake.calls.push_back(call);
}
// How a handle shows in the log: the fake's own, null, or another.
std::string Name(const void* handle, const void* own, const char* ownName) {
  return handle == own ? ownName : handle == nullptr ? "null" : "other";
}
std::string Hex(uintptr_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%zx", static_cast<size_t>(value));
  return text;
}
}  // namespace

void ResetFake() {
  fake = FakePlatform{};
}
HWND FakeWindow() {
  return &window;
}
HDC FakeDc() {
  return &dc;
}
HGLRC FakeContext() {
  return &context;
}

MSG FakeMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m{};
  m.hwnd = &window;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  return m;
}

// ---- platform.h ----
void ConfigurePlatform(const PlatformOptions&) {}
const PlatformOptions& ConfiguredPlatformOptions() {
  static const PlatformOptions defaults;
  return defaults;
}
uint32_t FailedCaptureCount() {
  return 0;
}
const char* PlatformFailureReason() {
  return fake.failureReason.c_str();
}
HINSTANCE PlatformInstance() {
  return &instance;
}
uint32_t PresentedFrameCount() {
  return 0;
}
void CaptureFrame(HDC d) {
  Log("CaptureFrame(" + Name(d, &dc, "dc") + ")");
}
int RunFrameLoop(bool (*frame)(int* exitCode)) {
  int exitCode = 0;
  while (frame(&exitCode)) {
  }
  return exitCode;
}
void StepVirtualClock() {
  Log("StepVirtualClock");
}
void CloseAtFrameLimit(HWND w) {
  Log("CloseAtFrameLimit(" + Name(w, &window, "window") + ")");
}

// ---- win32.h ----
HICON LoadIconA(HINSTANCE i, LPCSTR name) {
  Log("LoadIconA(" + std::string(i ? "instance" : "null") + "," + Hex(uintptr_t(name)) + ")");
  return &icon;
}
HCURSOR LoadCursorA(HINSTANCE i, LPCSTR name) {
  Log("LoadCursorA(" + std::string(i ? "instance" : "null") + "," + Hex(uintptr_t(name)) + ")");
  return &cursor;
}
HGDIOBJ GetStockObject(int index) {
  Log("GetStockObject(" + std::to_string(index) + ")");
  return &brush;
}
WORD RegisterClassExA(const WNDCLASSEXA* c) {
  Log("RegisterClassExA(" + std::string(c->lpszClassName) + ")");
  fake.registeredClass = *c;
  return fake.registerResult;
}
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR name, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE inst, LPVOID param) {
  Log("CreateWindowExA(" + std::to_string(exStyle) + "," + className + "," + name + "," +
      Hex(style) + "," + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(width) +
      "," + std::to_string(height) + "," + (parent ? "parent" : "null") + "," +
      (menu ? "menu" : "null") + "," + (inst == &instance ? "instance" : "other") + "," +
      (param ? "param" : "null") + ")");
  if (fake.createFails) return nullptr;
  return &window;
}
BOOL ShowWindow(HWND, int command) {
  Log("ShowWindow(" + std::to_string(command) + ")");
  return FALSE;
}
BOOL UpdateWindow(HWND) {
  Log("UpdateWindow");
  return TRUE;
}
BOOL PeekMessageA(LPMSG message, HWND w, UINT min, UINT max, UINT remove) {
  Log("PeekMessageA(" + std::string(w ? "window" : "null") + "," + std::to_string(min) + "," +
      std::to_string(max) + "," + std::to_string(remove) + ")");
  std::deque<MSG>& source = fake.posted.empty() ? fake.queue : fake.posted;
  if (source.empty()) return FALSE;
  MSG front = source.front();
  source.pop_front();
  if (front.message == 0) return FALSE;
  *message = front;
  return TRUE;
}
BOOL TranslateMessage(const MSG* m) {
  Log("TranslateMessage(" + Hex(m->message) + ")");
  return FALSE;
}
LRESULT DispatchMessageA(const MSG* m) {
  Log("DispatchMessageA(" + Hex(m->message) + ")");
  return m->hwnd ? WindowProcedure(m->hwnd, m->message, m->wParam, m->lParam) : 0;
}
LRESULT DefWindowProcA(HWND w, UINT message, WPARAM wParam, LPARAM) {
  Log("DefWindowProcA(" + Hex(message) + "," + Hex(wParam) + ")");
  // Like Windows: the default for WM_CLOSE destroys the window.
  if (message == WM_CLOSE) WindowProcedure(w, WM_DESTROY, 0, 0);
  return 0x5EED;
}
void PostQuitMessage(int code) {
  Log("PostQuitMessage(" + std::to_string(code) + ")");
  MSG quit{};
  quit.message = WM_QUIT;
  quit.wParam = static_cast<WPARAM>(code);
  fake.posted.push_back(quit);
}
HDC GetDC(HWND) {
  Log("GetDC");
  return &dc;
}
BOOL GetClientRect(HWND, RECT* rect) {
  Log("GetClientRect");
  *rect = fake.clientRect;
  return TRUE;
}
BOOL SetWindowTextA(HWND, LPCSTR text) {
  Log("SetWindowTextA");
  fake.titles.push_back(text);
  return TRUE;
}
int ChoosePixelFormat(HDC, const PIXELFORMATDESCRIPTOR* request) {
  Log(std::string("ChoosePixelFormat(") +
      (request == &PixelFormatRequest ? "PixelFormatRequest" : "other") + ")");
  fake.chosenRequest = *request;
  return fake.chooseResult;
}
BOOL SetPixelFormat(HDC, int format, const PIXELFORMATDESCRIPTOR* request) {
  Log("SetPixelFormat(" + std::to_string(format) + "," +
      (request == &PixelFormatRequest ? "PixelFormatRequest" : "other") + ")");
  return fake.setFormatResult;
}
HGLRC wglCreateContext(HDC) {
  Log("wglCreateContext");
  return fake.contextFails ? nullptr : &context;
}
BOOL wglMakeCurrent(HDC d, HGLRC c) {
  Log("wglMakeCurrent(" + std::string(d ? "dc" : "null") + "," + (c ? "context" : "null") + ")");
  if (fake.makeCurrentResults.empty()) return TRUE;
  BOOL result = fake.makeCurrentResults.front();
  fake.makeCurrentResults.pop_front();
  return result;
}
BOOL wglDeleteContext(HGLRC c) {
  Log("wglDeleteContext(" + std::string(c ? "context" : "null") + ")");
  return c != nullptr;
}
BOOL SwapBuffers(HDC d) {
  Log("SwapBuffers(" + Name(d, &dc, "dc") + ")");
  return fake.swapResult;
}
DWORD timeGetTime() {
  if (fake.clockReadings.empty()) return fake.now;
  uint32_t reading = fake.clockReadings.front();
  fake.clockReadings.pop_front();
  return reading;
}

bool SaveScreenshot(HWND w, std::string* path) {
  Log("SaveScreenshot(" + Name(w, &window, "window") + ")");
  *path = "shadow-volume-0001.png";
  return true;
}
void ReleaseDroppedFiles(const std::vector<std::string>&) {}
bool ToggleFullscreen(HWND w) {
  Log("ToggleFullscreen(" + Name(w, &window, "window") + ")");
  return false;
}

// ---- The renderer's entry points, as WinMain sees them ----
SetupResult SetupScene(HWND w) {
  Log("SetupScene");
  fake.setupWindow = w;
  return SetupResult::kReady;
}
SetupResult LoadModelIntoScene(const SceneRequest& request, std::string*) {
  Log("LoadModelIntoScene(" + request.modelPath + ")");
  return SetupResult::kReady;
}
void RenderFrame(HWND) {
  Log("RenderFrame");
  // A loop that never ends would hang the test: stop it with a telling code.
  if (++fake.framesRendered > 100) PostQuitMessage(77);
}
void ApplyHeldKeyMotion(const KeyState& keys) {
  Log("ApplyHeldKeyMotion(" + Name(&keys, &Keyboard, "Keyboard") + ")");
}
