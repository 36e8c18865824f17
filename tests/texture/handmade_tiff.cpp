// Byte-level TIFF and LZW builders for the reader's tests.
#include "tests/texture/handmade_tiff.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

void PutU16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetU32(const std::vector<uint8_t>& b, size_t p) {
  return b[p] | b[p + 1] << 8 | b[p + 2] << 16 | static_cast<uint32_t>(b[p + 3]) << 24;
}

}  // namespace

uint32_t HandmadeTiff::Append(const std::vector<uint8_t>& block) {
  const uint32_t position = static_cast<uint32_t>(bytes.size());
  bytes.insert(bytes.end(), block.begin(), block.end());
  return position;
}

uint32_t HandmadeTiff::AppendLongs(const std::vector<uint32_t>& values) {
  std::vector<uint8_t> block;
  for (uint32_t v : values) PutU32(&block, v);
  return Append(block);
}

uint32_t HandmadeTiff::AppendShorts(const std::vector<uint16_t>& values) {
  std::vector<uint8_t> block;
  for (uint16_t v : values) PutU16(&block, v);
  return Append(block);
}

void HandmadeTiff::AddImage(uint32_t width, uint32_t height, uint32_t samples, uint32_t compression,
                            uint32_t stripPos, uint32_t stripLength) {
  Add(256, kTypeLong, 1, width);
  Add(257, kTypeLong, 1, height);
  Add(277, kTypeShort, 1, samples);
  Add(259, kTypeShort, 1, compression);
  Add(273, kTypeLong, 1, stripPos);
  Add(279, kTypeLong, 1, stripLength);
}

std::vector<uint8_t> HandmadeTiff::Finish() const {
  if (reservedEntries > 0) {
    std::vector<uint8_t> directory;
    PutU16(&directory, static_cast<uint16_t>(entries.size()));
    for (const Entry& e : entries) {
      PutU16(&directory, e.tag);
      PutU16(&directory, e.type);
      PutU32(&directory, e.count);
      PutU32(&directory, e.value);
    }
    std::vector<uint8_t> out = bytes;
    out[4] = 8;
    std::copy(directory.begin(), directory.end(), out.begin() + 8);  // fits: reserved
    return out;
  }
  std::vector<uint8_t> out = bytes;
  if (out.size() % 2) out.push_back(0);
  const uint32_t ifd = static_cast<uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(ifd >> (8 * i));
  PutU16(&out, static_cast<uint16_t>(entries.size()));
  for (const Entry& e : entries) {
    PutU16(&out, e.tag);
    PutU16(&out, e.type);
    PutU32(&out, e.count);
    PutU32(&out, e.value);
  }
  PutU32(&out, 0);
  return out;
}

bool HandmadeTiff::Write(const std::string& path) const {
  return WriteBytes(path, Finish());
}

void LzwBitWriter::Put(uint32_t code, int width) {
  bits = bits << width | code;
  pendingBits += width;
  while (pendingBits >= 8) {
    bytes.push_back(static_cast<uint8_t>(bits >> (pendingBits - 8)));
    pendingBits -= 8;
  }
}

std::vector<uint8_t> LzwBitWriter::Finish() {
  if (pendingBits > 0) bytes.push_back(static_cast<uint8_t>(bits << (8 - pendingBits)));
  pendingBits = 0;
  return bytes;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint16_t FieldTypeOfTag(const std::vector<uint8_t>& file, uint16_t tag) {
  if (file.size() < 8) return 0;
  const uint32_t ifd = GetU32(file, 4);
  if (ifd + 2 > file.size()) return 0;
  const int count = file[ifd] | file[ifd + 1] << 8;
  for (int i = 0; i < count && ifd + 2 + 12 * (i + 1) <= file.size(); ++i) {
    const size_t p = ifd + 2 + 12 * i;
    if ((file[p] | file[p + 1] << 8) == tag)
      return static_cast<uint16_t>(file[p + 2] | file[p + 3] << 8);
  }
  return 0;
}
