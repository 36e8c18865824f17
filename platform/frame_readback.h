// Reads the frame just drawn back from the current OpenGL context, for the
// run's captures and the screenshot key. OpenGL calls only: no window system.
#pragma once

#include <cstdint>
#include <vector>

// The `width` x `height` pixels at the origin of the buffer the frame was
// drawn into (the back buffer of a double-buffered surface, else the front),
// as 8-bit RGB rows top first with no padding. The pack alignment and read
// buffer are restored afterwards. Empty for a size of 0 or less.
std::vector<uint8_t> ReadFrameRgb(int width, int height);
