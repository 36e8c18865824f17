// Fuzz harness for the LZW strip decoder and the predictor, without the TIFF
// around them. The first 6 bytes choose the image: width and height (1 to
// 256 each), 3 or 4 samples per pixel, 1 to 4 strips; the rest is split into
// that many strips, each copied into its own exactly sized heap block so an
// over-read by one byte is an AddressSanitizer report. The strips are
// decoded one after another into one pixel buffer of exactly width x height
// x samples bytes, as ReadImageData does, then the predictor is undone.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "texture/tiff_image.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHeader = 4;
  if (size < kHeader) return 0;
  auto image = std::make_unique<TiffImage>();
  image->width = 1 + data[0];
  image->height = 1 + data[1];
  image->samplesPerPixel = 3 + (data[2] & 1);
  const int strips = 1 + (data[3] & 3);
  const uint32_t pixelBytes =
      static_cast<uint32_t>(image->width) * image->height * image->samplesPerPixel;
  if (!image->AllocatePixels(pixelBytes)) return 0;

  const uint8_t* rest = data + kHeader;
  const size_t restSize = size - kHeader;
  image->SetUpLzwTable();
  for (int s = 0; s < strips; ++s) {
    const size_t begin = restSize * s / strips;
    const size_t end = restSize * (s + 1) / strips;
    std::vector<uint8_t> strip(rest + begin, rest + end);  // exactly sized
    const int32_t before = image->writePos;
    image->ClearLzwEntries();
    image->DecodeLzwStrip(strip.empty() ? nullptr : strip.data(),
                          static_cast<int32_t>(strip.size()));
    image->ClearLzwEntries();
    Require(image->writePos >= before &&
            static_cast<uint32_t>(image->writePos) <= image->pixelBytes);
    Require(image->nextCode >= 258 && image->nextCode <= kLzwTableSize);
    Require(image->codeWidth >= 9 && image->codeWidth <= kLzwMaxCodeWidth);
  }
  image->ReleaseLzwTable();
  image->UndoHorizontalPredictor();
  return 0;
}
