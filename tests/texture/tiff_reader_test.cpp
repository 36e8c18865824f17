// The reader on hand-made files: the header and directory rules, and files
// that are damaged or hostile. Whatever the bytes, the reader must stay inside
// its arrays (the sanitizer build checks that), fill what no strip fills
// with zero, and end.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/scratch.h"
#include "tests/support/tiff_helpers.h"
#include "tests/texture/handmade_tiff.h"
#include "texture/tiff_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Loaded {
  bool ok = false;
  std::string printed;  // what the reader wrote to standard output
  std::unique_ptr<TiffImage> image = std::make_unique<TiffImage>();
  Bytes Pixels() const {
    return image->pixels ? Bytes(image->pixels, image->pixels + image->pixelBytes) : Bytes{};
  }
};

Loaded LoadFile(const std::string& path) {
  Loaded result;
  testing::internal::CaptureStdout();
  result.ok = result.image->LoadTiff(path.c_str());
  result.printed = testing::internal::GetCapturedStdout();
  return result;
}

Loaded LoadHandmade(const HandmadeTiff& tiff, const std::string& name) {
  const std::string path = ScratchPath(name);
  EXPECT_TRUE(tiff.Write(path));
  return LoadFile(path);
}

Bytes Sequence(size_t n, uint8_t start = 1) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(start + i);
  return bytes;
}

Bytes NineBitStrip(const std::vector<uint32_t>& codes) {
  LzwBitWriter writer;
  for (uint32_t code : codes) writer.Put(code, 9);
  return writer.Finish();
}

TEST(TiffReader, MissingFileOrDirectoryFailsSilentlyWithItsReason) {
  Loaded r = LoadFile(ScratchPath("no-such-file.tif"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.printed, "");
  EXPECT_EQ(r.image->failure, TiffLoadFailure::kCannotOpen);
  EXPECT_EQ(r.image->width, 0);
  EXPECT_EQ(r.image->height, 0);
  EXPECT_EQ(r.image->pixels, nullptr);
  Loaded folder = LoadFile(::testing::TempDir());
  EXPECT_FALSE(folder.ok);
  EXPECT_EQ(folder.printed, "");
  EXPECT_EQ(folder.image->failure, TiffLoadFailure::kDirectory);
}

TEST(TiffReader, BigEndianAndOtherFilesPrintTheMessage) {
  SilenceLibtiff();
  const std::string bigEndian = ScratchPath("rgb-big-endian.tif");
  TiffLayout layout{4, 4, 3, 5, 1, 0};
  layout.bigEndian = true;
  ASSERT_TRUE(WriteTiffWithLibtiff(bigEndian, layout, VariedPixels(4, 4, 3, 1)));
  ASSERT_EQ(DecodeTiffWithLibtiff(bigEndian), VariedPixels(4, 4, 3, 1));
  for (const std::string& path : {bigEndian, ScratchPath("empty.tif"), ScratchPath("text.tif")}) {
    if (path.find("empty") != std::string::npos) WriteBytes(path, {});
    if (path.find("text") != std::string::npos) WriteBytes(path, {'h', 'e', 'l', 'l', 'o'});
    SCOPED_TRACE(path);
    Loaded r = LoadFile(path);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.printed, "\n\n\t\tNot a tif_file!!!");
    EXPECT_EQ(r.image->width, 0);
    EXPECT_EQ(r.image->pixels, nullptr);
  }
}

TEST(TiffReader, HeaderAndDirectoryRules) {
  const Bytes strip = Sequence(2 * 2 * 3);
  {  // any version, SHORT width with zero padding, the last of two entries wins
    HandmadeTiff tiff;
    tiff.bytes[2] = 43;
    const uint32_t at = tiff.Append(strip);
    tiff.Add(256, kTypeLong, 1, 99);
    tiff.AddImage(2, 2, 3, 1, at, 12);
    tiff.entries[1] = {256, kTypeShort, 1, 2};
    Loaded r = LoadHandmade(tiff, "version43-width-twice.tif");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.image->width, 2);
    EXPECT_EQ(r.Pixels(), strip);
  }
  {  // no entries, or an entry count with its top bit set: declined, no pixels
    for (uint16_t count : {0, 0x8003}) {
      HandmadeTiff tiff;
      Bytes file = tiff.Finish();
      file[file.size() - 6] = static_cast<uint8_t>(count);
      file[file.size() - 5] = static_cast<uint8_t>(count >> 8);
      const std::string path = ScratchPath("entry-count-" + std::to_string(count) + ".tif");
      WriteBytes(path, file);
      Loaded r = LoadFile(path);
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.image->failure, TiffLoadFailure::kDeclined);
      EXPECT_EQ(r.image->declineReason, "0 samples per pixel");
      EXPECT_EQ(r.image->pixels, nullptr);
    }
  }
  {  // samples per pixel other than 3 or 4: declined with the tags kept, no pixels
    HandmadeTiff tiff;
    const uint32_t at = tiff.Append(strip);
    tiff.AddImage(2, 2, 1, 1, at, 12);
    Loaded r = LoadHandmade(tiff, "gray.tif");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.image->declineReason, "1 sample per pixel");
    EXPECT_EQ(r.image->width, 2);
    EXPECT_EQ(r.image->pixels, nullptr);
  }
  {  // the tags that name layouts the reader does not decode, each declined with its reason
    struct Case {
      uint16_t tag;
      uint32_t count, value;
      const char* reason;
    };
    const Case cases[] = {
        {258, 1, 16, "16-bit samples"},       {258, 2, 8 | 16 << 16, "samples of different sizes"},
        {262, 1, 1, "grayscale"},             {262, 1, 3, "palette colours"},
        {262, 1, 5, "CMYK colours"},          {284, 1, 2, "separate colour planes"},
        {322, 1, 16, "tiles instead of strips"}, {259, 1, 8, "Deflate (zip) compression"},
        {259, 1, 32773, "PackBits compression"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.reason);
      HandmadeTiff tiff;
      const uint32_t at = tiff.Append(strip);
      tiff.AddImage(2, 2, 3, 1, at, 12);
      tiff.Add(258, kTypeShort, 1, 8);
      tiff.Add(262, kTypeShort, 1, 2);
      tiff.Add(c.tag, kTypeShort, c.count, c.value);  // the last entry of a tag wins
      Loaded r = LoadHandmade(tiff, "declined.tif");
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.image->failure, TiffLoadFailure::kDeclined);
      EXPECT_EQ(r.image->declineReason, c.reason);
      EXPECT_EQ(r.image->pixels, nullptr);
    }
  }
  {  // a directory cut off by the end of the file keeps the entries before the cut
    HandmadeTiff tiff;
    const uint32_t at = tiff.Append(strip);
    tiff.AddImage(2, 2, 3, 1, at, 12);
    tiff.Add(317, kTypeShort, 1, 2);
    Bytes file = tiff.Finish();
    file.resize(file.size() - 4 - 6);  // the predictor entry loses its value
    const std::string path = ScratchPath("cut-directory.tif");
    WriteBytes(path, file);
    Loaded r = LoadFile(path);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.image->predictor, 0u);
    EXPECT_EQ(r.Pixels(), strip);
  }
}

TEST(TiffReader, PredictorIsUndoneForUncompressedImagesToo) {
  HandmadeTiff tiff;
  const uint32_t at = tiff.Append({200, 0, 0, 100, 0, 0, 10, 0, 0, 10, 20, 30, 1, 1, 1, 0, 0, 0});
  tiff.AddImage(3, 2, 3, 1, at, 18);
  tiff.Add(317, kTypeShort, 1, 2);
  Loaded r = LoadHandmade(tiff, "rgb-none-predictor.tif");
  EXPECT_EQ(r.Pixels(), (Bytes{200, 0, 0, 44, 0, 0, 54, 0, 0, 10, 20, 30, 11, 21, 31, 11, 21, 31}));
}

// Sizes that are 0, negative, overflow 32 bits or exceed 256 MiB give no
// buffer, and LoadTiff fails with width and height 0.
TEST(TiffReaderUntrusted, ImageSizeIsBoundedWithoutOverflow) {
  struct Size {
    uint32_t width, height, samples;
  };
  const Size sizes[] = {{0, 5, 3},          {5, 0, 3},
                        {0xFFFFFFFF, 5, 3}, {65536, 65536, 4},  // 2^34: 0 in 32 bits
                        {0x55555556, 3, 3},  // 32-bit product wraps to a small number
                        {16384, 16384, 3},  {8193, 8192, 4}};
  for (const Size& s : sizes) {
    SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
    HandmadeTiff tiff;
    const uint32_t at = tiff.Append(Sequence(64));
    tiff.AddImage(s.width, s.height, s.samples, 1, at, 64);
    Loaded r = LoadHandmade(tiff, "size.tif");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.image->width, 0);
    EXPECT_EQ(r.image->height, 0);
    EXPECT_EQ(r.image->pixels, nullptr);
  }
}

// Output never runs past the buffer, strips past the end of the file are read
// as far as the file goes, and whatever no strip filled is zero.
TEST(TiffReaderUntrusted, StripsAreCutToTheBufferAndTheFile) {
  {  // uncompressed strip longer than the image
    HandmadeTiff tiff;
    const Bytes data = Sequence(100);
    const uint32_t at = tiff.Append(data);
    tiff.AddImage(2, 2, 3, 1, at, 100);
    Loaded r = LoadHandmade(tiff, "long-raw-strip.tif");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.Pixels(), Bytes(data.begin(), data.begin() + 12));
  }
  {  // LZW strip that decodes to more than the image
    HandmadeTiff tiff;
    const Bytes strip = NineBitStrip({256, 65, 66, 258, 259, 260, 261, 257});
    const uint32_t at = tiff.Append(strip);
    tiff.AddImage(1, 1, 3, 5, at, static_cast<uint32_t>(strip.size()));
    Loaded r = LoadHandmade(tiff, "long-lzw-strip.tif");
    EXPECT_EQ(r.Pixels(), (Bytes{65, 66, 65}));
  }
  {  // strip length reaching past the end of the file: the bytes there, then zero
    HandmadeTiff tiff;
    tiff.AddImage(4, 1, 3, 1, 0, 1000);
    Bytes file = tiff.Finish();
    const uint32_t at = static_cast<uint32_t>(file.size());
    file.insert(file.end(), {9, 8, 7, 6, 5});
    file[8 + 2 + 12 * 4 + 8] = static_cast<uint8_t>(at);  // StripOffsets value
    const std::string path = ScratchPath("short-tail.tif");
    WriteBytes(path, file);
    Loaded r = LoadFile(path);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.Pixels(), (Bytes{9, 8, 7, 6, 5, 0, 0, 0, 0, 0, 0, 0}));
  }
  for (uint32_t compression : {1u, 5u}) {  // strip beyond the file
    SCOPED_TRACE(compression);
    HandmadeTiff tiff;
    tiff.AddImage(3, 2, 4, compression, 0x7FFFFFF0, 24);
    tiff.Append(Sequence(24, 50));
    Loaded r = LoadHandmade(tiff, "nowhere.tif");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.Pixels(), Bytes(24, 0));
  }
}

// A strip count of 0 or less decodes nothing; a huge count ends where the
// arrays leave the file; arrays are read only where the file has bytes.
TEST(TiffReaderUntrusted, StripCountsAndArraysAreBoundedByTheFile) {
  for (uint32_t count : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    HandmadeTiff tiff;
    const uint32_t at = tiff.Append(Sequence(12));
    tiff.AddImage(2, 2, 3, 1, at, 12);
    tiff.entries[4].count = count;
    Loaded r = LoadHandmade(tiff, "count.tif");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.Pixels(), Bytes(12, 0));
  }
  {  // a count of 2^31 - 1 over arrays of two elements that end the file: two strips read
    HandmadeTiff tiff;
    tiff.ReserveDirectory(6);
    const uint32_t first = tiff.Append({1, 2, 3});
    const uint32_t second = tiff.Append({4, 5, 6});
    const uint32_t lengths = tiff.AppendLongs({3, 3});
    const uint32_t offsets = tiff.AppendLongs({first, second});
    tiff.AddImage(2, 2, 3, 1, offsets, lengths);
    tiff.entries[4].count = 0x7FFFFFFF;
    tiff.entries[5].count = 0x7FFFFFFF;
    Loaded r = LoadHandmade(tiff, "huge-count.tif");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.Pixels(), (Bytes{1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0}));
  }
  {  // arrays positioned past the end of the file, or straddling it
    for (uint32_t arrays : {0x7FFFFF00u, 0xFFFFFFFEu}) {
      HandmadeTiff tiff;
      tiff.AddImage(2, 2, 3, 5, arrays, arrays);
      tiff.entries[4].count = 3;
      tiff.entries[5].count = 3;
      Loaded r = LoadHandmade(tiff, "arrays-nowhere.tif");
      EXPECT_TRUE(r.ok);
      EXPECT_EQ(r.Pixels(), Bytes(12, 0));
    }
  }
}

// Uncompressed images in several strips are read strip by strip, in the
// arrays' order, wherever the strips lie.
TEST(TiffReaderUntrusted, UncompressedImageInSeveralStrips) {
  HandmadeTiff tiff;
  const uint32_t third = tiff.Append({7, 8, 9, 10, 11, 12});
  const uint32_t first = tiff.Append({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  const uint32_t second = tiff.Append({21, 22, 23, 24, 25, 26});
  const uint32_t offsets = tiff.AppendLongs({first, second, third});
  const uint32_t lengths = tiff.AppendLongs({12, 6, 6});
  tiff.AddImage(2, 4, 3, 1, offsets, lengths);
  tiff.entries[4].count = 3;
  tiff.entries[5].count = 3;
  Loaded r = LoadHandmade(tiff, "rgb-none-three-strips.tif");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.Pixels(), (Bytes{1,  2,  3,  4,  5,  6,  7, 8, 9, 10, 11, 12,
                               21, 22, 23, 24, 25, 26, 7, 8, 9, 10, 11, 12}));
}

// SHORT strip arrays, and arrays held in the entry's own value field, are
// read by their field type.
TEST(TiffReaderUntrusted, StripArraysReadByFieldType) {
  const Bytes a = NineBitStrip({256, 65, 66, 258, 257});
  const Bytes b = NineBitStrip({256, 67, 258, 257});
  const Bytes c = NineBitStrip({256, 68, 69, 70, 257});
  {  // SHORT offsets and lengths at an offset
    HandmadeTiff tiff;
    const uint32_t pa = tiff.Append(a), pb = tiff.Append(b), pc = tiff.Append(c);
    const uint32_t offsets = tiff.AppendShorts(
        {static_cast<uint16_t>(pa), static_cast<uint16_t>(pb), static_cast<uint16_t>(pc)});
    const uint32_t lengths =
        tiff.AppendShorts({static_cast<uint16_t>(a.size()), static_cast<uint16_t>(b.size()),
                           static_cast<uint16_t>(c.size())});
    tiff.AddImage(5, 2, 1 + 2, 5, offsets, lengths);
    tiff.entries[4] = {273, kTypeShort, 3, offsets};
    tiff.entries[5] = {279, kTypeShort, 3, lengths};
    Loaded r = LoadHandmade(tiff, "rgb-lzw-short-arrays.tif");
    EXPECT_EQ(r.Pixels(), (Bytes{65, 66, 65, 66, 67, 67, 67, 68, 69, 70, 0, 0, 0, 0, 0,
                                 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0, 0, 0, 0, 0}));
  }
  {  // two SHORTs in each value field; LONG offsets with SHORT lengths in the entry
    for (bool shortOffsets : {true, false}) {
      HandmadeTiff tiff;
      const uint32_t pa = tiff.Append(a), pc = tiff.Append(c);
      const uint32_t lengths = static_cast<uint32_t>(a.size() | c.size() << 16);
      if (shortOffsets) {
        tiff.AddImage(7, 1, 3, 5, pa | pc << 16, lengths);
        tiff.entries[4] = {273, kTypeShort, 2, pa | pc << 16};
      } else {
        const uint32_t offsets = tiff.AppendLongs({pa, pc});
        tiff.AddImage(7, 1, 3, 5, offsets, lengths);
        tiff.entries[4].count = 2;
      }
      tiff.entries[5] = {279, kTypeShort, 2, lengths};
      Loaded r = LoadHandmade(tiff, "rgb-lzw-inline-arrays.tif");
      EXPECT_EQ(r.Pixels(),
                (Bytes{65, 66, 65, 66, 68, 69, 70, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    }
  }
}

}  // namespace

namespace {

// Damaged copies of real files: random bytes overwritten anywhere, header,
// directory, arrays and strips alike. Each load must end with a consistent
// record (and, in the sanitizer build, without touching memory it should not).
TEST(TiffReaderUntrusted, DamagedLibtiffFilesLoadWithinBounds) {
  SilenceLibtiff();
  const TiffLayout layouts[] = {{29, 17, 3, 5, 2, 3}, {13, 9, 4, 5, 1, 2}, {40, 30, 3, 1, 1, 4}};
  uint32_t state = 2024;
  int loaded = 0;
  for (const TiffLayout& layout : layouts) {
    const std::string source = ScratchPath("damage-source.tif");
    ASSERT_TRUE(WriteTiffWithLibtiff(source, layout,
                                     VariedPixels(layout.width, layout.height, layout.samples, 5)));
    const Bytes original = ReadBytes(source);
    for (int round = 0; round < 150; ++round) {
      Bytes damaged = original;
      const int flips = 1 + round % 8;
      for (int f = 0; f < flips; ++f) {
        state = state * 1664525u + 1013904223u;
        damaged[(state >> 8) % damaged.size()] = static_cast<uint8_t>(state >> 24);
      }
      const std::string path = ScratchPath("damaged.tif");
      WriteBytes(path, damaged);
      Loaded r = LoadFile(path);
      if (!r.ok) {  // a declined file keeps its tags for reports
        EXPECT_EQ(r.image->pixels, nullptr);
        EXPECT_EQ(r.image->failure == TiffLoadFailure::kDeclined, !r.image->declineReason.empty());
        if (r.image->failure != TiffLoadFailure::kDeclined) {
          EXPECT_EQ(r.image->width, 0);
          EXPECT_EQ(r.image->height, 0);
        }
        continue;
      }
      if (!r.image->pixels) continue;
      ++loaded;
      EXPECT_EQ(r.image->pixelBytes,
                static_cast<uint64_t>(r.image->width) * r.image->height * r.image->samplesPerPixel);
      EXPECT_LE(r.image->pixelBytes, kMaxPixelBytes);
    }
  }
  EXPECT_GT(loaded, 50);  // most damage leaves a decodable image
}

}  // namespace
