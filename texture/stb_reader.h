// Image decoding through stb_image (Debian's libstb-dev), for the texture
// chain (texture_loader): BMP and TGA in every build, and PNG and JPEG too in
// a build that has neither libpng nor libjpeg-turbo (the web page, built with
// SV_STB_PNG_JPEG), which would otherwise have to carry both libraries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The format stb_image would read the bytes as: "BMP" (they start with
// "BM"), "TGA" (a header whose fields are all ones a TGA can have; TGA has no
// signature), "PNG" or "JPEG" (where built in); null for none of them.
const char* StbImageFormat(const uint8_t* data, size_t size);

// Decodes the image in data[0, size) into 8-bit rows, top row first, no
// padding: RGBA when the file has alpha, else RGB (grey becomes RGB). Refuses,
// with *error set and *pixels empty: an image whose RGBA pixels would pass
// maxPixelBytes, as the other readers count them (checked from the header,
// before any allocation), and any file stb_image cannot read (its own reason,
// "corrupt BMP" and the like). Never prints, never ends the process.
bool DecodeWithStb(const uint8_t* data, size_t size, uint64_t maxPixelBytes,
                   std::vector<uint8_t>* pixels, int32_t* width, int32_t* height, int* samples,
                   std::string* error);
