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

#include "texture/tiff_image.h"

namespace {

constexpr int32_t kFirstFreeCode = 258;
constexpr int32_t kLastStoredCode = kLzwTableSize - 2;  // 4094: the table is full after it

constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

}  // namespace

StringArena::~StringArena() { Release(); }

uint8_t* StringArena::Allocate(int32_t size) {
  if (currentBlock_ < blocks_.size() && used_ + size <= kBlockSize) {
    uint8_t* room = blocks_[currentBlock_] + used_;
    used_ += size;
    return room;
  }
  if (currentBlock_ < blocks_.size()) ++currentBlock_;  // the current block is full
  if (currentBlock_ == blocks_.size()) blocks_.push_back(new uint8_t[kBlockSize]);
  used_ = size;
  return blocks_[currentBlock_];
}

void StringArena::Reset() {
  currentBlock_ = 0;
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
  const int32_t byteIndex = bitPos >> 3;
  uint32_t window = 0;
  if (byteIndex + 4 <= stripLength) {
    std::memcpy(&window, stripData + byteIndex, 4);
    if (kLittleEndianHost) window = SwapBytes32(window);
  } else {
    // Near the end of the strip: bytes past it read as zero.
    for (int32_t i = 0; i < 4; ++i) {
      const uint32_t byte = byteIndex + i < stripLength ? stripData[byteIndex + i] : 0;
      window |= byte << (24 - 8 * i);
    }
  }
  const uint32_t code =
      (window >> (32 - (bitPos & 7) - codeWidth)) & static_cast<uint32_t>(codeMasks[codeWidth]);
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
  const int32_t prefixLength = entryBits[prefixCode] >> 3;
  uint8_t* string = arena.Allocate(prefixLength + 1);
  std::memcpy(string, entryBytes[prefixCode], prefixLength);
  string[prefixLength] = entryBytes[firstByteCode][0];
  entryBytes[nextCode] = string;
  entryBits[nextCode] = entryBits[prefixCode] + 8;
  // One entry early: the encoder's table runs one entry ahead of ours.
  if (nextCode == 510) codeWidth = 10;
  if (nextCode == 1022) codeWidth = 11;
  if (nextCode == 2046) codeWidth = 12;
  ++nextCode;
}

void TiffImage::WriteLzwString(int32_t code) {
  const uint32_t room = pixelBytes - static_cast<uint32_t>(writePos);
  uint32_t length = static_cast<uint32_t>(entryBits[code]) >> 3;
  if (length > room) length = room;
  std::memcpy(pixels + writePos, entryBytes[code], length);
  writePos += static_cast<int32_t>(length);
}

void TiffImage::WriteLzwStringPlusFirst(int32_t prefixCode, int32_t firstByteCode) {
  const uint8_t first = entryBytes[firstByteCode][0];
  WriteLzwString(prefixCode);
  if (static_cast<uint32_t>(writePos) < pixelBytes) pixels[writePos++] = first;
}

void TiffImage::DecodeLzwStrip(const uint8_t* stripBytes, int32_t stripLength) {
  clearCode = 256;
  endCode = 257;
  nextCode = kFirstFreeCode;
  stripData = stripBytes;
  this->stripLength = stripLength > 0 ? stripLength : 0;
  bitPos = 0;
  codeWidth = 9;
  const int64_t stripBits = static_cast<int64_t>(this->stripLength) * 8;
  int32_t previous = -1;  // no previous string yet: only a literal may follow

  for (;;) {
    // A strip without an end code ends where its data ends; a full buffer
    // ends it too, since nothing more could be written.
    if (bitPos + codeWidth > stripBits || static_cast<uint32_t>(writePos) >= pixelBytes) return;
    int32_t code = static_cast<int32_t>(ReadLzwCode());
    if (code == static_cast<int32_t>(endCode)) return;
    if (code == static_cast<int32_t>(clearCode)) {
      ResetLzwTable();
      if (bitPos + codeWidth > stripBits) return;
      code = static_cast<int32_t>(ReadLzwCode());
      if (code == static_cast<int32_t>(endCode)) return;
      previous = -1;
    }
    if (previous < 0) {
      // Start of the strip or just after a clear code: only the literal
      // entries hold strings, anything else names nothing.
      if (code >= 256) return;
      WriteLzwString(code);
      previous = code;
    } else if (code < nextCode) {
      WriteLzwString(code);
      AddLzwEntry(previous, code);
      previous = code;
    } else {
      // Not in the table yet: the previous string plus its own first byte.
      // A code beyond nextCode is taken the same way; the string written is
      // the one stored, so it becomes the previous string.
      if (nextCode > kLastStoredCode) return;  // a full table has no such entry
      WriteLzwStringPlusFirst(previous, previous);
      AddLzwEntry(previous, previous);
      previous = nextCode - 1;
    }
  }
}

void TiffImage::UndoHorizontalPredictor() {
  if (!pixels || (samplesPerPixel != 3 && samplesPerPixel != 4) || width <= 0 || height <= 0) {
    return;
  }
  const size_t samples = samplesPerPixel;
  const size_t rowBytes = static_cast<size_t>(width) * samples;
  const size_t rows = std::min<size_t>(height, pixelBytes / rowBytes);
  for (size_t row = 0; row < rows; ++row) {
    uint8_t* p = pixels + rowBytes * row;
    // Each sample's running sum wraps on its own in its own byte.
    for (size_t i = samples; i < rowBytes; ++i) p[i] = static_cast<uint8_t>(p[i] + p[i - samples]);
  }
}

std::vector<uint8_t> DecodeLzwBytes(const uint8_t* stripBytes, int32_t stripLength,
                                    uint32_t outSize) {
  auto image = std::make_unique<TiffImage>();
  image->pixelBytes = outSize < kMaxPixelBytes ? outSize : kMaxPixelBytes;
  image->pixels = new uint8_t[image->pixelBytes]();
  image->writePos = 0;
  image->SetUpLzwTable();
  image->DecodeLzwStrip(stripBytes, stripLength);
  image->ReleaseLzwTable();
  return std::vector<uint8_t>(image->pixels, image->pixels + image->writePos);
}
