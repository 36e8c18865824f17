// The frame-rate title. The first measurement spans only nine frame
// intervals but is divided as ten (it reads about a tenth high); a zero
// elapsed time gives infinity, shown as "inf". The unsigned difference of
// two clock readings stays right across a wrap of the 32-bit clock.
#include "app/frame_rate.h"

#include <cstdio>

#include "app/app_state.h"
#include "render/render_state.h"

void UpdateFrameRate(HWND window) {
  if (FrameRate.lastUpdateTime == 0) FrameRate.lastUpdateTime = timeGetTime();
  FrameRate.frameCount += 1;
  if (FrameRate.frameCount != 10) return;
  DWORD elapsed = timeGetTime() - FrameRate.lastUpdateTime;  // modulo 2^32
  FrameRate.framesPerSecond = 10000.0f / static_cast<float>(elapsed);
  FrameRate.lastUpdateTime = timeGetTime();  // a new reading, taken after the division
  FrameRate.frameCount = 0;
  // A notice (why a dropped file was refused) keeps the title until its time
  // is up; the clock is read only while one stands.
  if (Viewer.noticeUntil != 0) {
    if (static_cast<int32_t>(timeGetTime() - Viewer.noticeUntil) < 0) return;
    Viewer.noticeUntil = 0;
  }
  // 40 characters hold every finite rate (at most "10000.000000") or "inf"
  // and the mode's suffix; snprintf bounds the write whatever the value. The
  // blend mode adds nothing.
  const char* suffix = Shadows.mode == ShadowMode::kExact    ? " - exact shadows"
                       : Shadows.mode == ShadowMode::kTraced ? " - traced shadows"
                       : Shadows.mode == ShadowMode::kOff    ? " - no shadows"
                                                             : "";
  char text[40];
  std::snprintf(text, sizeof text, "%f%s", static_cast<double>(FrameRate.framesPerSecond), suffix);
  SetWindowTextA(window, text);
}
