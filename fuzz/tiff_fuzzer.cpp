// Fuzz harness for the TIFF reader: the bytes are written to a per-process
// temporary file and read with LoadTiff, exactly as the program reads
// "txt.tif". The same bytes then go through the whole texture chain from
// memory (LoadTextureFromMemory: libtiff's lenient RGBA reading, libpng,
// libjpeg-turbo), with a 1 MiB pixel cap so that no input decodes for long. The first and last byte
// of a produced buffer are read back, so a buffer shorter than its stated size shows as an
// AddressSanitizer report (reading every byte of a 256 MiB image would cost more than the
// decoding). The reader's one message ("Not a tif_file!!!") goes to standard output, which the
// harness sends to /dev/null; libFuzzer reports on standard error.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "texture/texture_loader.h"
#include "texture/tiff_image.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// The temporary file of this process, made once, removed at exit.
std::string& TempPath() {
  static std::string path;
  return path;
}

void RemoveTempFile() {
  if (!TempPath().empty()) std::remove(TempPath().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/sv-fuzz-tiff-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  close(fd);
  TempPath() = name;
  std::atexit(RemoveTempFile);
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(TempPath().c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  const TextureImage texture = LoadTextureFromMemory(data, size, "fuzz", 1u << 20);
  if (texture.pixels != nullptr) {
    Require(texture.decoder != TextureDecoder::kNone);
    Require(texture.samples == 3 || texture.samples == 4);
    Require(texture.width > 0 && texture.height > 0);
    const size_t bytes = static_cast<size_t>(texture.width) * texture.height * texture.samples;
    Require(bytes <= (1u << 20));
    const unsigned ends = texture.pixels[0] + texture.pixels[bytes - 1];
    asm volatile("" : : "r"(ends));
  } else {
    Require(texture.decoder == TextureDecoder::kNone);
  }

  TiffImage image;
  // The time to decode and undo the predictor grows with the image, up to
  // the reader's 256 MiB, which under the fuzzer's instrumentation passes the
  // 1 s that marks a hang; 16 MiB keeps every input well under it, so a
  // timeout means a loop, not a large image.
  image.maxPixelBytes = 16u << 20;
  const bool loaded = image.LoadTiff(TempPath().c_str());
  if (!loaded) {
    // A declined layout keeps its tag values for reports; other failures clear them.
    Require(image.pixels == nullptr);
    Require(image.failure == TiffLoadFailure::kDeclined ? !image.declineReason.empty()
                                                        : image.width == 0 && image.height == 0);
    return 0;
  }
  if (image.pixels != nullptr) {
    Require(image.samplesPerPixel == 3 || image.samplesPerPixel == 4);
    Require(static_cast<uint64_t>(image.width) * image.height * image.samplesPerPixel ==
            image.pixelBytes);
    const unsigned ends = image.pixels[0] + image.pixels[image.pixelBytes - 1];
    asm volatile("" : : "r"(ends));  // the reads must happen
  }
  return 0;
}
