// The TIFF reader: header and first directory, strip lookup, uncompressed and
// LZW strips into one pixel buffer, and the horizontal-differencing predictor.
// The whole file is mapped read-only (or, where it cannot be mapped, read into
// memory once) and every later read goes through a bounded ByteReader, so
// strips are decoded straight from the file's bytes and a position or length
// past the end of the file simply yields fewer bytes.
#include "texture/tiff_image.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr uint16_t kTagImageWidth = 256;
constexpr uint16_t kTagImageLength = 257;
constexpr uint16_t kTagCompression = 259;
constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagSamplesPerPixel = 277;
constexpr uint16_t kTagStripByteCounts = 279;
constexpr uint16_t kTagPredictor = 317;
constexpr uint16_t kTypeShort = 3;

constexpr uint32_t kCompressionNone = 1;
constexpr uint32_t kCompressionLzw = 5;

// Longest strip the decoder looks at: bitPos must stay a signed 32-bit count.
constexpr int64_t kMaxStripLength = INT32_MAX / 8;

// The whole file in memory: a read-only mapping of it, or a copy read
// without clearing the buffer first. Unmaps the mapping when destroyed.
struct FileBytes {
  FileBytes() = default;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes() {
    if (mapped) munmap(mapped, size);
  }
  const uint8_t* Bytes() const { return mapped ? static_cast<const uint8_t*>(mapped) : data.get(); }

  void* mapped = nullptr;           // the mapping, or null when the file was read
  std::unique_ptr<uint8_t[]> data;  // the copy when it was read
  size_t size = 0;                  // bytes of the file
};

// Maps a regular, non-empty file read-only; false (nothing mapped) when it
// is not one or the mapping fails, and the caller reads it instead. Mapping
// spares copying the file (20 MB for a 4096 x 4096 texture) and faulting in
// a buffer for the copy: the decoder reads the page cache directly.
// MAP_POPULATE maps every page at once instead of one fault per few pages.
// The descriptor may be closed afterwards; like any reader of a mapped file,
// this one assumes nobody truncates the file while it is being decoded.
bool MapWholeFile(FILE* file, FileBytes* bytes) {
  struct stat status;
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0 ||
      static_cast<uint64_t>(status.st_size) > SIZE_MAX) {
    return false;
  }
  const size_t size = static_cast<size_t>(status.st_size);
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fileno(file), 0);
  if (mapped == MAP_FAILED) return false;
  bytes->mapped = mapped;
  bytes->size = size;
  return true;
}

// Reads the whole stream; returns false when a read fails before the end.
bool ReadWholeFile(FILE* file, FileBytes* bytes) {
  size_t capacity = 0;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long end = std::ftell(file);
    if (end > 0) capacity = static_cast<size_t>(end);
    std::rewind(file);
  }
  capacity += 1;  // one more, to see the end of the file
  bytes->data.reset(new uint8_t[capacity]);
  bytes->size = std::fread(bytes->data.get(), 1, capacity, file);
  while (bytes->size == capacity) {  // the file is longer than it said: keep reading
    std::unique_ptr<uint8_t[]> larger(new uint8_t[capacity * 2]);
    std::memcpy(larger.get(), bytes->data.get(), bytes->size);
    bytes->data = std::move(larger);
    capacity *= 2;
    bytes->size += std::fread(bytes->data.get() + bytes->size, 1, capacity - bytes->size, file);
  }
  return !std::ferror(file);
}

// Element `index` of a strip array (offsets or byte counts) described by its
// directory entry. Arrays whose elements fit in the 4-byte value field live
// there; others are at the file position in the value field. SHORT arrays
// have 2-byte elements, all others are read as LONG. Returns false when the
// element lies outside the entry or the file.
bool ReadStripArrayElement(const ByteReader& file, uint32_t value, uint16_t type, uint32_t count,
                           int32_t index, uint32_t* out) {
  const uint32_t elementSize = type == kTypeShort ? 2 : 4;
  if (static_cast<uint64_t>(count) * elementSize <= 4) {
    if (static_cast<uint32_t>(index) >= count) return false;
    *out = elementSize == 2 ? (value >> (16 * index)) & 0xFFFF : value;
    return true;
  }
  ByteReader element = file;
  element.failed = false;
  const uint64_t position = value + static_cast<uint64_t>(elementSize) * index;
  if (position > UINT32_MAX || !element.Seek(static_cast<uint32_t>(position))) return false;
  if (elementSize == 2) {
    uint16_t shortValue = 0;
    if (!element.ReadU16(&shortValue)) return false;
    *out = shortValue;
    return true;
  }
  return element.ReadU32(out);
}

}  // namespace

const char* DescribeTiffLoadFailure(TiffLoadFailure failure) {
  switch (failure) {
    case TiffLoadFailure::kNone:
      return "no failure";
    case TiffLoadFailure::kCannotOpen:
      return "cannot be opened";
    case TiffLoadFailure::kCannotRead:
      return "cannot be read";
    case TiffLoadFailure::kNotLittleEndian:
      return "is not a little-endian TIFF file";
    case TiffLoadFailure::kUnsupportedSize:
      return "has an image size of 0 or more than 256 MiB of pixels";
  }
  return "unknown failure";
}

bool ByteReader::Seek(uint32_t position) {
  pos = position;
  return pos <= size;
}

bool ByteReader::ReadU16(uint16_t* out) {
  if (pos > size || size - pos < 2) {
    failed = true;
    return false;
  }
  *out = static_cast<uint16_t>(data[pos] | data[pos + 1] << 8);
  pos += 2;
  return true;
}

bool ByteReader::ReadU32(uint32_t* out) {
  if (pos > size || size - pos < 4) {
    failed = true;
    return false;
  }
  *out = static_cast<uint32_t>(data[pos]) | static_cast<uint32_t>(data[pos + 1]) << 8 |
         static_cast<uint32_t>(data[pos + 2]) << 16 | static_cast<uint32_t>(data[pos + 3]) << 24;
  pos += 4;
  return true;
}

size_t ByteReader::ReadUpTo(uint8_t* out, size_t n) {
  const size_t available = pos < size ? size - pos : 0;
  if (n > available) {
    n = available;
    failed = true;
  }
  if (n > 0) std::memcpy(out, data + pos, n);
  pos += n;
  return n;
}

TiffImage::TiffImage()
    : file(nullptr),
      byteOrderMark(0),
      version(0),
      firstIfdPos(0),
      entryTag(0),
      entryType(0),
      entryCount(0),
      entryValue(0),
      entryCountInIfd(0),
      failure(TiffLoadFailure::kNone),
      maxPixelBytes(kMaxPixelBytes),
      width(0),
      height(0),
      samplesPerPixel(0),
      compression(0),
      stripOffsets(0),
      stripCount(0),
      stripByteCounts(0),
      predictor(0),
      stripOffsetsType(0),
      stripByteCountsType(0),
      stripByteCountsCount(0),
      codeWidth(0),
      stripData(nullptr),
      stripLength(0),
      bitPos(0),
      clearCode(0),
      endCode(0),
      pixels(nullptr),
      pixelBytes(0),
      pixelsMappedBytes(0),
      writePos(0),
      nextCode(0),
      entryBits(),
      codeMasks(),
      entryBytes(),
      literalBlock(nullptr) {
  for (int n = 0; n <= kLzwMaxCodeWidth; ++n) codeMasks[n] = (1 << n) - 1;
}

TiffImage::~TiffImage() {
  FreePixels();
  ReleaseLzwTable();
  if (file) std::fclose(file);
}

namespace {

constexpr size_t kHugePageBytes = size_t{2} << 20;
// Buffers from this size on are mapped in huge pages where the system has them.
constexpr size_t kHugePageBufferBytes = size_t{4} << 20;

// A zeroed mapping of at least size bytes starting on a huge-page boundary,
// marked for transparent huge pages; its length (size rounded up to whole
// huge pages) in *mappedBytes. Null when the mapping fails. A 48 MiB texture
// then costs 24 page faults instead of 12,288, and the kernel clears each
// huge page in one go; where huge pages are off, the advice changes nothing.
uint8_t* MapHugePageBuffer(size_t size, size_t* mappedBytes) {
  const size_t length = (size + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  // Map one huge page more and trim, so that the buffer starts on a boundary.
  const size_t spare = length + kHugePageBytes;
  void* mapped = mmap(nullptr, spare, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const size_t tail = start + spare - (aligned + length);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
  *mappedBytes = length;
  return reinterpret_cast<uint8_t*>(aligned);
}

}  // namespace

bool TiffImage::AllocatePixels(uint32_t size) {
  FreePixels();
  // Fresh zero pages from the system, so parts no strip fills cost nothing
  // to clear: a mapping in huge pages for a large buffer, else calloc.
  if (size >= kHugePageBufferBytes) pixels = MapHugePageBuffer(size, &pixelsMappedBytes);
  if (!pixels) pixels = static_cast<uint8_t*>(std::calloc(size > 0 ? size : 1, 1));
  if (!pixels) return false;
  pixelBytes = size;
  writePos = 0;
  return true;
}

void TiffImage::FreePixels() {
  if (pixelsMappedBytes > 0)
    munmap(pixels, pixelsMappedBytes);
  else
    std::free(pixels);
  pixels = nullptr;
  pixelsMappedBytes = 0;
  pixelBytes = 0;
}

bool TiffImage::LoadTiff(const char* path) {
  FreePixels();
  failure = TiffLoadFailure::kNone;
  file = std::fopen(path, "rb");
  if (!file) {
    failure = TiffLoadFailure::kCannotOpen;
    return false;
  }
  FileBytes bytes;
  const bool readAll = MapWholeFile(file, &bytes) || ReadWholeFile(file, &bytes);
  std::fclose(file);
  file = nullptr;
  if (!readAll) {
    failure = TiffLoadFailure::kCannotRead;
    return false;
  }

  reader = ByteReader{bytes.Bytes(), bytes.size, 0, false};
  reader.ReadU16(&byteOrderMark);
  if (byteOrderMark != kTiffLittleEndianMark) {
    std::printf("\n\n\t\tNot a tif_file!!!");
    failure = TiffLoadFailure::kNotLittleEndian;
    reader = ByteReader{};
    return false;
  }
  reader.ReadU16(&version);
  reader.ReadU32(&firstIfdPos);
  reader.Seek(firstIfdPos);
  uint16_t count = 0;
  if (reader.ReadU16(&count)) entryCountInIfd = static_cast<int16_t>(count);
  for (int i = 0; i < entryCountInIfd && !reader.failed; ++i) ReadIfdEntry();

  const bool sized = ReadImageData();
  reader = ByteReader{};
  return sized;
}

void TiffImage::ReadIfdEntry() {
  uint16_t tag = 0, type = 0;
  uint32_t count = 0, value = 0;
  if (!reader.ReadU16(&tag) || !reader.ReadU16(&type) || !reader.ReadU32(&count) ||
      !reader.ReadU32(&value)) {
    return;  // a cut-off entry sets nothing
  }
  entryTag = tag;
  entryType = type;
  entryCount = count;
  entryValue = value;
  switch (tag) {
    case kTagImageWidth:
      width = static_cast<int32_t>(value);
      break;
    case kTagImageLength:
      height = static_cast<int32_t>(value);
      break;
    case kTagCompression:
      compression = value;
      break;
    case kTagStripOffsets:
      stripOffsets = static_cast<int32_t>(value);
      stripCount = static_cast<int32_t>(count);
      stripOffsetsType = type;
      break;
    case kTagSamplesPerPixel:
      samplesPerPixel = value;
      break;
    case kTagStripByteCounts:
      stripByteCounts = static_cast<int32_t>(value);
      stripByteCountsType = type;
      stripByteCountsCount = count;
      break;
    case kTagPredictor:
      predictor = value;
      break;
    default:
      break;  // BitsPerSample, RowsPerStrip and the rest change nothing
  }
}

bool TiffImage::ReadImageData() {
  if (samplesPerPixel != 3 && samplesPerPixel != 4) return true;
  const uint64_t size =
      static_cast<uint64_t>(width > 0 ? width : 0) * (height > 0 ? height : 0) * samplesPerPixel;
  if (size == 0 || size > std::min(maxPixelBytes, kMaxPixelBytes)) {
    failure = TiffLoadFailure::kUnsupportedSize;
    width = 0;
    height = 0;
    return false;
  }
  if (!AllocatePixels(static_cast<uint32_t>(size))) {
    failure = TiffLoadFailure::kUnsupportedSize;  // no memory for it
    width = 0;
    height = 0;
    return false;
  }
  // The predictor works row by row, so rows that the strips have completed
  // are undone while they are still in the cache; the result is the same as
  // one pass over the whole buffer at the end.
  const bool undoPredictor = predictor == 2;
  const uint32_t rowBytes = static_cast<uint32_t>(width) * samplesPerPixel;
  int32_t rowsUndone = 0;

  const bool lzw = compression == kCompressionLzw;
  if (lzw || compression == kCompressionNone) {
    if (lzw) SetUpLzwTable();
    for (int32_t i = 0; i < stripCount && static_cast<uint32_t>(writePos) < pixelBytes; ++i) {
      uint32_t position = static_cast<uint32_t>(stripOffsets);
      uint32_t length = static_cast<uint32_t>(stripByteCounts);
      if (stripCount != 1 &&
          (!ReadStripArrayElement(reader, static_cast<uint32_t>(stripByteCounts),
                                  stripByteCountsType, stripByteCountsCount, i, &length) ||
           !ReadStripArrayElement(reader, static_cast<uint32_t>(stripOffsets), stripOffsetsType,
                                  static_cast<uint32_t>(stripCount), i, &position))) {
        break;  // the arrays end here, whatever the count said
      }
      const size_t available = position < reader.size ? reader.size - position : 0;
      const size_t stripBytes = length < available ? length : available;
      if (lzw) {
        ClearLzwEntries();
        DecodeLzwStrip(
            reader.data + position,
            static_cast<int32_t>(stripBytes < kMaxStripLength ? stripBytes : kMaxStripLength));
        ClearLzwEntries();
      } else {
        reader.Seek(position);
        writePos += static_cast<int32_t>(reader.ReadUpTo(
            pixels + writePos, std::min<size_t>(stripBytes, pixelBytes - writePos)));
      }
      if (undoPredictor) {
        const int32_t rowsDone = static_cast<int32_t>(static_cast<uint32_t>(writePos) / rowBytes);
        UndoHorizontalPredictorRows(rowsUndone, rowsDone - rowsUndone);
        rowsUndone = rowsDone;
      }
    }
    if (lzw) ReleaseLzwTable();
  }
  // Rows past the last decoded byte are all zero, and the predictor leaves a
  // zero row zero: only a row the strips began needs undoing, so a huge image
  // that a tiny file barely fills costs no pass over its empty rows.
  if (undoPredictor) {
    const int32_t rowsBegun =
        static_cast<int32_t>((static_cast<uint64_t>(writePos) + rowBytes - 1) / rowBytes);
    UndoHorizontalPredictorRows(rowsUndone, rowsBegun - rowsUndone);
  }
  return true;
}

void TiffImage::SetUpLzwTable() {
  // The slack lets short strings move in 16-byte blocks (see StringArena).
  if (!literalBlock) literalBlock = new uint8_t[256 + kLzwCopySlack]();
  // The literal entries are set here already, so a strip that does not open
  // with a clear code still finds them.
  for (int i = 0; i < 256; ++i) {
    literalBlock[i] = static_cast<uint8_t>(i);
    entryBytes[i] = literalBlock + i;
    entryBits[i] = 8;
  }
  for (int i = 256; i < kLzwTableSize; ++i) {
    entryBytes[i] = nullptr;
    entryBits[i] = 0;
  }
  nextCode = kLzwTableSize;  // ClearLzwEntries: every entry may hold a string
  ClearLzwEntries();
}

void TiffImage::ReleaseLzwTable() {
  for (int i = 0; i < kLzwTableSize; ++i) entryBytes[i] = nullptr;
  arena.Release();
  delete[] literalBlock;
  literalBlock = nullptr;
}

void TiffImage::ClearLzwEntries() {
  // Entries from nextCode on never hold a string, so only those below it
  // need clearing; afterwards none from 258 on does.
  const int32_t end = std::min(std::max(nextCode, 258), kLzwTableSize);
  for (int32_t i = 258; i < end; ++i) entryBytes[i] = nullptr;
  nextCode = 258;
  arena.Reset();
}
