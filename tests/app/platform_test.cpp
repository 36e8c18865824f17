// The real platform layer, headless (SDL's offscreen driver, EGL, Mesa's
// software OpenGL): SDL events become Windows messages, scripted keys arrive
// right before their frame, the frame limit closes the window through
// WM_CLOSE -> WM_DESTROY -> WM_QUIT, captures read the back buffer, the
// virtual clock steps per frame, and the context is a legacy one.
#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/run_options.h"
#include "app/win_main.h"
#include "platform/platform.h"
#include "platform/win32.h"
#include "render/gl_context.h"
#include "tests/support/png_reader.h"

namespace {

std::vector<MSG> received;  // what the recording procedure saw, in order

LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m{};
  m.hwnd = window;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  received.push_back(m);
  return WindowProcedure(window, message, wParam, lParam);
}

// A hidden window of class `className` (registered on first use) whose
// procedure records and then runs the program's window procedure.
HWND MakeWindow(const char* className) {
  static std::set<std::string> registered;
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = RecordingProcedure;
  c.lpszClassName = className;
  if (registered.insert(className).second) {
    EXPECT_NE(RegisterClassExA(&c), 0) << PlatformFailureReason();
  }
  HWND window = CreateWindowExA(0, className, "Test", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 800,
                                600, nullptr, nullptr, PlatformInstance(), nullptr);
  EXPECT_NE(window, nullptr) << PlatformFailureReason();
  return window;
}

PlatformOptions Headless() {
  PlatformOptions options;
  options.headless = true;
  return options;
}

// Every message waiting now, taken with PM_REMOVE.
std::vector<MSG> Drain() {
  std::vector<MSG> taken;
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) taken.push_back(m);
  return taken;
}

// The program's window and context, made once for the whole suite.
class HeadlessWindow : public ::testing::Environment {
 public:
  void SetUp() override {
    ConfigurePlatform(Headless());
    window = MakeWindow("Main Test");
    ShowWindow(window, SW_SHOWDEFAULT);
    ASSERT_TRUE(InitOpenGL(window)) << PlatformFailureReason();
    Drain();
  }
  static HWND window;
};
HWND HeadlessWindow::window = nullptr;

void MakeMainCurrent() {
  ASSERT_TRUE(wglMakeCurrent(GlContext.deviceContext, GlContext.renderingContext));
}

void PushKey(uint32_t type, SDL_Keycode key, uint16_t mod, bool repeat) {
  SDL_Event event{};
  event.type = type;
  event.key.type = type;
  event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
  event.key.repeat = repeat ? 1 : 0;
  event.key.keysym.sym = key;
  event.key.keysym.mod = mod;
  ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}

struct Expected {
  UINT message;
  WPARAM key;
  uint32_t lParam;
};

void ExpectMessages(const std::vector<MSG>& got, const std::vector<Expected>& want,
                    const std::string& where) {
  ASSERT_EQ(got.size(), want.size()) << where;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].message, want[i].message) << where << " #" << i;
    EXPECT_EQ(got[i].wParam, want[i].key) << where << " #" << i;
    EXPECT_EQ(static_cast<uint32_t>(got[i].lParam), want[i].lParam) << where << " #" << i;
    EXPECT_EQ(got[i].hwnd, HeadlessWindow::window) << where << " #" << i;
  }
}

constexpr uint32_t kAlt = 1u << 29;
constexpr uint32_t kWasDown = 1u << 30;
constexpr uint32_t kRelease = 1u << 31;

TEST(Platform, SdlKeyEventsBecomeWindowsKeyMessages) {
  ConfigurePlatform(Headless());
  Drain();
  PushKey(SDL_KEYDOWN, SDLK_UP, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_UP, KMOD_NONE, true);
  PushKey(SDL_KEYUP, SDLK_UP, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_HOME, KMOD_LALT, false);
  PushKey(SDL_KEYUP, SDLK_HOME, KMOD_LALT, false);
  PushKey(SDL_KEYDOWN, SDLK_F10, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_F13, KMOD_NONE, false);  // unknown: maps to nothing
  PushKey(SDL_KEYDOWN, SDLK_a, KMOD_LSHIFT, false);
  PushKey(SDL_KEYDOWN, SDLK_7, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_PAGEDOWN, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_PAGEUP, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_INSERT, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_DELETE, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_END, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_TAB, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_ESCAPE, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_F1, KMOD_NONE, false);
  PushKey(SDL_KEYDOWN, SDLK_F12, KMOD_NONE, false);
  ExpectMessages(Drain(),
                 {{WM_KEYDOWN, 0x26, 1},
                  {WM_KEYDOWN, 0x26, 1 | kWasDown},
                  {WM_KEYUP, 0x26, 1 | kWasDown | kRelease},
                  {WM_SYSKEYDOWN, 0x24, 1 | kAlt},
                  {WM_SYSKEYUP, 0x24, 1 | kAlt | kWasDown | kRelease},
                  {WM_SYSKEYDOWN, 0x79, 1},
                  {WM_KEYDOWN, 'A', 1},
                  {WM_KEYDOWN, '7', 1},
                  {WM_KEYDOWN, 0x22, 1},
                  {WM_KEYDOWN, 0x21, 1},
                  {WM_KEYDOWN, 0x2D, 1},
                  {WM_KEYDOWN, 0x2E, 1},
                  {WM_KEYDOWN, 0x23, 1},
                  {WM_KEYDOWN, 0x09, 1},
                  {WM_KEYDOWN, 0x1B, 1},
                  {WM_KEYDOWN, 0x70, 1},
                  {WM_KEYDOWN, 0x7B, 1}},
                 "translated keys");
  // A quit request from outside (a signal, the session ending) is the
  // window's close: WM_CLOSE, left to the program to act on.
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  ASSERT_EQ(SDL_PushEvent(&quit), 1);
  ExpectMessages(Drain(), {{WM_CLOSE, 0, 0}}, "quit request");
  EXPECT_NE(GetDC(HeadlessWindow::window), nullptr);
  // The close button and a new size, addressed to the window's SDL id.
  MakeMainCurrent();
  uint32_t id = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
  SDL_Event windowEvent{};
  windowEvent.type = SDL_WINDOWEVENT;
  windowEvent.window.windowID = id;
  windowEvent.window.event = SDL_WINDOWEVENT_CLOSE;
  ASSERT_EQ(SDL_PushEvent(&windowEvent), 1);
  windowEvent.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
  windowEvent.window.data1 = 1024;
  windowEvent.window.data2 = 700;
  ASSERT_EQ(SDL_PushEvent(&windowEvent), 1);
  windowEvent.window.windowID = id + 1000;  // no such window: dropped
  ASSERT_EQ(SDL_PushEvent(&windowEvent), 1);
  ExpectMessages(Drain(), {{WM_CLOSE, 0, 0}, {WM_SIZE, 0, 1024 | (700u << 16)}}, "window events");
}

TEST(Platform, PostedMessagesComeFirstAndPeekingKeepsThem) {
  ConfigurePlatform(Headless());
  Drain();
  PushKey(SDL_KEYDOWN, SDLK_LEFT, KMOD_NONE, false);
  PostQuitMessage(5);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 5u);
  EXPECT_EQ(m.hwnd, nullptr);
  // Filtered to key-up messages only: the waiting key-down stays queued.
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_KEYUP, WM_KEYUP, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_KEYDOWN);
  EXPECT_EQ(m.wParam, VK_LEFT);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST(Platform, ScriptedKeysArriveRightBeforeTheirFrame) {
  PlatformOptions options = Headless();
  options.keys = {{2, true, false, VK_TAB}, {2, false, false, VK_TAB}, {3, true, true, VK_END},
                  {3, true, false, VK_UP},  {4, true, false, VK_UP},   {4, false, false, VK_UP},
                  {4, false, true, VK_END}};
  ConfigurePlatform(options);
  MakeMainCurrent();
  const std::vector<std::vector<Expected>> perFrame = {
      {},
      {{WM_KEYDOWN, VK_TAB, 1}, {WM_KEYUP, VK_TAB, 1 | kWasDown | kRelease}},
      {{WM_SYSKEYDOWN, VK_END, 1 | kAlt}, {WM_KEYDOWN, VK_UP, 1}},
      {{WM_KEYDOWN, VK_UP, 1 | kWasDown},
       {WM_KEYUP, VK_UP, 1 | kWasDown | kRelease},
       {WM_SYSKEYUP, VK_END, 1 | kAlt | kWasDown | kRelease}},
      {}};
  for (size_t frame = 1; frame <= perFrame.size(); ++frame) {
    // Everything queued for this frame comes out before the queue is empty.
    ExpectMessages(Drain(), perFrame[frame - 1], "before frame " + std::to_string(frame));
    EXPECT_EQ(PresentedFrameCount(), frame - 1);
    ASSERT_TRUE(SwapBuffers(GlContext.deviceContext));
  }
}

TEST(Platform, ScriptedBurstIsHandledBeforeTheNextFrame) {
  // The loop's shape: take messages while there are any, then draw. Tab
  // pressed three times in one burst flips the mode three times before the
  // frame reads it.
  PlatformOptions options = Headless();
  for (int i = 0; i < 3; ++i) {
    options.keys.push_back({2, true, false, VK_TAB});
    options.keys.push_back({2, false, false, VK_TAB});
  }
  options.keys.push_back({2, true, false, VK_HOME});
  ConfigurePlatform(options);
  MakeMainCurrent();
  Keyboard = KeyState{};
  std::vector<bool> lightModeAtFrame;
  std::vector<bool> homeAtFrame;
  MSG m;
  while (PresentedFrameCount() < 3) {
    if (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    } else {
      lightModeAtFrame.push_back(Keyboard.lightMode);
      homeAtFrame.push_back(Keyboard.keyHome);
      SwapBuffers(GlContext.deviceContext);
    }
  }
  EXPECT_EQ(lightModeAtFrame, (std::vector<bool>{true, false, false}));
  EXPECT_EQ(homeAtFrame, (std::vector<bool>{false, true, true}));
  Keyboard = KeyState{};
}

TEST(Platform, FrameLimitClosesThroughDestroyAndQuit) {
  PlatformOptions options = Headless();
  options.frameLimit = 3;
  ConfigurePlatform(options);
  Drain();
  HWND closing = MakeWindow("Closing");
  HDC dc = GetDC(closing);
  PIXELFORMATDESCRIPTOR request;
  FillPixelFormatRequest(&request);
  ASSERT_TRUE(SetPixelFormat(dc, ChoosePixelFormat(dc, &request), &request));
  HGLRC context = wglCreateContext(dc);
  ASSERT_NE(context, nullptr) << PlatformFailureReason();
  ASSERT_TRUE(wglMakeCurrent(dc, context));
  received.clear();
  for (int frame = 1; frame <= 3; ++frame) {
    EXPECT_TRUE(Drain().empty()) << "frame " << frame;
    ASSERT_TRUE(SwapBuffers(dc));
    CloseAtFrameLimit(closing);
  }
  // After frame 3: WM_CLOSE to the window, as from its close button.
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_CLOSE);
  EXPECT_EQ(m.hwnd, closing);
  DispatchMessageA(&m);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].message, WM_CLOSE);
  EXPECT_EQ(received[1].message, WM_DESTROY);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 0u);
  // The window is gone: no device context, no more frames, messages to it
  // are dropped.
  EXPECT_EQ(GetDC(closing), nullptr);
  EXPECT_FALSE(SwapBuffers(dc));
  MSG late{};
  late.hwnd = closing;
  late.message = WM_KEYDOWN;
  late.wParam = VK_UP;
  DispatchMessageA(&late);
  EXPECT_EQ(received.size(), 2u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  wglDeleteContext(context);
  MakeMainCurrent();
}

TEST(Platform, AltF4ClosesButPlainF4DoesNot) {
  ConfigurePlatform(Headless());
  Drain();
  HWND window = MakeWindow("AltF4");
  received.clear();
  DefWindowProcA(window, WM_SYSKEYDOWN, VK_F4, 1);  // F4 without Alt
  EXPECT_TRUE(received.empty());
  DefWindowProcA(window, WM_SYSKEYDOWN, VK_F4, 1 | kAlt);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].message, WM_CLOSE);
  EXPECT_EQ(received[1].message, WM_DESTROY);
  std::vector<MSG> left = Drain();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].message, WM_QUIT);
}

TEST(Platform, CaptureWritesTheNamedFrameUpright) {
  std::string path = ::testing::TempDir() + "platform_capture.png";
  std::string unwritable = ::testing::TempDir() + "no-such-dir/x.png";
  std::remove(path.c_str());
  PlatformOptions options = Headless();
  options.captures = {{2, path}, {3, unwritable}};
  ConfigurePlatform(options);
  MakeMainCurrent();
  glDisable(GL_SCISSOR_TEST);
  const HDC dc = GlContext.deviceContext;
  glClearColor(1, 0, 0, 1);  // frame 1: red, not captured
  glClear(GL_COLOR_BUFFER_BIT);
  CaptureFrame(dc);
  SwapBuffers(dc);
  FILE* early = std::fopen(path.c_str(), "rb");
  EXPECT_EQ(early, nullptr);
  if (early != nullptr) std::fclose(early);
  // Frame 2: white, with the top 100 rows blue (OpenGL's y runs upwards).
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 500, 800, 100);
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  CaptureFrame(dc);  // before the swap: the frame is still in the back buffer
  SwapBuffers(dc);

  const RgbImage image = ReadPng(path);
  ASSERT_GT(image.width, 0);
  ASSERT_TRUE(image.storedAsRgb8);
  ASSERT_EQ(image.width, 800);
  ASSERT_EQ(image.height, 600);
  auto pixel = [&](int x, int y) {
    const uint8_t* p = image.At(x, y);
    return std::vector<int>{p[0], p[1], p[2]};
  };
  EXPECT_EQ(pixel(0, 0), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(pixel(799, 99), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(pixel(0, 100), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(pixel(799, 599), (std::vector<int>{255, 255, 255}));

  // A capture that cannot be written is reported and the run goes on.
  ::testing::internal::CaptureStderr();
  CaptureFrame(dc);
  EXPECT_TRUE(SwapBuffers(dc));
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("no-such-dir/x.png"), std::string::npos) << err;
  EXPECT_EQ(PresentedFrameCount(), 3u);
  std::remove(path.c_str());
}

TEST(Platform, VirtualClockStartsAtOneAndStepsPerPresentedFrame) {
  PlatformOptions options = Headless();
  options.virtualClock = true;
  options.clockStep = 10;
  ConfigurePlatform(options);
  MakeMainCurrent();
  EXPECT_EQ(timeGetTime(), 1u);
  EXPECT_EQ(timeGetTime(), 1u);
  StepVirtualClock();
  EXPECT_EQ(timeGetTime(), 11u);
  StepVirtualClock();
  EXPECT_EQ(timeGetTime(), 21u);
  ConfigurePlatform(Headless());
  DWORD first = timeGetTime();
  DWORD second = timeGetTime();
  EXPECT_LT(second - first, 1000u);  // the real clock does not run backwards
}

TEST(Platform, ClassesAndStockResources) {
  ConfigurePlatform(Headless());
  WNDCLASSEXA c{};
  c.cbSize = 48;  // the 32-bit size, wrong for this build's pointers
  c.lpfnWndProc = RecordingProcedure;
  c.lpszClassName = "Sized";
  if (sizeof(void*) != 4) {
    EXPECT_EQ(RegisterClassExA(&c), 0);
    EXPECT_NE(std::string(PlatformFailureReason()).find("cbSize"), std::string::npos);
  }
  c.cbSize = sizeof c;
  c.lpfnWndProc = nullptr;
  EXPECT_EQ(RegisterClassExA(&c), 0);
  c.lpfnWndProc = RecordingProcedure;
  c.lpszClassName = "Main Test";  // registered by the suite's window
  EXPECT_EQ(RegisterClassExA(&c), 0);
  EXPECT_NE(std::string(PlatformFailureReason()).find("\"Main Test\""), std::string::npos);
  EXPECT_EQ(CreateWindowExA(0, "Nobody", "x", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                            nullptr, nullptr),
            nullptr);
  EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
  EXPECT_EQ(LoadIconA(nullptr, "other"), nullptr);
  EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
  EXPECT_NE(GetStockObject(WHITE_BRUSH), nullptr);
  EXPECT_EQ(GetStockObject(5), nullptr);
}

TEST(Platform, WindowSizeContextAndProjection) {
  ConfigurePlatform(Headless());
  MakeMainCurrent();
  RECT client{};
  ASSERT_TRUE(GetClientRect(HeadlessWindow::window, &client));
  EXPECT_EQ(client.right - client.left, 800);
  EXPECT_EQ(client.bottom - client.top, 600);
  // A legacy context: fixed-function state and immediate mode work.
  std::string version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  EXPECT_EQ(version.find("Core"), std::string::npos) << version;
  // (The offscreen surface is a single-buffered pbuffer, so GL_DOUBLEBUFFER
  // is not checked here; captures read whichever buffer is drawn to.)
  GLint depthBits = 0;
  glGetIntegerv(GL_DEPTH_BITS, &depthBits);
  EXPECT_GE(depthBits, 16);
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 800);
  EXPECT_EQ(viewport[3], 600);
  // gluPerspective(45, 800/600, 15, 1000): m[5] / m[0] is the aspect ratio.
  GLfloat m[16];
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  EXPECT_NEAR(m[5] / m[0], 800.0 / 600.0, 1e-5);
  EXPECT_NEAR(m[5], 1.0 / std::tan(22.5 * 3.14159265358979 / 180.0), 1e-5);
  EXPECT_NEAR(m[14] / m[10], (2.0 * 1000 * 15 / (15.0 - 1000)) / ((1000 + 15.0) / (15 - 1000.0)),
              1e-3);
  // Immediate mode draws: a blue triangle over a white clear.
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glBegin(GL_TRIANGLES);
  glColor3f(0, 0, 1);
  glVertex2f(-1, -1);
  glVertex2f(1, -1);
  glVertex2f(0, 1);
  glEnd();
  glPopMatrix();
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glMatrixMode(GL_MODELVIEW);
  unsigned char centre[3];
  unsigned char corner[3];
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(400, 100, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, centre);
  glReadPixels(0, 599, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, corner);
  EXPECT_EQ(std::vector<int>(centre, centre + 3), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(std::vector<int>(corner, corner + 3), (std::vector<int>{255, 255, 255}));
}

TEST(Platform, PixelFormatRules) {
  ConfigurePlatform(Headless());
  HDC dc = GlContext.deviceContext;
  PIXELFORMATDESCRIPTOR request;
  FillPixelFormatRequest(&request);
  int chosen = ChoosePixelFormat(dc, &request);
  EXPECT_GT(chosen, 0);
  // The window has its format: the same again is fine, another is refused.
  EXPECT_TRUE(SetPixelFormat(dc, chosen, &request));
  EXPECT_FALSE(SetPixelFormat(dc, chosen == 1 ? 2 : 1, &request));
  EXPECT_FALSE(SetPixelFormat(dc, 0, &request));
  // Malformed requests get no format.
  PIXELFORMATDESCRIPTOR bad = request;
  bad.nSize = 0;
  EXPECT_EQ(ChoosePixelFormat(dc, &bad), 0);
  bad = request;
  bad.dwFlags = PFD_DOUBLEBUFFER | PFD_DRAW_TO_WINDOW;
  EXPECT_EQ(ChoosePixelFormat(dc, &bad), 0);
  EXPECT_EQ(ChoosePixelFormat(nullptr, &request), 0);
  // A depth nobody offers still gets the closest format.
  bad = request;
  bad.cDepthBits = 64;
  EXPECT_GT(ChoosePixelFormat(dc, &bad), 0);
  // A window without a format gets no context.
  ConfigurePlatform(Headless());
  HWND bare = MakeWindow("Bare");
  EXPECT_EQ(wglCreateContext(GetDC(bare)), nullptr);
  MakeMainCurrent();
}

}  // namespace

TEST(Platform, MouseWheelAndDropsArriveWithTheWindowsPacking) {
  ConfigurePlatform(Headless());
  Drain();
  auto button = [](uint32_t type, uint8_t which, int x, int y) {
    SDL_Event event{};
    event.type = type;
    event.button.button = which;
    event.button.x = x;
    event.button.y = y;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
  };
  button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 10, 20);
  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  motion.motion.x = -5;  // a captured drag outside the window
  motion.motion.y = 700;
  ASSERT_EQ(SDL_PushEvent(&motion), 1);
  button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, -5, 700);
  button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE, 1, 1);  // not one the program uses
  button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 3, 4);
  SDL_Event wheel{};
  wheel.type = SDL_MOUSEWHEEL;
  wheel.wheel.y = -2;
  wheel.wheel.preciseY = -2.0f;
  ASSERT_EQ(SDL_PushEvent(&wheel), 1);
  SDL_Event drop{};
  drop.type = SDL_DROPFILE;
  drop.drop.file = SDL_strdup("models/a b.3ds");
  ASSERT_EQ(SDL_PushEvent(&drop), 1);
  const std::vector<MSG> got = Drain();
  ASSERT_EQ(got.size(), 6u);
  ExpectMessages({got.begin(), got.begin() + 4},
                 {{WM_LBUTTONDOWN, MK_LBUTTON, 10 | (20u << 16)},
                  {WM_MOUSEMOVE, MK_LBUTTON, 0xFFFBu | (700u << 16)},
                  {WM_LBUTTONUP, 0, 0xFFFBu | (700u << 16)},
                  {WM_RBUTTONDOWN, MK_RBUTTON, 3 | (4u << 16)}},
                 "buttons and motion");
  EXPECT_EQ(got[4].message, WM_MOUSEWHEEL);
  EXPECT_EQ(got[4].wParam, (static_cast<WPARAM>(0x10000 - 240) << 16) | MK_RBUTTON);
  ASSERT_EQ(got[5].message, WM_DROPFILES);
  HDROP files = reinterpret_cast<HDROP>(got[5].wParam);
  ASSERT_EQ(DragQueryFileA(files, 0xFFFFFFFFu, nullptr, 0), 1u);
  char name[8];
  EXPECT_EQ(DragQueryFileA(files, 0, name, sizeof name), 14u);
  EXPECT_STREQ(name, "models/");  // cut to the buffer, terminated
  DragFinish(files);
  EXPECT_EQ(DragQueryFileA(files, 0xFFFFFFFFu, nullptr, 0), 0u);  // released
  button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 3, 4);
  Drain();
}

TEST(Platform, ScriptedDragsWheelAndDropsArriveAsMouseMessages) {
  PlatformOptions options = Headless();
  std::string error;
  ASSERT_TRUE(ParseKeyScript("2:rdrag:-30:5,2:wheel:150,2:drop:x.3ds", &options.keys, &error));
  ConfigurePlatform(options);
  MakeMainCurrent();
  ExpectMessages(Drain(), {}, "frame 1");
  ASSERT_TRUE(SwapBuffers(GlContext.deviceContext));
  const std::vector<MSG> got = Drain();
  ASSERT_EQ(got.size(), 6u);
  // From the client area's centre.
  RECT client{};
  GetClientRect(HeadlessWindow::window, &client);
  const uint32_t x = static_cast<uint32_t>(client.right / 2), y = static_cast<uint32_t>(client.bottom / 2);
  ExpectMessages({got.begin(), got.begin() + 3},
                 {{WM_RBUTTONDOWN, MK_RBUTTON, x | (y << 16)},
                  {WM_MOUSEMOVE, MK_RBUTTON, (x - 30) | ((y + 5) << 16)},
                  {WM_RBUTTONUP, 0, (x - 30) | ((y + 5) << 16)}},
                 "right drag");
  EXPECT_EQ(got[3].wParam >> 16, 100u * 120u);  // at most 100 notches a message
  EXPECT_EQ(got[4].wParam >> 16, 50u * 120u);
  ASSERT_EQ(got[5].message, WM_DROPFILES);
  DragFinish(reinterpret_cast<HDROP>(got[5].wParam));
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new HeadlessWindow);
  return RUN_ALL_TESTS();
}
