// Writes 8-bit RGB images as PNG files through libpng. Used by the frame
// captures; knows nothing about OpenGL or windows.
#pragma once

#include <cstdint>
#include <string>

// Writes `width` x `height` RGB pixels, rows top first with no padding, to
// `path`. False, with `error` set, for a zero size, an unopenable file or a
// libpng failure; a half-written file is removed.
bool WritePngRgb(const std::string& path, uint32_t width, uint32_t height, const uint8_t* rgb,
                 std::string* error);
