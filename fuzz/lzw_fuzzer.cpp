// Fuzz harness for the LZW strip decoder and the predictor, without the TIFF
// around them. The first 4 bytes choose the image: width and height (1 to
// 256 each), 3 or 4 samples per pixel, 1 to 4 strips; the rest is split into
// that many strips, each copied into its own exactly sized heap block so an
// over-read by one byte is an AddressSanitizer report. The strips are
// decoded one after another by one decoder into one exactly sized pixel
// buffer, as the TIFF reader does, then the predictor is undone.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "texture/lzw_decoder.h"
#include "texture/predictor.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHeader = 4;
  if (size < kHeader) return 0;
  const uint32_t width = 1 + data[0];
  const uint32_t height = 1 + data[1];
  const uint32_t samplesPerPixel = 3 + (data[2] & 1);
  const int strips = 1 + (data[3] & 3);
  const uint32_t pixelBytes = width * height * samplesPerPixel;
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[pixelBytes]());  // exactly sized

  const uint8_t* rest = data + kHeader;
  const size_t restSize = size - kHeader;
  auto decoder = std::make_unique<LzwDecoder>();
  uint32_t written = 0;
  for (int s = 0; s < strips; ++s) {
    const size_t begin = restSize * s / strips;
    const size_t end = restSize * (s + 1) / strips;
    std::vector<uint8_t> strip(rest + begin, rest + end);  // exactly sized
    const uint32_t before = written;
    decoder->DecodeStrip(strip.empty() ? nullptr : strip.data(), static_cast<int32_t>(strip.size()),
                         pixels.get(), pixelBytes, &written);
    Require(written >= before && written <= pixelBytes);
    Require(decoder->NextCode() >= 258 && decoder->NextCode() <= kLzwTableSize);
    Require(decoder->CodeWidth() >= 9 && decoder->CodeWidth() <= kLzwMaxCodeWidth);
  }
  UndoHorizontalPredictor(pixels.get(), height, width, samplesPerPixel);
  return 0;
}
