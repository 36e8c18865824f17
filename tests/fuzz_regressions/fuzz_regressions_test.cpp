// Inputs on which the fuzz harnesses found a fault, kept so the fault stays
// fixed. Each test loads its file through the reader the harness drove and
// checks what the fixed reader makes of it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "texture/tiff_image.h"

namespace {

const std::string kDataDir = SV_FUZZ_DATA_DIR;

// 1,620 bytes naming a 10,485,760 x 8 RGB image (251 MiB) with horizontal
// differencing, whose LZW strips fill a few bytes. The predictor used to run
// over every row of the empty image: over a second per load under
// AddressSanitizer. Rows no strip began are zero and stay zero, so it now
// stops after the last row the strips began; the image still loads whole.
TEST(TiffFuzzRegressions, HugeBarelyFilledImageWithPredictorLoadsWithEmptyRowsZero) {
  auto image = std::make_unique<TiffImage>();
  ASSERT_TRUE(
      image->LoadTiff((kDataDir + "/tiff-251mib-image-predictor-over-empty-rows.tif").c_str()));
  EXPECT_EQ(image->width, 10485760);
  EXPECT_EQ(image->height, 8);
  EXPECT_EQ(image->samplesPerPixel, 3u);
  EXPECT_EQ(image->predictor, 2u);
  ASSERT_NE(image->pixels, nullptr);
  ASSERT_EQ(image->pixelBytes, 10485760u * 8u * 3u);
  const size_t rowBytes = 10485760u * 3u;
  const size_t rowsBegun = (static_cast<size_t>(image->writePos) + rowBytes - 1) / rowBytes;
  ASSERT_LT(rowsBegun, 8u);
  size_t nonZero = 0;
  for (size_t i = rowsBegun * rowBytes; i < image->pixelBytes; ++i)
    nonZero += image->pixels[i] != 0;
  EXPECT_EQ(nonZero, 0u);
}

}  // namespace
