// The LZW strip decoder. Every table entry holds its whole string, so the
// output of a code is one forward copy (texture/lzw_copy.h); the strings of
// entries 258 .. 4094 are carved from an arena that a clear code resets.
#include "texture/lzw_decoder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kClearCode = 256;
constexpr int32_t kEndCode = 257;
constexpr int32_t kFirstFreeCode = 258;
constexpr int32_t kLastStoredCode = kLzwTableSize - 2;  // 4094: the table is full after it

constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

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

// The arena slot for a stored string of `length` bytes plus one: whole
// 16-byte blocks (see WriteStoredString).
inline int32_t SlotSize(uint32_t length) {
  return static_cast<int32_t>(length + kLzwCopySlack) & -kLzwCopySlack;
}

// Code width after entry `stored` is stored: one entry early, because the
// encoder's table runs one entry ahead of ours.
inline int32_t WidthAfterStoring(int32_t stored, int32_t width) {
  // 510, 1022 and 2046: two below the first code that needs the next width.
  return width < kLzwMaxCodeWidth && stored + 2 == 1 << width ? width + 1 : width;
}

}  // namespace

StringArena::~StringArena() {
  for (uint8_t* block : blocks_) delete[] block;
}

uint8_t* StringArena::TakeRoom(uint8_t** end) {
  if (nextBlock_ == blocks_.size()) {
    // Zeroed once so the slack past the last string reads as defined bytes.
    blocks_.push_back(new uint8_t[kBlockSize + kLzwCopySlack]());
  }
  uint8_t* block = blocks_[nextBlock_++];
  *end = block + kBlockSize;
  return block;
}

void StringArena::Reset() { nextBlock_ = 0; }

LzwDecoder::LzwDecoder() : literalBlock_(new uint8_t[256 + kLzwCopySlack]()) {
  // The literal entries never change, so a strip that does not open with a
  // clear code finds them too. The slack lets them move in 16-byte blocks.
  for (int i = 0; i < 256; ++i) {
    literalBlock_[i] = static_cast<uint8_t>(i);
    entryBytes_[i] = literalBlock_ + i;
    entryBits_[i] = 8;
  }
  for (int i = 256; i < kLzwTableSize; ++i) {
    entryBytes_[i] = nullptr;
    entryBits_[i] = 0;
  }
}

LzwDecoder::~LzwDecoder() {
  delete[] literalBlock_;
}

void LzwDecoder::ClearEntries() {
  const int32_t end = std::min(std::max(nextCode_, kFirstFreeCode), kLzwTableSize);
  for (int32_t i = kFirstFreeCode; i < end; ++i) entryBytes_[i] = nullptr;
  nextCode_ = kFirstFreeCode;
  arena_.Reset();
}

// The loop keeps its state in locals, so that the byte writes into the
// output do not force it back to memory.
void LzwDecoder::DecodeStrip(const uint8_t* strip, int32_t length, uint8_t* out, uint32_t outSize,
                             uint32_t* outPos) {
  ClearEntries();
  const uint8_t* const data = strip;
  if (length < 0) length = 0;
  const int64_t stripBits = static_cast<int64_t>(length) * 8;
  uint32_t pos = *outPos;
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
  // stored and reloaded around every byte written to the output.
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
        nextCode_ = next;  // tells ClearEntries which entries hold strings
        ClearEntries();
        next = kFirstFreeCode;
        width = 9;
        room = roomEnd = nullptr;  // the arena starts over
        if (bits + width > stripBits) break;
        code = static_cast<int32_t>(CodeAt(data, length, bits, width));
        bits += width;
      }
      // Only the literal entries hold strings now: an end code, a second
      // clear code or anything above names nothing and ends the strip.
      if (code >= kClearCode) break;
      previous = entryBytes_[code];
      previousLength = 1;
      pos += AppendString(out, pos, outSize, previous, 1);
      continue;
    }
    const uint8_t* string;
    uint32_t stringLength;
    if (code < next) {
      string = entryBytes_[code];
      stringLength = static_cast<uint32_t>(entryBits_[code]) >> 3;
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
    if (roomEnd - room < slot) room = arena_.TakeRoom(&roomEnd);
    uint8_t* stored = room;
    room += slot;
    WriteStoredString(stored, previous, previousLength, string ? string : previous);
    entryBytes_[next] = stored;
    entryBits_[next] = static_cast<int32_t>(previousLength + 1) * 8;
    previous = string ? string : stored;
    previousLength = stringLength;
    width = WidthAfterStoring(next, width);
    ++next;
  }
  // Block moves may have written up to 15 bytes past the output: clear them,
  // the bytes past *outPos are zero.
  if (pos < outSize) std::memset(out + pos, 0, std::min<uint32_t>(kLzwCopySlack, outSize - pos));
  codeWidth_ = width;
  nextCode_ = next;
  *outPos = pos;
}

std::vector<uint8_t> DecodeLzwBytes(const uint8_t* stripBytes, int32_t stripLength,
                                    uint32_t outSize) {
  constexpr uint32_t kMaxOut = 256u << 20;
  std::vector<uint8_t> out(outSize < kMaxOut ? outSize : kMaxOut);
  LzwDecoder decoder;
  uint32_t written = 0;
  decoder.DecodeStrip(stripBytes, stripLength, out.data(), static_cast<uint32_t>(out.size()),
                      &written);
  out.resize(written);
  return out;
}
