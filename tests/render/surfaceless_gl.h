// A headless OpenGL compatibility context without any window or surface, for
// tests that only need OpenGL's matrix state (Mesa's surfaceless EGL platform).
// Drawing tests use the real program instead.
#pragma once

#include <EGL/egl.h>
#include <EGL/eglext.h>

class SurfacelessGl {
 public:
  // Creates the context and makes it current; Ok() tells whether it worked.
  SurfacelessGl() {
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) return;
    display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr)) return;
    if (!eglBindAPI(EGL_OPENGL_API)) return;
    const EGLint want[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                           EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(display_, want, &config, 1, &count) || count < 1) return;
    context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, nullptr);
    if (context_ == EGL_NO_CONTEXT) return;
    ok_ = eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
  }
  // The display stays initialised until the process ends, as in the demo:
  // terminating the last one unloads Mesa's driver, and a block the driver
  // allocated once and keeps in its static data would then show as a leak.
  ~SurfacelessGl() {
    if (context_ != EGL_NO_CONTEXT) {
      eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
      eglDestroyContext(display_, context_);
    }
    eglReleaseThread();
  }
  SurfacelessGl(const SurfacelessGl&) = delete;
  SurfacelessGl& operator=(const SurfacelessGl&) = delete;

  bool Ok() const { return ok_; }

 private:
  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLContext context_ = EGL_NO_CONTEXT;
  bool ok_ = false;
};
