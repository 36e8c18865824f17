// Horizontal differencing (TIFF Predictor 2) undone in place, for 8-bit
// samples: each sample of a pixel is the running sum, modulo 256, of its
// row's samples of the same kind. Internal to texture/ (the TIFF reader, its
// tests and the fuzz harness).
#pragma once

#include <cstddef>
#include <cstdint>

// Undoes the predictor over `rows` rows of `width` pixels of
// `samplesPerPixel` interleaved samples, tightly packed from `pixels`. Only
// 3 and 4 samples are handled; other counts leave the bytes as they are.
// Uses SSE2 where the build has it, with the same result as the plain loop.
void UndoHorizontalPredictor(uint8_t* pixels, size_t rows, size_t width, uint32_t samplesPerPixel);
