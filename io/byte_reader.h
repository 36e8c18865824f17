// ByteReader: little-endian reads from a fixed byte range that never touch a
// byte outside it. What a read past the end does is the reader's named rule,
// chosen by the file format's reader:
//   PastEnd::kFail       the read takes nothing: the value and the cursor stay
//                        as they were (the TIFF reader, which seeks about and
//                        treats every missing byte as a fault);
//   PastEnd::kReadZeros  the read takes the rest of the data and yields zero
//                        for what is missing (the 3DS reader, which walks the
//                        file once and keeps what a cut-off file still holds).
// Either way the read returns false and `failed` is set, and stays set.
// Header-only: the 3DS reader calls it once per float of every vertex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

enum class PastEnd {
  kFail,       // a read that does not fit reads nothing
  kReadZeros,  // a read that does not fit consumes the rest and yields zeros
};

struct ByteReader {
  const uint8_t* data = nullptr;
  size_t size = 0;  // bytes in data
  PastEnd rule = PastEnd::kFail;
  size_t pos = 0;       // next byte read; under kFail a seek may put it beyond size
  bool failed = false;  // a read or seek ran past the end

  bool ReadU8(uint8_t* out) {
    const uint8_t* p = Take(1, out, 1);
    if (p) *out = p[0];
    return p != nullptr;
  }
  bool ReadU16(uint16_t* out) {
    const uint8_t* p = Take(2, out, sizeof *out);
    if (p) *out = static_cast<uint16_t>(p[0] | p[1] << 8);
    return p != nullptr;
  }
  bool ReadU32(uint32_t* out) {
    const uint8_t* p = Take(4, out, sizeof *out);
    if (p) {
      *out = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    return p != nullptr;
  }
  // A little-endian IEEE single, its bits taken as they are (NaN included).
  bool ReadF32(float* out) {
    uint32_t bits = 0;
    const bool ok = ReadU32(&bits);
    if (ok || rule == PastEnd::kReadZeros) std::memcpy(out, &bits, sizeof *out);
    return ok;
  }

  // Copies up to n bytes at the cursor into out and returns how many came
  // from the data. Under kReadZeros the rest of out[0, n) is zero and a short
  // copy is no failure (for fixed blocks that may reach past the last chunk);
  // under kFail the rest is untouched and a short copy fails.
  size_t ReadUpTo(uint8_t* out, size_t n) {
    const size_t got = n < Remaining() ? n : Remaining();
    if (got > 0) std::memcpy(out, data + pos, got);
    pos += got;
    if (got < n) {
      if (rule == PastEnd::kReadZeros)
        std::memset(out + got, 0, n - got);
      else
        failed = true;
    }
    return got;
  }

  // Moves to an absolute offset and says whether it lies within the data
  // (the end included). Beyond the end, kFail keeps the offset, so that the
  // next read fails, without failing yet; kReadZeros stops at the end and fails.
  bool Seek(uint64_t offset) {
    if (offset <= size) {
      pos = static_cast<size_t>(offset);
      return true;
    }
    if (rule == PastEnd::kReadZeros) {
      pos = size;
      failed = true;
    } else {
      pos = static_cast<size_t>(offset);
    }
    return false;
  }

  size_t Remaining() const { return pos < size ? size - pos : 0; }

 private:
  // The n bytes at the cursor, moved past; null when they do not fit, after
  // applying the rule (kReadZeros zeroes the outSize bytes at out).
  const uint8_t* Take(size_t n, void* out, size_t outSize) {
    if (n > Remaining()) {
      failed = true;
      if (rule == PastEnd::kReadZeros) {
        pos = size;
        std::memset(out, 0, outSize);
      }
      return nullptr;
    }
    const uint8_t* p = data + pos;
    pos += n;
    return p;
  }
};
