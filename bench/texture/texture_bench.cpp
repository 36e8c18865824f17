// Texture loading speed: our LoadTiff against libtiff decoding the same file
// into a buffer (TIFFReadEncodedStrip over every strip, predictor undone).
// The 4096 x 4096 RGB image, LZW with Predictor 2 in libtiff's default
// strips, is written by libtiff into a temporary folder when the program
// starts and removed at the end. Both sides read the file from the page cache.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/tiff_helpers.h"
#include "texture/tiff_image.h"

namespace {

constexpr int kSide = 4096;

std::string& ImagePath() {
  static std::string path;
  return path;
}

void BM_LoadTiff(benchmark::State& state) {
  for (auto _ : state) {
    auto image = std::make_unique<TiffImage>();
    if (!image->LoadTiff(ImagePath().c_str())) state.SkipWithError("LoadTiff failed");
    benchmark::DoNotOptimize(image->pixels);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 3);
}

void BM_LibtiffReadEncodedStrip(benchmark::State& state) {
  for (auto _ : state) {
    TIFF* tif = TIFFOpen(ImagePath().c_str(), "r");
    if (!tif) {
      state.SkipWithError("TIFFOpen failed");
      break;
    }
    const tmsize_t stripSize = TIFFStripSize(tif);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    std::vector<uint8_t> pixels(static_cast<size_t>(kSide) * kSide * 3);
    size_t at = 0;
    for (uint32_t i = 0; i < strips; ++i) {
      const tmsize_t got = TIFFReadEncodedStrip(tif, i, pixels.data() + at, stripSize);
      if (got < 0) state.SkipWithError("TIFFReadEncodedStrip failed");
      at += static_cast<size_t>(got);
    }
    TIFFClose(tif);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 3);
}

BENCHMARK(BM_LoadTiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibtiffReadEncodedStrip)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  char folder[] = "/tmp/sv-texture-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  ImagePath() = std::string(folder) + "/rgb-lzw-predictor-4096.tif";
  const std::vector<uint8_t> original = VariedPixels(kSide, kSide, 3, 4096);
  TiffLayout layout;
  layout.width = kSide;
  layout.height = kSide;
  layout.samples = 3;
  layout.compression = COMPRESSION_LZW;
  layout.predictor = PREDICTOR_HORIZONTAL;
  bool ok = WriteTiffWithLibtiff(ImagePath(), layout, original);
  // Both decoders must give the original pixels, or the timing means nothing.
  if (ok) {
    auto image = std::make_unique<TiffImage>();
    ok = image->LoadTiff(ImagePath().c_str()) && image->pixelBytes == original.size() &&
         std::equal(original.begin(), original.end(), image->pixels) &&
         DecodeTiffWithLibtiff(ImagePath()) == original;
  }
  if (ok)
    benchmark::RunSpecifiedBenchmarks();
  else
    std::fprintf(stderr, "texture_bench: the test image did not round-trip\n");
  std::remove(ImagePath().c_str());
  rmdir(folder);
  benchmark::Shutdown();
  return ok ? 0 : 1;
}
