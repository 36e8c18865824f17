// The byte moves of the LZW decoder (internal to texture/): table strings
// are copied in 16-byte blocks, and a new string is written as its prefix
// plus one byte, with an SSE2 form and a plain form of that write behind the
// one function WriteStoredString. Every table string has kLzwCopySlack
// readable bytes from its start (its own and slack), and every destination
// has room for the same, so the block moves may run up to 15 bytes past the
// end of what they copy.
// Inline, as the decode loop calls them once or twice per code.
#pragma once

#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Strings of the LZW table may be copied in moves of this many bytes.
constexpr int32_t kLzwCopySlack = 16;

// Copies `length` bytes in 16-byte moves, which may read and write up to 15
// bytes past the end.
inline void CopyInBlocks(uint8_t* to, const uint8_t* from, uint32_t length) {
  for (uint32_t i = 0; i < length; i += kLzwCopySlack) std::memcpy(to + i, from + i, kLzwCopySlack);
}

// Copies a table string of `length` bytes to out[pos], cut at outSize;
// returns the bytes it counts as written. Away from the end of the buffer
// the string moves in 16-byte blocks: the bytes written past it are
// overwritten by the next output, or cleared when the strip ends.
inline uint32_t AppendString(uint8_t* out, uint32_t pos, uint32_t outSize, const uint8_t* string,
                             uint32_t length) {
  const uint32_t room = outSize - pos;
  if (room >= kLzwCopySlack && length <= room - kLzwCopySlack) {
    // Most strings fit in the first block; the loop then exits at once.
    std::memcpy(out + pos, string, kLzwCopySlack);
    for (uint32_t i = kLzwCopySlack; i < length; i += kLzwCopySlack) {
      std::memcpy(out + pos + i, string + i, kLzwCopySlack);
    }
    return length;
  }
  if (length > room) length = room;
  std::memcpy(out + pos, string, length);
  return length;
}

#ifdef __SSE2__
// 16 bytes read from kLaneSelect + 15 - n are 0xFF in lane n and 0 elsewhere:
// one load gives the blend mask for "byte n of the block".
constexpr uint8_t kLaneSelect[31] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF,
                                     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// WriteStoredString with every 16-byte block of the string written by one
// store, the block holding the appended byte included: strings are often
// read back right away, block by block, and a read spanning two stores would
// stall.
inline void WriteStoredStringSse2(uint8_t* string, const uint8_t* prefixBytes, uint32_t length,
                                  const uint8_t* firstOf) {
  const uint32_t lastBlock = length & ~static_cast<uint32_t>(kLzwCopySlack - 1);
  CopyInBlocks(string, prefixBytes, lastBlock);
  const __m128i position =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLaneSelect + 15 - (length - lastBlock)));
  // The first byte spread over all 16 lanes, taken from the string's own
  // block rather than through a scalar, which the compiler may spill as a byte.
  __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firstOf));
  first = _mm_unpacklo_epi8(first, first);
  first = _mm_shuffle_epi32(_mm_unpacklo_epi16(first, first), 0);
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prefixBytes + lastBlock));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(string + lastBlock),
                   _mm_or_si128(_mm_andnot_si128(position, block), _mm_and_si128(position, first)));
}
#endif

// WriteStoredString one byte at a time after the block moves.
inline void WriteStoredStringPlain(uint8_t* string, const uint8_t* prefixBytes, uint32_t length,
                                   const uint8_t* firstOf) {
  CopyInBlocks(string, prefixBytes, length);
  string[length] = firstOf[0];
}

// Writes a prefix string of `length` bytes plus the first byte of `firstOf`
// (a table string) to `string`, a fresh arena slot of whole 16-byte blocks:
// a string's block moves then never overlap the next string's, so reading a
// string back is never held up by a later store.
inline void WriteStoredString(uint8_t* string, const uint8_t* prefixBytes, uint32_t length,
                              const uint8_t* firstOf) {
#ifdef __SSE2__
  WriteStoredStringSse2(string, prefixBytes, length, firstOf);
#else
  WriteStoredStringPlain(string, prefixBytes, length, firstOf);
#endif
}
