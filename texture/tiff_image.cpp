// The TIFF reader: header and first directory, strip lookup, uncompressed and
// LZW strips into one pixel buffer, and the horizontal-differencing predictor.
// The whole file is mapped read-only (io/whole_file.h; where it cannot be
// mapped, read into memory once) and every read goes through a ByteReader
// that fails past the end, so strips are decoded straight from the file's
// bytes and a position or length past the end of the file simply yields
// fewer bytes.
#include "texture/tiff_image.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "io/byte_reader.h"
#include "io/whole_file.h"
#include "texture/lzw_decoder.h"
#include "texture/predictor.h"

// How the strip arrays of the first directory are stored: the field type
// and count of StripOffsets and StripByteCounts (their values are the
// image's stripOffsets and stripByteCounts).
struct TiffStripArrays {
  uint16_t offsetsType = 0;      // 3 SHORT, else 4-byte elements
  uint16_t byteCountsType = 0;   // likewise
  uint32_t byteCountsCount = 0;  // tells if the lengths array is in the entry
};

namespace {

constexpr uint16_t kTagImageWidth = 256;
constexpr uint16_t kTagImageLength = 257;
constexpr uint16_t kTagBitsPerSample = 258;
constexpr uint16_t kTagCompression = 259;
constexpr uint16_t kTagPhotometric = 262;
constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagSamplesPerPixel = 277;
constexpr uint16_t kTagStripByteCounts = 279;
constexpr uint16_t kTagPlanarConfiguration = 284;
constexpr uint16_t kTagPredictor = 317;
constexpr uint16_t kTagTileWidth = 322;
constexpr uint16_t kTagTileOffsets = 324;
constexpr uint16_t kTypeShort = 3;

constexpr uint32_t kCompressionNone = 1;
constexpr uint32_t kCompressionLzw = 5;

// Longest strip the decoder looks at: its bit position must stay a signed
// 32-bit count.
constexpr int64_t kMaxStripLength = INT32_MAX / 8;

TiffLoadFailure FailureOfFile(FileFailure failure) {
  switch (failure) {
    case FileFailure::kNone:
      return TiffLoadFailure::kNone;
    case FileFailure::kCannotOpen:
      return TiffLoadFailure::kCannotOpen;
    case FileFailure::kDirectory:
      return TiffLoadFailure::kDirectory;
    case FileFailure::kFifo:
      return TiffLoadFailure::kFifo;
    case FileFailure::kDevice:
      return TiffLoadFailure::kNotAFile;
    case FileFailure::kTooLarge:
      return TiffLoadFailure::kTooLarge;
    case FileFailure::kCannotRead:
    case FileFailure::kNoMemory:
    case FileFailure::kChangedWhileRead:
      return TiffLoadFailure::kCannotRead;
  }
  return TiffLoadFailure::kCannotRead;
}

// Reads the BitsPerSample values of an entry: the first into the image, and
// whether any later one differs. Up to two SHORTs sit in the value field,
// more at the position it gives; values the file lacks are not compared.
void ReadBitsPerSample(const ByteReader& file, uint32_t count, uint32_t value, TiffImage* image) {
  image->bitsPerSample = value & 0xFFFF;
  image->mixedBits = false;
  if (count == 2) image->mixedBits = (value >> 16) != image->bitsPerSample;
  if (count <= 2) return;
  ByteReader values = file;
  values.failed = false;
  if (!values.Seek(value)) return;
  uint16_t bits = 0;
  if (!values.ReadU16(&bits)) return;
  image->bitsPerSample = bits;
  // A colour image has at most a handful of samples; more are not looked at.
  for (uint32_t i = 1; i < count && i < 16 && values.ReadU16(&bits); ++i) {
    if (bits != image->bitsPerSample) image->mixedBits = true;
  }
}

// Reads one 12-byte directory entry at the reader's cursor and keeps the
// recognised tags in image and arrays (the last entry of a tag wins). A
// cut-off entry sets nothing.
void ReadIfdEntry(ByteReader& reader, TiffImage* image, TiffStripArrays* arrays) {
  uint16_t tag = 0, type = 0;
  uint32_t count = 0, value = 0;
  if (!reader.ReadU16(&tag) || !reader.ReadU16(&type) || !reader.ReadU32(&count) ||
      !reader.ReadU32(&value)) {
    return;
  }
  switch (tag) {
    case kTagImageWidth:
      image->width = static_cast<int32_t>(value);
      break;
    case kTagImageLength:
      image->height = static_cast<int32_t>(value);
      break;
    case kTagCompression:
      image->compression = value;
      break;
    case kTagStripOffsets:
      image->stripOffsets = static_cast<int32_t>(value);
      image->stripCount = static_cast<int32_t>(count);
      arrays->offsetsType = type;
      break;
    case kTagSamplesPerPixel:
      image->samplesPerPixel = value;
      break;
    case kTagStripByteCounts:
      image->stripByteCounts = static_cast<int32_t>(value);
      arrays->byteCountsType = type;
      arrays->byteCountsCount = count;
      break;
    case kTagPredictor:
      image->predictor = value;
      break;
    case kTagBitsPerSample:
      ReadBitsPerSample(reader, count, value, image);
      break;
    case kTagPhotometric:
      image->photometric = static_cast<int32_t>(value & 0xFFFF);
      break;
    case kTagPlanarConfiguration:
      image->planarConfiguration = value & 0xFFFF;
      break;
    case kTagTileWidth:
    case kTagTileOffsets:
      image->tiled = true;
      break;
    default:
      break;  // RowsPerStrip, Orientation and the rest change nothing
  }
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
  if (position > UINT32_MAX || !element.Seek(position)) return false;
  if (elementSize == 2) {
    uint16_t shortValue = 0;
    if (!element.ReadU16(&shortValue)) return false;
    *out = shortValue;
    return true;
  }
  return element.ReadU32(out);
}

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

// A photometric interpretation in words, for the decline reason.
std::string PhotometricName(int32_t photometric, uint32_t bits) {
  switch (photometric) {
    case 0:
    case 1:
      return bits == 1 ? "black and white (1 bit per pixel)" : "grayscale";
    case 3:
      return "palette colours";
    case 4:
      return "a transparency mask";
    case 5:
      return "CMYK colours";
    case 6:
      return "YCbCr colours";
    case 8:
    case 9:
    case 10:
      return "CIE L*a*b* colours";
    default:
      return "photometric interpretation " + std::to_string(photometric);
  }
}

// A compression in words, for the decline reason.
std::string CompressionName(uint32_t compression) {
  switch (compression) {
    case 2:
    case 3:
    case 4:
      return "fax (CCITT) compression";
    case 6:
    case 7:
      return "JPEG compression";
    case 8:
    case 32946:
      return "Deflate (zip) compression";
    case 32773:
      return "PackBits compression";
    default:
      return "compression " + std::to_string(compression);
  }
}

}  // namespace

std::string TiffImage::CheckLayout() const {
  if (tiled) return "tiles instead of strips";
  if (photometric != 2 && photometric != -1) return PhotometricName(photometric, bitsPerSample);
  if (samplesPerPixel != 3 && samplesPerPixel != 4)
    return std::to_string(samplesPerPixel) + (samplesPerPixel == 1 ? " sample" : " samples") +
           " per pixel";
  if (mixedBits) return "samples of different sizes";
  if (bitsPerSample != 8) return std::to_string(bitsPerSample) + "-bit samples";
  if (planarConfiguration != 1) return "separate colour planes";
  if (compression != kCompressionNone && compression != kCompressionLzw)
    return CompressionName(compression);
  return std::string();
}

TiffImage::~TiffImage() {
  FreePixels();
}

bool TiffImage::AllocatePixels(uint32_t size) {
  FreePixels();
  // Fresh zero pages from the system, so parts no strip fills cost nothing
  // to clear: a mapping in huge pages for a large buffer, else calloc.
  if (size >= kHugePageBufferBytes) pixels = MapHugePageBuffer(size, &pixelsMappedBytes_);
  if (!pixels) pixels = static_cast<uint8_t*>(std::calloc(size > 0 ? size : 1, 1));
  if (!pixels) return false;
  pixelBytes = size;
  decodedBytes = 0;
  return true;
}

void TiffImage::FreePixels() {
  if (pixelsMappedBytes_ > 0)
    munmap(pixels, pixelsMappedBytes_);
  else
    std::free(pixels);
  pixels = nullptr;
  pixelsMappedBytes_ = 0;
  pixelBytes = 0;
}

bool TiffImage::LoadTiff(const char* path) {
  FreePixels();
  failure = TiffLoadFailure::kNone;
  const FileBytes file = ReadWholeFile(path, kTextureFileLimits);
  if (file.failure != FileFailure::kNone) {
    failure = FailureOfFile(file.failure);
    return false;
  }
  return LoadTiffFromBytes(file.data, file.size);
}

bool TiffImage::LoadTiffFromBytes(const uint8_t* data, size_t size) {
  FreePixels();
  failure = TiffLoadFailure::kNone;
  declineReason.clear();
  ByteReader reader{data, size, PastEnd::kFail};
  uint16_t byteOrderMark = 0;
  reader.ReadU16(&byteOrderMark);
  if (byteOrderMark != kTiffLittleEndianMark) {
    if (printsNotTiff) std::printf("\n\n\t\tNot a tif_file!!!");
    failure = TiffLoadFailure::kNotLittleEndian;
    return false;
  }
  uint16_t version = 0;  // not checked
  uint32_t firstIfdPos = 0;
  reader.ReadU16(&version);
  reader.ReadU32(&firstIfdPos);
  reader.Seek(firstIfdPos);
  uint16_t count = 0;
  const int16_t entries = reader.ReadU16(&count) ? static_cast<int16_t>(count) : 0;  // <= 0: none
  TiffStripArrays arrays;
  for (int i = 0; i < entries && !reader.failed; ++i) ReadIfdEntry(reader, this, &arrays);

  declineReason = CheckLayout();
  if (!declineReason.empty()) {
    failure = TiffLoadFailure::kDeclined;
    return false;
  }
  return ReadImageData(reader, arrays);
}

bool TiffImage::ReadImageData(const ByteReader& file, const TiffStripArrays& arrays) {
  const uint64_t size =
      static_cast<uint64_t>(width > 0 ? width : 0) * (height > 0 ? height : 0) * samplesPerPixel;
  if (size == 0 || size > std::min(maxPixelBytes, kMaxPixelBytes) ||
      !AllocatePixels(static_cast<uint32_t>(size))) {  // too large, or no memory for it
    failure = TiffLoadFailure::kUnsupportedSize;
    width = 0;
    height = 0;
    return false;
  }
  // The predictor works row by row, so rows that the strips have completed
  // are undone while they are still in the cache; the result is the same as
  // one pass over the whole buffer at the end.
  const bool undoPredictor = predictor == 2;
  const uint32_t rowBytes = static_cast<uint32_t>(width) * samplesPerPixel;
  uint32_t rowsUndone = 0;

  const bool lzw = compression == kCompressionLzw;
  if (lzw || compression == kCompressionNone) {
    std::unique_ptr<LzwDecoder> decoder(lzw ? new LzwDecoder() : nullptr);
    ByteReader reader = file;
    for (int32_t i = 0; i < stripCount && decodedBytes < pixelBytes; ++i) {
      uint32_t position = static_cast<uint32_t>(stripOffsets);
      uint32_t length = static_cast<uint32_t>(stripByteCounts);
      if (stripCount != 1 &&
          (!ReadStripArrayElement(file, static_cast<uint32_t>(stripByteCounts),
                                  arrays.byteCountsType, arrays.byteCountsCount, i, &length) ||
           !ReadStripArrayElement(file, static_cast<uint32_t>(stripOffsets), arrays.offsetsType,
                                  static_cast<uint32_t>(stripCount), i, &position))) {
        break;  // the arrays end here, whatever the count said
      }
      const size_t available = position < file.size ? file.size - position : 0;
      const size_t stripBytes = length < available ? length : available;
      if (lzw) {
        decoder->DecodeStrip(
            stripBytes > 0 ? file.data + position : nullptr,
            static_cast<int32_t>(stripBytes < kMaxStripLength ? stripBytes : kMaxStripLength),
            pixels, pixelBytes, &decodedBytes);
      } else {
        reader.Seek(position);
        decodedBytes += static_cast<uint32_t>(reader.ReadUpTo(
            pixels + decodedBytes, std::min<size_t>(stripBytes, pixelBytes - decodedBytes)));
      }
      if (undoPredictor) {
        const uint32_t rowsDone = decodedBytes / rowBytes;
        UndoPredictorRows(rowsUndone, rowsDone - rowsUndone);
        rowsUndone = rowsDone;
      }
    }
  }
  // Rows past the last decoded byte are all zero, and the predictor leaves a
  // zero row zero: only a row the strips began needs undoing, so a huge image
  // that a tiny file barely fills costs no pass over its empty rows.
  if (undoPredictor) {
    const uint32_t rowsBegun =
        static_cast<uint32_t>((static_cast<uint64_t>(decodedBytes) + rowBytes - 1) / rowBytes);
    UndoPredictorRows(rowsUndone, rowsBegun - rowsUndone);
  }
  return true;
}

void TiffImage::UndoPredictorRows(uint32_t firstRow, uint32_t rowCount) {
  const size_t rowBytes = static_cast<size_t>(width) * samplesPerPixel;
  const size_t rowsInBuffer = pixelBytes / rowBytes;
  if (rowCount == 0 || firstRow >= rowsInBuffer) return;
  const size_t rows = std::min<size_t>(rowCount, rowsInBuffer - firstRow);
  UndoHorizontalPredictor(pixels + rowBytes * firstRow, rows, static_cast<size_t>(width),
                          samplesPerPixel);
}
