// The LZW strip decoder (TIFF flavour) and the horizontal-differencing
// predictor. Every table entry holds its whole string, so the output of a
// code is one forward copy; the strings of entries 258 .. 4094 are carved
// from a per-strip arena that a clear code resets. Bad strips end early:
// a code that names no string, a strip without an end code, or output that
// reaches the end of the pixel buffer stop the strip, and the table never
// grows past entry 4094.
#include <algorithm>
#include <cstring>
#include <memory>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "texture/tiff_image.h"

namespace {

constexpr int32_t kFirstFreeCode = 258;
constexpr int32_t kLastStoredCode = kLzwTableSize - 2;  // 4094: the table is full after it

constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The steps of the decoder as inline functions over explicit state, shared by
// the TiffImage operations and the decode loop, which keeps its state in
// locals so that the byte writes into the pixels do not force it back to memory.

constexpr int32_t kClearCode = 256;
constexpr int32_t kEndCode = 257;

// The code of `width` bits at bit `bitPos` of the strip, most significant bit
// first; bytes past the strip's end read as zero. Away from the strip's end
// one 8-byte load holds the whole code: shifting its bits up past the ones
// already read and back down by 64 - width needs no mask.
inline uint32_t CodeAt(const uint8_t* data, int32_t length, int32_t bitPos, int32_t width) {
  const int32_t byteIndex = bitPos >> 3;
  uint64_t window = 0;
  if (byteIndex + 8 <= length) {
    std::memcpy(&window, data + byteIndex, 8);
    if (kLittleEndianHost) window = __builtin_bswap64(window);
  } else {
    for (int32_t i = 0; i < 8; ++i) {
      const uint64_t byte = byteIndex + i < length ? data[byteIndex + i] : 0;
      window |= byte << (56 - 8 * i);
    }
  }
  return static_cast<uint32_t>((window << (bitPos & 7)) >> (64 - width));
}

// Copies `length` bytes in 16-byte moves, which may read and write up to 15
// bytes past the end: table strings carry that much readable slack, and the
// destination must have that much room.
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
#endif

// Writes a prefix string of `length` bytes plus the first byte of `firstOf`
// (a table string) to `string`, a fresh arena slot of whole 16-byte blocks:
// a string's block moves then never overlap the next string's, so reading a
// string back is never held up by a later store.
inline void WriteStoredString(uint8_t* string, const uint8_t* prefixBytes, uint32_t length,
                              const uint8_t* firstOf) {
#ifdef __SSE2__
  // Every 16-byte block of the string is written by one store, the block
  // holding the appended byte included: strings are often read back right
  // away, block by block, and a read spanning two stores would stall.
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
#else
  CopyInBlocks(string, prefixBytes, length);
  string[length] = firstOf[0];
#endif
}

// The arena slot for a stored string of `length` bytes plus one: whole
// 16-byte blocks (see WriteStoredString).
inline int32_t SlotSize(uint32_t length) {
  return static_cast<int32_t>(length + kLzwCopySlack) & -kLzwCopySlack;
}

// Stores the string of prefix plus the first byte of `firstOf` (a table
// string) as entry `at`.
inline void StoreString(int32_t* entryBits, uint8_t** entryBytes, StringArena* arena, int32_t at,
                        int32_t prefix, const uint8_t* firstOf) {
  const uint32_t length = static_cast<uint32_t>(entryBits[prefix]) >> 3;
  uint8_t* string = arena->Allocate(SlotSize(length));
  WriteStoredString(string, entryBytes[prefix], length, firstOf);
  entryBytes[at] = string;
  entryBits[at] = entryBits[prefix] + 8;
}

// Code width after entry `stored` is stored: one entry early, because the
// encoder's table runs one entry ahead of ours.
inline int32_t WidthAfterStoring(int32_t stored, int32_t width) {
  // 510, 1022 and 2046: two below the first code that needs the next width.
  return width < kLzwMaxCodeWidth && stored + 2 == 1 << width ? width + 1 : width;
}

}  // namespace

StringArena::~StringArena() {
  Release();
}

uint8_t* StringArena::AllocateInNextBlock(int32_t size) {
  if (current_) ++currentBlock_;  // the current block is full
  if (currentBlock_ == blocks_.size()) {
    // Zeroed once so the slack past the last string reads as defined bytes.
    blocks_.push_back(new uint8_t[kBlockSize + kLzwCopySlack]());
  }
  current_ = blocks_[currentBlock_];
  used_ = size;
  return current_;
}

uint8_t* StringArena::TakeRoom(int32_t size, uint8_t** end) {
  uint8_t* room = Allocate(size);
  *end = current_ + kBlockSize;
  used_ = kBlockSize;
  return room;
}

void StringArena::Reset() {
  currentBlock_ = 0;
  current_ = nullptr;
  used_ = 0;
}

void StringArena::Release() {
  for (uint8_t* block : blocks_) delete[] block;
  blocks_.clear();
  Reset();
}

uint32_t TiffImage::SwapBytes32(uint32_t x) {
  return (x >> 24) | ((x >> 8) & 0x0000FF00u) | ((x << 8) & 0x00FF0000u) | (x << 24);
}

uint32_t TiffImage::ReadLzwCode() {
  const uint32_t code = CodeAt(stripData, stripLength, bitPos, codeWidth);
  bitPos += codeWidth;
  return code;
}

void TiffImage::ResetLzwTable() {
  ClearLzwEntries();
  for (int i = 0; i < 256; ++i) {
    literalBlock[i] = static_cast<uint8_t>(i);
    entryBits[i] = 8;
  }
  nextCode = kFirstFreeCode;
  codeWidth = 9;
}

void TiffImage::AddLzwEntry(int32_t prefixCode, int32_t firstByteCode) {
  if (nextCode > kLastStoredCode) return;  // full until the next clear code
  StoreString(entryBits, entryBytes, &arena, nextCode, prefixCode, entryBytes[firstByteCode]);
  codeWidth = WidthAfterStoring(nextCode, codeWidth);
  ++nextCode;
}

void TiffImage::WriteLzwString(int32_t code) {
  const uint32_t room = pixelBytes - static_cast<uint32_t>(writePos);
  const uint32_t length = std::min(static_cast<uint32_t>(entryBits[code]) >> 3, room);
  std::memcpy(pixels + writePos, entryBytes[code], length);
  writePos += static_cast<int32_t>(length);
}

void TiffImage::WriteLzwStringPlusFirst(int32_t prefixCode, int32_t firstByteCode) {
  const uint8_t first = entryBytes[firstByteCode][0];
  WriteLzwString(prefixCode);
  if (static_cast<uint32_t>(writePos) < pixelBytes) pixels[writePos++] = first;
}

void TiffImage::DecodeLzwStrip(const uint8_t* stripBytes, int32_t stripLength) {
  clearCode = kClearCode;
  endCode = kEndCode;
  nextCode = kFirstFreeCode;
  stripData = stripBytes;
  this->stripLength = stripLength > 0 ? stripLength : 0;
  bitPos = 0;
  codeWidth = 9;

  const uint8_t* const data = stripData;
  const int32_t length = this->stripLength;
  const int64_t stripBits = static_cast<int64_t>(length) * 8;
  uint8_t* const out = pixels;
  const uint32_t outSize = pixelBytes;
  uint32_t pos = static_cast<uint32_t>(writePos);
  int32_t bits = 0;
  int32_t width = 9;
  int32_t next = kFirstFreeCode;
  // The previous code's string, kept here rather than looked up again; null
  // at the start of the strip and after a clear code, when only a literal
  // may follow.
  const uint8_t* previous = nullptr;
  uint32_t previousLength = 0;
  // Arena room this loop carves new strings from, [room, roomEnd): the
  // cursor stays in a register, where the arena's own counter would be
  // stored and reloaded around every byte written to the pixels.
  uint8_t* room = nullptr;
  uint8_t* roomEnd = nullptr;

  for (;;) {
    // A strip without an end code ends where its data ends; a full buffer
    // ends it too, since nothing more could be written.
    if (bits + width > stripBits || pos >= outSize) break;
    int32_t code = static_cast<int32_t>(CodeAt(data, length, bits, width));
    bits += width;
    // One test keeps the rare cases off the common path: the clear and end
    // codes, and the first code of a table.
    if (static_cast<uint32_t>(code - kClearCode) < 2 || !previous) {
      if (code == kEndCode) break;
      if (code == kClearCode) {
        nextCode = next;  // tells ResetLzwTable which entries hold strings
        ResetLzwTable();
        next = nextCode;
        width = codeWidth;
        room = roomEnd = nullptr;  // the arena starts over
        if (bits + width > stripBits) break;
        code = static_cast<int32_t>(CodeAt(data, length, bits, width));
        bits += width;
      }
      // Only the literal entries hold strings now: an end code, a second
      // clear code or anything above names nothing and ends the strip.
      if (code >= kClearCode) break;
      previous = entryBytes[code];
      previousLength = 1;
      pos += AppendString(out, pos, outSize, previous, 1);
      continue;
    }
    const uint8_t* string;
    uint32_t stringLength;
    if (code < next) {
      string = entryBytes[code];
      stringLength = static_cast<uint32_t>(entryBits[code]) >> 3;
      pos += AppendString(out, pos, outSize, string, stringLength);
      if (next > kLastStoredCode) {  // full: nothing is stored until a clear code
        previous = string;
        previousLength = stringLength;
        continue;
      }
    } else {
      // Not in the table yet: the previous string plus its own first byte.
      // A code beyond next is taken the same way; the string written is the
      // one stored, so it becomes the previous string.
      if (next > kLastStoredCode) break;  // a full table has no such entry
      pos += AppendString(out, pos, outSize, previous, previousLength);
      if (pos < outSize) out[pos++] = previous[0];
      string = nullptr;  // set below to the stored string
      stringLength = previousLength + 1;
    }
    // Entry `next`: the previous string plus the first byte of this one
    // (for a code not yet in the table, the previous string's own first byte).
    const int32_t slot = SlotSize(previousLength);
    if (roomEnd - room < slot) room = arena.TakeRoom(slot, &roomEnd);
    uint8_t* stored = room;
    room += slot;
    WriteStoredString(stored, previous, previousLength, string ? string : previous);
    entryBytes[next] = stored;
    entryBits[next] = static_cast<int32_t>(previousLength + 1) * 8;
    previous = string ? string : stored;
    previousLength = stringLength;
    width = WidthAfterStoring(next, width);
    ++next;
  }
  // Block moves may have written up to 15 bytes past the output: clear them,
  // the bytes past writePos are zero.
  if (pos < outSize) std::memset(out + pos, 0, std::min<uint32_t>(kLzwCopySlack, outSize - pos));
  bitPos = bits;
  codeWidth = width;
  nextCode = next;
  writePos = static_cast<int32_t>(pos);
}

namespace {

// Running sums kept in registers, one per sample, each wrapping in 8 bits
// on its own. Where SSE2 is available, runs of pixels are summed a vector at a
// time: a prefix sum over 5 RGB or 4 RGBA pixels in log steps, plus the sums
// carried from the pixel before; the scalar loop finishes each row.
void UndoPredictorRgb(uint8_t* pixels, size_t rows, size_t width) {
  for (size_t row = 0; row < rows; ++row) {
    uint8_t* p = pixels + row * width * 3;
    size_t x = 1;
#ifdef __SSE2__
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
      const __m128i next = x + 10 < width
                               ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 15))
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
      _mm_storeu_si128(
          reinterpret_cast<__m128i*>(q),
          _mm_or_si128(_mm_andnot_si128(keepLast, v), _mm_and_si128(keepLast, stored)));
      stored = next;
      carry = _mm_add_epi8(carry, total);
    }
#endif
    uint8_t r = p[3 * x - 3], g = p[3 * x - 2], b = p[3 * x - 1];
    for (p += 3 * x; x < width; ++x, p += 3) {
      r = static_cast<uint8_t>(r + p[0]);
      g = static_cast<uint8_t>(g + p[1]);
      b = static_cast<uint8_t>(b + p[2]);
      p[0] = r;
      p[1] = g;
      p[2] = b;
    }
  }
}

void UndoPredictorRgba(uint8_t* pixels, size_t rows, size_t width) {
  for (size_t row = 0; row < rows; ++row) {
    uint8_t* p = pixels + row * width * 4;
    size_t x = 1;
#ifdef __SSE2__
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
#endif
    uint8_t r = p[4 * x - 4], g = p[4 * x - 3], b = p[4 * x - 2], a = p[4 * x - 1];
    for (p += 4 * x; x < width; ++x, p += 4) {
      r = static_cast<uint8_t>(r + p[0]);
      g = static_cast<uint8_t>(g + p[1]);
      b = static_cast<uint8_t>(b + p[2]);
      a = static_cast<uint8_t>(a + p[3]);
      p[0] = r;
      p[1] = g;
      p[2] = b;
      p[3] = a;
    }
  }
}

}  // namespace

void TiffImage::UndoHorizontalPredictor() {
  UndoHorizontalPredictorRows(0, height);
}

void TiffImage::UndoHorizontalPredictorRows(int32_t firstRow, int32_t rowCount) {
  if (!pixels || (samplesPerPixel != 3 && samplesPerPixel != 4) || width <= 0 || firstRow < 0 ||
      rowCount <= 0) {
    return;
  }
  const size_t rowBytes = static_cast<size_t>(width) * samplesPerPixel;
  const size_t rowsInBuffer = pixelBytes / rowBytes;
  if (static_cast<size_t>(firstRow) >= rowsInBuffer) return;
  const size_t rows = std::min<size_t>(rowCount, rowsInBuffer - firstRow);
  uint8_t* first = pixels + rowBytes * firstRow;
  if (samplesPerPixel == 3)
    UndoPredictorRgb(first, rows, width);
  else
    UndoPredictorRgba(first, rows, width);
}

std::vector<uint8_t> DecodeLzwBytes(const uint8_t* stripBytes, int32_t stripLength,
                                    uint32_t outSize) {
  auto image = std::make_unique<TiffImage>();
  if (!image->AllocatePixels(outSize < kMaxPixelBytes ? outSize : kMaxPixelBytes)) return {};
  image->SetUpLzwTable();
  image->DecodeLzwStrip(stripBytes, stripLength);
  image->ReleaseLzwTable();
  return std::vector<uint8_t>(image->pixels, image->pixels + image->writePos);
}
