// TiffImage: reads the texture file into one block of 8-bit samples.
// Accepts little-endian TIFF files, first image only, RGB with 3 or 4
// interleaved 8-bit samples per pixel in strips, uncompressed or LZW (TIFF
// flavour: codes most significant bit first, widths switching one code
// early), with or without horizontal differencing (Predictor 2). The tags
// that say otherwise (BitsPerSample, PhotometricInterpretation,
// PlanarConfiguration, SamplesPerPixel, Compression, tiles) make it decline
// the file with a reason instead of decoding garbage; other tags (Orientation
// among them) are ignored, so the rows are taken top first.
// The file is untrusted: every read is bounded by the file's size, every write
// by the pixel buffer, and the LZW table never leaves its 4096 entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/whole_file.h"

struct ByteReader;
struct TiffStripArrays;

constexpr uint32_t kMaxPixelBytes = 256u << 20;     // largest pixel buffer made, 256 MiB
constexpr uint16_t kTiffLittleEndianMark = 0x4949;  // "II"

// What the texture readers accept of a file (io/whole_file.h): at most 4 GiB,
// as far as TIFF's 32-bit offsets reach, and no FIFO, whose open() would wait
// for a writer that may never come.
constexpr WholeFileLimits kTextureFileLimits{uint64_t{1} << 32, false};

// Why LoadTiff returned false (kNone after success).
enum class TiffLoadFailure {
  kNone,
  kCannotOpen,       // the file cannot be opened
  kCannotRead,       // a read error before the end, no memory for it, or a change during the read
  kNotLittleEndian,  // the first two bytes are not "II"
  kUnsupportedSize,  // a side of 0 or less, or more than kMaxPixelBytes of pixels
  kDirectory,        // the path names a directory
  kNotAFile,         // the path names a device or socket
  kTooLarge,         // the file is larger than TIFF's 32-bit offsets reach (4 GiB)
  kFifo,             // the path names a FIFO (named pipe)
  kDeclined,         // a layout this reader does not decode: declineReason says which
};

// The values taken from the file and the decoded pixels. Construct, call
// LoadTiff once, then read width, height and pixels. The destructor frees
// the pixels.
class TiffImage {
 public:
  TiffImage() = default;
  ~TiffImage();
  TiffImage(const TiffImage&) = delete;
  TiffImage& operator=(const TiffImage&) = delete;

  // Reads the file at path. Returns false when it cannot be opened or read,
  // is no regular file, is not a little-endian TIFF (then prints
  // "\n\n\t\tNot a tif_file!!!" to standard output, unless printsNotTiff
  // is off), or names an image of
  // size 0 or more than maxPixelBytes; width, height are then 0 and pixels
  // null. Returns false as well when its tags name a layout this reader does
  // not decode (failure kDeclined, declineReason set); the tag values then
  // stay for reports, and pixels stays null. Returns true otherwise, also
  // when parts of the file are missing (what no strip filled stays zero).
  bool LoadTiff(const char* path);

  // The same over the file's bytes already in memory; kept only while it runs.
  bool LoadTiffFromBytes(const uint8_t* data, size_t size);

  TiffLoadFailure failure = TiffLoadFailure::kNone;  // why LoadTiff returned false
  std::string declineReason;  // kDeclined: what the reader does not decode ("16-bit samples")
  uint32_t maxPixelBytes =
      kMaxPixelBytes;  // largest image accepted; may be lowered before LoadTiff
  bool printsNotTiff = true;  // the "Not a tif_file!!!" message; off for bytes that are not the
                              // scene's texture file (a material's texture, an embedded image)

  // Values from the file's first directory (0 when the tag is absent)
  int32_t width = 0;             // pixels per row
  int32_t height = 0;            // rows
  uint32_t samplesPerPixel = 0;  // 3 or 4 give pixels
  uint32_t compression = 0;      // 1 none, 5 LZW; other values leave the pixels zero
  uint32_t predictor = 0;        // 2 = horizontal differencing
  int32_t stripCount = 0;        // count of StripOffsets: the number of strips
  int32_t stripOffsets = 0;      // one strip: its position; several: position of the offsets array
  int32_t stripByteCounts = 0;   // one strip: its length; several: position of the lengths array
  // Tags that are only checked
  // Absent BitsPerSample counts as 8 and absent PhotometricInterpretation as
  // RGB, as this reader always took them (libtiff guesses RGB too); TIFF's
  // default of 1 bit fits no RGB file.
  uint32_t bitsPerSample = 8;         // BitsPerSample of the first sample
  bool mixedBits = false;             // another sample has a different BitsPerSample
  int32_t photometric = -1;           // PhotometricInterpretation, 2 = RGB; -1 when absent
  uint32_t planarConfiguration = 1;   // 1 interleaved samples, 2 separate planes
  bool tiled = false;                 // tile tags present: tiles instead of strips

  // The decoded image
  uint8_t* pixels = nullptr;  // owned, pixelBytes long; null when there is no image
  uint32_t pixelBytes = 0;    // width x height x samplesPerPixel, <= kMaxPixelBytes
  uint32_t decodedBytes = 0;  // bytes of pixels the strips filled, from the start

 private:
  // Empty when the tags name a layout this reader decodes, else why not.
  std::string CheckLayout() const;
  // Sizes, allocates and fills pixels from the strips of the file's bytes.
  bool ReadImageData(const ByteReader& file, const TiffStripArrays& arrays);
  bool AllocatePixels(uint32_t size);
  void FreePixels();
  void UndoPredictorRows(uint32_t firstRow, uint32_t rowCount);

  size_t pixelsMappedBytes_ = 0;  // length of pixels' own mapping; 0 when they come from calloc
};
