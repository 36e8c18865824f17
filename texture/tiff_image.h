// TiffImage: reads the texture file into one block of 8-bit samples.
// Accepts little-endian TIFF files, first image only, 3 or 4 interleaved
// 8-bit samples per pixel, uncompressed or LZW (TIFF flavour: codes most
// significant bit first, widths switching one code early), with or without
// horizontal differencing (Predictor 2). Every other tag is ignored, so the
// samples are taken as interleaved RGB(A) in file order and the rows top first.
// The file is untrusted: every read is bounded by the file's size, every write
// by the pixel buffer, and the LZW table never leaves its 4096 entries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

constexpr int kLzwTableSize = 4096;                 // LZW codes 0 .. 4095
constexpr int kLzwMaxCodeWidth = 12;                // bits of the widest code
constexpr uint32_t kMaxPixelBytes = 256u << 20;     // largest pixel buffer made, 256 MiB
constexpr uint16_t kTiffLittleEndianMark = 0x4949;  // "II"

// Strings of the LZW table may be copied in moves of this many bytes: every
// string has this many readable bytes from its start (its own and slack).
constexpr int32_t kLzwCopySlack = 16;

// Carves LZW strings out of large blocks so that a new table entry costs a
// pointer bump, not an allocation. Reset() makes every block free again
// (used when the table is cleared); the blocks themselves are kept for reuse
// until Release() or the destructor.
class StringArena {
 public:
  StringArena() = default;
  ~StringArena();
  StringArena(const StringArena&) = delete;
  StringArena& operator=(const StringArena&) = delete;

  // Returns room for `size` bytes (1 .. kBlockSize), valid until Reset(),
  // followed by at least kLzwCopySlack - 1 more bytes that may be read or
  // overwritten (they belong to no string yet).
  uint8_t* Allocate(int32_t size) {
    if (current_ && used_ + size <= kBlockSize) {
      uint8_t* room = current_ + used_;
      used_ += size;
      return room;
    }
    return AllocateInNextBlock(size);
  }
  // For a loop that carves strings itself with the cursor in a register:
  // returns room for at least `size` bytes (1 .. kBlockSize), the rest of
  // the current block or a fresh one, and sets *end to its end. The room
  // counts as used until Reset(); it has the same slack as Allocate's.
  uint8_t* TakeRoom(int32_t size, uint8_t** end);
  void Reset();
  void Release();  // frees every block

  static constexpr int32_t kBlockSize = 64 * 1024;  // > longest LZW string (3839 bytes)

 private:
  uint8_t* AllocateInNextBlock(int32_t size);

  std::vector<uint8_t*> blocks_;  // each kBlockSize + kLzwCopySlack bytes
  size_t currentBlock_ = 0;       // index in blocks_ of the block being carved
  uint8_t* current_ = nullptr;    // that block, null before the first allocation
  int32_t used_ = 0;              // bytes taken from the current block
};

// Why LoadTiff returned false (kNone after success).
enum class TiffLoadFailure {
  kNone,
  kCannotOpen,       // the file cannot be opened
  kCannotRead,       // a read error before the end of the file
  kNotLittleEndian,  // the first two bytes are not "II"
  kUnsupportedSize,  // a side of 0 or less, or more than kMaxPixelBytes of pixels
};

// A short English phrase for the failure, for messages.
const char* DescribeTiffLoadFailure(TiffLoadFailure failure);

// A cursor over bytes that fails visibly instead of inventing data: a read
// that would pass the end returns false, reads nothing and sets `failed`.
struct ByteReader {
  const uint8_t* data = nullptr;
  size_t size = 0;      // bytes in data
  size_t pos = 0;       // next byte read, 0 .. size (a seek may put it beyond)
  bool failed = false;  // a read ran past the end

  bool Seek(uint32_t position);
  bool ReadU16(uint16_t* out);  // little-endian
  bool ReadU32(uint32_t* out);  // little-endian
  // Copies up to n bytes at the cursor into out; returns how many it copied.
  size_t ReadUpTo(uint8_t* out, size_t n);
};

// The reader's state, the values taken from the file, the LZW decoding state
// and the decoded pixels. Construct, call LoadTiff once, then read width,
// height and pixels. The destructor frees the pixels.
class TiffImage {
 public:
  TiffImage();
  ~TiffImage();
  TiffImage(const TiffImage&) = delete;
  TiffImage& operator=(const TiffImage&) = delete;

  // Reads the file at path. Returns false when it cannot be opened, is not a
  // little-endian TIFF (then prints "\n\n\t\tNot a tif_file!!!" to standard
  // output), or names an image of size 0 or more than maxPixelBytes; width,
  // height are then 0 and pixels null. Returns true otherwise, also when
  // the samples per pixel give no buffer or parts of the file are missing
  // (what no strip filled stays zero).
  bool LoadTiff(const char* path);

  // Reads one 12-byte directory entry at the reader's cursor and keeps the
  // recognised tags (the last entry of a tag wins). A short file leaves the
  // fields as they were.
  void ReadIfdEntry();

  // Sizes, allocates and fills pixels from the strips (zero where no strip
  // fills), then undoes the predictor. Returns false, with width and height
  // set to 0, when the image has a side of 0 or less or exceeds maxPixelBytes.
  bool ReadImageData();

  // Decodes one LZW strip of stripLength bytes, appending to pixels at
  // writePos and stopping at the end code, at the end of the data, at the end
  // of the buffer, or at a code that names no string. Needs the table set up
  // (SetUpLzwTable) and pixels/pixelBytes set; the strip bytes need no
  // padding. Short strings move in 16-byte blocks: up to 16 bytes past the
  // final writePos are set to zero.
  void DecodeLzwStrip(const uint8_t* stripBytes, int32_t stripLength);

  // Handles a clear code: drops entries 258 .. 4095, sets the literal entries,
  // nextCode 258 and codeWidth 9.
  void ResetLzwTable();

  // The next code of codeWidth bits, most significant bit first. Bits past
  // the end of the strip read as zero; DecodeLzwStrip never asks for a code
  // that does not lie wholly inside the strip.
  uint32_t ReadLzwCode();

  // Stores prefix's string plus the first byte of firstByteCode's string as
  // entry nextCode and widens the codes one entry early (after 510, 1022,
  // 2046). Once entry 4094 is stored the table is full: nothing more is added
  // until a clear code, and codes stay 12 bits wide.
  void AddLzwEntry(int32_t prefixCode, int32_t firstByteCode);

  // Appends the string of code; what does not fit in pixels is dropped.
  void WriteLzwString(int32_t code);

  // Appends the string of prefixCode and then the first byte of the string
  // of firstByteCode; what does not fit in pixels is dropped.
  void WriteLzwStringPlusFirst(int32_t prefixCode, int32_t firstByteCode);

  // x with its four bytes in reverse order.
  static uint32_t SwapBytes32(uint32_t x);

  // Reverses horizontal differencing over the whole buffer, each sample of a
  // pixel summing modulo 256 on its own. Only 3 or 4 samples with a buffer.
  void UndoHorizontalPredictor();
  // The same over rows firstRow .. firstRow + rowCount - 1 only (cut to the
  // buffer); ReadImageData undoes each strip's completed rows this way.
  void UndoHorizontalPredictorRows(int32_t firstRow, int32_t rowCount);

  // Table set-up and release around the strips of one image: the literal
  // block of entries 0 .. 255, and the arena that holds the longer strings.
  void SetUpLzwTable();
  void ReleaseLzwTable();
  // Drops every string of entries 258 .. 4095 (at the start and end of a
  // strip); entries from nextCode on hold none, so only those below are touched.
  void ClearLzwEntries();

  // Makes pixels a zeroed buffer of size bytes (any earlier one is freed),
  // with writePos 0; false when there is no memory for it.
  bool AllocatePixels(uint32_t size);
  // Frees pixels and sets pixelBytes to 0.
  void FreePixels();

  // Reader state
  FILE* file;              // open only while LoadTiff runs
  ByteReader reader;       // bounded cursor over the file's bytes, set while LoadTiff runs
  uint16_t byteOrderMark;  // header bytes 0-1; 0x4949 accepted
  uint16_t version;        // header bytes 2-3; not checked
  uint32_t firstIfdPos;    // file position of the first directory
  uint16_t entryTag;       // the entry ReadIfdEntry is reading
  uint16_t entryType;      // TIFF field type: 3 SHORT, 4 LONG
  uint32_t entryCount;
  uint32_t entryValue;      // the value field taken whole, little-endian
  int16_t entryCountInIfd;  // entries in the first directory; <= 0 reads none
  TiffLoadFailure failure;  // why LoadTiff returned false, kNone after success
  uint32_t maxPixelBytes;   // largest image accepted: kMaxPixelBytes unless lowered before LoadTiff

  // Values from the file (0 when the tag is absent)
  int32_t width;                  // pixels per row
  int32_t height;                 // rows
  uint32_t samplesPerPixel;       // 3 or 4 give pixels
  uint32_t compression;           // 1 none, 5 LZW; other values leave the pixels zero
  int32_t stripOffsets;           // one strip: its position; several: position of the offsets array
  int32_t stripCount;             // count of StripOffsets: the number of strips
  int32_t stripByteCounts;        // one strip: its length; several: position of the lengths array
  uint32_t predictor;             // 2 = horizontal differencing
  uint16_t stripOffsetsType;      // field type of StripOffsets (3 SHORT, else 4-byte elements)
  uint16_t stripByteCountsType;   // field type of StripByteCounts
  uint32_t stripByteCountsCount;  // count of StripByteCounts: tells if the array is in the entry

  // LZW decoding state
  int32_t codeWidth;                 // 9 .. 12 bits
  const uint8_t* stripData;          // the strip being decoded
  int32_t stripLength;               // its length in bytes
  int32_t bitPos;                    // bit position of the next code in stripData
  uint32_t clearCode;                // 256
  uint32_t endCode;                  // 257
  uint8_t* pixels;                   // owned (AllocatePixels, freed by FreePixels), pixelBytes long
  uint32_t pixelBytes;               // width x height x samplesPerPixel, <= kMaxPixelBytes
  size_t pixelsMappedBytes;          // length of pixels' own mapping; 0 when they come from calloc
  int32_t writePos;                  // next byte of pixels the decoder writes, 0 .. pixelBytes
  int32_t nextCode;                  // entry the next new string goes to, 258 .. 4095
  int32_t entryBits[kLzwTableSize];  // length of each entry's string in bits
  int32_t codeMasks[kLzwMaxCodeWidth + 1];  // entry n holds 2^n - 1
  uint8_t* entryBytes[kLzwTableSize];       // each entry's string; null when it has none
  uint8_t* literalBlock;                    // the 256 one-byte strings of entries 0 .. 255
  StringArena arena;                        // storage of the strings of entries 258 .. 4094
};

// Decodes one LZW strip on its own into at most outSize bytes, as a strip
// of an image whose pixel buffer is outSize long; returns the bytes written
// (at most 256 MiB).
// Made for tests and fuzzing of the decoder on plain byte buffers.
std::vector<uint8_t> DecodeLzwBytes(const uint8_t* stripBytes, int32_t stripLength,
                                    uint32_t outSize);
