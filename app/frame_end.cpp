// The end-of-frame step, one visible call per stage: platform services around
// the swap, then the application's title and the renderer's motion step.
#include "app/frame_end.h"

#include "app/app_state.h"
#include "app/frame_rate.h"
#include "app/viewer_input.h"
#include "platform/platform.h"
#include "render/key_motion.h"
#include "render/render_state.h"

void FinishFrame(HWND window) {
  const HDC dc = GlContext.deviceContext;
  DrawViewerOverlay(window);  // the help overlay, when shown, is part of the frame
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
