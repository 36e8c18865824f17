// Builds TIFF files byte by byte, for the malformed and unusual files that no
// TIFF writer produces, and LZW strips code by code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;

// A little-endian TIFF: header, data blocks in the order appended, then the
// one directory (or the directory first, see ReserveDirectory) with the entries in the order added
// (no sorting, repeats kept).
struct HandmadeTiff {
  struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value;
  };
  std::vector<uint8_t> bytes{'I', 'I', 42, 0, 0, 0, 0, 0};
  std::vector<Entry> entries;
  size_t reservedEntries = 0;  // > 0: the directory sits right after the header

  // Puts the directory (up to n entries) before the data blocks, so that
  // arrays appended last end the file.
  void ReserveDirectory(size_t n) {
    reservedEntries = n;
    bytes.resize(8 + 2 + 12 * n + 4, 0);
  }

  // Appends a data block; returns its file position.
  uint32_t Append(const std::vector<uint8_t>& block);
  uint32_t AppendLongs(const std::vector<uint32_t>& values);
  uint32_t AppendShorts(const std::vector<uint16_t>& values);
  void Add(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    entries.push_back({tag, type, count, value});
  }
  // The common tags of a one-strip image: width, height, samples, compression,
  // strip offset and length.
  void AddImage(uint32_t width, uint32_t height, uint32_t samples, uint32_t compression,
                uint32_t stripPos, uint32_t stripLength);
  // The file: directory appended, header pointing at it.
  std::vector<uint8_t> Finish() const;
  bool Write(const std::string& path) const;
};

// Writes LZW codes most significant bit first; Finish pads the last byte.
struct LzwBitWriter {
  std::vector<uint8_t> bytes;
  uint64_t bits = 0;  // pending bits, the newest lowest
  int pendingBits = 0;
  void Put(uint32_t code, int width);
  std::vector<uint8_t> Finish();
};

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// The field type of the first directory entry with this tag, read from a
// little-endian file's bytes; 0 when absent.
uint16_t FieldTypeOfTag(const std::vector<uint8_t>& file, uint16_t tag);

