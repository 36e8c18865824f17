// ChunkWriter: a little-endian byte builder with nested 3DS chunk headers.
#include "tools/chunk_writer.h"

#include <cstdio>
#include <cstring>

void ChunkWriter::Begin(uint16_t id) {
  open_.push_back(bytes_.size());
  U16(id);
  U32(0);
}

void ChunkWriter::End() {
  if (open_.empty()) return;
  size_t start = open_.back();
  open_.pop_back();
  PatchLength(start, static_cast<uint32_t>(bytes_.size() - start));
}

void ChunkWriter::EndAll() {
  while (!open_.empty()) End();
}

void ChunkWriter::Header(uint16_t id, uint32_t length) {
  U16(id);
  U32(length);
}

void ChunkWriter::U8(uint8_t value) {
  bytes_.push_back(value);
}

void ChunkWriter::U16(uint16_t value) {
  bytes_.push_back(static_cast<uint8_t>(value));
  bytes_.push_back(static_cast<uint8_t>(value >> 8));
}

void ChunkWriter::U32(uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    bytes_.push_back(static_cast<uint8_t>(value >> shift));
}

void ChunkWriter::F32(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  U32(bits);
}

void ChunkWriter::Name(const char* text) {
  Raw(text, std::strlen(text) + 1);
}

void ChunkWriter::Raw(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + size);
}

void ChunkWriter::Truncate(size_t size) {
  EndAll();
  if (size < bytes_.size()) bytes_.resize(size);
}

bool ChunkWriter::Save(const char* path) const {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes_.data(), 1, bytes_.size(), file) == bytes_.size();
  return std::fclose(file) == 0 && ok;
}

// The length field sits 2 bytes into the header.
void ChunkWriter::PatchLength(size_t chunkStart, uint32_t length) {
  for (int i = 0; i < 4; ++i) bytes_[chunkStart + 2 + i] = static_cast<uint8_t>(length >> (8 * i));
}
