// The end-of-frame step, one visible call per stage: platform services around
// the swap, then the application's title and the renderer's motion step.
#include "app/frame_end.h"

#include <cstdio>

#include "app/app_state.h"
#include "app/frame_rate.h"
#include "app/viewer_input.h"
#include "platform/platform.h"
#include "render/key_motion.h"
#include "render/render_state.h"
#include "render/traced_shadows.h"

namespace {

// With the truth view on, a frame the run captures gets one line on
// standard output with its count, so a run can be judged without reading
// the picture.
void PrintTruthIfCaptured() {
  if (!LastTruth.measured) return;
  const uint32_t frame = PresentedFrameCount() + 1;
  for (const CaptureRequest& capture : ConfiguredPlatformOptions().captures) {
    if (capture.frame != frame) continue;
    std::printf("truth: frame %u %s %.2f%% right, %lld wrong pixels\n", frame,
                ShadowModeName(LastTruth.mode), TruthPercent(LastTruth),
                static_cast<long long>(LastTruth.wrong));
    std::fflush(stdout);
    return;
  }
}

}  // namespace

void FinishFrame(HWND window) {
  const HDC dc = GlContext.deviceContext;
  DrawViewerOverlay(window);  // the help overlay, when shown, is part of the frame
  PrintTruthIfCaptured();
  CaptureFrame(dc);  // read back before the swap, while the frame is in the back buffer
  SaveScreenshotIfAsked(window);
  if (SwapBuffers(dc)) {
    StepVirtualClock();
    CloseAtFrameLimit(window);
  }
  UpdateFrameRate(window);
  ApplyHeldKeyMotion(Keyboard);
  ReloadWatchedFiles(window);
}
