// LoadTexture: the texture file as 8-bit RGB or RGBA rows, top row first,
// whichever reader can decode it. The file is read once (io/whole_file.h:
// no directory, FIFO, device or file over 4 GiB) and offered in turn to
//   the program's own TIFF reader (TiffImage: 8-bit RGB(A) strips, none or LZW),
//   libtiff, for the TIFF layouts the own reader declines and for big-endian
//     files (TIFFReadRGBAImageOriented, top-left origin),
//   libpng, for a file that starts with the PNG signature (expanded to 8 bits,
//     gray and palette to RGB, transparency to alpha),
//   libjpeg-turbo, for a file that starts with a JPEG marker (RGB; gray to
//     RGB), in a build with SV_WITH_JPEG.
// Every image is bounded like the own reader's: at most kMaxPixelBytes of
// RGBA. Failures are values, never exceptions. The own reader's
// "\n\n\t\tNot a tif_file!!!" goes to standard output when the scene's own
// texture file (LoadTexture) is no little-endian TIFF, and only then: a
// material's texture or an embedded image is read without it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "texture/tiff_image.h"

// Which reader decoded the file.
enum class TextureDecoder {
  kNone,     // nothing could: no pixels
  kOwn,      // TiffImage
  kLibtiff,  // libtiff's RGBA interface
  kPng,      // libpng
  kJpeg,     // libjpeg-turbo
};

// "none", "own", "libtiff", "png" or "jpeg", for reports.
const char* TextureDecoderName(TextureDecoder decoder);

// The decoded texture and how it came about. It can be moved, not copied.
struct TextureImage {
  int32_t width = 0;
  int32_t height = 0;
  int samples = 0;                  // 3 (RGB) or 4 (RGBA); 0 without pixels
  const uint8_t* pixels = nullptr;  // height rows of width x samples bytes, top row first, no
                                    // padding; null when no reader decoded the file
  TextureDecoder decoder = TextureDecoder::kNone;
  // kLibtiff, kPng, kJpeg: why the own reader did not decode it ("16-bit samples",
  // "a JPEG file").
  // kNone: why nothing did (the file's problem, or the readers' reasons).
  std::string note;
  bool noFile = false;  // kNone because the path gave no bytes (missing, directory, FIFO, ...)

  std::unique_ptr<TiffImage> tiff;     // the own reader's record: the tags it read, and the
                                       // pixels when decoder is kOwn; never null
  std::vector<uint8_t> decodedPixels;  // the pixels when libtiff, libpng or libjpeg decoded them
};

// Reads and decodes the scene's texture file at path as described above.
// Never throws.
TextureImage LoadTexture(const char* path);

// The same over a file another reader has read (a material's texture, read
// inside the model's folder); `name` stands for it as in
// LoadTextureFromMemory. A failed read gives no pixels, noFile and the
// read's reason. Never throws.
TextureImage LoadTextureFromFile(const FileBytes& file, const char* name);

// The same chain over bytes already in memory (a texture embedded in a model
// file), with no size or file-type checks of a path. The bytes are needed
// only while it runs: the result owns its pixels. `name` stands for the
// bytes in libtiff's messages; the result's note never contains it, so a
// caller reports with DescribeTextureLoad(name, image). `maxPixelBytes`
// lowers the pixel cap (the fuzz harness keeps its inputs fast with it).
// Never throws.
TextureImage LoadTextureFromMemory(const uint8_t* data, size_t size, const char* name,
                                   uint32_t maxPixelBytes = kMaxPixelBytes);

// One line (no newline) saying how the texture at `path` was read: empty when
// the own reader decoded it; "PATH: 16-bit samples; read through libtiff";
// "PATH: a PNG file; read through libpng" (libjpeg likewise); for no pixels, the path, what was
// wrong and, for a file that was read, "save it as 8-bit RGB TIFF or PNG".
std::string DescribeTextureLoad(const char* path, const TextureImage& image);
