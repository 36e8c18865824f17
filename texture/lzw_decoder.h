// LzwDecoder: the LZW strip decoder of the TIFF reader (TIFF flavour: codes
// most significant bit first, widths switching one code early). Internal to
// texture/: the reader, its tests and the fuzz harness use it.
// Bad strips end early: a code that names no string, a strip without an end
// code, or output that reaches the end of the buffer stop the strip, and the
// table never grows past entry 4094.
#pragma once

#include <cstdint>
#include <vector>

#include "texture/lzw_copy.h"

constexpr int kLzwTableSize = 4096;   // LZW codes 0 .. 4095
constexpr int kLzwMaxCodeWidth = 12;  // bits of the widest code

// Carves LZW strings out of large blocks so that a new table entry costs a
// pointer bump, not an allocation. Reset() makes every block free again (a
// clear code, a new strip); the blocks are kept until the arena is destroyed.
class StringArena {
 public:
  StringArena() = default;
  ~StringArena();
  StringArena(const StringArena&) = delete;
  StringArena& operator=(const StringArena&) = delete;

  // For a loop that carves strings itself with the cursor in a register:
  // returns the next free block, kBlockSize bytes, and sets *end to its end.
  // The block counts as used until Reset(); up to kLzwCopySlack - 1 bytes
  // past *end may be read or overwritten too.
  uint8_t* TakeRoom(uint8_t** end);
  void Reset();

  static constexpr int32_t kBlockSize = 64 * 1024;  // > longest LZW string (3839 bytes)

 private:
  std::vector<uint8_t*> blocks_;  // each kBlockSize + kLzwCopySlack bytes
  size_t nextBlock_ = 0;          // index in blocks_ of the next block to hand out
};

// The table and its string storage, reused from strip to strip of one image.
class LzwDecoder {
 public:
  LzwDecoder();
  ~LzwDecoder();
  LzwDecoder(const LzwDecoder&) = delete;
  LzwDecoder& operator=(const LzwDecoder&) = delete;

  // Decodes one strip of `length` bytes (no padding needed; null when 0),
  // appending to out from *pos and never writing at or past outSize; *pos
  // ends after the last byte decoded. Every strip starts with a fresh table
  // and 9-bit codes, with or without a leading clear code. Short strings
  // move in 16-byte blocks, so up to 16 bytes past the final *pos (below
  // outSize) are set to zero.
  void DecodeStrip(const uint8_t* strip, int32_t length, uint8_t* out, uint32_t outSize,
                   uint32_t* pos);

  // The table as the last strip left it: the entry the next new string
  // would go to (258 .. 4095) and the code width (9 .. 12).
  int32_t NextCode() const { return nextCode_; }
  int32_t CodeWidth() const { return codeWidth_; }

 private:
  // Drops every string of entries 258 .. 4095; entries from nextCode_ on
  // hold none, so only those below are touched.
  void ClearEntries();

  int32_t nextCode_ = 258;
  int32_t codeWidth_ = 9;
  int32_t entryBits_[kLzwTableSize];    // length of each entry's string in bits
  uint8_t* entryBytes_[kLzwTableSize];  // each entry's string; null when it has none
  uint8_t* literalBlock_;               // the 256 one-byte strings of entries 0 .. 255
  StringArena arena_;                   // the strings of entries 258 .. 4094
};

// Decodes one LZW strip on its own into at most outSize bytes (at most
// 256 MiB), as a strip of an image whose pixel buffer is outSize long;
// returns the bytes written. For tests of the decoder on plain byte buffers.
std::vector<uint8_t> DecodeLzwBytes(const uint8_t* stripBytes, int32_t stripLength,
                                    uint32_t outSize);
