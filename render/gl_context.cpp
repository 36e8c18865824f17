// Creation of the program's OpenGL context, in the fixed order the rest of
// the program relies on, and the viewport and projection that follow the
// client size. Nothing here releases a working context.
#include "render/gl_context.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstring>

void FillPixelFormatRequest(PIXELFORMATDESCRIPTOR* request) {
  std::memset(request, 0, sizeof *request);
  request->nSize = sizeof(PIXELFORMATDESCRIPTOR);  // 40
  request->nVersion = 1;
  request->dwFlags = PFD_DOUBLEBUFFER | PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
  request->iPixelType = PFD_TYPE_RGBA;
  request->cColorBits = 16;
  request->cRedBits = 5;
  request->cRedShift = 11;
  request->cGreenBits = 6;
  request->cGreenShift = 5;
  request->cBlueBits = 5;
  request->cBlueShift = 0;
  request->cAlphaBits = 0;
  request->cAlphaShift = 0;
  request->cAccumBits = 0;
  request->cAccumRedBits = 0;
  request->cAccumGreenBits = 0;
  request->cAccumBlueBits = 0;
  request->cAccumAlphaBits = 0;
  request->cDepthBits = 32;
  request->cStencilBits = 8;  // exact shadows count in it; the layer may give none
  request->cAuxBuffers = 0;
  request->iLayerType = PFD_MAIN_PLANE;
  request->bReserved = 0;
  request->dwLayerMask = 0;
  request->dwVisibleMask = 0;
  request->dwDamageMask = 0;
}

float ClientAspectRatio(const RECT& client) {
  float width = static_cast<float>(client.right - client.left);
  float height = static_cast<float>(client.bottom - client.top);
  return height == 0.0f ? 1.0f : width / height;
}

namespace {

// The part of the making that can fail: choose and set the pixel format,
// create the rendering context (stored at once) and make it current. False
// at the first step that fails; the later ones do not run.
bool MakeContextCurrent() {
  const int format = ChoosePixelFormat(GlContext.deviceContext, &PixelFormatRequest);
  if (format == 0) return false;
  if (!SetPixelFormat(GlContext.deviceContext, format, &PixelFormatRequest)) return false;
  GlContext.renderingContext = wglCreateContext(GlContext.deviceContext);
  if (GlContext.renderingContext == nullptr) return false;
  return wglMakeCurrent(GlContext.deviceContext, GlContext.renderingContext) != FALSE;
}

}  // namespace

bool InitOpenGL(HWND window) {
  GlContext.window = window;
  GlContext.deviceContext = GetDC(window);
  FillPixelFormatRequest(&PixelFormatRequest);
  if (!MakeContextCurrent()) {
    ReleaseOpenGL();  // its result changes nothing: the context is not there either way
    return false;
  }

  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  FollowClientSize(window);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  return true;
}

void FollowClientSize(HWND window) {
  if (GlContext.renderingContext == nullptr) return;
  RECT client{};
  GetClientRect(window, &client);
  glViewport(0, 0, client.right - client.left, client.bottom - client.top);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, ClientAspectRatio(client), 15.0, 1000.0);
  glMatrixMode(GL_MODELVIEW);
}

bool ReleaseOpenGL() {
  // The stored handles, not null ones: after an early failure the rendering
  // context is null, so the thread is left without a current context and
  // the deletion fails.
  bool madeCurrent = wglMakeCurrent(GlContext.deviceContext, GlContext.renderingContext) != FALSE;
  bool deleted = wglDeleteContext(GlContext.renderingContext) != FALSE;
  GlContext.deviceContext = nullptr;
  GlContext.renderingContext = nullptr;
  return madeCurrent && deleted;
}
