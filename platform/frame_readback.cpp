// Frame read-back: glReadPixels from the drawn buffer, flipped upright.
#include "platform/frame_readback.h"

#include <GL/gl.h>

#include <cstring>

std::vector<uint8_t> ReadFrameRgb(int width, int height) {
  if (width <= 0 || height <= 0) return {};
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> bottomUp(rowBytes * height);
  GLint oldAlignment = 4;
  GLint oldReadBuffer = GL_BACK;
  glGetIntegerv(GL_PACK_ALIGNMENT, &oldAlignment);
  glGetIntegerv(GL_READ_BUFFER, &oldReadBuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  // The offscreen driver's surface is a single-buffered pbuffer, where
  // frames are drawn to the front buffer; a window's frames go to the back.
  GLboolean doubleBuffered = GL_FALSE;
  glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffered);
  glReadBuffer(doubleBuffered ? GL_BACK : GL_FRONT);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
  glPixelStorei(GL_PACK_ALIGNMENT, oldAlignment);
  glReadBuffer(static_cast<GLenum>(oldReadBuffer));
  std::vector<uint8_t> upright(bottomUp.size());
  for (int y = 0; y < height; ++y) {
    std::memcpy(&upright[static_cast<size_t>(y) * rowBytes],
                &bottomUp[static_cast<size_t>(height - 1 - y) * rowBytes], rowBytes);
  }
  return upright;
}
