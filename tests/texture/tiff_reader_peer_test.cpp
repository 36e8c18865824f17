// The reader against libtiff: files written by libtiff in every layout the
// program accepts must decode to exactly the bytes libtiff itself decodes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/scratch.h"
#include "tests/support/tiff_helpers.h"
#include "tests/texture/handmade_tiff.h"
#include "texture/lzw_decoder.h"
#include "texture/tiff_image.h"

namespace {

// Writes the pixels in the layout, then checks that our decoding equals both
// the original pixels and libtiff's decoding of the same file.
void ExpectSameAsLibtiff(const std::string& name, const TiffLayout& layout, uint32_t seed,
                         int expectStripsAtLeast = 1) {
  SCOPED_TRACE(name);
  const std::string path = ScratchPath(name);
  const std::vector<uint8_t> original =
      VariedPixels(layout.width, layout.height, layout.samples, seed);
  ASSERT_TRUE(WriteTiffWithLibtiff(path, layout, original));
  ASSERT_GE(TiffStripCountWithLibtiff(path), expectStripsAtLeast);
  const std::vector<uint8_t> reference = DecodeTiffWithLibtiff(path);
  ASSERT_EQ(reference, original);

  auto image = std::make_unique<TiffImage>();
  ASSERT_TRUE(image->LoadTiff(path.c_str()));
  EXPECT_EQ(image->width, layout.width);
  EXPECT_EQ(image->height, layout.height);
  ASSERT_NE(image->pixels, nullptr);
  ASSERT_EQ(image->pixelBytes, reference.size());
  EXPECT_TRUE(std::equal(reference.begin(), reference.end(), image->pixels));
}

class TiffReaderPeer : public testing::Test {
 protected:
  void SetUp() override { SilenceLibtiff(); }
};

TEST_F(TiffReaderPeer, UncompressedOneStripAndManyStrips) {
  for (int samples : {3, 4}) {
    const std::string tag = samples == 3 ? "rgb" : "rgba";
    ExpectSameAsLibtiff(tag + "-none-onestrip.tif", {37, 23, samples, 1, 1, 23}, 1);
    // libtiff's default strips hold about 8 KiB: 211 x 3 x 60 rows gives several.
    ExpectSameAsLibtiff(tag + "-none-defaultstrips.tif", {211, 60, samples, 1, 1, 0}, 2, 3);
    ExpectSameAsLibtiff(tag + "-none-rows3.tif", {17, 11, samples, 1, 1, 3}, 3, 4);
  }
}

TEST_F(TiffReaderPeer, LzwWithAndWithoutPredictorOneAndManyStrips) {
  for (int samples : {3, 4}) {
    for (int predictor : {1, 2}) {
      const std::string tag = std::string(samples == 3 ? "rgb" : "rgba") + "-lzw" +
                              (predictor == 2 ? "-predictor" : "");
      ExpectSameAsLibtiff(tag + "-onestrip.tif", {37, 23, samples, 5, predictor, 23}, 4);
      ExpectSameAsLibtiff(tag + "-rows1.tif", {37, 23, samples, 5, predictor, 1}, 5, 23);
      ExpectSameAsLibtiff(tag + "-rows5.tif", {101, 40, samples, 5, predictor, 5}, 6, 8);
      ExpectSameAsLibtiff(tag + "-defaultstrips.tif", {333, 77, samples, 5, predictor, 0}, 7, 2);
    }
  }
}

TEST_F(TiffReaderPeer, OnePixelImages) {
  for (int samples : {3, 4}) {
    for (int compression : {1, 5}) {
      for (int predictor : {1, 2}) {
        if (compression == 1 && predictor == 2) continue;  // libtiff does not predict raw data
        ExpectSameAsLibtiff("onepixel-" + std::to_string(samples) + "-" +
                                std::to_string(compression) + "-" + std::to_string(predictor) +
                                ".tif",
                            {1, 1, samples, compression, predictor, 0}, 8);
      }
    }
  }
}

TEST_F(TiffReaderPeer, LargeVariedImage) {
  ExpectSameAsLibtiff("rgb-lzw-predictor-2048.tif", {2048, 2048, 3, 5, 2, 0}, 9, 2);
  ExpectSameAsLibtiff("rgba-lzw-2048-onestrip.tif", {2048, 2048, 4, 5, 1, 2048}, 10);
}

// LZW strips of random bytes fill the encoder's table again and again, so
// libtiff clears it in mid-strip; the decoded bytes must come back unchanged.
TEST_F(TiffReaderPeer, HundredThousandRandomBytesThroughLibtiffLzw) {
  std::vector<uint8_t> random(100000);
  uint32_t state = 12345;
  for (uint8_t& b : random) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  const std::string path = ScratchPath("random-100000-lzw.tif");
  ASSERT_TRUE(WriteTiffWithLibtiff(path, {250, 100, 4, 5, 1, 100}, random));
  ASSERT_EQ(DecodeTiffWithLibtiff(path), random);

  auto image = std::make_unique<TiffImage>();
  ASSERT_TRUE(image->LoadTiff(path.c_str()));
  ASSERT_EQ(image->pixelBytes, random.size());
  EXPECT_TRUE(std::equal(random.begin(), random.end(), image->pixels));

  // The same strip through the decoder alone.
  const std::vector<uint8_t> file = ReadBytes(path);
  TiffImage probe;
  ASSERT_TRUE(probe.LoadTiff(path.c_str()));  // for the strip's position and length
  ASSERT_EQ(probe.stripCount, 1);
  const std::vector<uint8_t> decoded =
      DecodeLzwBytes(file.data() + probe.stripOffsets, probe.stripByteCounts, 100000);
  EXPECT_EQ(decoded, random);
}

// libtiff writes StripByteCounts as SHORT when every count fits in 16 bits;
// such arrays, in the entry or at an offset, must read by their type.
TEST_F(TiffReaderPeer, LibtiffShortStripByteCounts) {
  struct Case {
    const char* name;
    TiffLayout layout;
  };
  const Case cases[] = {
      {"rgb-lzw-rows3-short-counts.tif", {64, 30, 3, 5, 2, 3}},  // 10 strips: array at an offset
      {"rgb-none-rows2-two-strips.tif", {20, 4, 3, 1, 1, 2}},    // 2 SHORTs in the entry
      {"rgba-lzw-rows4-two-strips.tif", {9, 8, 4, 5, 1, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = ScratchPath(c.name);
    ASSERT_TRUE(WriteTiffWithLibtiff(
        path, c.layout, VariedPixels(c.layout.width, c.layout.height, c.layout.samples, 11)));
    EXPECT_EQ(FieldTypeOfTag(ReadBytes(path), 279), kTypeShort);
    const std::vector<uint8_t> reference = DecodeTiffWithLibtiff(path);
    auto image = std::make_unique<TiffImage>();
    ASSERT_TRUE(image->LoadTiff(path.c_str()));
    ASSERT_EQ(image->pixelBytes, reference.size());
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), image->pixels));
  }
}

// tiffcp rewrites a file with three rows per strip, as a user might.
TEST_F(TiffReaderPeer, FileRewrittenByTiffcp) {
  const std::string source = ScratchPath("source.tif");
  const std::string copy = ScratchPath("rgb-lzw-tiffcp-r3.tif");
  ASSERT_TRUE(WriteTiffWithLibtiff(source, {45, 31, 3, 5, 2, 31}, VariedPixels(45, 31, 3, 12)));
  const std::string command = "tiffcp -c lzw:2 -r 3 '" + source + "' '" + copy + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<uint8_t> reference = DecodeTiffWithLibtiff(copy);
  ASSERT_EQ(TiffStripCountWithLibtiff(copy), 11);
  auto image = std::make_unique<TiffImage>();
  ASSERT_TRUE(image->LoadTiff(copy.c_str()));
  ASSERT_EQ(image->pixelBytes, reference.size());
  EXPECT_TRUE(std::equal(reference.begin(), reference.end(), image->pixels));
}

// Bytes already in memory (a copy, not the file's mapping) decode as the
// file does, a large image (its pixels in their own mapping) and a small one.
// A FIFO is refused at once, not waited on: no writer is ever started here.
TEST_F(TiffReaderPeer, BytesInMemoryDecodeAsTheFileAndAFifoIsRefusedAtOnce) {
  const TiffLayout layouts[] = {{1024, 1024, 4, 5, 2, 0}, {37, 23, 3, 5, 1, 5}};
  for (const TiffLayout& layout : layouts) {
    SCOPED_TRACE(layout.width);
    const std::string path = ScratchPath("in-memory.tif");
    ASSERT_TRUE(WriteTiffWithLibtiff(
        path, layout, VariedPixels(layout.width, layout.height, layout.samples, 13)));
    const std::vector<uint8_t> reference = DecodeTiffWithLibtiff(path);
    const std::vector<uint8_t> file = ReadBytes(path);
    auto image = std::make_unique<TiffImage>();
    ASSERT_TRUE(image->LoadTiffFromBytes(file.data(), file.size()));
    ASSERT_EQ(image->pixelBytes, reference.size());
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), image->pixels));
  }
  const std::string pipe = ScratchPath("pipe.tif");
  std::remove(pipe.c_str());
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  auto image = std::make_unique<TiffImage>();
  EXPECT_FALSE(image->LoadTiff(pipe.c_str()));
  EXPECT_EQ(image->failure, TiffLoadFailure::kFifo);
  std::remove(pipe.c_str());
}

}  // namespace
