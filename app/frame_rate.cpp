// The frame-rate title. The first measurement spans only nine frame
// intervals but is divided as ten (it reads about a tenth high); a zero
// elapsed time gives infinity, shown as "inf". The unsigned difference of
// two clock readings stays right across a wrap of the 32-bit clock.
#include "app/frame_rate.h"

#include <cstdio>

FrameRateState frameRate;

void UpdateFrameRate(HWND window) {
  if (frameRate.lastUpdateTime == 0) frameRate.lastUpdateTime = timeGetTime();
  frameRate.frameCount += 1;
  if (frameRate.frameCount != 10) return;
  DWORD elapsed = timeGetTime() - frameRate.lastUpdateTime;  // modulo 2^32
  frameRate.framesPerSecond = 10000.0f / static_cast<float>(elapsed);
  frameRate.lastUpdateTime = timeGetTime();  // a new reading, taken after the division
  frameRate.frameCount = 0;
  // 20 characters hold every finite rate (at most "10000.000000") and "inf";
  // snprintf bounds the write whatever the value.
  char text[20];
  std::snprintf(text, sizeof text, "%f", static_cast<double>(frameRate.framesPerSecond));
  SetWindowTextA(window, text);
}
