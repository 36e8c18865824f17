// Writes 8-bit RGB images as PNG files through libpng. Used by the frame
// captures and the screenshot key; knows nothing about OpenGL or windows.
#pragma once

#include <cstdint>
#include <string>

// Writes `width` x `height` RGB pixels, rows top first with no padding, to
// `path`. False, with `error` set, for a zero size, an unopenable file or a
// libpng failure; a half-written file is removed.
bool WritePngRgb(const std::string& path, uint32_t width, uint32_t height, const uint8_t* rgb,
                 std::string* error);

// How WritePngRgbNewFile ended.
enum class PngCreation {
  kWritten,  // the file was made and written
  kExists,   // a file of that name exists; nothing was touched
  kFailed,   // `error` says why; nothing is left behind
};

// As WritePngRgb, but only into a file it creates itself (O_EXCL): an
// existing file of that name is never opened or overwritten.
PngCreation WritePngRgbNewFile(const std::string& path, uint32_t width, uint32_t height,
                               const uint8_t* rgb, std::string* error);
