// JPEG decoding through libjpeg-turbo, for the texture chain (texture_loader).
// Built only with the CMake option SV_WITH_JPEG; without it the chain reports
// a JPEG file as one it does not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// True when the bytes start with a JPEG start-of-image marker (FF D8 FF).
bool StartsWithJpegSignature(const uint8_t* data, size_t size);

// Decodes the JPEG in data[0, size) into 8-bit RGB rows, top row first, no
// padding. Grayscale becomes RGB. Refuses, with *error set and *pixels empty:
// an image whose RGBA pixels would pass maxPixelBytes, as the other readers
// count them (checked from the header, before any allocation), CMYK colours, more than 1000 scans,
// and any file libjpeg cannot read, including one that ends before its last scan ("the file ends
// early"). libjpeg's own messages go into *error, never to a terminal, and
// its fatal errors return here: a bad file never ends the process.
bool DecodeJpeg(const uint8_t* data, size_t size, uint64_t maxPixelBytes,
                std::vector<uint8_t>* pixels, int32_t* width, int32_t* height, std::string* error);
