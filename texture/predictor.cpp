// The predictor's running sums, kept in registers, one per sample, each
// wrapping in 8 bits on its own. Where SSE2 is available, runs of pixels
// are summed a vector at a time: a prefix sum over 5 RGB or 4 RGBA pixels in
// log steps, plus the sums carried from the pixel before; the plain loop
// finishes each row (and does all of it without SSE2).
#include "texture/predictor.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

#ifdef __SSE2__
// Sums the RGB row p of `width` pixels from pixel 1 while five more pixels
// and a sixth follow; returns the first pixel left for the plain loop.
inline size_t UndoRgbRowSse2(uint8_t* p, size_t width) {
  size_t x = 1;
  // Bytes 0-14 are five pixels; byte 15 belongs to the next one and is
  // stored back unchanged, so the row needs a sixth pixel after the five.
  const __m128i keepLast = _mm_set_epi8(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  __m128i carry = _mm_cvtsi32_si128(p[0] | p[1] << 8 | p[2] << 16);
  carry = _mm_or_si128(carry, _mm_slli_si128(carry, 3));
  carry = _mm_or_si128(carry, _mm_slli_si128(carry, 6));
  carry = _mm_or_si128(carry, _mm_slli_si128(carry, 12));
  // Each block is loaded before the previous one is stored: its first
  // byte is the byte 15 stored back unchanged, and loading it after the
  // overlapping store would stall.
  __m128i stored = x + 5 < width ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3))
                                 : _mm_setzero_si128();
  for (; x + 5 < width; x += 5) {
    uint8_t* q = p + 3 * x;
    const __m128i next = x + 10 < width ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 15))
                                        : _mm_setzero_si128();
    __m128i sums = _mm_add_epi8(stored, _mm_slli_si128(stored, 3));
    sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 6));
    sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 12));
    // The block's total, its last pixel spread over the five: the carry
    // chain from block to block is then one addition.
    __m128i total = _mm_srli_si128(_mm_slli_si128(sums, 1), 13);
    total = _mm_or_si128(total, _mm_slli_si128(total, 3));
    total = _mm_or_si128(total, _mm_slli_si128(total, 6));
    total = _mm_or_si128(total, _mm_slli_si128(total, 12));
    const __m128i v = _mm_add_epi8(sums, carry);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q),
                     _mm_or_si128(_mm_andnot_si128(keepLast, v), _mm_and_si128(keepLast, stored)));
    stored = next;
    carry = _mm_add_epi8(carry, total);
  }
  return x;
}

// Sums the RGBA row p of `width` pixels from pixel 1 in runs of four;
// returns the first pixel left for the plain loop.
inline size_t UndoRgbaRowSse2(uint8_t* p, size_t width) {
  size_t x = 1;
  __m128i carry = _mm_set1_epi32(
      static_cast<int>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24));
  for (; x + 4 <= width; x += 4) {
    uint8_t* q = p + 4 * x;
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
    v = _mm_add_epi8(v, carry);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), v);
    carry = _mm_shuffle_epi32(v, 0xFF);  // the last pixel in every lane
  }
  return x;
}
#endif

// Undoes the predictor over `rows` rows of `width` pixels of kSamples
// samples each: the vector form first where the build has it, then the
// plain running sums from the pixel it stopped at.
template <size_t kSamples>
void UndoPredictorRows(uint8_t* pixels, size_t rows, size_t width) {
  for (size_t row = 0; row < rows; ++row) {
    uint8_t* p = pixels + row * width * kSamples;
#ifdef __SSE2__
    size_t x = kSamples == 3 ? UndoRgbRowSse2(p, width) : UndoRgbaRowSse2(p, width);
#else
    size_t x = 1;
#endif
    uint8_t sums[kSamples];
    for (size_t s = 0; s < kSamples; ++s) sums[s] = p[kSamples * (x - 1) + s];
    for (p += kSamples * x; x < width; ++x, p += kSamples) {
#pragma GCC unroll 4
      for (size_t s = 0; s < kSamples; ++s) {
        sums[s] = static_cast<uint8_t>(sums[s] + p[s]);
        p[s] = sums[s];
      }
    }
  }
}

}  // namespace

void UndoHorizontalPredictor(uint8_t* pixels, size_t rows, size_t width, uint32_t samplesPerPixel) {
  if (!pixels || rows == 0 || width == 0) return;
  if (samplesPerPixel == 3)
    UndoPredictorRows<3>(pixels, rows, width);
  else if (samplesPerPixel == 4)
    UndoPredictorRows<4>(pixels, rows, width);
}
