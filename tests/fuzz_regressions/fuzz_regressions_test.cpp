// Inputs on which the fuzz harnesses found a fault, kept so the fault stays
// fixed. Each test loads its file through the reader the harness drove and
// checks what the fixed reader makes of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "texture/tiff_image.h"

namespace {

const std::string kDataDir = SV_FUZZ_DATA_DIR;

// The fuzzer's TIFF files carry nonsense BitsPerSample and Photometric
// values, which the reader now declines before decoding. Loads `name` with
// those entries of its first directory set to 8 bits and RGB, so that the
// decoding the fault was in is still reached; the file itself must be declined.
bool LoadWithRgbTags(const std::string& name, TiffImage* image) {
  const std::string path = kDataDir + "/" + name;
  TiffImage original;
  if (original.LoadTiff(path.c_str()) || original.failure != TiffLoadFailure::kDeclined) {
    ADD_FAILURE() << name << ": expected the file to be declined";
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto u16 = [&](size_t at) { return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8); };
  const size_t directory = u16(4) | u16(6) << 16;
  for (size_t i = 0, at = directory + 2; i < u16(directory) && at + 12 <= bytes.size(); ++i, at += 12) {
    const uint32_t tag = u16(at);
    if (tag != 258 && tag != 262) continue;
    const uint8_t entry[10] = {3, 0, 1, 0, 0, 0, static_cast<uint8_t>(tag == 258 ? 8 : 2), 0, 0, 0};
    std::copy(entry, entry + 10, bytes.begin() + static_cast<std::ptrdiff_t>(at + 2));
  }
  return image->LoadTiffFromBytes(bytes.data(), bytes.size());
}

// 1,620 bytes naming a 10,485,760 x 8 RGB image (251 MiB) with horizontal
// differencing, whose LZW strips fill a few bytes. The predictor used to run
// over every row of the empty image: over a second per load under
// AddressSanitizer. Rows no strip began are zero and stay zero, so it now
// stops after the last row the strips began; the image still loads whole.
TEST(TiffFuzzRegressions, HugeBarelyFilledImageWithPredictorLoadsWithEmptyRowsZero) {
  auto image = std::make_unique<TiffImage>();
  ASSERT_TRUE(LoadWithRgbTags("tiff-251mib-image-predictor-over-empty-rows.tif", image.get()));
  EXPECT_EQ(image->width, 10485760);
  EXPECT_EQ(image->height, 8);
  EXPECT_EQ(image->samplesPerPixel, 3u);
  EXPECT_EQ(image->predictor, 2u);
  ASSERT_NE(image->pixels, nullptr);
  ASSERT_EQ(image->pixelBytes, 10485760u * 8u * 3u);
  const size_t rowBytes = 10485760u * 3u;
  const size_t rowsBegun = (static_cast<size_t>(image->decodedBytes) + rowBytes - 1) / rowBytes;
  ASSERT_LT(rowsBegun, 8u);
  size_t nonZero = 0;
  for (size_t i = rowsBegun * rowBytes; i < image->pixelBytes; ++i)
    nonZero += image->pixels[i] != 0;
  EXPECT_EQ(nonZero, 0u);
}

// 1,788 bytes naming the same 251 MiB image whose strips begin its first
// row: the predictor must run over that whole 31 MB row, which under the
// fuzzer's coverage instrumentation took over a second. That cost is the
// image's size, not a loop; the fuzz harness now caps images at 16 MiB with
// maxPixelBytes. Here: the default reader loads it, the row's undecoded tail
// repeats the last decoded pixel (stored zeros add nothing to the running
// sums), later rows stay zero; with the cap lowered it is refused.
TEST(TiffFuzzRegressions, HugeImageWithOneLongRowBegunLoadsAndTheLoweredCapRefusesIt) {
  const std::string name = "tiff-251mib-image-predictor-over-one-long-row.tif";
  auto image = std::make_unique<TiffImage>();
  ASSERT_TRUE(LoadWithRgbTags(name, image.get()));
  ASSERT_EQ(image->width, 10485760);
  ASSERT_EQ(image->height, 8);
  ASSERT_EQ(image->samplesPerPixel, 3u);
  ASSERT_EQ(image->predictor, 2u);
  const size_t rowBytes = 10485760u * 3u;
  const size_t decoded = static_cast<size_t>(image->decodedBytes);
  ASSERT_GT(decoded, 0u);
  ASSERT_LT(decoded, rowBytes);
  // The first whole pixel after the decoded bytes, and every one after it in the row.
  const size_t firstTail = (decoded + 2) / 3 * 3;
  const uint8_t* last = image->pixels + firstTail - 3;
  size_t differing = 0;
  for (size_t i = firstTail; i < rowBytes; i += 3) {
    differing += image->pixels[i] != last[0] || image->pixels[i + 1] != last[1] ||
                 image->pixels[i + 2] != last[2];
  }
  EXPECT_EQ(differing, 0u);
  size_t nonZero = 0;
  for (size_t i = rowBytes; i < image->pixelBytes; ++i) nonZero += image->pixels[i] != 0;
  EXPECT_EQ(nonZero, 0u);

  auto capped = std::make_unique<TiffImage>();
  capped->maxPixelBytes = 16u << 20;
  EXPECT_FALSE(LoadWithRgbTags(name, capped.get()));
  EXPECT_EQ(capped->failure, TiffLoadFailure::kUnsupportedSize);
  EXPECT_EQ(capped->pixels, nullptr);
  EXPECT_EQ(capped->width, 0);
}

}  // namespace
