// The shell's logic over the recording platform: WinMain's start sequence and
// loop, the end-of-frame step's order, the window procedure's table, the
// keyboard state, the frame-rate arithmetic with a controlled clock, and the
// OpenGL context's call order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/frame_end.h"
#include "app/frame_rate.h"
#include "app/keyboard.h"
#include "app/win_main.h"
#include "platform/platform.h"
#include "render/gl_context.h"
#include "render/render_state.h"
#include "tests/app/fake_platform.h"

namespace {

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
    Keyboard = KeyState{};
    FrameRate = FrameRateState{};
    GlContext = GlContextState{};
    GlContext.deviceContext = FakeDc();  // as SetupScene leaves it
    MainWindow = nullptr;
  }
};

using Calls = std::vector<std::string>;

// What one frame of the loop calls: the passes, then the end-of-frame step.
const Calls kFrame = {
    "RenderFrame",      "CaptureFrame(dc)",          "SwapBuffers(dc)",
    "StepVirtualClock", "CloseAtFrameLimit(window)", "ApplyHeldKeyMotion(Keyboard)"};

Calls Concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(ShellTest, WinMainRegistersCreatesShowsAndSetsUpInOrder) {
  fake.queue.push_back(FakeMessage(WM_CLOSE));
  int code = WinMain(PlatformInstance(), nullptr, nullptr, SW_SHOWNORMAL);
  EXPECT_EQ(code, 0);

  Calls start(fake.calls.begin(), fake.calls.begin() + 9);
  EXPECT_EQ(start, (Calls{"LoadIconA(null,0x7f00)", "LoadCursorA(null,0x7f00)", "GetStockObject(0)",
                          "LoadIconA(null,0x7f00)", "RegisterClassExA(My App)",
                          "CreateWindowExA(0,My App,Shadow Volume,0xcf0000,-2147483648,0,800,600,"
                          "null,null,instance,null)",
                          "ShowWindow(1)", "UpdateWindow", "SetupScene"}));
  const WNDCLASSEXA& c = fake.registeredClass;
  EXPECT_EQ(c.cbSize, sizeof(WNDCLASSEXA));
  EXPECT_EQ(c.style, 3u);
  EXPECT_EQ(c.lpfnWndProc, &WindowProcedure);
  EXPECT_EQ(c.cbClsExtra, 0);
  EXPECT_EQ(c.cbWndExtra, 0);
  EXPECT_EQ(c.hInstance, PlatformInstance());
  EXPECT_NE(c.hIcon, nullptr);
  EXPECT_EQ(c.hIconSm, c.hIcon);
  EXPECT_NE(c.hCursor, nullptr);
  EXPECT_NE(c.hbrBackground, nullptr);
  EXPECT_EQ(c.lpszMenuName, nullptr);
  EXPECT_EQ(MainWindow, FakeWindow());
  EXPECT_EQ(fake.setupWindow, FakeWindow());
}

TEST_F(ShellTest, LoopHandlesEveryWaitingMessageBeforeTheNextFrame) {
  // A burst of three key messages, an empty queue, one more message, empty,
  // then the close: the window procedure sees the burst before frame 1.
  fake.queue = {FakeMessage(WM_KEYDOWN, VK_TAB),
                FakeMessage(WM_KEYDOWN, VK_UP),
                FakeMessage(WM_KEYUP, VK_UP),
                FakeMessage(0),
                FakeMessage(WM_KEYDOWN, VK_HOME),
                FakeMessage(0),
                FakeMessage(WM_CLOSE)};
  int code = WinMain(PlatformInstance(), nullptr, nullptr, SW_SHOWNORMAL);
  EXPECT_EQ(code, 0);

  Calls loop(fake.calls.begin() + 9, fake.calls.end());
  const std::string peek = "PeekMessageA(null,0,0,1)";
  EXPECT_EQ(loop, Concat({{peek, "TranslateMessage(0x100)", "DispatchMessageA(0x100)", peek,
                           "TranslateMessage(0x100)", "DispatchMessageA(0x100)", peek,
                           "TranslateMessage(0x101)", "DispatchMessageA(0x101)", peek},
                          kFrame,
                          {peek, "TranslateMessage(0x100)", "DispatchMessageA(0x100)", peek},
                          kFrame,
                          {peek, "TranslateMessage(0x10)", "DispatchMessageA(0x10)",
                           "DefWindowProcA(0x10,0x0)", "PostQuitMessage(0)", peek}}));
  EXPECT_FALSE(Keyboard.lightMode);
  EXPECT_FALSE(Keyboard.keyUp);
  EXPECT_TRUE(Keyboard.keyHome);
}

TEST_F(ShellTest, EndOfFrameCapturesBeforeTheSwapAndMovesAfterTheTitle) {
  // Ten frames: the tenth sets the title, between the swap's steps and the
  // motion.
  for (int frame = 1; frame <= 10; ++frame) FinishFrame(FakeWindow());
  EXPECT_EQ(Calls(fake.calls.end() - 6, fake.calls.end()),
            (Calls{"CaptureFrame(dc)", "SwapBuffers(dc)", "StepVirtualClock",
                   "CloseAtFrameLimit(window)", "SetWindowTextA", "ApplyHeldKeyMotion(Keyboard)"}));
  // A swap that fails presents nothing: no clock step, no frame limit.
  fake.calls.clear();
  fake.swapResult = FALSE;
  FinishFrame(FakeWindow());
  EXPECT_EQ(fake.calls,
            (Calls{"CaptureFrame(dc)", "SwapBuffers(dc)", "ApplyHeldKeyMotion(Keyboard)"}));
}

TEST_F(ShellTest, WmQuitEndsTheLoopWithItsCode) {
  fake.queue = {FakeMessage(0), FakeMessage(0)};
  MSG quit = FakeMessage(WM_QUIT, 3);
  quit.hwnd = nullptr;
  fake.queue.push_back(quit);
  EXPECT_EQ(WinMain(PlatformInstance(), nullptr, nullptr, SW_SHOWNORMAL), 3);
  EXPECT_EQ(fake.framesRendered, 2);
}

TEST_F(ShellTest, NoClassOrNoWindowStopsWithExitCodeOne) {
  fake.registerResult = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(WinMain(PlatformInstance(), nullptr, nullptr, SW_SHOWNORMAL), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "shadow_volume: no display here\n");
  EXPECT_EQ(fake.calls.back(), "RegisterClassExA(My App)");

  ResetFake();
  fake.createFails = true;
  fake.failureReason = "cannot open a window: no display; use --headless to run without one";
  testing::internal::CaptureStderr();
  EXPECT_EQ(WinMain(PlatformInstance(), nullptr, nullptr, SW_SHOWNORMAL), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "shadow_volume: cannot open a window: no display; use --headless to run without one\n");
  EXPECT_EQ(fake.calls.back().rfind("CreateWindowExA", 0), 0u);
  EXPECT_EQ(MainWindow, nullptr);
}

TEST_F(ShellTest, WindowProcedureHandlesKeysAndDestroyAndDefaultsTheRest) {
  HWND w = FakeWindow();
  // Key messages reach the handlers and return 0, never the default.
  EXPECT_EQ(WindowProcedure(w, WM_KEYDOWN, VK_LEFT, 0), 0);
  EXPECT_TRUE(Keyboard.keyLeft);
  EXPECT_EQ(WindowProcedure(w, WM_KEYUP, VK_LEFT, 0), 0);
  EXPECT_FALSE(Keyboard.keyLeft);
  EXPECT_EQ(WindowProcedure(w, WM_KEYDOWN, 'Q', 0), 0);  // ignored key, still 0
  EXPECT_TRUE(fake.calls.empty());

  // System keys, WM_CREATE, WM_PAINT go to the default procedure, whose
  // result comes back, and change no key state.
  for (UINT message : {WM_SYSKEYDOWN, WM_SYSKEYUP, WM_CREATE, WM_PAINT, WM_ERASEBKGND}) {
    EXPECT_EQ(WindowProcedure(w, message, VK_HOME, 0), 0x5EED) << message;
  }
  EXPECT_FALSE(Keyboard.keyHome);
  EXPECT_EQ(fake.calls.size(), 5u);
  EXPECT_EQ(fake.calls[0], "DefWindowProcA(0x104,0x24)");

  // WM_SIZE: the viewport and projection follow the client area once the
  // context exists (the fake's client rectangle is read), never before.
  fake.calls.clear();
  EXPECT_EQ(WindowProcedure(w, WM_SIZE, 0, 0), 0);
  EXPECT_TRUE(fake.calls.empty());
  GlContext.renderingContext = FakeContext();
  EXPECT_EQ(WindowProcedure(w, WM_SIZE, 0, 0), 0);
  EXPECT_EQ(fake.calls, (Calls{"GetClientRect"}));

  // Escape closes the window as its close button does: WM_CLOSE's default
  // destroys it, and WM_DESTROY posts WM_QUIT with code 0.
  fake.calls.clear();
  EXPECT_EQ(WindowProcedure(w, WM_KEYDOWN, VK_ESCAPE, 0), 0);
  EXPECT_EQ(fake.calls, (Calls{"DefWindowProcA(0x10,0x0)", "PostQuitMessage(0)"}));
  fake.posted.clear();

  // WM_DESTROY posts WM_QUIT with code 0.
  fake.calls.clear();
  EXPECT_EQ(WindowProcedure(w, WM_DESTROY, 0, 0), 0);
  EXPECT_EQ(fake.calls, (Calls{"PostQuitMessage(0)"}));
  ASSERT_EQ(fake.posted.size(), 1u);
  EXPECT_EQ(fake.posted.front().message, WM_QUIT);
  EXPECT_EQ(fake.posted.front().wParam, 0u);
}

TEST_F(ShellTest, KeyMapSetsAndClearsEachFlag) {
  struct Mapping {
    WPARAM key;
    bool KeyState::*flag;
  };
  const Mapping map[] = {{0x26, &KeyState::keyUp},     {0x28, &KeyState::keyDown},
                         {0x25, &KeyState::keyLeft},   {0x27, &KeyState::keyRight},
                         {0x24, &KeyState::keyHome},   {0x23, &KeyState::keyEnd},
                         {0x2E, &KeyState::keyDelete}, {0x22, &KeyState::keyPageDown},
                         {0x21, &KeyState::keyPageUp}, {0x2D, &KeyState::keyInsert}};
  for (const Mapping& m : map) {
    OnKeyDown(m.key);
    EXPECT_TRUE(Keyboard.*(m.flag)) << m.key;
    OnKeyDown(m.key);  // a repeat changes nothing
    EXPECT_TRUE(Keyboard.*(m.flag)) << m.key;
    // Exactly one flag is set, and the mode is untouched.
    int held = 0;
    for (const Mapping& other : map) held += Keyboard.*(other.flag) ? 1 : 0;
    EXPECT_EQ(held, 1) << m.key;
    EXPECT_TRUE(Keyboard.lightMode);
    OnKeyUp(m.key);
    EXPECT_FALSE(Keyboard.*(m.flag)) << m.key;
  }
  // Unknown keys are ignored on press and release; so is Tab's release.
  KeyState before = Keyboard;
  for (WPARAM key : {WPARAM{0}, WPARAM{'A'}, VK_F1, VK_ESCAPE, WPARAM{0x2C}, WPARAM{0x126}}) {
    OnKeyDown(key);
    OnKeyUp(key);
  }
  OnKeyUp(VK_TAB);
  EXPECT_EQ(std::memcmp(&before, &Keyboard, sizeof before), 0);
}

TEST_F(ShellTest, TabFlipsLightModeOnEveryPressIncludingRepeats) {
  EXPECT_TRUE(Keyboard.lightMode);  // starts moving the light
  OnKeyDown(VK_TAB);
  EXPECT_FALSE(Keyboard.lightMode);
  OnKeyDown(VK_TAB);  // auto-repeat while held
  EXPECT_TRUE(Keyboard.lightMode);
  OnKeyDown(VK_TAB);
  OnKeyUp(VK_TAB);
  EXPECT_FALSE(Keyboard.lightMode);  // press + 2 repeats = 3 flips; release none
  OnKeyDown(VK_TAB);
  EXPECT_TRUE(Keyboard.lightMode);
  // A held key survives mode changes.
  OnKeyDown(VK_HOME);
  OnKeyDown(VK_TAB);
  EXPECT_TRUE(Keyboard.keyHome);
  EXPECT_FALSE(Keyboard.lightMode);
  // Alt+Tab arrives as a system key, which the window procedure passes on.
  WindowProcedure(FakeWindow(), WM_SYSKEYDOWN, VK_TAB, LPARAM{1} << 29);
  EXPECT_FALSE(Keyboard.lightMode);
}

// A held toggle key changes its setting once, on the press: the repeats
// Windows (and the SDL backend) send with the previous-state bit set do
// nothing more, and the next press acts again. Tab alone flips on every
// repeat too.
TEST_F(ShellTest, ToggleKeysActOnThePressNotOnAutoRepeat) {
  constexpr LPARAM kPress = 1, kRepeat = 1 | (LPARAM{1} << 30);
  constexpr LPARAM kRelease = static_cast<LPARAM>(static_cast<int32_t>(0xC0000001u));
  auto fullscreenToggles = [] {
    int count = 0;
    for (const std::string& call : fake.calls) count += call.rfind("ToggleFullscreen", 0) == 0;
    return count;
  };
  struct Toggle {
    WPARAM key;
    std::function<int()> setting;  // a value each press changes
  };
  const Toggle toggles[] = {
      {'S', [] { return static_cast<int>(Shadows.mode); }},
      {'V', [] { return static_cast<int>(Shadows.showVolumes); }},
      {'H', [] { return static_cast<int>(Viewer.helpShown); }},
      {VK_F1, [] { return static_cast<int>(Viewer.helpShown); }},
      {VK_F11, fullscreenToggles},
      {VK_TAB, [] { return static_cast<int>(Keyboard.lightMode); }},
  };
  Shadows = ShadowView{};
  Shadows.stencilAvailable = true;  // S cycles through all three modes
  Viewer = ViewerState{};
  for (const Toggle& t : toggles) {
    SCOPED_TRACE(t.key);
    std::vector<int> seen = {t.setting()};
    for (int press = 0; press < 2; ++press) {
      WindowProcedure(FakeWindow(), WM_KEYDOWN, t.key, kPress);
      seen.push_back(t.setting());
      for (int repeat = 0; repeat < 3; ++repeat) {
        WindowProcedure(FakeWindow(), WM_KEYDOWN, t.key, kRepeat);
        seen.push_back(t.setting());
      }
      WindowProcedure(FakeWindow(), WM_KEYUP, t.key, kRelease);
    }
    for (size_t i = 1; i < seen.size(); ++i) {
      const bool press = (i - 1) % 4 == 0;
      if (press || t.key == VK_TAB)
        EXPECT_NE(seen[i], seen[i - 1]) << "message " << i;
      else
        EXPECT_EQ(seen[i], seen[i - 1]) << "message " << i;
    }
  }
  Shadows = ShadowView{};
  Viewer = ViewerState{};
}

// Runs UpdateFrameRate once per listed clock reading (each used for every
// timeGetTime call of that frame).
void RunFrames(const std::vector<uint32_t>& clock) {
  for (uint32_t now : clock) {
    fake.now = now;
    UpdateFrameRate(FakeWindow());
  }
}

TEST_F(ShellTest, FrameRateTitleEveryTenthFrameFromTheFirstCall) {
  // Frames 1..9 at 1000, 1010, ...: the first call starts the clock.
  std::vector<uint32_t> clock;
  for (int frame = 1; frame <= 9; ++frame) clock.push_back(1000 + 10 * (frame - 1));
  RunFrames(clock);
  EXPECT_TRUE(fake.titles.empty());
  EXPECT_EQ(FrameRate.lastUpdateTime, 1000u);
  // Frame 10 at 1090: nine intervals (90 ms), divided as ten frames.
  RunFrames({1090});
  ASSERT_EQ(fake.titles.size(), 1u);
  EXPECT_EQ(fake.titles[0], "111.111115");
  EXPECT_EQ(FrameRate.frameCount, 0.0f);
  EXPECT_EQ(FrameRate.lastUpdateTime, 1090u);
  // Frames 11..20, 10 ms apart: ten full intervals.
  clock.clear();
  for (int frame = 11; frame <= 20; ++frame) clock.push_back(1090 + 10 * (frame - 10));
  RunFrames(clock);
  ASSERT_EQ(fake.titles.size(), 2u);
  EXPECT_EQ(fake.titles[1], "100.000000");
  EXPECT_EQ(FrameRate.framesPerSecond, 100.0f);
}

TEST_F(ShellTest, FrameRateTakesANewReadingAfterTheDivision) {
  fake.now = 500;
  RunFrames(std::vector<uint32_t>(9, 500));
  // Frame 10: step 4 reads 600, step 6 reads 607.
  fake.clockReadings = {600, 607};
  UpdateFrameRate(FakeWindow());
  EXPECT_EQ(fake.titles.back(), "100.000000");
  EXPECT_EQ(FrameRate.lastUpdateTime, 607u);
}

TEST_F(ShellTest, FrameRateEdgeValues) {
  // Ten frames within one millisecond: infinity, formatted by "%f".
  RunFrames(std::vector<uint32_t>(10, 42));
  EXPECT_TRUE(std::isinf(FrameRate.framesPerSecond));
  EXPECT_EQ(fake.titles.back(), "inf");
  // Ten frames in 20 s: below 1 with its leading zero.
  RunFrames(std::vector<uint32_t>(9, 42));
  RunFrames({20042});
  EXPECT_EQ(fake.titles.back(), "0.500000");
  // Ten frames in 1 ms: the largest finite rate fits the buffer.
  RunFrames(std::vector<uint32_t>(9, 20042));
  RunFrames({20043});
  EXPECT_EQ(fake.titles.back(), "10000.000000");
  EXPECT_EQ(fake.titles.size(), 3u);
}

TEST_F(ShellTest, FrameRateAcrossTheClockWrap) {
  // The clock wraps from 2^32 - 1 to 0 between the two readings: 40 ms.
  RunFrames(std::vector<uint32_t>(9, 0xFFFFFFF0u));
  RunFrames({24});
  EXPECT_EQ(fake.titles.back(), "250.000000");
  EXPECT_EQ(FrameRate.lastUpdateTime, 24u);
}

TEST_F(ShellTest, PixelFormatRequestBytes) {
  // The descriptor as a Windows program lays it out: little-endian fields.
  const uint8_t expected[40] = {
      40,   0,  1, 0,               // nSize, nVersion
      0x25, 0,  0, 0,               // dwFlags: double buffer | draw to window | OpenGL
      0,    16, 5, 11, 6, 5, 5, 0,  // RGBA type, 16 colour bits, 5-6-5 at shifts 11, 5, 0
      0,    0,  0, 0,  0, 0, 0,     // no alpha, no accumulation buffer
      32,   8,  0, 0,  0,           // depth 32, stencil 8, no aux, main plane, reserved
      0,    0,  0, 0,  0, 0, 0, 0, 0, 0, 0, 0};  // layer, visible, damage masks
  PIXELFORMATDESCRIPTOR request;
  std::memset(&request, 0xAB, sizeof request);  // padding must not leak through
  FillPixelFormatRequest(&request);
  EXPECT_EQ(std::memcmp(&request, expected, sizeof expected), 0);
}

TEST_F(ShellTest, InitOpenGLCallsInOrder) {
  EXPECT_TRUE(InitOpenGL(FakeWindow()));
  EXPECT_EQ(fake.calls, (Calls{"GetDC", "ChoosePixelFormat(PixelFormatRequest)",
                               "SetPixelFormat(7,PixelFormatRequest)", "wglCreateContext",
                               "wglMakeCurrent(dc,context)", "GetClientRect"}));
  EXPECT_EQ(GlContext.window, FakeWindow());
  EXPECT_EQ(GlContext.deviceContext, FakeDc());
  EXPECT_EQ(GlContext.renderingContext, FakeContext());
  EXPECT_EQ(PixelFormatRequest.cDepthBits, 32);
}

TEST_F(ShellTest, InitOpenGLReleasesOnEachFailure) {
  // Failing at the format: the stored (null) context is made current and
  // deleted, the deletion fails, the handles are cleared, the window stays.
  fake.chooseResult = 0;
  EXPECT_FALSE(InitOpenGL(FakeWindow()));
  EXPECT_EQ(fake.calls, (Calls{"GetDC", "ChoosePixelFormat(PixelFormatRequest)",
                               "wglMakeCurrent(dc,null)", "wglDeleteContext(null)"}));
  EXPECT_EQ(GlContext.deviceContext, nullptr);
  EXPECT_EQ(GlContext.window, FakeWindow());

  ResetFake();
  fake.setFormatResult = FALSE;
  EXPECT_FALSE(InitOpenGL(FakeWindow()));
  EXPECT_EQ(fake.calls.back(), "wglDeleteContext(null)");

  ResetFake();
  fake.contextFails = true;
  EXPECT_FALSE(InitOpenGL(FakeWindow()));
  EXPECT_EQ(fake.calls.back(), "wglDeleteContext(null)");

  // Failing to make it current: the made context is released for real.
  ResetFake();
  fake.makeCurrentResults = {FALSE, TRUE};
  EXPECT_FALSE(InitOpenGL(FakeWindow()));
  EXPECT_EQ(Calls(fake.calls.end() - 3, fake.calls.end()),
            (Calls{"wglMakeCurrent(dc,context)", "wglMakeCurrent(dc,context)",
                   "wglDeleteContext(context)"}));
  EXPECT_EQ(GlContext.renderingContext, nullptr);
}

TEST_F(ShellTest, ReleaseOpenGLIsTrueOnlyWhenBothCallsSucceed) {
  GlContext.deviceContext = FakeDc();
  GlContext.renderingContext = FakeContext();
  EXPECT_TRUE(ReleaseOpenGL());
  GlContext.deviceContext = FakeDc();
  GlContext.renderingContext = FakeContext();
  fake.makeCurrentResults = {FALSE};
  EXPECT_FALSE(ReleaseOpenGL());
  EXPECT_EQ(fake.calls.back(), "wglDeleteContext(context)");  // still attempted
}

TEST_F(ShellTest, AspectRatioOfTheClientArea) {
  EXPECT_FLOAT_EQ(ClientAspectRatio(RECT{0, 0, 784, 561}), 784.0f / 561.0f);
  EXPECT_EQ(ClientAspectRatio(RECT{0, 0, 800, 0}), 1.0f);  // minimised: no division by zero
  EXPECT_EQ(ClientAspectRatio(RECT{0, 0, 0, 0}), 1.0f);
  EXPECT_FLOAT_EQ(ClientAspectRatio(RECT{10, 20, 810, 620}), 800.0f / 600.0f);
}

}  // namespace
